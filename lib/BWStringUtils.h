// Value formatting for alert texts, and the system's error texts.
#pragma once

#include <cstdint>
#include <string>

// A byte count with a unit letter: "0 B" for 0; otherwise the count divided
// by 1024^e, e = floor(log2(count) / 10), letters B K M G (T beyond), with two
// decimals below 10, one below 100 and none from 100 on (chosen before
// rounding), thousands grouped, the locale's separators, an exact half
// rounded away from zero, and the letter right after the number:
// 1152 -> "1.13K", 1048575 -> "1,024K", 10239 -> "10.00K".
// The count is 64-bit because a 64-bit process's memory counters are; every
// 32-bit count gives the same text as it would as a 32-bit value.
std::string FormatByteSize(std::uint64_t count);

// value rounded to the given number of decimals (an exact half away from
// zero), digits grouped in thousands with the locale's thousands separator,
// the locale's decimal separator before the decimals. The value must be exact
// in binary at that scale for the half rule to be exact (byte counts and
// their quotients by powers of two are). 1234567 with 0 decimals ->
// "1,234,567".
std::string FormatGrouped(long double value, int decimals);

// The system's message text for an error code in the default language, at
// most 256 characters, with trailing control characters, blanks and full
// stops removed; empty when the system has none.
std::string SystemErrorText(unsigned long errorCode);

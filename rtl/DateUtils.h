// Date-time values: a double day count since 30 December 1899, local time;
// the fraction is the time of day (for negative values it counts forwards
// from the start of the negative day's date, as the classic toolkits do).
#pragma once

#include <string>

typedef double TDateTime;

struct _SYSTEMTIME;

constexpr double MSecsPerDay = 86400000.0;
constexpr double SecsPerDay = 86400.0;

bool IsLeapYear(int year);
// Raise EConvertError-style Exception on an invalid date or time.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int min, int sec, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& result);
bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
void DecodeDateTime(TDateTime value, int& year, int& month, int& day, int& hour, int& min,
                    int& sec, int& msec);

TDateTime SystemTimeToDateTime(const _SYSTEMTIME& st);
void DateTimeToSystemTime(TDateTime value, _SYSTEMTIME& st);

// Current local time to the millisecond.
TDateTime Now();

// The regional short-date and long-time formats of the user's locale.
std::string DateToStr(TDateTime value);
std::string TimeToStr(TDateTime value);
// Date and time separated by a blank; the time is left out at exactly midnight.
std::string DateTimeToStr(TDateTime value);

// Durations as text for alert texts.
#pragma once

#include <string>

// A span in days as text: below one day the time of day in the locale's long
// time format only ("6:00:00 AM" in en-US); from one day on the whole days,
// "d " and that time ("1d 12:00:00 PM"). Any morning/afternoon marker of the
// format is kept: the text is exactly what the format shows for a time of day.
std::string FormatDuration(double span);

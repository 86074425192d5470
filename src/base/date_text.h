// Date texts of the recorded package figures ("mm-dd-yyyy", "mm-dd-yyyy hh-mm-ss" and their
// year-first forms) and the date-time value they convert to: days since 30 December 1899 as a
// double, the time of day as the fraction (subtracted for days before that date).
#pragma once

#include "base/calendar.h"

#include <cstdint>
#include <optional>
#include <string>

namespace halyard {

using TDateTime = double;

// Day 0 of a date-time value, 30 December 1899, as a calendar day number.
inline constexpr std::int64_t kDateTimeEpochDay = DaysFromCivil(1899, 12, 30);

// Day number of a calendar date (0 for 30 December 1899); nothing for an invalid date or a year
// outside 1 to 9999.
std::optional<std::int64_t> DateToDayNumber(int year, int month, int day);

// The current year by the local clock (two-digit years are placed in its century).
int CurrentYear();

// The value for a day number and a time of day in milliseconds since midnight, by the one rule
// every reader uses, so that equal clock readings give equal values.
TDateTime EncodeDayAndTime(std::int64_t dayNumber, std::int64_t msOfDay);

// Calendar fields of a value; false for a value outside years 1 to 9999 (or not a number).
struct DateTimeFields {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};
bool DecodeDateTime(TDateTime value, DateTimeFields& fields);

// "mm-dd-yyyy" or, with yearFirst, "yyyy-mm-dd"; the time of day is dropped. Empty text for a
// value outside years 1 to 9999.
std::string ConvertDateToString(TDateTime value, bool yearFirst);

// Reads "mm-dd-yyyy hh-mm-ss" or, with yearFirst, "yyyy-mm-dd hh-mm-ss" (time optional); 0 for
// empty or unreadable text or an invalid date or time.
TDateTime ConvertStringToDateTime(const std::string& value, bool yearFirst);

// The value as the user's regional short date, a blank and the long time. This build uses the
// fixed en-US form "M/d/yyyy h:mm:ss AM" on every system, so reports do not depend on the
// machine's locale; the time is left out when it is exactly midnight.
std::string DateTimeToRegionalText(TDateTime value);

} // namespace halyard

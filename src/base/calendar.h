// The proleptic Gregorian calendar as day numbers, and FILETIME (100-nanosecond ticks since
// 1 January 1601 UTC) against Unix seconds: the one home of these conversions and their epochs.
#pragma once

#include <cstdint>

namespace halyard {

// Days since 1 January 1970 of a date (month 1 to 12); negative before it.
constexpr std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
    // Years counted from March, so that the leap day falls at the end of a year.
    const std::int64_t y = year - (month <= 2 ? 1 : 0);
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const std::int64_t yoe = y - era * 400;
    const std::int64_t mp = (month + 9) % 12;
    const std::int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct CivilDate {
    std::int64_t year = 0;
    int month = 0;
    int day = 0;
    bool operator==(const CivilDate&) const = default;
};

// The date of a day number counted as DaysFromCivil counts.
constexpr CivilDate CivilFromDays(std::int64_t days) {
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t doe = days - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    CivilDate date;
    date.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    date.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    date.year = yoe + era * 400 + (date.month <= 2 ? 1 : 0);
    return date;
}

constexpr bool IsLeapYear(std::int64_t year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Days of a month (1 to 12) in a year.
constexpr int DaysInMonth(std::int64_t year, int month) {
    constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

inline constexpr std::int64_t kSecondsPerDay = 86400;

// FILETIME's day 0, 1 January 1601, as a day number.
inline constexpr std::int64_t kFileTimeEpochDay = DaysFromCivil(1601, 1, 1);
inline constexpr std::uint64_t kFileTimeTicksPerSecond = 10000000;
inline constexpr std::uint64_t kFileTimeTicksPerMs = 10000;

// Whole Unix seconds of a FILETIME (ticks below a second are dropped).
constexpr std::int64_t FileTimeToUnixSeconds(std::uint64_t ticks) {
    return static_cast<std::int64_t>(ticks / kFileTimeTicksPerSecond) +
           kFileTimeEpochDay * kSecondsPerDay;
}

// The FILETIME of a Unix time in milliseconds; the time must not lie before 1601.
constexpr std::uint64_t UnixMsToFileTime(std::int64_t unixMs) {
    return static_cast<std::uint64_t>(unixMs - kFileTimeEpochDay * kSecondsPerDay * 1000) *
           kFileTimeTicksPerMs;
}

} // namespace halyard

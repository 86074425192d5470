// The calendar's day numbers against dates known from outside (the Unix epoch, FILETIME's epoch,
// the date-time value's epoch), round trips across leap days and century rules, and FILETIME
// against Unix seconds at both epochs.
#include "base/calendar.h"
#include "base/date_text.h"
#include "catalog/sign_date.h"

#include <gtest/gtest.h>

namespace halyard {
namespace {

TEST(Calendar, DayNumbersOfKnownDates) {
    EXPECT_EQ(DaysFromCivil(1970, 1, 1), 0);
    EXPECT_EQ(DaysFromCivil(1969, 12, 31), -1);
    EXPECT_EQ(DaysFromCivil(2000, 1, 1), 10957);
    EXPECT_EQ(DaysFromCivil(2000, 3, 1), 11017); // 2000 is a leap year: 29 February exists
    EXPECT_EQ(DaysFromCivil(1601, 1, 1), -134774);
    EXPECT_EQ(DaysFromCivil(1899, 12, 30), -25569);
    EXPECT_EQ(DaysFromCivil(1, 1, 1), -719162);
    EXPECT_EQ(kDateTimeEpochDay, -25569);
}

TEST(Calendar, RoundTripsEveryDayAcrossLeapRules) {
    // 1600 and 2000 are leap years, 1700, 1800 and 1900 are not; the range covers all, the
    // FILETIME epoch and the Unix epoch.
    std::int64_t expected = DaysFromCivil(1599, 1, 1);
    for (std::int64_t year = 1599; year <= 2101; ++year) {
        for (int month = 1; month <= 12; ++month) {
            for (int day = 1; day <= DaysInMonth(year, month); ++day) {
                ASSERT_EQ(DaysFromCivil(year, month, day), expected)
                    << year << "-" << month << "-" << day;
                ASSERT_EQ(CivilFromDays(expected), (CivilDate{year, month, day})) << expected;
                ++expected;
            }
        }
    }
}

TEST(Calendar, LeapDaysFollowTheGregorianRule) {
    EXPECT_EQ(DaysInMonth(2024, 2), 29);
    EXPECT_EQ(DaysInMonth(2023, 2), 28);
    EXPECT_EQ(DaysInMonth(1900, 2), 28);
    EXPECT_EQ(DaysInMonth(2000, 2), 29);
    EXPECT_EQ(DaysInMonth(1600, 2), 29);
    EXPECT_EQ(DaysInMonth(2100, 2), 28);
    EXPECT_EQ(CivilFromDays(DaysFromCivil(2024, 2, 29) + 1), (CivilDate{2024, 3, 1}));
    EXPECT_EQ(CivilFromDays(DaysFromCivil(1900, 2, 28) + 1), (CivilDate{1900, 3, 1}));
    // Dates before year 1 (negative eras) still round-trip.
    EXPECT_EQ(CivilFromDays(DaysFromCivil(-4, 2, 29)), (CivilDate{-4, 2, 29}));
}

TEST(Calendar, FileTimeAgainstUnixSecondsAtBothEpochs) {
    constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ULL; // 1970-01-01 as FILETIME
    EXPECT_EQ(FileTimeToUnixSeconds(kUnixEpochTicks), 0);
    EXPECT_EQ(FileTimeToUnixSeconds(0), -11644473600LL);
    EXPECT_EQ(FileTimeToUnixSeconds(kUnixEpochTicks + 9999999), 0); // ticks below a second
    EXPECT_EQ(FileTimeToUnixSeconds(kUnixEpochTicks + 10000000), 1);
    EXPECT_EQ(UnixMsToFileTime(0), kUnixEpochTicks);
    EXPECT_EQ(UnixMsToFileTime(-11644473600000LL), 0u);
    EXPECT_EQ(UnixMsToFileTime(946684800123LL), 125911584001230000ULL); // 2000-01-01 00:00:00.123
}

TEST(Calendar, FileTimeAsDateTimeValue) {
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(116444736000000000ULL), 25569.0); // 1970-01-01
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(125911584000000000ULL + 6 * 36000000000ULL),
                     36526.25);                         // 2000-01-01 06:00
    EXPECT_DOUBLE_EQ(FileTimeToDateTime(0), -109205.0); // FILETIME's own epoch, 1601-01-01
}

} // namespace
} // namespace halyard

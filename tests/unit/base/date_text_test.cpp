// Date texts of the recorded figures, the catalog date conversion and the regional date text.
#include "base/date_text.h"
#include "catalog/sign_date.h"
#include "testkit.h"

#include <ctime>
#include <gtest/gtest.h>

namespace halyard {
namespace {

TDateTime Date(int y, int m, int d, int h = 0, int mi = 0, int s = 0) {
    return EncodeDayAndTime(*DateToDayNumber(y, m, d), h * 3600000LL + mi * 60000LL + s * 1000LL);
}

TEST(DateText, DayNumbersFollowTheOleConvention) {
    EXPECT_EQ(*DateToDayNumber(1899, 12, 30), 0);
    EXPECT_EQ(*DateToDayNumber(2000, 1, 1), 36526);
    EXPECT_EQ(*DateToDayNumber(2020, 6, 21), 44003);
    EXPECT_EQ(*DateToDayNumber(1899, 12, 29), -1);
    EXPECT_EQ(*DateToDayNumber(1, 1, 1), -693593);
    EXPECT_EQ(*DateToDayNumber(9999, 12, 31), 2958465);
    EXPECT_FALSE(DateToDayNumber(2023, 2, 29));
    EXPECT_TRUE(DateToDayNumber(2024, 2, 29));
    EXPECT_FALSE(DateToDayNumber(1900, 2, 29));
    EXPECT_FALSE(DateToDayNumber(0, 1, 1));
    EXPECT_FALSE(DateToDayNumber(10000, 1, 1));
    // Before the epoch the time of day is subtracted.
    EXPECT_DOUBLE_EQ(EncodeDayAndTime(-1, 6 * 3600000), -1.25);
    EXPECT_DOUBLE_EQ(EncodeDayAndTime(1, 6 * 3600000), 1.25);
}

TEST(DateText, DateToStringDropsTheTime) {
    EXPECT_EQ(ConvertDateToString(0, false), "12-30-1899");
    EXPECT_EQ(ConvertDateToString(0, true), "1899-12-30");
    EXPECT_EQ(ConvertDateToString(Date(2023, 5, 17, 23, 59), false), "05-17-2023");
    EXPECT_EQ(ConvertDateToString(Date(2023, 5, 17, 23, 59), true), "2023-05-17");
    EXPECT_EQ(ConvertDateToString(Date(45, 3, 4), true), "0045-03-04");
    EXPECT_EQ(ConvertDateToString(-1.25, false), "12-29-1899");
    EXPECT_EQ(ConvertDateToString(1e12, false), "");
}

TEST(DateText, ReadsBothPatterns) {
    const TDateTime expected = Date(2023, 5, 17, 12, 30, 45);
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 12-30-45", false), expected);
    EXPECT_EQ(ConvertStringToDateTime("2023-05-17 12-30-45", true), expected);
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023", false), Date(2023, 5, 17));
    EXPECT_EQ(ConvertStringToDateTime("  05 - 17 - 2023   12-30-45 trailing", false), expected);
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 12", false), Date(2023, 5, 17, 12));
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 12-30", false), Date(2023, 5, 17, 12, 30));
}

TEST(DateText, EmptyZeroAndInvalidGiveZero) {
    EXPECT_EQ(ConvertStringToDateTime("", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("0", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("13-01-2023 00-00-00", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("02-30-2023", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("05/17/2023", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 24-00-00", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 12-60-00", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 12-00-60", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("2023-05-17", false), 0); // month 2023
    EXPECT_EQ(ConvertStringToDateTime("no digits", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("05-17-99999999999", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 99999999999", false), 0);
}

TEST(DateText, ShortYearsAndMissingYearUseTheCurrentCentury) {
    const int year = test::LocalYearNow();
    EXPECT_EQ(ConvertStringToDateTime("05-17-23", false), Date(year / 100 * 100 + 23, 5, 17));
    EXPECT_EQ(ConvertStringToDateTime("23-05-17", true), Date(year / 100 * 100 + 23, 5, 17));
    EXPECT_EQ(ConvertStringToDateTime("05-17", false), Date(year, 5, 17));
    EXPECT_EQ(ConvertStringToDateTime("05-17 10-11-12", false), Date(year, 5, 17, 10, 11, 12));
}

TEST(DateText, TimeAloneAndTwelveHourMarkers) {
    EXPECT_EQ(ConvertStringToDateTime("6", false), Date(1899, 12, 30, 6));
    EXPECT_EQ(ConvertStringToDateTime(" 12 PM", false), Date(1899, 12, 30, 12));
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 12-30-00 AM", false), Date(2023, 5, 17, 0, 30));
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 01-30-00 pm", false), Date(2023, 5, 17, 13, 30));
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 PM 01-30-00", false), Date(2023, 5, 17, 13, 30));
    EXPECT_EQ(ConvertStringToDateTime("05-17-2023 13-30-00 PM", false), 0);
    EXPECT_EQ(ConvertStringToDateTime("6 x", false), 0);
}

TEST(DateText, SigningTimeAndRecordedTextCompareEqual) {
    // 2015-07-01 10:13:59 UTC as FILETIME, and the same clock reading as recorded text.
    const platform::FileTime ft = (1435745639ull + 11644473600ull) * 10000000ull;
    EXPECT_EQ(FileTimeToDateTime(ft), ConvertStringToDateTime("07-01-2015 10-13-59", false));
    EXPECT_EQ(ConvertDateToString(FileTimeToDateTime(ft), false), "07-01-2015");
}

TEST(DateText, FileTimeConversionIsUtcWithMilliseconds) {
    EXPECT_EQ(FileTimeToDateTime(0), Date(1601, 1, 1));
    // 23:30 UTC stays on its day whatever the local zone.
    const platform::FileTime lateEvening = (1577921400ull + 11644473600ull) * 10000000ull;
    EXPECT_EQ(ConvertDateToString(FileTimeToDateTime(lateEvening), true), "2020-01-01");
    EXPECT_EQ(FileTimeToDateTime(lateEvening), Date(2020, 1, 1, 23, 30));
    const TDateTime withMs = FileTimeToDateTime(lateEvening + 5000000); // + 0.5 s
    EXPECT_EQ(withMs, EncodeDayAndTime(*DateToDayNumber(2020, 1, 1), 84600500));
    EXPECT_EQ(FileTimeToDateTime(0x8000000000000000ull), 0);
}

TEST(DateText, RegionalTextIsUsEnglishAndLeavesOutMidnight) {
    EXPECT_EQ(DateTimeToRegionalText(Date(2020, 6, 21)), "6/21/2020");
    EXPECT_EQ(DateTimeToRegionalText(Date(2020, 6, 21, 0, 0, 1)), "6/21/2020 12:00:01 AM");
    EXPECT_EQ(DateTimeToRegionalText(Date(1999, 12, 31, 23, 59, 59)), "12/31/1999 11:59:59 PM");
    EXPECT_EQ(DateTimeToRegionalText(Date(2021, 1, 2, 12, 5, 0)), "1/2/2021 12:05:00 PM");
}

} // namespace
} // namespace halyard

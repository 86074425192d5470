#include "base/outcome.h"
#include "inf/driver_ver.h"
#include "inf/ini_files.h"
#include "platform/filestream.h"
#include "platform/messages.h"
#include "report/output.h"
#include "testkit.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>

namespace halyard {
namespace {

TEST(CorrectValue, CutsCommentsThenQuotesThenBrackets) {
    EXPECT_EQ(CorrectValue("  05/17/2021,1.2.3.4 ; comment "), "05/17/2021,1.2.3.4");
    EXPECT_EQ(CorrectValue("\" 1.2 \""), "1.2");
    EXPECT_EQ(CorrectValue("[ 1.2 ]"), "1.2");
    EXPECT_EQ(CorrectValue("\"[x]\""), "x");
    EXPECT_EQ(CorrectValue("[\"x\"]"), "\"x\""); // brackets come after quotes, one level each
    EXPECT_EQ(CorrectValue("\""), "");
    EXPECT_EQ(CorrectValue("["), "[");
    EXPECT_EQ(CorrectValue("; all comment"), "");
    EXPECT_EQ(CorrectValue("\t\x01 x \x1F"), "x");
}

TEST(CorrectVersion, NormalisesEveryComponent) {
    EXPECT_EQ(CorrectVersion(""), "");
    EXPECT_EQ(CorrectVersion("1,02,0003,4"), "1.2.3.4");
    EXPECT_EQ(CorrectVersion("10.0.00.1"), "10.0.0.1");
    EXPECT_EQ(CorrectVersion("1.2."), "1.2.0");
    EXPECT_EQ(CorrectVersion(".1..2"), "0.1.0.2");
    EXPECT_EQ(CorrectVersion("\" 2.08.28.0 \""), "2.8.28.0");
    EXPECT_EQ(CorrectVersion("\"  \""), "");
    EXPECT_EQ(CorrectVersion("\""), "");
    EXPECT_EQ(CorrectVersion("3a.a3. 7.\t7"), "3.0.7.0");
    EXPECT_EQ(CorrectVersion("$1F.x10.0x10.0X1g.0x"), "31.16.16.1.0");
    EXPECT_EQ(CorrectVersion("+5.-0.- 5"), "5.0.0");
    EXPECT_EQ(CorrectVersion(" "), "0");
}

TEST(CorrectVersion, OutOfRangeComponentsClampTo32BitSigned) {
    EXPECT_EQ(CorrectVersion("2147483647.2147483648.99999999999999999999"),
              "2147483647.2147483647.2147483647");
    EXPECT_EQ(CorrectVersion("-7.-2147483648.-2147483649.-0xFFFFFFFFFF"),
              "-7.-2147483648.-2147483648.-2147483648");
    EXPECT_EQ(CorrectVersion("0xFFFFFFFF.$7FFFFFFF"), "2147483647.2147483647");
}

TEST(DriverDate, ParsesMonthDayYear) {
    EXPECT_EQ(DriverDateToDateTime("05/17/2021"), 44333.0);
    EXPECT_EQ(DriverDateToDateTime(" 5 / 17 / 2021 "), 44333.0);
    EXPECT_EQ(DriverDateToDateTime("02/29/2000"), 36585.0);
    EXPECT_EQ(DriverDateToDateTime("12/31/1899"), 1.0);
    EXPECT_EQ(DriverDateToDateTime("1/1/1900"), 2.0);
    EXPECT_EQ(DriverDateToDateTime("12/31/9999"), 2958465.0);
    EXPECT_EQ(DriverDateToDateTime("0001/01/0001"), -693593.0);
    const int year = test::LocalYearNow();
    const std::string century = std::to_string(year / 100);
    EXPECT_EQ(DriverDateToDateTime("05/17/21"), DriverDateToDateTime("05/17/" + century + "21"));
    EXPECT_EQ(DriverDateToDateTime("05/17/7"), DriverDateToDateTime("05/17/" + century + "07"));
    EXPECT_EQ(DriverDateToDateTime("05/17/00"), DriverDateToDateTime("05/17/" + century + "00"));
    EXPECT_EQ(DriverDateToDateTime("05/17"), DriverDateToDateTime("05/17/" + std::to_string(year)));
    EXPECT_EQ(DriverDateToDateTime("05/17/099"), DriverDateToDateTime("05/17/0099"));
}

TEST(DriverDate, RejectsWhatIsNotADate) {
    for (const char* text :
         {"", "456", "105", "2021-05-17", "13/01/2021", "02/29/2021", "00/10/2021", "05/00/2021",
          "05/17/2021x", "05/17/", "05//2021", "05/17/0000", "05/17/20211", "\t05/17/2021",
          "05/17/2021\t", "%D%", "17.05.2021", "-5/17/2021"}) {
        EXPECT_EQ(DriverDateToDateTime(text), kBadDateText) << text;
    }
}

TEST(DriverDate, ShortDateText) {
    EXPECT_EQ(DateToShortDateText(1.0), "12/31/1899");
    EXPECT_EQ(DateToShortDateText(2.0), "1/1/1900");
    EXPECT_EQ(DateToShortDateText(44333.75), "5/17/2021");
}

struct Extraction {
    bool ok = false;
    TDateTime date = -1;
    std::string version = "untouched";
    std::vector<std::string> lines;
};

class DriverVerInf : public ::testing::Test {
protected:
    Extraction Extract(const std::string& infText, const std::string& section, bool isWow64) {
        const std::string path = dir_ / "driver.inf";
        test::WriteFile(path, infText);
        return ExtractFile(path, section, isWow64);
    }
    static Extraction ExtractFile(const std::string& path, const std::string& section,
                                  bool isWow64) {
        Extraction e;
        OutputCapture capture;
        e.ok = ExtractParamsFromInf(path, section, e.date, e.version, isWow64);
        e.lines = capture.lines();
        return e;
    }
    test::TempDir dir_;
};

const std::vector<std::string> kNoLines;

TEST_F(DriverVerInf, DecoratedSectionWinsForItsPlatform) {
    const std::string inf = "[Version]\r\nDriverVer=01/02/2003,9.9.9.9\r\n"
                            "[Install.NTamd64]\r\nDriverVer=05/17/2021,10.0.19041.1\r\n"
                            "[Install.ntx86]\r\nDriverVer=06/18/2021,10.0.19041.2\r\n";
    auto e = Extract(inf, "Install", true);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.version, "10.0.19041.1");
    EXPECT_EQ(e.date, 44333.0);
    e = Extract(inf, "Install", false);
    EXPECT_EQ(e.version, "10.0.19041.2");
    e = Extract(inf, "Other", true);
    EXPECT_EQ(e.version, "9.9.9.9");
    EXPECT_EQ(e.lines, kNoLines);
}

TEST_F(DriverVerInf, SectionOrderIncludesTheRunningOsVersion) {
    // POSIX reports Windows 10.0.
    const std::string inf = "[Version]\nDriverVer=01/02/2003,1.0\n"
                            "[I.ntamd64.10.0]\nDriverVer=01/02/2003,4.0\n"
                            "[I.ntamd64]\nDriverVer=01/02/2003,3.0\n"
                            "[I.NT]\nDriverVer=01/02/2003,2.0\n"
                            "[I]\nDriverVer=01/02/2003,5.0\n";
    EXPECT_EQ(Extract(inf, "I", true).version, "4.0");
    EXPECT_EQ(Extract(inf, "I", false).version, "2.0");
    EXPECT_EQ(
        Extract("[Version]\nDriverVer=01/02/2003,1.0\n[I]\nDriverVer=01/02/2003,5.0\n", "I", false)
            .version,
        "5.0");
}

TEST_F(DriverVerInf, EntriesWithoutADotArePassedOver) {
    const std::string inf = "[Version]\nDriverVer=%D%,%V%\n[I.ntamd64]\nDriverVer=%DrvVer%\n"
                            "[I.nt]\nDriverVer=05/17/2021,\n"
                            "[Strings]\nD=05/17/2021\nV=\"1.2.3.4\"\nDrvVer=06/01/2020,7.7\n";
    // The decorated token and the trailing-comma entry hold no ".", so "Version" is read; its
    // whole-entry token (key "D%,%V") is undefined and the parts resolve one by one.
    auto e = Extract(inf, "I", true);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.version, "1.2.3.4");
    EXPECT_EQ(e.date, 44333.0);
}

TEST_F(DriverVerInf, WholeEntryTokenResolves) {
    auto e =
        Extract("[Version]\nDriverVer=%Ver%\n[Strings]\nVer=\"05/17/2021, 1.2.3.4\"\n", "I", false);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.version, "1.2.3.4");
    EXPECT_EQ(e.date, 44333.0);
}

TEST_F(DriverVerInf, InlineCommentAndCommaVersion) {
    auto e = Extract("[Version]\nDriverVer = 05/17/2021,1.2.3.4 ; comment\n", "I", false);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.version, "1.2.3.4");
    EXPECT_EQ(e.date, 44333.0);
    e = Extract("[Version]\nDriverVer=05/17/2021,1,2,3,4\n", "I", false);
    EXPECT_EQ(e.version, "1");
    EXPECT_TRUE(e.ok);
}

TEST_F(DriverVerInf, VersionPartIsCutAtAThousandUnits) {
    auto e =
        Extract("[Version]\nDriverVer=05/17/2021," + std::string(998, '0') + "12.5\n", "I", false);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.version, "12");
    // Units, not bytes: 605 units (1205 bytes) are kept whole.
    e = Extract(
        "\xEF\xBB\xBF[Version]\nDriverVer=05/17/2021," + std::string(1, '7') + ".1" +
            [] {
                std::string s;
                for (int i = 0; i < 600; ++i) {
                    s += "\xC3\xA9";
                }
                return s;
            }() +
            ".9\n",
        "I", false);
    EXPECT_EQ(e.version, "7.1.9");
}

TEST_F(DriverVerInf, UndefinedTokensSurfaceThroughSentinels) {
    auto e = Extract("[Version]\nDriverVer=05/17/2021,%NoVer%\n", "I", false);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.version, "102");
    EXPECT_EQ(e.lines, kNoLines);
    e = Extract("[Version]\nDriverVer=%NoDate%,1.2\n", "I", false);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.date, kBadDateText);
    EXPECT_EQ(e.lines, (std::vector<std::string>{"ExtractParamsFromInf: Date failed; Params: "}));
}

TEST_F(DriverVerInf, NoDriverVerAnywhere) {
    auto e = Extract("[Version]\nSignature=\"$Windows NT$\"\n", "I", true);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.version, "789");
    EXPECT_EQ(e.date, kBadDateText);
    EXPECT_EQ(e.lines, (std::vector<std::string>{"ExtractParamsFromInf: Date failed; Params: "}));
}

TEST_F(DriverVerInf, AnInfTooLargeToReadIsNamed) {
    const std::string path = dir_ / "driver.inf";
    test::WriteFile(path, "[Version]\r\nDriverVer=05/17/2021,1.2.3.4\r\n");
    std::filesystem::resize_file(path, platform::kMaxInfFileSize + 1);
    auto e = ExtractFile(path, "I", true);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.lines, (std::vector<std::string>{"ExtractParamsFromInf: Cannot read; Params: " +
                                                 path + "; Last error: 000000DF " +
                                                 platform::SysErrorMessage(codes::kFileTooLarge)}));
}

TEST_F(DriverVerInf, TrailingCommaAndMissingParts) {
    auto e = Extract("[Version]\nDriverVer=05/17/2021,\n", "I", false);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.version, "");
    EXPECT_EQ(e.date, 44333.0);
    EXPECT_EQ(e.lines, kNoLines);

    e = Extract("[Version]\nDriverVer=1.2.3.4\n", "I", false);
    EXPECT_TRUE(e.ok);
    EXPECT_EQ(e.version, "1.2.3.4");
    EXPECT_EQ(e.date, kNoDateText);

    e = Extract("[Version]\nDriverVer=,1.2\n", "I", false);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.lines, (std::vector<std::string>{"ExtractParamsFromInf: Date failed; Params: "}));

    e = Extract("[Version]\nDriverVer=05/17/2021,;x\n", "I", false);
    EXPECT_TRUE(e.ok); // the comment goes, then the trailing comma: a date without a version

    e = Extract("[Version]\nDriverVer=13/45/2021,\"\"\n", "I", false);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.lines, (std::vector<std::string>{"ExtractParamsFromInf: Version failed; Params: ",
                                                 "ExtractParamsFromInf: Date failed; Params: "}));
}

TEST_F(DriverVerInf, NeitherVersionNorDate) {
    auto e = Extract("[Version]\nDriverVer=13/45/2021\n", "I", false);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.lines, (std::vector<std::string>{
                           "ExtractParamsFromInf: Version or Date failed; Params:  vs 1/1/1900"}));
    e = Extract("[Version]\nDriverVer=12/31/1899\n", "I", false);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.date, kNoDateText);
    e = Extract("[Version]\nDriverVer=01/01/1900,1.0\n", "I", false);
    EXPECT_FALSE(e.ok); // a real date that equals a marker still counts as failed
}

TEST_F(DriverVerInf, MissingInfLeavesOutputsUntouched) {
    Extraction e = ExtractFile(dir_ / "none.inf", "I", false);
    EXPECT_FALSE(e.ok);
    EXPECT_EQ(e.version, "untouched");
    EXPECT_EQ(e.date, -1);
    EXPECT_EQ(e.lines, (std::vector<std::string>{"ExtractParamsFromInf: Not exists; Params: " +
                                                 (dir_ / "none.inf")}));
}

TEST_F(DriverVerInf, PrivateProfileRulesApply) {
    // First occurrence wins, only the first [Version] is searched, quotes around the whole
    // value go, and a continuation is no continuation.
    auto e = Extract("[Version]\nDriverVer=\"05/17/2021,1.0\"\nDriverVer=01/01/2020,2.0\n"
                     "[Version]\nDriverVer=01/01/2020,3.0\n",
                     "I", false);
    EXPECT_EQ(e.version, "1.0");
    EXPECT_EQ(e.date, 44333.0);
    e = Extract("[Version]\nDriverVer=05/17/2021,\\\n1.0\n", "I", false);
    EXPECT_EQ(e.version, "0");
}

} // namespace
} // namespace halyard

#include "base/unicode.h"
#include "cli/front_end.h"
#include "platform/console.h"
#include "report/output.h"
#include "testkit.h"

#include <gtest/gtest.h>

namespace halyard {
namespace {

using platform::SplitParamStr;
using Args = std::vector<std::string>;

TEST(CommandLineRule, SplitsLikeTheWindowsRule) {
    EXPECT_EQ(SplitParamStr("prog /cat C:\\My Drivers\\a.cat"),
              (Args{"prog", "/cat", "C:\\My", "Drivers\\a.cat"}));
    // Quoted runs keep their blanks; the quotation marks are dropped, also mid-argument.
    EXPECT_EQ(SplitParamStr("prog \"C:\\My  Drivers\\a.cat\" x\"y z\"w"),
              (Args{"prog", "C:\\My  Drivers\\a.cat", "xy zw"}));
    // A pair of quotation marks standing alone is skipped, not an empty argument.
    EXPECT_EQ(SplitParamStr("prog \"\" /cat \"\"\"\" a.cat"), (Args{"prog", "/cat", "a.cat"}));
    // Tabs and control characters separate like blanks; an unclosed quote runs to the end.
    EXPECT_EQ(SplitParamStr("prog\t/verify\x01\"dir with blank"),
              (Args{"prog", "/verify", "dir with blank"}));
    EXPECT_EQ(SplitParamStr("   "), Args{});
}

TEST(CommandLineRule, StopsAtTheFirstEmptyArgument) {
    // A lone quotation mark at the end makes an empty argument: nothing after it counts.
    EXPECT_EQ(SplitParamStr("prog a \""), (Args{"prog", "a"}));
    char arg0[] = "halyard", a1[] = "/cat", a2[] = "", a3[] = "x.cat";
    char* argv[] = {arg0, a1, a2, a3, nullptr};
#ifdef _WIN32
    // Windows takes the process's command line, never the runtime's split of it.
    EXPECT_EQ(platform::ProgramArguments(4, argv), platform::ProgramArguments(0, nullptr));
#else
    EXPECT_EQ(platform::ProgramArguments(4, argv), Args{"/cat"});
#endif
}

TEST(CommandLineRule, JoinsWithSingleBlanks) {
    EXPECT_EQ(JoinArguments({"/cat", "C:\\My", "Drivers\\a.cat"}, 1), "C:\\My Drivers\\a.cat");
    EXPECT_EQ(JoinArguments({"/cat"}, 1), "");
    EXPECT_EQ(JoinArguments({}, 0), "");
#ifdef _WIN32
    // Windows trims the joined path: its file names do not end in blanks.
    EXPECT_EQ(JoinArguments({"/cat", " a ", "b\t"}, 1), "a  b");
#else
    // A POSIX name may begin or end in blanks: every argument is kept byte for byte.
    EXPECT_EQ(JoinArguments({"/cat", " a ", "b\t"}, 1), " a  b\t");
    EXPECT_EQ(JoinArguments({"/drop/pkg.7z "}, 0), "/drop/pkg.7z ");
#endif
}

TEST(FrontEnd, ModeSwitchIsCaseSensitive) {
    OutputCapture out;
    RunFrontEnd({"/CAT", "x.cat"});
    EXPECT_EQ(out.lines(), Args{"wrong:Archive name: /CAT x.cat"});
    out.clear();
    RunFrontEnd({"/Verify", "dir"});
    EXPECT_EQ(out.lines(), Args{"wrong:Archive name: /Verify dir"});
}

TEST(FrontEnd, CatModeVerdicts) {
    OutputCapture out;
    RunFrontEnd({"/cat"});
    EXPECT_EQ(out.lines(), (Args{"wrong:Cat name: ", "fail"}));
    out.clear();
    RunFrontEnd({"/cat", "drivers", "a.cat.bak"});
    EXPECT_EQ(out.lines(), (Args{"wrong:Cat name: drivers a.cat.bak", "fail"}));
    out.clear();
    test::TempDir dir;
    RunFrontEnd({"/cat", dir / "missing.CAT"});
    EXPECT_EQ(out.lines(), (Args{"wrong:Cat not found: " + (dir / "missing.CAT"), "fail"}));
    out.clear();
    // A folder is not a catalog file.
    test::WriteFile(dir / "folder.cat/x", "");
    RunFrontEnd({"/cat", dir / "folder.cat"});
    EXPECT_EQ(out.lines(), (Args{"wrong:Cat not found: " + (dir / "folder.cat"), "fail"}));
}

TEST(FrontEnd, NotACatalogIsReportedThenFail) {
    HALYARD_WINDOWS_ONLY(); // Wine opens any file as a catalog and fails on its members
    test::TempDir dir;
    test::WriteFile(dir / "text.cat", "this is not a catalog");
    OutputCapture out;
    RunFrontEnd({"/cat", dir / "text.cat"});
    ASSERT_EQ(out.lines().size(), 3u) << out.text();
    EXPECT_TRUE(out.lines()[0].starts_with(
        "ParseCatFile: CryptCATOpen fail; Params: " + (dir / "text.cat") + "; Last error: "));
    EXPECT_EQ(Args(out.lines().begin() + 1, out.lines().end()),
              (Args{"wrong:CryptCATOpen fail", "fail"}));
}

TEST(FrontEndProcess, EveryLineEndsInCrLfAndTheExitCodeIsZero) {
    auto r = test::RunHalyard({});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "wrong:Archive name: \r\n");

#ifndef _WIN32
    // An empty argument (on Windows a quoted empty argument is skipped, not empty).
    r = test::RunHalyard({"/cat", "", "ignored.cat"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.output, "wrong:Cat name: \r\nfail\r\n");
#endif

    r = test::RunHalyard({"pkg.zip"});
    EXPECT_EQ(r.output, "wrong:Archive name: pkg.zip\r\n");
}

TEST(FrontEndProcess, OutsideTextCannotForgeALine) {
    // Without escaping, "success" would be the last line of each of these runs.
    auto r = test::RunHalyard({"pkg.7z\r\nsuccess"});
#ifdef _WIN32
    // Windows' command-line rule splits at every character up to the blank: the line ends become
    // argument breaks, joined again with blanks.
    EXPECT_EQ(r.output, "wrong:Archive name: pkg.7z success\r\n");
#else
    EXPECT_EQ(r.output, "wrong:Archive name: pkg.7z\\r\\nsuccess\r\n");
#endif
    r = test::RunHalyard({"/cat", "x\r\nsuccess:10_64\n.cat"});
#ifdef _WIN32
    EXPECT_EQ(r.output, "wrong:Cat not found: x success:10_64 .cat\r\nfail\r\n");
#else
    EXPECT_EQ(r.output, "wrong:Cat not found: x\\r\\nsuccess:10_64\\n.cat\r\nfail\r\n");
#endif
#ifndef _WIN32
    // A POSIX folder name may hold control characters.
    test::TempDir dir;
    const std::string folder = dir / "v\x0B\xC2\x85success";
    test::WriteFile(folder + "/readme.txt", "no INF here");
    r = test::RunHalyard({"/verify", folder});
    EXPECT_EQ(r.output,
              "wrong:no single inf file: " + (dir / "v\\x0B\\u{0085}success") + "\r\nfail\r\n");
#endif
}

TEST(FrontEndProcess, UnicodePathsAreWrittenAsUtf8) {
    const auto r = test::RunHalyard({"/cat", "Tréiber", "ü.cat.bak"});
#ifdef _WIN32
    // Into a pipe Windows writes the ANSI code page.
    EXPECT_EQ(r.output, Utf8ToAnsi("wrong:Cat name: Tréiber ü.cat.bak\r\nfail\r\n"));
#else
    EXPECT_EQ(r.output, "wrong:Cat name: Tréiber ü.cat.bak\r\nfail\r\n");
#endif
}

} // namespace
} // namespace halyard

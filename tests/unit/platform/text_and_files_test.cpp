#include "base/errors.h"
#include "base/hex.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "platform/files.h"
#include "platform/locale.h"
#include "platform/messages.h"
#include "testkit.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>

namespace halyard {
namespace {

namespace fs = std::filesystem;

TEST(Unicode, RoundTripsAndReplacesMalformedInput) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // a, e-acute, euro, emoji
    const std::u16string units = Utf8ToUtf16(text);
    EXPECT_EQ(units, (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf16ToUtf8(units), text);
    // Truncated sequence, overlong form, lone surrogate.
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), std::u16string{0xFFFD});
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), std::u16string{0xFFFD});
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD"));
    EXPECT_FALSE(IsValidUtf8("\xFF"));
    std::size_t units16 = 0;
    ForEachUtf16Unit(text, [&](char16_t) { ++units16; });
    EXPECT_EQ(units16, units.size());
}

TEST(Unicode, Utf16LeBytesStopAtTheZeroUnit) {
    const std::vector<std::uint8_t> bytes = {'O', 0, 'S', 0, 0, 0, 'x', 0};
    EXPECT_EQ(Utf16LeBytesToUtf8(bytes), "OS");
    EXPECT_EQ(Utf16LeBytesToUtf8(bytes, false), std::string("OS\0x", 4));
    EXPECT_EQ(Utf16LeBytesToUtf8(std::vector<std::uint8_t>{'A', 0, 'B'}), "A"); // odd byte dropped
}

TEST(Unicode, AnsiIsWindows1252BothWays) {
    EXPECT_EQ(AnsiToUtf8("\x80\xE9\x81"), "\xE2\x82\xAC\xC3\xA9\xC2\x81");
    EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC\xC3\xA9\xE2\x98\x83"), "\x80\xE9?");
}

TEST(Unicode, TrimRemovesEveryControlCharacterAndBlank) {
    EXPECT_EQ(Trim("\t\r\n x y \x01\x1F"), "x y");
    EXPECT_EQ(Trim(" \x7F "), "\x7F");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_TRUE(EndsWithIgnoreCase("PKG.7Z", ".7z"));
    EXPECT_FALSE(EndsWithIgnoreCase("7z", ".7z"));
    EXPECT_EQ(Hex8(0x800B0100), "800B0100");
}

TEST(Locale, CaseMappingAndComparison) {
    EXPECT_EQ(platform::UpperCase("osattr \xC3\xA9"), "OSATTR \xC3\x89");
    EXPECT_EQ(platform::LowerCase("C:\\DIR\\X.CAT"), "c:\\dir\\x.cat");
    EXPECT_LT(platform::CompareTextEnUs("0ABC", "A000"), 0);
    EXPECT_EQ(platform::CompareTextEnUs("abc", "ABC"), 0);
    EXPECT_LT(platform::CompareTextEnUs("AB", "ABC"), 0);
}

TEST(Files, MasksIgnoreCaseAndMatchWholeNames) {
    EXPECT_TRUE(platform::MatchesMask("Driver.CAT", "*.cat"));
    EXPECT_FALSE(platform::MatchesMask("driver.cat.bak", "*.cat"));
    EXPECT_TRUE(platform::MatchesMask("a.inf", "?.INF"));
    EXPECT_FALSE(platform::MatchesMask("ab.inf", "?.inf"));
    EXPECT_TRUE(platform::MatchesMask(std::string(5000, 'a') + ".cat", "*a*a*a*.cat"));
}

TEST(Files, PathPieces) {
    EXPECT_EQ(platform::ExtractFileExt("/x/pkg.7z"), ".7z");
    EXPECT_EQ(platform::ExtractFileExt("/x.d/pkg"), "");
    EXPECT_EQ(platform::ExtractFileName("/x/y.cat"), "y.cat");
    EXPECT_EQ(platform::ExtractFileDir("/x/y.cat"), "/x");
    EXPECT_EQ(platform::IncludeTrailingPathDelimiter("/x"),
              std::string("/x") + platform::kPathDelim);
    EXPECT_EQ(platform::IncludeTrailingPathDelimiter("/x/"), "/x/");
}

TEST(Files, ExpandFileNameIsFullAndFoldedByText) {
    const std::string d(1, platform::kPathDelim);
    const std::string cwd = platform::IncludeTrailingPathDelimiter(fs::current_path().string());
    EXPECT_EQ(platform::ExpandFileName("pkg.7z"), cwd + "pkg.7z");
    EXPECT_EQ(platform::ExpandFileName("." + d + "pkg.7z"), cwd + "pkg.7z");
    EXPECT_EQ(platform::ExpandFileName("sub" + d + ".." + d + "pkg.7z"), cwd + "pkg.7z");
    EXPECT_EQ(platform::ExpandFileName("sub" + d), cwd + "sub" + d);
    EXPECT_EQ(platform::ExpandFileName(""), "");
#ifndef _WIN32
    EXPECT_EQ(platform::ExpandFileName("/a/./b//c/../d"), "/a/b/d");
    EXPECT_EQ(platform::ExpandFileName("/../x/.."), "/");
    EXPECT_EQ(platform::ExpandFileName("/a/b/.."), "/a");
    // Blanks and control characters are part of a POSIX name.
    EXPECT_EQ(platform::ExpandFileName("/a/pkg.7z "), "/a/pkg.7z ");
    // ".." folds by its text even behind a link, as Windows' expansion does.
    test::TempDir dir;
    fs::create_directories(dir / "real/deep");
    fs::create_directory_symlink(dir / "real/deep", dir / "link");
    EXPECT_EQ(platform::ExpandFileName(dir / "link/../pkg.7z"), dir / "pkg.7z");
#endif
}

#ifndef _WIN32
TEST(Messages, OneErrnoTableGivesEveryErrnoACodeWithAText) {
    EXPECT_EQ(platform::ErrnoToWin32(EACCES), platform::codes::kAccessDenied);
    EXPECT_EQ(platform::ErrnoToWin32(ENOENT), platform::codes::kFileNotFound);
    EXPECT_EQ(platform::ErrnoToWin32(ENOTDIR), platform::codes::kPathNotFound);
    EXPECT_EQ(platform::ErrnoToWin32(EIO), platform::codes::kIoDevice);
    EXPECT_EQ(platform::ErrnoToWin32(ENOSPC), 112u);
    EXPECT_EQ(platform::ErrnoToWin32(EMFILE), 4u);
    for (int err = 0; err < 134; ++err) {
        EXPECT_FALSE(platform::SysErrorMessage(platform::ErrnoToWin32(err)).empty()) << err;
    }
    // The 7-Zip library's errno-based codes read through the same table.
    for (int err : {EACCES, ENOENT, ENOTDIR, ENOSPC, EIO, EROFS, EDQUOT}) {
        EXPECT_EQ(platform::SysErrorMessage(0x88000000u | static_cast<std::uint32_t>(err)),
                  platform::SysErrorMessage(platform::ErrnoToWin32(err)))
            << err;
    }
}
#endif

TEST(Files, DeleteTreeRemovesLinksWithoutFollowingThem) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#endif
    test::TempDir dir;
    const std::string outside = dir / "outside";
    test::WriteFile(outside + "/keep.txt", "must survive");
    test::WriteFile(dir / "work/sub/a.sys", "x");
    fs::create_directory_symlink(outside, dir / "work/sub/link-to-dir");
    fs::create_symlink(outside + "/keep.txt", dir / "work/link-to-file");
    platform::DeleteTree(dir / "work/");
    EXPECT_FALSE(fs::exists(dir / "work"));
    EXPECT_EQ(test::ReadFile(outside + "/keep.txt"), "must survive");
    // The folder itself being a link: only the link goes.
    fs::create_directory_symlink(outside, dir / "linked-work");
    platform::DeleteTree(dir / "linked-work");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "linked-work")));
    EXPECT_TRUE(fs::exists(outside + "/keep.txt"));
    // A missing folder is not an error.
    EXPECT_NO_THROW(platform::DeleteTree(dir / "missing"));
}

TEST(Files, ListingsAndTheirFailures) {
    test::TempDir dir;
    test::WriteFile(dir / "b.CAT", "");
    test::WriteFile(dir / "a.cat", "");
    test::WriteFile(dir / "sub.cat/inner.cat", "");
    auto cats = platform::ListFiles(dir.path(), "*.cat");
    std::sort(cats.begin(), cats.end());
    const std::string root = platform::IncludeTrailingPathDelimiter(dir.path());
    EXPECT_EQ(cats, (std::vector<std::string>{root + "a.cat", root + "b.CAT"}));
    EXPECT_THROW(platform::ListFiles(dir / "missing", "*.cat"), EInOutError);
    EXPECT_EQ(platform::ListFilesRecursive(dir.path()).size(), 3u);
    EXPECT_TRUE(platform::FileExists(dir / "a.cat"));
    EXPECT_FALSE(platform::FileExists(dir / "sub.cat"));
    EXPECT_TRUE(platform::DirectoryExists(dir / "sub.cat"));
}

} // namespace
} // namespace halyard

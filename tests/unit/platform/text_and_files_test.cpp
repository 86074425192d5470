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
    // Empty and "." parts go; a backslash separates only where it is asked to.
    using Parts = std::vector<std::string>;
    EXPECT_EQ(platform::SplitRelativePath("a//./b\\c/"), (Parts{"a", "b\\c"}));
    EXPECT_EQ(platform::SplitRelativePath("a//./b\\c/", "/\\"), (Parts{"a", "b", "c"}));
    EXPECT_EQ(platform::SplitRelativePath("\\.\\", "/\\"), Parts{});
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
TEST(Messages, EveryErrnoGivesACodeWithAText) {
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

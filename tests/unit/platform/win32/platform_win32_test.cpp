// The win32 backend against the real Windows services: catalogs that cannot be opened, the
// locale, files and folders, the system. What Wine lacks is checked on Windows only.
#include "base/errors.h"
#include "base/hex.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "platform/catalog.h"
#include "platform/console.h"
#include "platform/ctl.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "platform/locale.h"
#include "platform/osversion.h"
#include "platform/sip.h"
#include "platform/trust.h"
#include "testkit.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

using namespace codes;

TEST(CatalogOpen, MissingOrBrokenFilesFail) {
    test::TempDir dir;
    const auto missing = platform::CryptCATOpen(dir / "none.cat", 0);
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error(), kFileNotFound);
    EXPECT_FALSE(platform::FileExists(dir / "none.cat")); // not created on the way
    EXPECT_EQ(platform::CryptCATOpen(dir.path(), 0).error(), kAccessDenied);
    EXPECT_FALSE(platform::CryptQueryObjectCtl(dir / "none.cat").ok());
    test::WriteFile(dir / "text.cat", "not a catalog");
    EXPECT_FALSE(platform::CryptQueryObjectCtl(dir / "text.cat").ok());
}

TEST(Win32Locale, CasingAndTheEnglishOrder) {
    EXPECT_EQ(platform::UpperCase("abc \xC3\xA9\xC3\xBC"), "ABC \xC3\x89\xC3\x9C");
    EXPECT_EQ(platform::LowerCase("ABC \xC3\x89"), "abc \xC3\xA9");
    EXPECT_LT(platform::CompareTextEnUs("0A", "0b"), 0);
    EXPECT_EQ(platform::CompareTextEnUs("abc", "ABC"), 0);
    EXPECT_GT(platform::CompareTextEnUs("B", "a"), 0);
    EXPECT_LT(platform::CompareTextEnUs("AB", "ABC"), 0);
}

TEST(Win32Files, ListingsDeletionAndFolders) {
    test::TempDir dir;
    const std::string root = platform::IncludeTrailingPathDelimiter(dir.path());
    test::WriteFile(root + "A.INF", "x");
    test::WriteFile(root + "b.inf_old", "x");
    test::WriteFile(root + "sub\\c.sys", "x");
    const auto infs = platform::ListFiles(dir.path(), "*.inf");
    ASSERT_EQ(infs.size(), 1u);
    EXPECT_EQ(infs.front(), root + "A.INF");
    EXPECT_EQ(platform::ListFilesRecursive(dir.path()).size(), 3u);
    EXPECT_TRUE(platform::ListFiles(root + "sub", "*.inf").empty());
    EXPECT_THROW(platform::ListFiles(root + "none", "*"), EInOutError);

    platform::ForceDirectoriesBelow(dir.path(), "x/y/z");
    EXPECT_TRUE(platform::DirectoryExists(root + "x\\y\\z"));
    EXPECT_THROW(platform::ForceDirectoriesBelow(dir.path(), "A.INF/q"), EInOutError);

    // A read-only file does not stop the deletion.
    std::filesystem::permissions(std::filesystem::u8path(root + "sub\\c.sys"),
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    platform::DeleteTree(root + "sub");
    EXPECT_FALSE(platform::DirectoryExists(root + "sub"));
    platform::DeleteTree(root + "sub"); // already gone: no error
    EXPECT_TRUE(platform::FileExists(root + "A.INF"));
    EXPECT_FALSE(platform::FileExists(dir.path()));
}

TEST(Win32System, ProgramFolderVersionAndOutputEncoding) {
    EXPECT_TRUE(platform::FileExists(platform::ProgramDirectory() + "halyard.exe"));
    const auto version = platform::GetOsVersion();
    EXPECT_GE(version.major, 6u);
    EXPECT_EQ(version.platformId, 2u);
    // Under ctest standard output is a pipe: the ANSI code page.
    EXPECT_EQ(platform::EncodeForStdout("caf\xC3\xA9"), Utf8ToAnsi("caf\xC3\xA9"));
}

} // namespace
} // namespace halyard

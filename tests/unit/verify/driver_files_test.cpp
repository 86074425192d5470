#include "platform/files.h"
#include "testkit.h"
#include "verify/driver_files.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace halyard {
namespace {

// Paths with '/' as the separator, whatever the platform appends.
std::vector<std::string> Slashed(std::vector<std::string> v) {
    for (auto& path : v) {
        std::replace(path.begin(), path.end(), '\\', '/');
    }
    return v;
}

std::vector<std::string> Sorted(std::vector<std::string> v) {
    v = Slashed(std::move(v));
    std::sort(v.begin(), v.end());
    return v;
}

TEST(GetDriverFiles, LeavesOutBookkeepingLogsAndCatalogs) {
    test::TempDir dir;
    const std::string root = dir.path() + "/";
    for (const char* f : {"DriverInfoQ956F.ini", "E20275FAA13FC9DA3516BDB629F7C2A9D0FC1BF5.txt",
                          "pkg.cat", "InternalLogsDoNotCopyToProduction/params.ini",
                          "InternalLogsDoNotCopyToProduction/deep/x.sys", "sub/driver.CAT"}) {
        test::WriteFile(root + f, "x");
    }
    EXPECT_TRUE(GetDriverFiles(root).empty());

    // Copies in subfolders and other letter cases at the top level are driver files.
    for (const char* f : {"driverinfoq956f.ini", "sub/DriverInfoQ956F.ini", "a.sys", "sub/b/c.dll",
                          "InternalLogsDoNotCopyToProductionX/y.sys", "x.cat.bak"}) {
        test::WriteFile(root + f, "x");
    }
    std::vector<std::string> expected{
        root + "sub/DriverInfoQ956F.ini", root + "a.sys", root + "sub/b/c.dll",
        root + "InternalLogsDoNotCopyToProductionX/y.sys", root + "x.cat.bak"};
#ifndef _WIN32
    // On a case-insensitive file system this name is the bookkeeping file itself.
    expected.push_back(root + "driverinfoq956f.ini");
#endif
    EXPECT_EQ(Sorted(GetDriverFiles(root)), Sorted(expected));
}

TEST(GetDriverFiles, SubfolderContentComesWhereTheSubfolderIs) {
    test::TempDir dir;
    const std::string root = dir.path() + "/";
    test::WriteFile(root + "a/1.sys", "x");
    test::WriteFile(root + "a/2.sys", "x");
    test::WriteFile(root + "b.sys", "x");
    const auto files = Slashed(GetDriverFiles(root));
    ASSERT_EQ(files.size(), 3u);
    // Whatever the listing order, a folder's files stay together.
    const std::string base = Slashed({root}).front();
    const auto a1 = std::find(files.begin(), files.end(), base + "a/1.sys") - files.begin();
    const auto a2 = std::find(files.begin(), files.end(), base + "a/2.sys") - files.begin();
    EXPECT_EQ(std::abs(a1 - a2), 1);
}

} // namespace
} // namespace halyard

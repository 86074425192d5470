// The package check from the caller's side: relative and non-ASCII archive paths, arguments taken
// byte for byte, outside text that must not forge lines, and diagnostics that name a cause.
#include "package_builder.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class PackagePaths : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }

    static PackageBuilder& Good(PackageBuilder& pkg) {
        fixtures::PeOptions pe64;
        pe64.pe32Plus = true;
        pkg.addPe("x64/driver.sys", pe64);
        pkg.addFile("x64/driver.dll", std::string(3000, 'd'));
        return pkg;
    }
};

TEST_F(PackagePaths, RelativeArchivePathsPass) {
    PackageBuilder pkg;
    const std::string archive = Good(pkg).pack();
    const std::string dir = pkg.dir().path();
    const std::string parent = fs::path(dir).parent_path().string();
    const std::string name = fs::path(dir).filename().string();
    fs::create_directory(dir + "/sub");
    const struct {
        std::string arg;
        std::string workDir;
    } cases[] = {
        {"pkg.7z", dir},
        {"./pkg.7z", dir},
        {"sub/../pkg.7z", dir},
        {"../pkg.7z", dir + "/sub"},
        {name + "/pkg.7z", parent},
    };
    for (const auto& c : cases) {
        const auto r = RunPackageCheck({c.arg}, c.workDir);
        EXPECT_EQ(r.lines, Lines{"success"}) << c.arg << " in " << c.workDir << "\n" << r.output;
        EXPECT_FALSE(fs::exists(dir + "/pkg")) << c.arg;
    }
    // Lines that name files name them by their full paths.
    PackageBuilder bad;
    bad.addPe("a.sys");
    bad.addFile("b.sys", "not in the catalog", false);
    bad.pack();
    const auto r = RunPackageCheck({"pkg.7z"}, bad.dir().path());
    ASSERT_GE(r.lines.size(), 2u) << r.output;
    EXPECT_EQ(r.lines[r.lines.size() - 2], "IsCodeSigned failed for " + (bad.dir() / "pkg/b.sys"));
}

TEST_F(PackagePaths, AFolderNamedInCyrillicPasses) {
    // Outside Windows-1252: SignTool's report of the path must come back whole.
    PackageBuilder pkg;
    const std::string packed = Good(pkg).pack();
    const std::string folder = pkg.dir() / "\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82";
    fs::create_directory(folder);
    const std::string archive =
        folder + "/\xD0\xB4\xD1\x80\xD0\xB0\xD0\xB9\xD0\xB2\xD0\xB5\xD1\x80.7z";
    fs::rename(packed, archive);
    const auto r = RunPackageCheck({archive});
    EXPECT_EQ(r.lines, Lines{"success"}) << r.output;
    EXPECT_EQ(fs::directory_iterator(folder)->path().string(), archive); // work folder gone
}

TEST_F(PackagePaths, TheArgumentIsTakenByteForByte) {
    PackageBuilder pkg;
    const std::string archive = Good(pkg).pack();
    // A trailing blank names another file, whose name does not end in ".7z".
    auto r = RunPackageCheck({archive + " "});
    EXPECT_EQ(r.lines, Lines{"wrong:Archive name: " + archive + " "});
    // A leading blank names a file that is not there.
    r = RunPackageCheck({" pkg.7z"}, pkg.dir().path());
    ASSERT_FALSE(r.lines.empty());
    EXPECT_EQ(r.lines.back(), "wrong:UnZipFile failed") << r.output;
    EXPECT_FALSE(fs::exists(pkg.dir() / "pkg"));
    // Several arguments are still joined with one blank each.
    fs::create_directory(pkg.dir() / "a b");
    fs::rename(archive, pkg.dir() / "a b/pkg.7z");
    r = RunPackageCheck({pkg.dir() / "a", "b/pkg.7z"});
    EXPECT_EQ(r.lines, Lines{"success"}) << r.output;
}

TEST_F(PackagePaths, ItemNamesCannotForgeLines) {
    // 7zz stores a Linux file name with CR and LF in it as it is.
    PackageBuilder pkg;
    Good(pkg).addFile("evil\r\nsuccess\r\n.sys", "not in the catalog", false);
    const std::string archive = pkg.pack();
    const auto r = RunPackageCheck({archive});
    ASSERT_FALSE(r.lines.empty());
    EXPECT_TRUE(r.lines.back().starts_with("wrong:")) << r.output;
    EXPECT_EQ(std::count(r.lines.begin(), r.lines.end(), "success"), 0) << r.output;
    EXPECT_NE(r.output.find("evil\\r\\nsuccess\\r\\n.sys"), std::string::npos) << r.output;
    // Every CR LF in the output ends one of the lines the tool wrote.
    std::size_t lineEnds = 0;
    for (std::size_t at = r.output.find("\r\n"); at != std::string::npos;
         at = r.output.find("\r\n", at + 2)) {
        ++lineEnds;
    }
    EXPECT_EQ(lineEnds, r.lines.size());
    EXPECT_EQ(std::count(r.output.begin(), r.output.end(), '\n'), lineEnds);
}

TEST_F(PackagePaths, AMissingParamsIniIsNamedBeforeTheVerdict) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    pkg.writeParams = false;
    const auto r = RunPackageCheck({pkg.pack()});
    EXPECT_EQ(r.lines, (Lines{"Verify: params.ini not found; Params: " +
                                  (pkg.dir() / "pkg/InternalLogsDoNotCopyToProduction/params.ini"),
                              "wrong:DateSign incorrect"}));
}

TEST_F(PackagePaths, AFolderWithoutWriteAccessSaysAccessDenied) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    const std::string packed = pkg.pack();
    const std::string folder = pkg.dir() / "locked";
    fs::create_directory(folder);
    fs::rename(packed, folder + "/pkg.7z");
    fs::permissions(pkg.dir().path(), fs::perms::owner_all | fs::perms::group_read |
                                          fs::perms::group_exec | fs::perms::others_read |
                                          fs::perms::others_exec);
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    RunResult r;
    if (::geteuid() == 0) {
        // Root writes anywhere: run as nobody.
        if (!fs::exists("/usr/bin/setpriv")) {
            GTEST_SKIP() << "running as root without setpriv";
        }
        r = test::Run("/usr/bin/setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups",
                                           BinDir() + "halyard", folder + "/pkg.7z"});
    } else {
        r = RunHalyard({folder + "/pkg.7z"});
    }
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_EQ(r.lines.size(), 2u) << r.output;
    EXPECT_TRUE(r.lines[0].starts_with("UnZipFile: ")) << r.lines[0];
    EXPECT_TRUE(r.lines[0].ends_with("Access is denied")) << r.lines[0];
    EXPECT_EQ(r.lines[1], "wrong:UnZipFile failed");
}

} // namespace
} // namespace halyard::test

// The tool as `cmake --install` lays it out under a scratch prefix: helpers in libexec/halyard,
// the shipped roots in share/halyard/trust (never a test root), the administrator's roots in
// <root>/etc/halyard/trust; run from there, moved elsewhere, with and without the example's root.
#include "fixtures.h"
#include "testkit.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

namespace fs = std::filesystem;

// The cmake on PATH (the one that built this tree).
std::string CmakeProgram() {
    const char* path = std::getenv("PATH");
    std::string all = path != nullptr ? path : "/usr/bin";
    std::size_t start = 0;
    while (start <= all.size()) {
        const std::size_t end = std::min(all.find(':', start), all.size());
        const fs::path candidate = fs::path(all.substr(start, end - start)) / "cmake";
        if (fs::is_regular_file(candidate)) {
            return candidate.string();
        }
        start = end + 1;
    }
    return "/usr/bin/cmake";
}

class InstalledTree : public ::testing::Test {
protected:
    static test::TempDir* scratch;

    // One installation for the suite: <scratch>/root/usr, as a package unpacked into a root.
    static void SetUpTestSuite() {
        scratch = new test::TempDir;
        const std::string build = fs::path(test::BinDir()).parent_path().parent_path().string();
        const auto r =
            test::Run(CmakeProgram(), {"--install", build, "--prefix", *scratch / "root/usr"});
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }
    static void TearDownTestSuite() {
        delete scratch;
        scratch = nullptr;
    }

    static std::string Usr(const std::string& relative) {
        return *scratch / ("root/usr/" + relative);
    }
    static std::string AdminTrust() { return *scratch / "root/etc/halyard/trust"; }

    static test::RunResult Halyard(const std::vector<std::string>& args,
                                   const std::string& program = Usr("bin/halyard")) {
        return test::Run(program, args);
    }

    void TearDown() override { fs::remove_all(*scratch / "root/etc"); }
};

test::TempDir* InstalledTree::scratch = nullptr;

TEST_F(InstalledTree, EveryFileIsInItsPlaceAndNoTestRootShips) {
    for (const char* file : {"bin/halyard", "bin/catinspect", "libexec/halyard/SignTool.exe",
                             "libexec/halyard/libsetupapi.so", "share/man/man1/halyard.1.gz",
                             "share/doc/halyard/copyright", "share/doc/halyard/changelog.gz"}) {
        EXPECT_TRUE(fs::is_regular_file(Usr(file))) << file;
    }
    EXPECT_FALSE(fs::exists(Usr("bin/SignTool.exe")));
    EXPECT_FALSE(fs::exists(Usr("bin/libsetupapi.so")));
    EXPECT_FALSE(fs::exists(Usr("bin/trust")));

    const auto& pki = fixtures::BuildTestPki();
    const std::string testRoot = test::ReadFile(pki.root.certPath);
    const std::string exampleRoot =
        test::ReadFile(test::SourceDir() + "examples/trust/halyard-example-root.pem");
    std::size_t roots = 0;
    for (const auto& entry : fs::directory_iterator(Usr("share/halyard/trust"))) {
        const std::string text = test::ReadFile(entry.path().string());
        EXPECT_NE(text, testRoot) << entry.path();
        EXPECT_NE(text, exampleRoot) << entry.path();
        EXPECT_EQ(text.find("Halyard"), std::string::npos) << entry.path();
        ++roots;
    }
    // The hand-picked roots and those Microsoft's list enables for code signing.
    EXPECT_GT(roots, 50u);
}

TEST_F(InstalledTree, HelpAndVersionPrintNoVerdict) {
    for (const char* option : {"--help", "-h"}) {
        const auto r = Halyard({option});
        EXPECT_EQ(r.exitCode, 0);
        ASSERT_GE(r.lines.size(), 10u) << r.output;
        EXPECT_EQ(r.lines.front(), "Usage: halyard <package>.7z");
        EXPECT_NE(r.output.find("  " + AdminTrust() + "\r\n"), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("  " + Usr("share/halyard/trust") + "\r\n"), std::string::npos);
        for (const auto& line : r.lines) {
            EXPECT_NE(line, "success");
            EXPECT_NE(line, "fail");
            EXPECT_NE(line.rfind("wrong:", 0), 0u) << line;
        }
    }
    const auto v = Halyard({"--version"});
    EXPECT_EQ(v.exitCode, 0);
    ASSERT_EQ(v.lines.size(), 1u) << v.output;
    EXPECT_EQ(v.output, v.lines[0] + "\r\n");
    EXPECT_EQ(v.lines[0].rfind("halyard ", 0), 0u);
    // Only alone: with more arguments they are a path like any other.
    EXPECT_EQ(Halyard({"--version", "x"}).lines.front(), "wrong:Archive name: --version x");
}

TEST_F(InstalledTree, TheExamplesCheckOutWithTheExampleRootAnAdministratorAdded) {
    test::TempDir work;
    test::CopyFile(test::SourceDir() + "examples/sample-package.7z", work / "sample-package.7z");
    // Not a root the package ships: the example's chain is not trusted.
    auto r = Halyard({work / "sample-package.7z"});
    ASSERT_FALSE(r.lines.empty());
    EXPECT_NE(r.output.find("wrong:VerifyAndGetHashes failed"), std::string::npos) << r.output;

    fs::create_directories(AdminTrust());
    test::CopyFile(test::SourceDir() + "examples/trust/halyard-example-root.pem",
                   AdminTrust() + "/example.pem");
    // The package check runs SignTool.exe from libexec/halyard and unpacks with 7-Zip.
    r = Halyard({work / "sample-package.7z"});
    EXPECT_EQ(r.output, "success\r\n");
    // The installed inspector finds the same helpers and roots.
    const auto inspect =
        test::Run(Usr("bin/catinspect"), {"--package", work / "sample-package.7z"});
    EXPECT_EQ(inspect.exitCode, 0) << inspect.output;
    EXPECT_TRUE(inspect.output.ends_with("\nsuccess\n")) << inspect.output;
    r = Halyard({"/cat", test::SourceDir() + "examples/catalog/sample.cat"});
    EXPECT_EQ(r.output.rfind("success:", 0), 0u) << r.output;
    // /verify loads libsetupapi.so from libexec/halyard.
    r = Halyard({"/verify", test::SourceDir() + "examples/inf-folder"});
    EXPECT_EQ(r.output, "success\r\n");
}

TEST_F(InstalledTree, AMovedTreeFindsItsOwnFiles) {
    test::TempDir other;
    fs::copy(*scratch / "root", other / "elsewhere", fs::copy_options::recursive);
    fs::create_directories(other / "elsewhere/etc/halyard/trust");
    test::CopyFile(test::SourceDir() + "examples/trust/halyard-example-root.pem",
                   other / "elsewhere/etc/halyard/trust/example.pem");
    // Run through a symbolic link, as /usr/local/bin/halyard -> the tree would be.
    fs::create_symlink(other / "elsewhere/usr/bin/halyard", other / "halyard");
    const auto r =
        Halyard({"/verify", test::SourceDir() + "examples/inf-folder"}, other / "halyard");
    EXPECT_EQ(r.output, "success\r\n");
    const auto help = Halyard({"--help"}, other / "halyard");
    EXPECT_NE(help.output.find(other / "elsewhere/etc/halyard/trust"), std::string::npos);
}

// A real vendor-signed catalog whose root the program ships: its chain is trusted, so the
// /verify check goes on to the signer, where a vendor is not the accepted one.
TEST_F(InstalledTree, AVendorCatalogFailsAtTheSignerNotAtTheRoot) {
    if (!test::RealworldAvailable()) {
        GTEST_SKIP() << "no real-world samples";
    }
    test::TempDir folder;
    const std::string seeed = test::RealworldDir() + "catalogs/seeed-usb-serial-2024/";
    test::CopyFile(seeed + "seeed_usb_serial.cat", folder / "seeed_usb_serial.cat");
    test::CopyFile(seeed + "seeed_usb_serial.inf", folder / "seeed_usb_serial.inf");
    const auto inspect = test::Run(Usr("bin/catinspect"), {folder / "seeed_usb_serial.cat"});
    EXPECT_NE(inspect.output.find("Signature: 00000000"), std::string::npos) << inspect.output;
    EXPECT_EQ(Halyard({"/verify", folder.path()}).output,
              "VerifyInfAndCat: Not the accepted signer: Seeed Technology Co., Ltd.; Params: " +
                  (folder / "seeed_usb_serial.cat") +
                  "; Last error: E0000242 Trust in the publisher of the software could not be "
                  "established\r\nignore\r\n");
    // The package's SignTool says the same: a trusted chain, refused by the kernel-mode policy
    // only because the signer is not Microsoft's.
    const auto signtool = test::Run(Usr("libexec/halyard/SignTool.exe"),
                                    {"verify", "/v", "/kp", folder / "seeed_usb_serial.cat"});
    EXPECT_EQ(signtool.output.find("800B0109"), std::string::npos) << signtool.output;
    EXPECT_EQ(signtool.output.find("800B010A"), std::string::npos) << signtool.output;
}

} // namespace
} // namespace halyard

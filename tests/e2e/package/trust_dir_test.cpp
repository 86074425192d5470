// HALYARD_TRUST_DIR: the caller's own trust folders replace the installed ones for one run, in
// halyard, in the Setup API library it loads and in the SignTool stand-in it starts.
#include "package_builder.h"
#include "platform/trust.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard::test {
namespace {

using Lines = std::vector<std::string>;

bool HasLine(const RunResult& r, const std::string& line) {
    return std::find(r.lines.begin(), r.lines.end(), line) != r.lines.end();
}

class TrustDirVariable : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }
    void TearDown() override { ::unsetenv(platform::kTrustDirVariable); }

    static void Pin(const std::string& value) {
        ::setenv(platform::kTrustDirVariable, value.c_str(), 1);
    }

    TempDir empty_;
    TempDir roots_;
};

TEST_F(TrustDirVariable, OnlyTheNamedFoldersAreTrusted) {
    WriteFile(roots_ / "test-root.pem", fixtures::BuildTestPki().root.certPem);
    PackageBuilder pkg;
    fixtures::PeOptions pe64;
    pe64.pe32Plus = true;
    pkg.addPe("x64/driver.sys", pe64);
    const std::string archive = pkg.pack();
    // The build's own trust folder holds the test root: without the variable the package passes.
    EXPECT_EQ(RunHalyard({archive}).lines, Lines{"success"});

    Pin(empty_.path());
    const auto untrusted = RunHalyard({archive});
    ASSERT_FALSE(untrusted.lines.empty());
    EXPECT_EQ(untrusted.lines.back(), "wrong:VerifyAndGetHashes failed") << untrusted.output;

    // Several folders, an empty entry skipped; the stand-in reads the same ones.
    Pin(empty_.path() + "::" + roots_.path());
    EXPECT_EQ(RunHalyard({archive}).lines, Lines{"success"});
}

TEST_F(TrustDirVariable, TheSignToolStandInInheritsIt) {
    WriteFile(roots_ / "test-root.pem", fixtures::BuildTestPki().root.certPem);
    PackageBuilder pkg;
    pkg.addPe("x86/driver.sys");
    pkg.pack();
    const auto verify = [&] {
        return test::Run(BinDir() + "SignTool.exe",
                         {"verify", "/kp", "/c", "driver.cat", "x86/driver.sys"}, pkg.contentDir());
    };
    Pin(empty_.path());
    const auto refused = verify();
    EXPECT_NE(refused.exitCode, 0) << refused.output;
    EXPECT_FALSE(HasLine(refused, "Successfully verified: x86/driver.sys")) << refused.output;
    Pin(roots_.path());
    const auto trusted = verify();
    EXPECT_EQ(trusted.exitCode, 0) << trusted.output;
    // A relative entry is never used: the stand-in runs in the package's folder, where it would
    // name a folder of the package.
    WriteFile(pkg.contentDir() + "roots/test-root.pem", fixtures::BuildTestPki().root.certPem);
    Pin("roots");
    EXPECT_NE(verify().exitCode, 0);
}

TEST_F(TrustDirVariable, TheSetupApiLibraryReadsIt) {
    const std::string folder = SourceDir() + "examples/inf-folder";
    Pin(empty_.path());
    EXPECT_NE(RunHalyard({"/verify", folder}).lines, Lines{"success"});
    Pin(SourceDir() + "examples/trust");
    EXPECT_EQ(RunHalyard({"/verify", folder}).lines, Lines{"success"});
}

TEST_F(TrustDirVariable, HelpListsTheFoldersInUse) {
    const std::string installed = "  " + BinDir() + "trust";
    EXPECT_TRUE(HasLine(RunHalyard({"--help"}), installed));
    // Set but empty counts as not set.
    Pin("");
    EXPECT_TRUE(HasLine(RunHalyard({"--help"}), installed));

    Pin(empty_.path() + ":relative/roots:" + roots_.path());
    auto help = RunHalyard({"--help"});
    EXPECT_TRUE(HasLine(help, "Trusted roots (only the folders HALYARD_TRUST_DIR names):"))
        << help.output;
    EXPECT_TRUE(HasLine(help, "  " + empty_.path()));
    EXPECT_TRUE(HasLine(help, "  " + roots_.path()));
    EXPECT_TRUE(HasLine(help, "  not used, not a full path: relative/roots"));
    EXPECT_FALSE(HasLine(help, installed)) << help.output;

    Pin("relative");
    help = RunHalyard({"--help"});
    EXPECT_TRUE(HasLine(help, "  none: no root is trusted")) << help.output;
}

} // namespace
} // namespace halyard::test

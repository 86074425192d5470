// The SignTool stand-in on catalogs signed as the WHQL catalogs of 2009-2011: the signer's chain
// and the time stamp's go through issuers without basicConstraints, which CryptoAPI accepts; an
// issuer whose basicConstraints says cA=FALSE is refused with the code Windows gives.
#include "fixtures.h"
#include "report/output.h"
#include "testkit.h"
#include "verify/signtool_checks.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

class StandInLegacyChain : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();
    test::TempDir work;
    std::string program = test::BinDir() + "SignTool.exe";
    std::string inf = work / "driver.inf";

    std::string Catalog(const std::string& name, const fixtures::Identity& signer) {
        test::WriteFile(inf, "[Version]\r\nCatalogFile=driver.cat\r\n");
        fixtures::CatalogRecipe recipe;
        recipe.version = 2;
        recipe.hash = platform::DigestAlgorithm::Sha256;
        recipe.signer = &signer;
        recipe.timeStamp = fixtures::TimeStampKind::Rfc3161;
        recipe.timeStampAuthority = &pki.legacyTsa;
        recipe.timeStampTime = 1275395696; // 2010-06-01, inside the legacy publisher's validity
        fixtures::AddFileMember(recipe, inf);
        const std::string path = work / name;
        fixtures::WriteCatalog(path, recipe);
        return path;
    }
};

TEST_F(StandInLegacyChain, VerifiesThroughIssuersWithoutBasicConstraints) {
    const std::string cat = Catalog("legacy.cat", pki.legacyWhcp);
    const test::RunResult report = test::Run(program, {"verify", "/v", "/kp", cat}, work.path());
    EXPECT_EQ(report.exitCode, 0) << report.output;
    const std::vector<std::string> lines = SplitSigntoolOutput(report.output);
    // Each chain starts at the legacy root: the publisher's under its intermediate, the time
    // stamp authority's directly.
    const auto next = [&](std::size_t from, const std::string& line) {
        const auto it =
            std::find(lines.begin() + static_cast<std::ptrdiff_t>(from), lines.end(), line);
        EXPECT_NE(it, lines.end()) << line << " after line " << from << "\n" << report.output;
        return static_cast<std::size_t>(it - lines.begin());
    };
    const std::string root = "    Issued to: Halyard Test Legacy Root Authority";
    const std::size_t signing = next(0, "Signing Certificate Chain:");
    EXPECT_EQ(next(signing, root), signing + 2);
    next(signing, "        Issued to: Halyard Test Legacy Code Signing PCA");
    const std::size_t stamp =
        next(signing, "The signature is timestamped: Tue Jun 01 12:34:56 2010");
    EXPECT_EQ(next(stamp, root), stamp + 3);
    next(stamp, "        Issued to: Microsoft Time-Stamp Service");
    {
        // The package check reads the report as it reads Windows' SignTool.
        OutputCapture capture;
        EXPECT_TRUE(VerifyCatWithSigntool(cat, work.path()));
        EXPECT_TRUE(capture.lines().empty()) << capture.text();
    }
    const test::RunResult member = test::Run(program, {"verify", "/kp", "/c", cat, inf});
    EXPECT_EQ(member.exitCode, 0) << member.output;
    EXPECT_NE(member.output.find("Successfully verified: " + inf), std::string::npos);
}

TEST_F(StandInLegacyChain, RefusesAnIssuerWithCaFalse) {
    const std::string cat = Catalog("notca.cat", pki.notCaLeaf);
    for (const auto& args : {std::vector<std::string>{"verify", "/v", "/kp", cat},
                             std::vector<std::string>{"verify", "/kp", "/c", cat, inf}}) {
        const test::RunResult run = test::Run(program, args);
        EXPECT_EQ(run.exitCode, 1) << run.output;
        EXPECT_NE(run.output.find("WinVerifyTrust returned error: 0x80096019"), std::string::npos)
            << run.output;
    }
}

} // namespace
} // namespace halyard

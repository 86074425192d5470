// catinspect -v on catalogs signed as the WHQL catalogs of 2009-2011 (issuers without
// basicConstraints in the signer's and the time stamp's chain) and on one whose issuer says
// cA=FALSE: the signature status and the chains it shows.
#include "fixtures.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

std::string Inspect(const test::TempDir& dir, const fixtures::Identity& signer) {
    const auto& pki = fixtures::BuildTestPki();
    const std::string inf = dir / "driver.inf";
    test::WriteFile(inf, "[Version]\r\nCatalogFile=driver.cat\r\n");
    fixtures::CatalogRecipe recipe;
    recipe.version = 2;
    recipe.hash = platform::DigestAlgorithm::Sha256;
    recipe.signer = &signer;
    recipe.timeStamp = fixtures::TimeStampKind::Legacy;
    recipe.timeStampAuthority = &pki.legacyTsa;
    recipe.timeStampTime = 1275395696; // 2010-06-01 12:34:56 UTC
    fixtures::AddFileMember(recipe, inf);
    const std::string cat = dir / (signer.name + ".cat");
    fixtures::WriteCatalog(cat, recipe);
    return test::Run(test::BinDir() + "catinspect", {"-v", cat}).output;
}

TEST(CatinspectLegacyChain, SignatureAndChainsThroughIssuersWithoutBasicConstraints) {
    const auto& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    const std::string legacy = Inspect(dir, pki.legacyWhcp);
    EXPECT_NE(legacy.find("Signature: 00000000"), std::string::npos) << legacy;
    EXPECT_NE(legacy.find("Time stamp: 2010-06-01 12:34:56 UTC"), std::string::npos) << legacy;
    const auto signing = legacy.find("Signing chain:");
    const auto stamp = legacy.find("Time-stamp chain:");
    ASSERT_NE(signing, std::string::npos) << legacy;
    ASSERT_NE(stamp, std::string::npos) << legacy;
    for (const auto chain : {signing, stamp}) {
        EXPECT_EQ(
            legacy.find("Halyard Test Legacy Root Authority (issued by Halyard Test Legacy", chain),
            legacy.find('\n', chain) + 3)
            << legacy;
    }

    const std::string notCa = Inspect(dir, pki.notCaLeaf);
    EXPECT_NE(notCa.find("Signature: 80096019"), std::string::npos) << notCa;
}

} // namespace
} // namespace halyard

// Issuers as CryptoAPI judges them: a certificate without basicConstraints (or a v1 one) may
// issue, in the signer's chain and in the time stamp's; one whose basicConstraints says cA=FALSE
// may not, a path length is honoured, and key usage, extended key usage and validity count as
// before. Catalogs signed by the test PKI, checked against its two roots.
#include "base/outcome.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "testkit.h"

#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

using namespace codes;
using fixtures::Identity;
using fixtures::TimeStampKind;

constexpr std::int64_t k2010 = 1262304000; // inside the legacy signer's 2009 .. 2012
constexpr std::time_t k2019 = 1546300800;  // after it, inside whcpExpired's 2015 .. 2021
constexpr std::time_t k2023 = 1672531200;  // after both

class BasicConstraints : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    int made = 0;

    platform::CatalogSignatureReport Verify(const Identity& signer, TimeStampKind kind = {},
                                            const Identity* tsa = nullptr, std::time_t at = k2023) {
        fixtures::CatalogRecipe recipe;
        recipe.version = 2;
        recipe.hash = platform::DigestAlgorithm::Sha256;
        recipe.signer = &signer;
        recipe.timeStamp = kind;
        recipe.timeStampTime = signer.name == "whcp-expired" ? k2019 : k2010;
        recipe.timeStampAuthority = tsa;
        const std::string driver = dir / "driver.sys";
        fixtures::WriteFileBytes(driver, fixtures::MakePeFile());
        fixtures::AddFileMember(recipe, driver);
        const std::string cat = dir / ("c" + std::to_string(++made) + ".cat");
        fixtures::WriteCatalog(cat, recipe);

        const std::string trust = dir / "trust";
        test::WriteFile(trust + "/root.pem", pki.root.certPem);
        test::WriteFile(trust + "/legacy-root.pem", pki.legacyRoot.certPem);
        const trust::TrustAnchors anchors(trust);
        const auto parsed = trust::ParseCatalogFile(cat);
        EXPECT_TRUE(parsed) << cat;
        return parsed ? trust::VerifyParsedCatalogSignature(**parsed, anchors, at)
                      : platform::CatalogSignatureReport{};
    }
};

TEST_F(BasicConstraints, IssuersWithoutTheExtensionIssueTheSignersChain) {
    // Root and intermediate without basicConstraints; the expired signer is judged at the time
    // stamp's time (by the test PKI's ordinary authority).
    for (const auto kind : {TimeStampKind::Rfc3161, TimeStampKind::Legacy}) {
        const auto report = Verify(pki.legacyWhcp, kind, &pki.tsa);
        EXPECT_EQ(report.status, 0u);
        ASSERT_TRUE(report.timestamp);
        EXPECT_EQ(*report.timestamp, k2010);
        ASSERT_EQ(report.signingChain.size(), 3u);
        EXPECT_EQ(report.signingChain[0].issuedTo, "Halyard Test Legacy Root Authority");
        EXPECT_EQ(report.signingChain[1].issuedTo, "Halyard Test Legacy Code Signing PCA");
    }
    // Without a time stamp the signer is checked today and has expired: validity still counts.
    EXPECT_EQ(Verify(pki.legacyWhcp).status, kCertEExpired);
    EXPECT_EQ(Verify(pki.legacyWhcp, {}, nullptr, k2010).status, 0u);
    // A version 1 intermediate (no extensions at all) issues too.
    const auto v1 = Verify(pki.v1Leaf);
    EXPECT_EQ(v1.status, 0u);
    ASSERT_EQ(v1.signingChain.size(), 3u);
    EXPECT_EQ(v1.signingChain[1].issuedTo, "Halyard Test Version 1 CA");
}

TEST_F(BasicConstraints, TimeStampChainsThroughARootWithoutTheExtension) {
    // The signer's own chain is the ordinary one; only the time stamp's ends at the legacy root.
    // Were it dropped, the signer would be checked today, after it expired.
    for (const auto kind : {TimeStampKind::Rfc3161, TimeStampKind::Legacy}) {
        const auto report = Verify(pki.whcpExpired, kind, &pki.legacyTsa);
        EXPECT_EQ(report.status, 0u);
        ASSERT_TRUE(report.timestamp);
        ASSERT_EQ(report.timestampChain.size(), 2u);
        EXPECT_EQ(report.timestampChain[0].issuedTo, "Halyard Test Legacy Root Authority");
        EXPECT_EQ(report.timestampChain[1].issuedTo, "Microsoft Time-Stamp Service");
    }
    // Both chains through legacy issuers: the WHQL catalogs of 2009-2011.
    EXPECT_EQ(Verify(pki.legacyWhcp, TimeStampKind::Rfc3161, &pki.legacyTsa).status, 0u);
}

TEST_F(BasicConstraints, IssuersTheConstraintsOrKeyUsageForbidStayFaults) {
    // basicConstraints present with cA=FALSE; a path one CA longer than the intermediate's
    // pathLenConstraint of 0; no basicConstraints, but a key usage without certificate signing.
    for (const Identity* leaf : {&pki.notCaLeaf, &pki.subCaLeaf, &pki.noCertSignLeaf}) {
        const auto report = Verify(*leaf);
        EXPECT_EQ(report.status, kTrustEBasicConstraints) << leaf->name;
        EXPECT_GE(report.signingChain.size(), 3u) << leaf->name;
        // A time stamp does not mend it.
        EXPECT_EQ(Verify(*leaf, TimeStampKind::Rfc3161, &pki.legacyTsa).status,
                  kTrustEBasicConstraints)
            << leaf->name;
    }
    // The extended key usage still counts under a legacy root: a time-stamping certificate does
    // not sign code.
    EXPECT_EQ(Verify(pki.legacyTsa).status, kCertEWrongUsage);
}

} // namespace
} // namespace halyard

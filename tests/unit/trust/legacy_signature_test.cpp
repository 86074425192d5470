// Signatures in the legacy forms Windows accepts: an RSA block that holds the bare digest without
// its DigestInfo (countersignatures, RFC 3161 tokens and the catalog's own signer alike), and
// signed attributes stored out of DER's order. Each is accepted, and the same signature over a
// digest with one byte changed, or over a digest of another algorithm, is still refused.
#include "base/outcome.h"
#include "catalog/cat_file_tag.h"
#include "catalog/code_signing.h"
#include "fixtures.h"
#include "platform/trust.h"
#include "posix_seam.h"
#include "report/output.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

using namespace codes;
using fixtures::CatalogRecipe;
using fixtures::SignatureStyle;
using fixtures::TimeStampKind;

constexpr std::int64_t k2019 = 1546300800;

SignatureStyle Bare() {
    SignatureStyle style;
    style.bareDigest = true;
    return style;
}

SignatureStyle Unsorted() {
    SignatureStyle style;
    style.unsortedAttributes = true;
    return style;
}

SignatureStyle Altered(SignatureStyle style) {
    style.alterDigest = true;
    return style;
}

class LegacySignature : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    std::string driver = dir / "driver.sys";
    int serial = 0;

    void SetUp() override {
        HALYARD_ENGINE_THROUGH_THE_SEAM();
        fixtures::WriteFileBytes(driver, fixtures::MakePeFile());
    }

    CatalogRecipe Recipe(const fixtures::Identity& signer, int version = 2) {
        CatalogRecipe recipe;
        recipe.version = version;
        recipe.hash =
            version == 2 ? platform::DigestAlgorithm::Sha256 : platform::DigestAlgorithm::Sha1;
        recipe.signer = &signer;
        fixtures::AddFileMember(recipe, driver);
        return recipe;
    }

    // A catalog by the expired publisher whose time stamp is made in this style: the chain
    // verifies only when the time stamp does.
    CatalogRecipe Stamped(TimeStampKind kind, const SignatureStyle& style, int version = 2) {
        CatalogRecipe recipe = Recipe(pki.whcpExpired, version);
        recipe.timeStamp = kind;
        recipe.timeStampTime = k2019;
        recipe.timeStampStyle = style;
        return recipe;
    }

    platform::CatalogSignatureReport Verify(const CatalogRecipe& recipe) {
        const std::string path = dir / ("c" + std::to_string(++serial) + ".cat");
        fixtures::WriteCatalog(path, recipe);
        return platform::VerifyCatalogSignature(path);
    }

    // The report of a stamped catalog, with the time stamp's verdict checked.
    void ExpectStampHolds(const CatalogRecipe& recipe, bool holds, const char* what) {
        const auto report = Verify(recipe);
        if (holds) {
            EXPECT_EQ(report.status, 0u) << what;
            ASSERT_TRUE(report.timestamp) << what;
            EXPECT_EQ(*report.timestamp, k2019) << what;
            ASSERT_FALSE(report.timestampChain.empty()) << what;
            EXPECT_EQ(report.timestampChain.back().issuedTo, "Microsoft Time-Stamp Service");
        } else {
            EXPECT_EQ(report.status, kCertEExpired) << what;
            EXPECT_FALSE(report.timestamp) << what;
        }
    }
};

TEST_F(LegacySignature, CountersignatureWithTheBareDigest) {
    for (const int version : {1, 2}) {
        ExpectStampHolds(Stamped(TimeStampKind::Legacy, Bare(), version), true, "bare");
        ExpectStampHolds(Stamped(TimeStampKind::Legacy, Altered(Bare()), version), false,
                         "bare, digest changed");
        ExpectStampHolds(Stamped(TimeStampKind::Legacy, Altered({}), version), false,
                         "DigestInfo, digest changed");
    }
    // The block's digest must be of the algorithm the countersigner names (SHA-256 here).
    SignatureStyle otherAlgorithm = Bare();
    otherAlgorithm.blockDigest = platform::DigestAlgorithm::Sha1;
    ExpectStampHolds(Stamped(TimeStampKind::Legacy, otherAlgorithm), false, "SHA-1 in a SHA-256");
}

TEST_F(LegacySignature, Rfc3161TokenWithTheBareDigest) {
    ExpectStampHolds(Stamped(TimeStampKind::Rfc3161, Bare()), true, "bare");
    ExpectStampHolds(Stamped(TimeStampKind::Rfc3161, Altered(Bare())), false,
                     "bare, digest changed");
    ExpectStampHolds(Stamped(TimeStampKind::Rfc3161, Altered({})), false,
                     "DigestInfo, digest changed");
    // The token re-signed by the builder in the normal form verifies as OpenSSL's own does.
    SignatureStyle resigned;
    resigned.signSortedOrder = true;
    ExpectStampHolds(Stamped(TimeStampKind::Rfc3161, resigned), true, "re-signed");
    SignatureStyle otherAlgorithm = Bare();
    otherAlgorithm.blockDigest = platform::DigestAlgorithm::Sha1;
    ExpectStampHolds(Stamped(TimeStampKind::Rfc3161, otherAlgorithm), false, "SHA-1 in SHA-256");
}

TEST_F(LegacySignature, CatalogSignerWithTheBareDigest) {
    for (const int version : {1, 2}) {
        CatalogRecipe recipe = Recipe(pki.whcp, version);
        recipe.signatureStyle = Bare();
        const std::string cat = dir / ("bare" + std::to_string(version) + ".cat");
        fixtures::WriteCatalog(cat, recipe);
        OutputCapture capture;
        EXPECT_TRUE(IsCodeSigned(driver, cat, CALG_SHA_256)) << capture.text();

        recipe.signatureStyle = Altered(Bare());
        EXPECT_EQ(Verify(recipe).status, kTrustEBadDigest);
    }
    CatalogRecipe otherAlgorithm = Recipe(pki.whcp);
    otherAlgorithm.signatureStyle = Bare();
    otherAlgorithm.signatureStyle.blockDigest = platform::DigestAlgorithm::Sha1;
    EXPECT_EQ(Verify(otherAlgorithm).status, kTrustEBadDigest);
    // A time stamp over a signature that does not verify is never looked at.
    CatalogRecipe stamped = Stamped(TimeStampKind::Legacy, Bare());
    stamped.signatureStyle = Altered(Bare());
    EXPECT_EQ(Verify(stamped).status, kTrustEBadDigest);
}

TEST_F(LegacySignature, SignedAttributesStoredUnsorted) {
    CatalogRecipe recipe = Recipe(pki.whcp);
    recipe.signatureStyle = Unsorted();
    EXPECT_EQ(Verify(recipe).status, 0u);
    recipe.signatureStyle = Altered(Unsorted());
    EXPECT_EQ(Verify(recipe).status, kTrustEBadDigest);
    // Signed in DER's order but stored in another: the sorted encoding is tried second.
    recipe.signatureStyle = Unsorted();
    recipe.signatureStyle.signSortedOrder = true;
    EXPECT_EQ(Verify(recipe).status, 0u);
    recipe.signatureStyle.alterDigest = true;
    EXPECT_EQ(Verify(recipe).status, kTrustEBadDigest);

    for (const auto kind : {TimeStampKind::Legacy, TimeStampKind::Rfc3161}) {
        ExpectStampHolds(Stamped(kind, Unsorted()), true, "unsorted");
        SignatureStyle both = Unsorted();
        both.bareDigest = true;
        ExpectStampHolds(Stamped(kind, both), true, "unsorted, bare");
        ExpectStampHolds(Stamped(kind, Altered(both)), false, "unsorted, bare, digest changed");
    }
}

TEST_F(LegacySignature, TheMemberCheckAndTheSigntoolStandInAgree) {
    CatalogRecipe recipe = Stamped(TimeStampKind::Legacy, Bare());
    recipe.signatureStyle = Unsorted();
    const std::string cat = dir / "legacy.cat";
    fixtures::WriteCatalog(cat, recipe);
    {
        OutputCapture capture;
        EXPECT_TRUE(IsCodeSigned(driver, cat, CALG_SHA_256)) << capture.text();
    }
    const std::string signtool = test::BinDir() + "SignTool.exe";
    const auto file = test::Run(signtool, {"verify", "/kp", "/c", cat, driver});
    EXPECT_EQ(file.exitCode, 0) << file.output;
    const auto report = test::Run(signtool, {"verify", "/v", "/kp", cat});
    EXPECT_EQ(report.exitCode, 0) << report.output;
    EXPECT_NE(report.output.find("The signature is timestamped: "), std::string::npos);

    recipe.timeStampStyle = Altered(Bare());
    fixtures::WriteCatalog(cat, recipe);
    const auto refused = test::Run(signtool, {"verify", "/kp", "/c", cat, driver});
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.output.find("0x800B0101"), std::string::npos) << refused.output;
}

} // namespace
} // namespace halyard

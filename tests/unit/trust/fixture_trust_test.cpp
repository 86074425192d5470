// Trust verification against catalogs signed by the test PKI: roots, chains, validity at the
// time stamp's time, usages, revocation lists, tampering and the SHA-1 fallback.
#include "base/outcome.h"
#include "catalog/cat_file_tag.h"
#include "catalog/code_signing.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "platform/trust.h"
#include "posix_seam.h"
#include "report/output.h"
#include "testkit.h"

#include <cctype>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

using namespace codes;
using fixtures::CatalogRecipe;
using fixtures::TimeStampKind;

constexpr std::int64_t k2019 = 1546300800;

class FixtureTrust : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    std::string driver = dir / "driver.sys";
    std::string inf = dir / "driver.inf";

    void SetUp() override {
        HALYARD_ENGINE_THROUGH_THE_SEAM();
        fixtures::PeOptions pe;
        pe.fill = 0x5A;
        fixtures::WriteFileBytes(driver, fixtures::MakePeFile(pe));
        test::WriteFile(inf,
                        "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=driver.cat\r\n");
    }

    CatalogRecipe Recipe(const fixtures::Identity* signer, int version = 2) {
        CatalogRecipe recipe;
        recipe.version = version;
        recipe.hash =
            version == 2 ? platform::DigestAlgorithm::Sha256 : platform::DigestAlgorithm::Sha1;
        recipe.signer = signer;
        fixtures::AddFileMember(recipe, driver);
        fixtures::AddFileMember(recipe, inf);
        return recipe;
    }

    std::string Write(const CatalogRecipe& recipe, const std::string& name = "driver.cat") {
        const std::string path = dir / name;
        fixtures::WriteCatalog(path, recipe);
        return path;
    }

    // The code IsCodeSigned ends with for the driver (SHA-256 first, SHA-1 after).
    std::uint32_t Check(const std::string& cat, const std::string& file) {
        OutputCapture capture;
        return IsCodeSigned(file, cat, CALG_SHA_256).trustCode;
    }
};

TEST_F(FixtureTrust, TrustedCatalogVerifiesItsMembers) {
    const std::string cat = Write(Recipe(&pki.whcp));
    OutputCapture capture;
    const CodeSigningResult signing = IsCodeSigned(driver, cat, CALG_SHA_256);
    EXPECT_TRUE(signing.trusted);
    EXPECT_EQ(signing.trustCode, 0u);
    EXPECT_EQ(signing.tag, fixtures::HexUpper(fixtures::FileCatalogDigest(
                               driver, platform::DigestAlgorithm::Sha256)));
    EXPECT_TRUE(IsCodeSigned(inf, cat, CALG_SHA_256));
    EXPECT_TRUE(capture.lines().empty()) << capture.text();
    const auto report = platform::VerifyCatalogSignature(cat);
    EXPECT_EQ(report.status, 0u);
    ASSERT_EQ(report.signingChain.size(), 3u);
    EXPECT_EQ(report.signingChain[0].issuedTo, "Halyard Test Root CA");
    EXPECT_EQ(report.signingChain[2].issuedTo,
              "Microsoft Windows Hardware Compatibility Publisher");
}

// A trust query finds the member whose tag is the text exactly, else the first whose tag
// differs only in letter case; the setup library's INF check looks members up the same way.
TEST_F(FixtureTrust, MemberLookupTakesTheExactTagFirstThenIgnoresCase) {
    OutputCapture capture;
    CatalogRecipe recipe = Recipe(&pki.whcp, 1);
    const auto tag = CalcCatFileTag(Write(recipe), driver, CALG_SHA1);
    ASSERT_TRUE(tag) << capture.text();
    std::string lower = *tag;
    for (char& c : lower) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    ASSERT_NE(lower, *tag);

    // Stored in lower case: the upper-case tag still finds it.
    recipe.members[0].tagText = lower;
    const std::string caseless = Write(recipe, "caseless.cat");
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({caseless, *tag, driver}), 0u);
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({caseless, lower, driver}), 0u);

    // A later member with exactly that tag wins over the earlier caseless one: its digest is
    // another file's, so the query fails.
    fixtures::CatalogMemberRecipe exact = recipe.members[0];
    exact.tagText = *tag;
    exact.digest.assign(exact.digest.size(), 0x11);
    recipe.members.push_back(exact);
    const std::string both = Write(recipe, "both.cat");
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({both, *tag, driver}), kTrustEBadDigest);
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({both, lower, driver}), 0u);
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({both, "0" + *tag, driver}),
              kTrustENoSignature);
}

TEST_F(FixtureTrust, OneCatalogSignatureCheckServesEveryMember) {
    const std::string cat = Write(Recipe(&pki.whcp), "shared.cat");
    const std::uint64_t before = trust::CatalogSignatureVerificationCount();
    OutputCapture capture;
    EXPECT_TRUE(IsCodeSigned(driver, cat, CALG_SHA_256));
    EXPECT_TRUE(IsCodeSigned(inf, cat, CALG_SHA_256));
    EXPECT_EQ(platform::VerifyCatalogSignature(cat).status, 0u);
    EXPECT_EQ(trust::CatalogSignatureVerificationCount() - before, 1u);
    // A rewritten catalog is checked again.
    CatalogRecipe other = Recipe(&pki.contoso);
    other.thisUpdate += 3600;
    Write(other, "shared.cat");
    EXPECT_TRUE(IsCodeSigned(driver, cat, CALG_SHA_256));
    EXPECT_EQ(trust::CatalogSignatureVerificationCount() - before, 2u);
    EXPECT_EQ(platform::VerifyCatalogSignature(cat).signingChain.back().issuedTo,
              "Contoso Test Publisher");
}

TEST_F(FixtureTrust, ShaOneOnlyCatalogKeepsTheShaOneTagWithoutReport) {
    const std::string cat = Write(Recipe(&pki.whcp, 1));
    OutputCapture capture;
    const CodeSigningResult signing = IsCodeSigned(driver, cat, CALG_SHA_256);
    EXPECT_TRUE(signing.trusted);
    EXPECT_TRUE(capture.lines().empty()) << capture.text();
    EXPECT_EQ(signing.tag, fixtures::HexUpper(fixtures::FileCatalogDigest(
                               driver, platform::DigestAlgorithm::Sha1)));
}

TEST_F(FixtureTrust, UntrustedRootAndBrokenChains) {
    EXPECT_EQ(Check(Write(Recipe(&pki.untrustedLeaf), "untrusted.cat"), driver),
              kCertEUntrustedRoot);

    // Without its intermediate the chain cannot reach the root.
    CatalogRecipe partial = Recipe(&pki.whcp);
    partial.certificates = {&pki.whcp};
    partial.certificatesGiven = true;
    EXPECT_EQ(Check(Write(partial, "partial.cat"), driver), kCertEChaining);

    // Without the signer's certificate nothing can be checked.
    CatalogRecipe bare = Recipe(&pki.whcp);
    bare.certificatesGiven = true;
    EXPECT_EQ(Check(Write(bare, "bare.cat"), driver), kTrustENoSignerCert);

    CatalogRecipe unsigned_ = Recipe(nullptr);
    EXPECT_EQ(Check(Write(unsigned_, "unsigned.cat"), driver), kTrustENoSignature);
}

TEST_F(FixtureTrust, UntrustedRootIsReportedWithItsCode) {
    const std::string cat = Write(Recipe(&pki.untrustedLeaf), "untrusted.cat");
    OutputCapture capture;
    const CodeSigningResult signing = IsCodeSigned(driver, cat, CALG_SHA_256);
    EXPECT_FALSE(signing.trusted);
    EXPECT_EQ(signing.trustCode, kCertEUntrustedRoot);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0].rfind("IsCodeSigned: WinVerifyTrust fail: " + driver +
                                           "; Params: 800B0109; Last error: 800B0109 ",
                                       0),
              0u)
        << capture.lines()[0];
    // The SHA-1 attempt was the reported one.
    EXPECT_EQ(signing.tag, fixtures::HexUpper(fixtures::FileCatalogDigest(
                               driver, platform::DigestAlgorithm::Sha1)));
}

TEST_F(FixtureTrust, ExpiredSignerNeedsAVerifiedTimeStamp) {
    EXPECT_EQ(Check(Write(Recipe(&pki.whcpExpired), "plain.cat"), driver), kCertEExpired);
    for (const auto kind : {TimeStampKind::Rfc3161, TimeStampKind::Legacy}) {
        CatalogRecipe recipe = Recipe(&pki.whcpExpired);
        recipe.timeStamp = kind;
        recipe.timeStampTime = k2019;
        const std::string cat =
            Write(recipe, kind == TimeStampKind::Legacy ? "legacy.cat" : "rfc3161.cat");
        EXPECT_EQ(Check(cat, driver), 0u);
        const auto report = platform::VerifyCatalogSignature(cat);
        ASSERT_TRUE(report.timestamp);
        EXPECT_EQ(*report.timestamp, k2019);
        ASSERT_FALSE(report.timestampChain.empty());
        EXPECT_EQ(report.timestampChain.back().issuedTo, "Microsoft Time-Stamp Service");
    }
    // A time stamp outside the signer's validity does not help.
    CatalogRecipe late = Recipe(&pki.whcpExpired);
    late.timeStamp = TimeStampKind::Rfc3161;
    late.timeStampTime = 1672531200; // 2023
    EXPECT_EQ(Check(Write(late, "late.cat"), driver), kCertEExpired);
    // A time stamp by an authority without the time-stamping usage is not a time stamp.
    CatalogRecipe wrongAuthority = Recipe(&pki.whcpExpired);
    wrongAuthority.timeStamp = TimeStampKind::Legacy;
    wrongAuthority.timeStampTime = k2019;
    wrongAuthority.timeStampAuthority = &pki.contoso;
    EXPECT_EQ(Check(Write(wrongAuthority, "wrongtsa.cat"), driver), kCertEExpired);
}

TEST_F(FixtureTrust, SignerWithoutCodeSigningUsageIsRefused) {
    EXPECT_EQ(Check(Write(Recipe(&pki.tsa), "tsa.cat"), driver), kCertEWrongUsage);
    EXPECT_EQ(Check(Write(Recipe(&pki.contoso), "contoso.cat"), driver), 0u);
}

TEST_F(FixtureTrust, TamperedCatalogContentIsRefused) {
    const std::string good = Write(Recipe(&pki.whcp), "good.cat");
    std::string bytes = test::ReadFile(good);
    // The "File" attribute's value names the INF in UTF-16: change one letter of it.
    const std::string needle("d\0r\0i\0v\0e\0r\0.\0i\0n\0f", 19);
    const std::size_t at = bytes.find(needle);
    ASSERT_NE(at, std::string::npos);
    bytes[at] = 'D';
    test::WriteFile(dir / "tampered.cat", bytes);
    EXPECT_EQ(Check(dir / "tampered.cat", driver), kTrustEBadDigest);
    EXPECT_EQ(platform::VerifyCatalogSignature(dir / "tampered.cat").status, kTrustEBadDigest);
}

TEST_F(FixtureTrust, RevocationListsInTheTrustFolderAreHonoured) {
    const std::string cat = Write(Recipe(&pki.whcp));
    test::TempDir trust;
    test::WriteFile(trust / "root.pem", pki.root.certPem);
    std::string tag;
    {
        const trust::TrustAnchors anchors(trust.path());
        EXPECT_EQ(anchors.certificateCount(), 1u);
        EXPECT_FALSE(anchors.hasCrls());
        // The member check itself uses the catalog parser with the same signature code.
        OutputCapture capture;
        const CodeSigningResult signing = IsCodeSigned(driver, cat, CALG_SHA_256);
        ASSERT_TRUE(signing.trusted);
        tag = signing.tag;
        EXPECT_EQ(trust::VerifyCatalogMemberWith({cat, tag, driver}, anchors, std::time(nullptr)),
                  0u);
    }
    test::WriteFile(trust / "intermediate.crl",
                    fixtures::RevocationListPem(pki.intermediate, pki.whcp, std::time(nullptr)));
    const trust::TrustAnchors anchors(trust.path());
    EXPECT_TRUE(anchors.hasCrls());
    EXPECT_EQ(trust::VerifyCatalogMemberWith({cat, tag, driver}, anchors, std::time(nullptr)),
              kCertERevoked);
    // Another publisher of the same issuer is not affected by the list.
    const std::string contoso = Write(Recipe(&pki.contoso), "contoso.cat");
    const auto parsed = trust::ParseCatalogFile(contoso);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(trust::VerifyParsedCatalogSignature(**parsed, anchors, std::time(nullptr)).status,
              0u);
}

TEST_F(FixtureTrust, AnEmptyTrustFolderTrustsNothing) {
    const std::string cat = Write(Recipe(&pki.whcp));
    test::TempDir empty;
    const trust::TrustAnchors anchors(empty.path());
    const auto parsed = trust::ParseCatalogFile(cat);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(trust::VerifyParsedCatalogSignature(**parsed, anchors, std::time(nullptr)).status,
              kCertEChaining);
    // Roots in DER form and in .crt/.cer files are read too.
    test::WriteFile(empty / "root.cer", pki.root.certDer);
    const trust::TrustAnchors der(empty.path());
    EXPECT_EQ(der.certificateCount(), 1u);
    EXPECT_EQ(trust::VerifyParsedCatalogSignature(**parsed, der, std::time(nullptr)).status, 0u);
}

} // namespace
} // namespace halyard

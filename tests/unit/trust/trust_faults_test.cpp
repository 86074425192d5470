// The rank of chain faults when two hold at once: each pair is first shown to give each fault's
// own code alone, then both together give the code of the higher-ranked one. The catalogs are
// signed by the test PKI; revocation lists are made by its issuers.
#include "base/outcome.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "testkit.h"
#include "trust_faults.h"

#include <ctime>
#include <gtest/gtest.h>
#include <openssl/x509_vfy.h>
#include <string>
#include <utility>
#include <vector>

namespace halyard {
namespace {

using namespace codes;
using trust::ChainFault;

constexpr std::time_t k2100 = 4102444800; // after every test certificate has expired

// One signed catalog checked at one time against the test root (and a revocation list).
struct Check {
    Check(const fixtures::Identity* signer_,
          std::vector<const fixtures::Identity*> certificates_ = {},
          std::time_t at_ = std::time(nullptr), const fixtures::Identity* crlIssuer_ = nullptr,
          const fixtures::Identity* revoked_ = nullptr)
        : signer(signer_), certificates(std::move(certificates_)), at(at_), crlIssuer(crlIssuer_),
          revoked(revoked_) {}

    const fixtures::Identity* signer;
    std::vector<const fixtures::Identity*> certificates; // empty: the signer and intermediate
    std::time_t at;
    const fixtures::Identity* crlIssuer; // with revoked: a revocation list in the trust folder
    const fixtures::Identity* revoked;
};

class TrustFaultRank : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    std::string driver = dir / "driver.sys";
    int made = 0;

    void SetUp() override { fixtures::WriteFileBytes(driver, fixtures::MakePeFile()); }

    std::uint32_t CodeOf(const Check& check) {
        const std::string name = "c" + std::to_string(++made);
        fixtures::CatalogRecipe recipe;
        recipe.version = 2;
        recipe.hash = platform::DigestAlgorithm::Sha256;
        recipe.signer = check.signer;
        if (!check.certificates.empty()) {
            recipe.certificates = check.certificates;
            recipe.certificatesGiven = true;
        }
        fixtures::AddFileMember(recipe, driver);
        const std::string cat = dir / (name + ".cat");
        fixtures::WriteCatalog(cat, recipe);

        const std::string trust = dir / (name + "-trust");
        test::WriteFile(trust + "/root.pem", pki.root.certPem);
        if (check.crlIssuer != nullptr) {
            test::WriteFile(
                trust + "/issuer.crl",
                fixtures::RevocationListPem(*check.crlIssuer, *check.revoked, std::time(nullptr)));
        }
        const trust::TrustAnchors anchors(trust);
        const auto parsed = trust::ParseCatalogFile(cat);
        EXPECT_TRUE(parsed) << cat;
        return parsed ? trust::VerifyParsedCatalogSignature(**parsed, anchors, check.at).status : 0;
    }
};

TEST_F(TrustFaultRank, TheHigherRankedOfTwoFaultsGivesTheCode) {
    // The intermediate as the catalog carries it, with one bit of its signature changed.
    fixtures::Identity forged = pki.intermediate;
    forged.certDer.back() ^= 0x01;

    struct Row {
        const char* faults;
        Check higher;
        std::uint32_t higherCode;
        Check lower;
        std::uint32_t lowerCode;
        Check both;
    };
    const Row rows[] = {
        {"signature, time",
         {&pki.whcp, {&pki.whcp, &forged}},
         kTrustECertSignature,
         {&pki.whcp, {}, k2100},
         kCertEExpired,
         {&pki.whcp, {&pki.whcp, &forged}, k2100}},
        {"untrusted root, time",
         {&pki.untrustedLeaf, {&pki.untrustedLeaf, &pki.untrustedRoot}},
         kCertEUntrustedRoot,
         {&pki.whcp, {}, k2100},
         kCertEExpired,
         {&pki.untrustedLeaf, {&pki.untrustedLeaf, &pki.untrustedRoot}, k2100}},
        {"time, revoked",
         {&pki.whcpExpired},
         kCertEExpired,
         {&pki.whcp, {}, std::time(nullptr), &pki.intermediate, &pki.whcp},
         kCertERevoked,
         {&pki.whcpExpired, {}, std::time(nullptr), &pki.intermediate, &pki.whcpExpired}},
        {"revoked, usage",
         {&pki.whcp, {}, std::time(nullptr), &pki.intermediate, &pki.whcp},
         kCertERevoked,
         {&pki.tsa},
         kCertEWrongUsage,
         {&pki.tsa, {}, std::time(nullptr), &pki.root, &pki.tsa}},
        {"time, usage",
         {&pki.whcp, {}, k2100},
         kCertEExpired,
         {&pki.tsa},
         kCertEWrongUsage,
         {&pki.tsa, {}, k2100}},
        {"time, partial chain",
         {&pki.whcp, {}, k2100},
         kCertEExpired,
         {&pki.whcp, {&pki.whcp}},
         kCertEChaining,
         {&pki.whcp, {&pki.whcp}, k2100}},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CodeOf(row.higher), row.higherCode) << row.faults;
        EXPECT_EQ(CodeOf(row.lower), row.lowerCode) << row.faults;
        EXPECT_EQ(CodeOf(row.both), row.higherCode) << row.faults;
    }
}

// Faults the test PKI cannot make together, ranked on their own.
TEST(TrustFaultTable, PairsRankedWithoutACatalog) {
    const auto codeOf = [](ChainFault a, ChainFault b) {
        trust::ChainFaults faults;
        trust::Add(faults, a);
        trust::Add(faults, b);
        return trust::TrustCodeOf(faults);
    };
    EXPECT_EQ(codeOf(ChainFault::Signature, ChainFault::UntrustedRoot), kTrustECertSignature);
    EXPECT_EQ(codeOf(ChainFault::Usage, ChainFault::RevocationFailure), kCertERevocationFailure);
    EXPECT_EQ(codeOf(ChainFault::Critical, ChainFault::Usage), kCertEWrongUsage);
    EXPECT_EQ(codeOf(ChainFault::BasicConstraints, ChainFault::Critical), kCertECritical);
    EXPECT_EQ(codeOf(ChainFault::Chaining, ChainFault::BasicConstraints), kTrustEBasicConstraints);
    EXPECT_EQ(codeOf(ChainFault::Distrust, ChainFault::Chaining), kCertEChaining);
    EXPECT_EQ(trust::TrustCodeOf({}), 0u);

    // A missing or stale CRL is no fault; an error the table does not know is a chaining one.
    EXPECT_FALSE(trust::ChainFaultOf(X509_V_ERR_UNABLE_TO_GET_CRL));
    EXPECT_FALSE(trust::ChainFaultOf(X509_V_ERR_CRL_HAS_EXPIRED));
    EXPECT_EQ(trust::ChainFaultOf(X509_V_ERR_HOSTNAME_MISMATCH), ChainFault::Chaining);
    EXPECT_EQ(trust::ChainFaultOf(X509_V_ERR_CERT_REJECTED), ChainFault::Distrust);
}

} // namespace
} // namespace halyard

// The RSA check of a signature value, on PKCS#1 v1.5 type 1 blocks built here byte by byte and
// signed with the raw private-key operation of the test key. Windows accepts the DigestInfo and,
// for old signing services, the bare digest; nothing else that merely ends with the digest.
#include "base/outcome.h"
#include "fixtures.h"
#include "halyard/trust/ossl_ptr.h"
#include "platform/trust.h"
#include "posix_seam.h"
#include "testkit.h"
#include "trust_signature.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>
#include <string>
#include <vector>

namespace halyard::trust {
namespace {

using Bytes = std::vector<std::uint8_t>;
using fixtures::CatalogRecipe;

// DigestInfo headers as RFC 8017 (9.2, note 1) lists them, and one that names SHA-1 while
// declaring a 32-byte digest.
const Bytes kSha256Info = {0x30, 0x31, 0x30, 0x0d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01,
                           0x65, 0x03, 0x04, 0x02, 0x01, 0x05, 0x00, 0x04, 0x20};
const Bytes kSha1Info = {0x30, 0x21, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                         0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x14};
const Bytes kSha1InfoAround32 = {0x30, 0x2d, 0x30, 0x09, 0x06, 0x05, 0x2b, 0x0e,
                                 0x03, 0x02, 0x1a, 0x05, 0x00, 0x04, 0x20};

Bytes Join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class Pkcs1Block : public ::testing::Test {
protected:
    void SetUp() override {
        const auto& id = fixtures::BuildTestPki().whcp;
        const BioPtr keyBio(BIO_new_mem_buf(id.keyPem.data(), static_cast<int>(id.keyPem.size())));
        key.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, nullptr));
        const BioPtr certBio(
            BIO_new_mem_buf(id.certPem.data(), static_cast<int>(id.certPem.size())));
        cert.reset(PEM_read_bio_X509(certBio.get(), nullptr, nullptr, nullptr));
        ASSERT_TRUE(key && cert);
        size = static_cast<std::size_t>(EVP_PKEY_get_size(key.get()));
        unsigned int length = 0;
        digest.resize(32);
        ASSERT_EQ(
            EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr), 1);
    }

    // 00 01 FF..FF 00 payload, as long as the modulus (blockType 2 and fewer FF for the bad
    // forms).
    Bytes Block(const Bytes& payload, std::uint8_t blockType = 1) const {
        Bytes block = {0x00, blockType};
        block.resize(size - payload.size() - 1, 0xFF);
        block.push_back(0x00);
        return Join(block, payload);
    }

    Bytes RawSign(const Bytes& block) const {
        const EvpKeyCtxPtr ctx(EVP_PKEY_CTX_new(key.get(), nullptr));
        std::size_t length = size;
        Bytes out(size);
        EXPECT_TRUE(ctx && EVP_PKEY_sign_init(ctx.get()) == 1 &&
                    EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_NO_PADDING) == 1 &&
                    EVP_PKEY_sign(ctx.get(), out.data(), &length, block.data(), block.size()) == 1);
        out.resize(length);
        return out;
    }

    bool Verify(const Bytes& signature) const {
        return VerifySignatureValue(X509_get0_pubkey(cert.get()), EVP_sha256(), data, signature);
    }

    const Bytes data = {'s', 'i', 'g', 'n', 'e', 'd', ' ', 'a', 't', 't', 'r', 's'};
    EvpKeyPtr key;
    X509Ptr cert;
    std::size_t size = 0;
    Bytes digest;
};

TEST_F(Pkcs1Block, TheDigestInfoOrTheBareDigestAndNothingThatMerelyEndsWithIt) {
    Bytes altered = digest;
    altered.back() ^= 1;
    Bytes sha1Digest(20);
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), sha1Digest.data(), &length, EVP_sha1(), nullptr);
    const struct {
        const char* what;
        Bytes payload;
        bool accepted;
    } cases[] = {
        {"DigestInfo(SHA-256)", Join(kSha256Info, digest), true},
        {"bare digest", digest, true},
        {"00 || digest", Join({0x00}, digest), false},
        {"01 02 || digest", Join({0x01, 0x02}, digest), false},
        {"DigestInfo(SHA-1) around the SHA-256 digest", Join(kSha1InfoAround32, digest), false},
        {"DigestInfo(SHA-1) of the data", Join(kSha1Info, sha1Digest), false},
        {"bare SHA-1 digest", sha1Digest, false},
        {"DigestInfo(SHA-256), digest changed", Join(kSha256Info, altered), false},
        {"bare digest changed", altered, false},
        {"DigestInfo(SHA-256) || 00", Join(Join(kSha256Info, digest), {0x00}), false},
        {"digest without its last byte", Bytes(digest.begin(), digest.end() - 1), false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Verify(RawSign(Block(c.payload))), c.accepted) << c.what;
    }
}

TEST_F(Pkcs1Block, ThePaddingAndTheLengthAreCheckedAsStrictly) {
    const Bytes payload = Join(kSha256Info, digest);
    ASSERT_TRUE(Verify(RawSign(Block(payload))));
    // Block type 2 (encryption padding) in place of 1.
    EXPECT_FALSE(Verify(RawSign(Block(payload, 2))));
    // Seven FF bytes: one short of what PKCS#1 demands. The payload grows to keep the length.
    Bytes shortPadding = {0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
    shortPadding.resize(size - payload.size(), 0xAB);
    EXPECT_FALSE(Verify(RawSign(Join(shortPadding, payload))));
    // The value one byte short, or with a leading zero byte.
    Bytes signature = RawSign(Block(payload));
    EXPECT_FALSE(Verify(Bytes(signature.begin() + 1, signature.end())));
    EXPECT_FALSE(Verify(Join({0x00}, signature)));
}

// The same forgery at catalog level: the catalog's signer names SHA-256 and signs a block whose
// DigestInfo names SHA-1 around the SHA-256 digest.
TEST(Pkcs1BlockCatalog, ADigestInfoNamingAnotherAlgorithmIsABadDigest) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    const auto& pki = fixtures::BuildTestPki();
    test::TempDir dir;
    fixtures::WriteFileBytes(dir / "driver.sys", fixtures::MakePeFile());
    CatalogRecipe recipe;
    recipe.version = 2;
    recipe.hash = platform::DigestAlgorithm::Sha256;
    recipe.signer = &pki.whcp;
    fixtures::AddFileMember(recipe, dir / "driver.sys");
    fixtures::WriteCatalog(dir / "good.cat", recipe);
    EXPECT_EQ(platform::VerifyCatalogSignature(dir / "good.cat").status, 0u);
    recipe.signatureStyle.blockNamedAlgorithm = platform::DigestAlgorithm::Sha1;
    fixtures::WriteCatalog(dir / "named-sha1.cat", recipe);
    EXPECT_EQ(platform::VerifyCatalogSignature(dir / "named-sha1.cat").status,
              codes::kTrustEBadDigest);
}

} // namespace
} // namespace halyard::trust

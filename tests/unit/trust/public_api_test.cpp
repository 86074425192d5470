// The engine's public answers checked against OpenSSL's own readers: a trust list's parts (what
// the root-list tool builds on) against OpenSSL's PKCS#7 parser, and ASN.1 times against the
// times OpenSSL encodes.
#include "base/calendar.h"
#include "chain_helpers.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "ossl.h"

#include <gtest/gtest.h>
#include <openssl/pkcs7.h>

namespace halyard {
namespace {

using namespace fixtures::detail;
using fixtures::Bytes;

constexpr const char* kRootListUsage = "1.3.6.1.4.1.311.10.3.9";
constexpr const char* kUsageProperty = "1.3.6.1.4.1.311.10.11.9";

using Pkcs7Ptr = trust::OsslPtr<PKCS7, PKCS7_free>;

class TrustListParts : public ::testing::Test {
protected:
    const fixtures::TestPki& pki = fixtures::BuildTestPki();

    // A root list as Microsoft signs authroot.stl: SHA-1 thumbprints, one with a usage property.
    fixtures::CatalogRecipe RootList() {
        fixtures::CatalogRecipe list;
        list.version = 2;
        list.subjectUsage = kRootListUsage;
        list.subjectAlgorithm = "1.3.14.3.2.26";
        list.signer = &pki.whcp;
        list.thisUpdate = 1577836800; // 2020-01-01
        for (const Bytes* der : {&pki.root.certDer, &pki.untrustedRoot.certDer}) {
            fixtures::CatalogMemberRecipe entry;
            entry.tagBytes = DigestBytes(platform::DigestAlgorithm::Sha1, der->data(), der->size());
            entry.indirectData = false;
            entry.memberInfo = false;
            list.members.push_back(entry);
        }
        list.members[1].rawAttributes.emplace_back(
            kUsageProperty, OctetString(Sequence({Oid("1.3.6.1.5.5.7.3.3")})));
        return list;
    }
};

TEST_F(TrustListParts, AgreeWithOpenSslsPkcs7Reading) {
    const auto recipe = RootList();
    const Bytes der = fixtures::BuildCatalog(recipe);
    const auto parsed = trust::ParseTrustList(der);
    ASSERT_TRUE(parsed.ok()) << std::hex << parsed.error();
    const trust::TrustList& list = *parsed;

    const unsigned char* p = der.data();
    const Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &p, static_cast<long>(der.size())));
    ASSERT_TRUE(pkcs7 && PKCS7_type_is_signed(pkcs7.get()));
    STACK_OF(X509)* certs = pkcs7->d.sign->cert;
    ASSERT_EQ(list.certificates.size(), static_cast<std::size_t>(sk_X509_num(certs)));
    for (int i = 0; i < sk_X509_num(certs); ++i) {
        EXPECT_EQ(list.certificates[static_cast<std::size_t>(i)],
                  (Encode<X509, i2d_X509>(sk_X509_value(certs, i))));
    }
    STACK_OF(PKCS7_SIGNER_INFO)* signers = PKCS7_get_signer_info(pkcs7.get());
    ASSERT_EQ(sk_PKCS7_SIGNER_INFO_num(signers), 1);
    EXPECT_EQ(list.signerInfo, (Encode<PKCS7_SIGNER_INFO, i2d_PKCS7_SIGNER_INFO>(
                                   sk_PKCS7_SIGNER_INFO_value(signers, 0))));

    // The signed content is the CTL SEQUENCE's contents octets (its tag and length dropped).
    const ASN1_TYPE* content = pkcs7->d.sign->contents->d.other;
    ASSERT_EQ(content->type, V_ASN1_SEQUENCE);
    const unsigned char* ctl = content->value.sequence->data;
    const long ctlSize = content->value.sequence->length;
    long length = 0;
    int tag = 0;
    int cls = 0;
    const unsigned char* inner = ctl;
    ASSERT_EQ(ASN1_get_object(&inner, &length, &tag, &cls, ctlSize) & 0x80, 0);
    EXPECT_EQ(list.signedContent, Bytes(inner, inner + length));
    EXPECT_EQ(inner + length, ctl + ctlSize);

    EXPECT_EQ(list.usage, std::vector<std::string>{kRootListUsage});
    EXPECT_EQ(list.thisUpdate, UnixMsToFileTime(recipe.thisUpdate * 1000));
    ASSERT_EQ(list.entries.size(), 2u);
    EXPECT_EQ(list.entries[0].identifier, recipe.members[0].tagBytes);
    EXPECT_TRUE(list.entries[0].attributes.empty());
    ASSERT_EQ(list.entries[1].attributes.size(), 1u);
    EXPECT_EQ(list.entries[1].attributes[0].oid, kUsageProperty);
    // A value is its contents octets: the usage list inside the OCTET STRING.
    EXPECT_EQ(list.entries[1].attributes[0].values,
              std::vector<Bytes>{Sequence({Oid("1.3.6.1.5.5.7.3.3")})});

    // The parts verify as the signature over them.
    const X509Ptr signer = CertFromPem(pki.whcp.certPem);
    EXPECT_TRUE(trust::VerifySignerInfo(list.signerInfo, signer.get(), list.signedContent));
    Bytes altered = list.signedContent;
    altered.back() ^= 1;
    EXPECT_FALSE(trust::VerifySignerInfo(list.signerInfo, signer.get(), altered));
}

TEST_F(TrustListParts, AnyUsageIsReadButOnlyACatalogOpensAsOne) {
    const Bytes rootList = fixtures::BuildCatalog(RootList());
    EXPECT_TRUE(trust::ParseTrustList(rootList).ok());
    const auto asCatalog = trust::ParseCatalogBytes(rootList);
    ASSERT_FALSE(asCatalog.ok());
    EXPECT_EQ(asCatalog.error(), codes::kCryptEUnexpectedMsgType);

    fixtures::CatalogRecipe unsigned_;
    unsigned_.members = RootList().members;
    unsigned_.version = 2;
    const auto list = trust::ParseTrustList(fixtures::BuildCatalog(unsigned_));
    ASSERT_TRUE(list.ok());
    EXPECT_TRUE(list->signerInfo.empty());

    // What is no trust list gets the codes the catalog parser gives.
    const Bytes cut(rootList.begin(), rootList.begin() + static_cast<long>(rootList.size() / 2));
    for (const Bytes& bad : {Bytes{0x04, 0x01, 0x00}, cut, Bytes{}}) {
        const auto parsed = trust::ParseTrustList(bad);
        const auto catalog = trust::ParseCatalogBytes(bad);
        ASSERT_FALSE(parsed.ok());
        ASSERT_FALSE(catalog.ok());
        EXPECT_EQ(parsed.error(), catalog.error());
    }
}

TEST(AsnTime, SecondsAreTheOnesOpenSslEncoded) {
    // Before 1970, a leap day, the UTCTime/GeneralizedTime switch in 2050, past 2038, the last
    // second GeneralizedTime can say.
    for (const std::int64_t t :
         {std::int64_t{-631152000}, std::int64_t{-1}, std::int64_t{0}, std::int64_t{951782400},
          std::int64_t{2147483648}, std::int64_t{2524607999}, std::int64_t{2524608000},
          std::int64_t{253402300799}}) {
#ifdef _WIN32
        // OpenSSL encodes with the C runtime's gmtime, which knows only 1970 to 3000 there.
        if (t < 0 || t >= 32503680000) {
            continue;
        }
#endif
        const trust::Asn1TimePtr time(ASN1_TIME_set(nullptr, static_cast<time_t>(t)));
        ASSERT_TRUE(time) << t;
        std::int64_t out = 0;
        ASSERT_TRUE(trust::AsnTimeToUnix(time.get(), out)) << t;
        EXPECT_EQ(out, t);
    }
    std::int64_t out = 0;
    EXPECT_FALSE(trust::AsnTimeToUnix(nullptr, out));
}

} // namespace
} // namespace halyard

// The POSIX catalog reader against the real catalogs, and against their damaged bytes.
#include "base/unicode.h"
#include "der.h"
#include "fixtures.h"
#include "halyard/trust/ossl_ptr.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "platform/catalog.h"
#include "platform/ctl.h"
#include "posix_seam.h"
#include "testkit.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>
#include <string>
#include <vector>

namespace halyard::trust {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadBytes(const std::string& path) {
    const std::string text = test::ReadFile(path);
    return Bytes(text.begin(), text.end());
}

std::string Real(const std::string& relative) {
    return test::RealworldDir() + relative;
}

const std::vector<std::string>& SignedCatalogs() {
    static const std::vector<std::string> list = {
        "packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat",
        "packages/ftdi-cdm-2.12.04-ftdiport-whql-2015/ftdiport.cat",
        "packages/tidepool-ftdibus-2024/ftdibus.cat",
        "packages/tidepool-ftdiport-2024/ftdiport.cat",
        "packages/tidepool-hid-infonly-2024/tidepoolhid.cat",
        "packages/tidepool-webusb-infonly-2024/winusbinstallation.cat",
        "packages/datalogic-usblan-win7-vendor-ev-2018/datalogic.cat",
        "packages/datalogic-usblan-win8-vendor-ev-2018/datalogic.cat",
        "catalogs/google-usb-driver-2014/androidwinusb86.cat",
        "catalogs/google-usb-driver-2014/androidwinusba64.cat",
        "catalogs/seeed-usb-serial-2024/seeed_usb_serial.cat",
        "catalogs/tidepool-phdc-2024/phdc_driver.cat",
        "catalogs/tidepool-vcp-2024/tidepoolvcp.cat",
    };
    return list;
}

const CatAttribute* FindAttr(const std::vector<CatAttribute>& attrs, const std::string& name) {
    for (const auto& a : attrs) {
        if (a.referenceTag == name) {
            return &a;
        }
    }
    return nullptr;
}

bool IsUpperHex(const std::string& text) {
    return text.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

class RealCatalogs : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED_REALWORLD(); }
};

// The message digest the signer signed must be the digest of the span the reader calls the CTL's
// content: the trust layer relies on that span.
void ExpectSignerDigestCoversCtlContent(const ParsedCatalog& catalog) {
    ASSERT_FALSE(catalog.signerInfos.empty());
    const auto siBytes = catalog.bytes(catalog.signerInfos.front().der);
    const unsigned char* p = siBytes.data();
    const trust::SignerInfoPtr si(
        d2i_PKCS7_SIGNER_INFO(nullptr, &p, static_cast<long>(siBytes.size())));
    ASSERT_NE(si, nullptr);
    const ASN1_OCTET_STRING* signedDigest = PKCS7_digest_from_attributes(si->auth_attr);
    ASSERT_NE(signedDigest, nullptr);
    const ASN1_OBJECT* alg = nullptr;
    X509_ALGOR_get0(&alg, nullptr, nullptr, si->digest_alg);
    const EVP_MD* md = EVP_get_digestbyobj(alg);
    ASSERT_NE(md, nullptr);
    const auto content = catalog.bytes(catalog.ctlContent);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    ASSERT_EQ(EVP_Digest(content.data(), content.size(), digest, &len, md, nullptr), 1);
    EXPECT_EQ(Bytes(digest, digest + len),
              Bytes(signedDigest->data, signedDigest->data + signedDigest->length));
}

TEST_F(RealCatalogs, EverySignedCatalogOpensWithSignerAndMembers) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    int trustedWhole = 0;
    for (const auto& relative : SignedCatalogs()) {
        SCOPED_TRACE(relative);
        const auto handle = platform::CryptCATOpen(Real(relative), 0);
        ASSERT_TRUE(handle.ok()) << std::hex << handle.error();
        EXPECT_FALSE((*handle)->members.empty());
        const auto parsed = ParseCatalogFile(Real(relative));
        ASSERT_TRUE(parsed.ok());
        const ParsedCatalog& catalog = *parsed.value();
        EXPECT_TRUE(catalog.version == 1 || catalog.version == 2);
        EXPECT_EQ(catalog.signerInfos.size(), 1u);
        EXPECT_GE(catalog.certificates.size(), 2u);
        const auto& signer = catalog.signerInfos.front();
        EXPECT_TRUE(!signer.legacyCounterSignature.empty() || !signer.rfc3161TimeStamp.empty());
        ExpectSignerDigestCoversCtlContent(catalog);
        for (const auto& member : catalog.store.members) {
            EXPECT_TRUE(IsUpperHex(member.referenceTag)) << member.referenceTag;
            EXPECT_EQ(FindCatalogMember(catalog.store, member.referenceTag)->referenceTag,
                      member.referenceTag);
            // Looked up alone (as the SignTool stand-in does in accepted bytes): the same member,
            // whatever the case of the tag asked for.
            const auto one = ParseCatalogBytesFor(catalog.der, AsciiLower(member.referenceTag));
            ASSERT_TRUE(one.ok());
            const CatMember* alone =
                FindCatalogMember(one.value()->store, AsciiLower(member.referenceTag));
            ASSERT_NE(alone, nullptr);
            EXPECT_EQ(alone->referenceTag, member.referenceTag);
            EXPECT_EQ(alone->digest, member.digest);
            EXPECT_EQ(alone->attributes.size(), member.attributes.size());
        }
        // A member-only parse carries no signed bytes: its signature never checks out, even
        // where the whole catalog's does.
        if (!catalog.store.members.empty()) {
            const auto one =
                ParseCatalogBytesFor(catalog.der, catalog.store.members.front().referenceTag);
            ASSERT_TRUE(one.ok());
            EXPECT_TRUE(one.value()->der.empty());
            const std::time_t now = std::time(nullptr);
            if (VerifyParsedCatalogSignature(catalog, ProcessTrustAnchors(), now).status == 0) {
                ++trustedWhole;
                EXPECT_NE(VerifyParsedCatalogSignature(**one, ProcessTrustAnchors(), now).status,
                          0u);
            }
        }
        // A tag no member carries, hex or not, finds none.
        for (const char* absent : {"00", "not hex"}) {
            const auto none = ParseCatalogBytesFor(catalog.der, absent);
            ASSERT_TRUE(none.ok());
            EXPECT_TRUE(none.value()->store.members.empty());
        }
        // The CTL query reads the same ThisUpdate.
        const auto query = platform::CryptQueryObjectCtl(Real(relative));
        ASSERT_TRUE(query.ok());
        EXPECT_EQ(query->contentType, platform::kCertQueryContentCtl);
        EXPECT_EQ(query->thisUpdate, catalog.thisUpdate);
    }
    EXPECT_GT(trustedWhole, 0);
}

TEST_F(RealCatalogs, FtdiV1TextTagsAttributesAndCountersignature) {
    const auto parsed =
        ParseCatalogFile(Real("packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat"));
    ASSERT_TRUE(parsed.ok());
    const ParsedCatalog& catalog = *parsed.value();
    EXPECT_EQ(catalog.version, 1);
    EXPECT_EQ(catalog.subjectAlgorithmOid, kOidCatalogListMember);
    EXPECT_EQ(catalog.thisUpdate, der::FileTimeFromCalendar(2015, 7, 1, 10, 13, 59));
    EXPECT_FALSE(catalog.signerInfos.front().legacyCounterSignature.empty());
    EXPECT_TRUE(catalog.signerInfos.front().rfc3161TimeStamp.empty());

    const auto* os = FindAttr(catalog.store.catalogAttributes, "OS");
    ASSERT_NE(os, nullptr);
    EXPECT_EQ(os->valueText(), "7X86,7X64,Server2008R2X64,8X86,8X64,_v63,_v63_X64,_v63_Server_X64");
    EXPECT_EQ(os->attrTypeAndAction, 0x10010001u);
    // The stored value keeps its terminating zero unit.
    ASSERT_GE(os->value.size(), 2u);
    EXPECT_EQ(os->value[os->value.size() - 1], 0);
    EXPECT_EQ(os->value[os->value.size() - 2], 0);

    const CatMember& first = catalog.store.members.front();
    EXPECT_EQ(first.referenceTag, "32BEF91C7F4F5237D159DB45B4B4AAA4D4F3997E");
    EXPECT_EQ(first.indirectDataTypeOid, kOidSpcPeImageData);
    EXPECT_EQ(first.digestAlgorithmOid, "1.3.14.3.2.26");
    EXPECT_EQ(fixtures::HexUpper(first.digest), first.referenceTag);
    // Name/value attributes only: the member information is not enumerated.
    ASSERT_EQ(first.attributes.size(), 2u);
    EXPECT_EQ(first.attributes[0].referenceTag, "File");
    EXPECT_EQ(first.attributes[0].valueText(), "ftdibus.sys");
    EXPECT_EQ(first.attributes[1].referenceTag, "OSAttr");
    EXPECT_EQ(first.attributes[1].valueText(), "2:6.1,2:6.2,2:6.3");
    for (const auto& member : catalog.store.members) {
        EXPECT_EQ(member.referenceTag.size(), 40u);
    }
}

TEST_F(RealCatalogs, TidepoolV2BinaryTagsWithShadowEntries) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    const auto handle =
        platform::CryptCATOpen(Real("packages/tidepool-hid-infonly-2024/tidepoolhid.cat"), 1);
    ASSERT_TRUE(handle.ok());
    const CatalogStore& store = **handle;
    EXPECT_EQ(store.publicVersion, 1u);
    const auto* os = FindAttr(store.catalogAttributes, "OS");
    ASSERT_NE(os, nullptr);
    const std::string value = os->valueText();
    EXPECT_EQ(value.rfind("_v100,_v100_X64,_v100_RS1,", 0), 0u) << value;
    EXPECT_TRUE(value.ends_with("_v100_X64_22H2,_v100_X64_24H2")) << value;
    EXPECT_EQ(FindAttr(store.catalogAttributes, "OSAttr"), nullptr);
    EXPECT_EQ(FindAttr(store.catalogAttributes, "BundleID")->valueText(), "win10");

    ASSERT_EQ(store.members.size(), 2u);
    const CatMember& sha256 = store.members[0];
    EXPECT_EQ(sha256.referenceTag,
              "81F58A812270D1D3A1F6C98019B3FB3A5D03118B727A83EF67B6CD55E067DC80");
    EXPECT_EQ(sha256.indirectDataTypeOid, kOidSpcFlatImageData);
    EXPECT_EQ(sha256.digestAlgorithmOid, "2.16.840.1.101.3.4.2.1");
    EXPECT_EQ(fixtures::HexUpper(sha256.digest), sha256.referenceTag);
    const CatMember& shadow = store.members[1];
    EXPECT_EQ(shadow.referenceTag, "F869D0209B28DA3C0C9EB8FF10E08109344AC465");
    EXPECT_TRUE(shadow.indirectDataTypeOid.empty());
    EXPECT_TRUE(shadow.digest.empty());
    EXPECT_EQ(FindAttr(shadow.attributes, "File")->valueText(), "tidepoolhid.inf");
    EXPECT_EQ(FindAttr(shadow.attributes, "OSAttr")->valueText(), "2:10.0");

    const auto parsed =
        ParseCatalogFile(Real("packages/tidepool-hid-infonly-2024/tidepoolhid.cat"));
    EXPECT_FALSE(parsed.value()->signerInfos.front().rfc3161TimeStamp.empty());
    EXPECT_EQ(parsed.value()->thisUpdate, der::FileTimeFromCalendar(2024, 9, 24, 9, 0, 13));
}

TEST_F(RealCatalogs, SeeedHasNeitherOsNorOsAttrAtCatalogLevel) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    const auto handle =
        platform::CryptCATOpen(Real("catalogs/seeed-usb-serial-2024/seeed_usb_serial.cat"), 0);
    ASSERT_TRUE(handle.ok());
    EXPECT_EQ(FindAttr((*handle)->catalogAttributes, "OS"), nullptr);
    EXPECT_EQ(FindAttr((*handle)->catalogAttributes, "OSAttr"), nullptr);
    ASSERT_EQ((*handle)->members.size(), 1u);
    EXPECT_EQ(FindAttr((*handle)->members[0].attributes, "File")->valueText(),
              "seeed_usb_serial.inf");
}

TEST_F(RealCatalogs, UnsignedCatalogOpensAndRootListIsRefused) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    const auto unsignedCat = ParseCatalogFile(Real("catalogs/unsigned/catfiletest.cat"));
    ASSERT_TRUE(unsignedCat.ok());
    EXPECT_TRUE(unsignedCat.value()->signerInfos.empty());
    EXPECT_TRUE(unsignedCat.value()->certificates.empty());
    EXPECT_EQ(unsignedCat.value()->store.members.size(), 1u);

    const std::string stl = Real("catalogs/ctl-not-a-catalog/authroot.stl");
    const auto open = platform::CryptCATOpen(stl, 0);
    ASSERT_FALSE(open.ok());
    EXPECT_EQ(open.error(), codes::kCryptEUnexpectedMsgType);
    // Still a CTL for the query, which accepts any CTL.
    const auto query = platform::CryptQueryObjectCtl(stl);
    ASSERT_TRUE(query.ok());
    EXPECT_EQ(query->contentType, platform::kCertQueryContentCtl);
    EXPECT_EQ(query->thisUpdate, der::FileTimeFromCalendar(2026, 4, 22, 0, 33, 28));
}

TEST_F(RealCatalogs, SignedPeImageIsNoCtl) {
    // A signed PE image is a SignedData, but not of a CTL.
    EXPECT_FALSE(platform::CryptQueryObjectCtl(Real("binaries/pciide.sys")).ok());
}

TEST_F(RealCatalogs, DamagedBytesAreRefusedCleanly) {
    for (const char* relative : {"catalogs/unsigned/catfiletest.cat",
                                 "packages/tidepool-hid-infonly-2024/tidepoolhid.cat"}) {
        SCOPED_TRACE(relative);
        const Bytes whole = ReadBytes(Real(relative));
        ASSERT_TRUE(ParseCatalogBytes(whole).ok());
        // Every truncation fails (a prefix can never hold the whole outer element).
        const std::size_t step = whole.size() > 4096 ? 53 : 1;
        for (std::size_t n = 0; n < whole.size(); n += step) {
            const Bytes prefix(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
            const auto parsed = ParseCatalogBytes(prefix);
            ASSERT_FALSE(parsed.ok()) << n;
            EXPECT_NE(parsed.error(), 0u);
            EXPECT_FALSE(QueryCtlBytes(prefix).ok()) << n;
        }
        // Single-byte damage anywhere: refused or read, never a crash (ASan checks the reads).
        for (std::size_t i = 0; i < whole.size(); i += step) {
            Bytes damaged = whole;
            damaged[i] ^= 0xFF;
            (void)ParseCatalogBytes(damaged);
            (void)QueryCtlBytes(damaged);
        }
        // Trailing bytes after the ContentInfo (alignment padding) are ignored.
        Bytes padded = whole;
        padded.insert(padded.end(), 8, 0);
        const auto parsed = ParseCatalogBytes(padded);
        ASSERT_TRUE(parsed.ok());
        EXPECT_EQ(parsed.value()->der.size(), whole.size());
    }
}

} // namespace
} // namespace halyard::trust

// The win32 backend against the real Windows services, with a real catalog and its driver files.
// What Wine does not implement as Windows does is checked on Windows only.
#include "base/errors.h"
#include "base/hex.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "platform/catalog.h"
#include "platform/console.h"
#include "platform/ctl.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "platform/locale.h"
#include "platform/osversion.h"
#include "platform/sip.h"
#include "platform/trust.h"
#include "testkit.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

using namespace codes;

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const auto b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out;
}

// A copy of a real package's file in a temporary folder.
class RealPackage : public ::testing::Test {
protected:
    void SetUp() override {
        HALYARD_NEED_REALWORLD();
        const std::string from =
            test::RealworldDir() + "packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/";
        for (const char* f : {"ftdibus.cat", "ftdibus.inf", "amd64/ftdibus.sys"}) {
            test::CopyFile(from + f, dir_ / f);
        }
    }
    std::string path(const char* f) const { return dir_ / f; }

    test::TempDir dir_;
};

TEST_F(RealPackage, CatalogMembersCarryTheirTagsAndDigests) {
    const auto catalog = platform::CryptCATOpen(path("ftdibus.cat"), 1);
    ASSERT_TRUE(catalog.ok()) << Hex8(catalog.error());
    const auto& members = (*catalog)->members;
    ASSERT_FALSE(members.empty());
    for (const auto& m : members) {
        EXPECT_EQ(m.referenceTag.size(), 40u) << m.referenceTag;
        EXPECT_EQ(m.referenceTag, AsciiUpper(m.referenceTag));
        EXPECT_EQ(m.digestAlgorithmOid, platform::kOidSha1);
        EXPECT_EQ(Hex(m.digest), m.referenceTag);
    }
    // The INF is no PE image: its catalog hash is the plain SHA-1 of its bytes, and a member.
    const auto hash = platform::CryptCATAdminCalcHashFromFile(path("ftdibus.inf"));
    ASSERT_TRUE(hash.ok()) << Hex8(hash.error());
    const std::string bytes = test::ReadFile(path("ftdibus.inf"));
    EXPECT_EQ(*hash, platform::DigestOf(
                         platform::DigestAlgorithm::Sha1,
                         {reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}));
    EXPECT_TRUE(std::any_of(members.begin(), members.end(),
                            [&](const auto& m) { return m.referenceTag == Hex(*hash); }));
}

TEST_F(RealPackage, CatalogAttributesAndPeDigestsAsWindowsGivesThem) {
    HALYARD_WINDOWS_ONLY(); // Wine has no catalog attributes and hashes PE files whole
    const auto catalog = platform::CryptCATOpen(path("ftdibus.cat"), 1);
    ASSERT_TRUE(catalog.ok());
    const auto& attributes = (*catalog)->catalogAttributes;
    EXPECT_TRUE(std::any_of(attributes.begin(), attributes.end(),
                            [](const auto& a) { return a.referenceTag == "OS"; }));
    // The Authenticode digest of a PE image is a member tag.
    const auto hash = platform::CryptCATAdminCalcHashFromFile(path("amd64/ftdibus.sys"));
    ASSERT_TRUE(hash.ok());
    const auto& members = (*catalog)->members;
    EXPECT_TRUE(std::any_of(members.begin(), members.end(),
                            [&](const auto& m) { return m.referenceTag == Hex(*hash); }));
}

TEST_F(RealPackage, SubjectPackagesAreFoundByContent) {
    const auto pe = platform::CryptSIPRetrieveSubjectGuid(path("amd64/ftdibus.sys"));
    ASSERT_TRUE(pe.ok()) << Hex8(pe.error());
    EXPECT_EQ(*pe, platform::kSubjectPeImage);
    EXPECT_TRUE(platform::CryptSIPLoad(*pe).ok());
    EXPECT_FALSE(platform::CryptSIPRetrieveSubjectGuid(path("missing.sys")).ok());
}

TEST_F(RealPackage, CatalogIsACertificateTrustList) {
    const auto ctl = platform::CryptQueryObjectCtl(path("ftdibus.cat"));
    ASSERT_TRUE(ctl.ok()) << Hex8(ctl.error());
    EXPECT_EQ(ctl->contentType, platform::kCertQueryContentCtl);
    // ThisUpdate lies in 2015 (FILETIME: 100 ns steps since 1601).
    const std::uint64_t seconds = ctl->thisUpdate / 10000000ULL;
    EXPECT_GT(seconds, 13064400000ULL); // 2015-01-01
    EXPECT_LT(seconds, 13096022400ULL); // 2016-01-01
}

TEST_F(RealPackage, CatalogSignerChainRootFirst) {
    HALYARD_WINDOWS_ONLY(); // Wine's trust provider does not build Windows' chains
    const auto report = platform::VerifyCatalogSignature(path("ftdibus.cat"));
    ASSERT_GE(report.signingChain.size(), 2u);
    const auto& leaf = report.signingChain.back();
    EXPECT_EQ(leaf.issuedTo, "Microsoft Windows Hardware Compatibility Publisher");
    EXPECT_EQ(leaf.issuedBy, "Microsoft Windows Hardware Compatibility PCA");
    EXPECT_EQ(leaf.sha1Hex, "C802CA01BC3064BFC0510CC762FFAA20BFE8EC61");
    EXPECT_EQ(report.signingChain.front().issuedTo, report.signingChain.front().issuedBy);
    EXPECT_TRUE(report.timestamp.has_value()); // the 2015 countersignature
    EXPECT_TRUE(platform::TrustFolder().empty());
}

} // namespace
} // namespace halyard

// Trust verification of the real-world packages through their catalogs, with the public roots of
// the build's trust folder; osslsigncode must agree on every PE file.
#include "base/outcome.h"
#include "base/unicode.h"
#include "catalog/cat_file_tag.h"
#include "catalog/code_signing.h"
#include "halyard/trust/parse.h"
#include "platform/catalog.h"
#include "platform/trust.h"
#include "posix_seam.h"
#include "report/output.h"
#include "testkit.h"

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

#ifdef _WIN32
#define timegm _mkgmtime // the C runtime's name for it
#endif

namespace halyard {
namespace {

namespace fs = std::filesystem;
using namespace codes;

struct Package {
    std::string catalog;
    std::vector<std::string> files; // PE and INF members
};

std::vector<Package> RealPackages() {
    std::vector<Package> packages;
    for (const auto& dir : fs::directory_iterator(test::RealworldDir() + "packages")) {
        Package package;
        for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
            const std::string ext = AsciiLower(entry.path().extension().string());
            if (ext == ".cat") {
                package.catalog = entry.path().string();
            } else if (ext == ".sys" || ext == ".dll" || ext == ".inf") {
                package.files.push_back(entry.path().string());
            }
        }
        std::sort(package.files.begin(), package.files.end());
        packages.push_back(std::move(package));
    }
    return packages;
}

std::set<std::string> MemberTags(const std::string& catalog) {
    std::set<std::string> tags;
    const auto store = platform::CryptCATOpen(catalog, 1);
    if (store) {
        for (const auto& member : (*store)->members) {
            tags.insert(member.referenceTag);
        }
    }
    return tags;
}

std::string Real(const std::string& relative) {
    return test::RealworldDir() + relative;
}

class RealWorldTrust : public ::testing::Test {
protected:
    void SetUp() override {
        HALYARD_ENGINE_THROUGH_THE_SEAM();
        HALYARD_NEED_REALWORLD();
    }
};

TEST_F(RealWorldTrust, EveryPackageMemberVerifiesUnderItsCatalogsTag) {
    std::size_t checked = 0;
    for (const Package& package : RealPackages()) {
        ASSERT_FALSE(package.catalog.empty());
        const std::set<std::string> tags = MemberTags(package.catalog);
        ASSERT_FALSE(tags.empty()) << package.catalog;
        for (const std::string& file : package.files) {
            OutputCapture capture;
            const CodeSigningResult signing = IsCodeSigned(file, package.catalog, CALG_SHA_256);
            EXPECT_TRUE(signing.trusted) << file;
            EXPECT_EQ(signing.trustCode, 0u) << file;
            EXPECT_TRUE(capture.lines().empty()) << capture.text();
            EXPECT_EQ(tags.count(signing.tag), 1u) << file << " " << signing.tag;
            ++checked;
        }
    }
    EXPECT_GE(checked, 36u);
}

TEST_F(RealWorldTrust, EachFileIsHashedOnceForTagAndTrustCheck) {
    const std::string file = Real("packages/tidepool-ftdibus-2024/amd64/ftdibus.sys");
    test::TempDir dir;
    const std::string copy = dir / "ftdibus.sys";
    test::CopyFile(file, copy);
    const std::uint64_t before = trust::DigestPassCount();
    EXPECT_TRUE(
        IsCodeSigned(copy, Real("packages/tidepool-ftdibus-2024/ftdibus.cat"), CALG_SHA_256));
    EXPECT_EQ(trust::DigestPassCount() - before, 1u);
    // A v1 catalog needs the SHA-1 fallback: the SHA-256 tag first, then one SHA-1 pass shared
    // by the tag and the trust check.
    const std::string oldFile = dir / "old.sys";
    test::CopyFile(Real("packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/amd64/ftdibus.sys"), oldFile);
    const std::uint64_t middle = trust::DigestPassCount();
    const std::string oldCat = Real("packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat");
    const CodeSigningResult old = IsCodeSigned(oldFile, oldCat, CALG_SHA_256);
    EXPECT_TRUE(old.trusted);
    EXPECT_EQ(MemberTags(oldCat).count(old.tag), 1u) << old.tag;
    EXPECT_EQ(trust::DigestPassCount() - middle, 2u);
}

TEST_F(RealWorldTrust, ShaOneShadowEntriesOfVersionTwoCatalogsVerifyByTheirTag) {
    const std::string cat = Real("packages/tidepool-ftdiport-2024/ftdiport.cat");
    for (const char* file : {"packages/tidepool-ftdiport-2024/amd64/FTSER2K.sys",
                             "packages/tidepool-ftdiport-2024/ftdiport.inf"}) {
        OutputCapture capture;
        const CodeSigningResult signing = IsCodeSigned(Real(file), cat, CALG_SHA1);
        EXPECT_TRUE(signing.trusted) << capture.text();
        EXPECT_EQ(signing.tag.size(), 40u);
        EXPECT_EQ(MemberTags(cat).count(signing.tag), 1u);
    }
    // The shadow entry of one file does not vouch for another.
    const auto tag =
        CalcCatFileTag(cat, Real("packages/tidepool-ftdiport-2024/ftdiport.inf"), CALG_SHA1);
    ASSERT_TRUE(tag);
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember(
                  {cat, *tag, Real("packages/tidepool-ftdiport-2024/amd64/FTSER2K.sys")}),
              kTrustEBadDigest);
}

// osslsigncode is told to skip revocation (-ignore-crl): with -ignore-cdp it still demands CRLs
// it cannot fetch offline and fails every time-stamped file. We check revocation only against
// CRLs of the trust folder, of which the real-world tree has none.
TEST_F(RealWorldTrust, OsslsigncodeAgreesOnEveryPeFile) {
    HALYARD_NEED_PROGRAM("/usr/bin/osslsigncode");
    test::TempDir dir;
    std::string roots;
    for (const auto& entry : fs::directory_iterator(Real("certs/roots"))) {
        roots += test::ReadFile(entry.path().string());
    }
    test::WriteFile(dir / "roots.pem", roots);
    for (const Package& package : RealPackages()) {
        for (const std::string& file : package.files) {
            if (EndsWithIgnoreCase(file, ".inf")) {
                continue;
            }
            const auto peer =
                test::Run("/usr/bin/osslsigncode",
                          {"verify", "-catalog", package.catalog, "-in", file, "-CAfile",
                           dir / "roots.pem", "-TSA-CAfile", dir / "roots.pem", "-ignore-crl"});
            OutputCapture capture;
            const bool ours = IsCodeSigned(file, package.catalog, CALG_SHA_256).trusted;
            EXPECT_EQ(peer.exitCode == 0, ours) << file << "\n" << peer.output;
        }
    }
}

TEST_F(RealWorldTrust, InfsStoredWithLfEndsAreNoMembers) {
    // The tag tried last is the SHA-1 of the file's bytes (sha1sum).
    struct Case {
        const char* inf;
        const char* cat;
        const char* tag;
    };
    const Case cases[] = {
        {"negative/ftdibus_as-stored-LF_ftdi-cdm.inf",
         "packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat",
         "72E91CD2ABDC1CAB68EFA43CAF7000B56FB5E2E1"},
        {"negative/ftdiport_as-stored-LF_ftdi-cdm.inf",
         "packages/ftdi-cdm-2.12.04-ftdiport-whql-2015/ftdiport.cat",
         "3E0B1F23C094D8A53FB1C12DCC71C1F20DA789F9"},
    };
    for (const auto& [inf, cat, tag] : cases) {
        OutputCapture capture;
        const CodeSigningResult signing = IsCodeSigned(Real(inf), Real(cat), CALG_SHA_256);
        EXPECT_FALSE(signing.trusted);
        EXPECT_EQ(signing.trustCode, kTrustENoSignature);
        EXPECT_EQ(signing.tag, tag);
        ASSERT_EQ(capture.lines().size(), 1u);
        EXPECT_EQ(capture.lines()[0], "IsCodeSigned: WinVerifyTrust fail: " + Real(inf) +
                                          "; Params: TRUST_E_NOSIGNATURE; Last error: 800B0100 "
                                          "No signature was present in the subject");
    }
}

TEST_F(RealWorldTrust, TamperedFileIsRefused) {
    test::TempDir dir;
    const std::string cat = Real("packages/tidepool-ftdiport-2024/ftdiport.cat");
    const std::string file = dir / "FTSER2K.sys";
    test::CopyFile(Real("packages/tidepool-ftdiport-2024/amd64/FTSER2K.sys"), file);
    const CodeSigningResult good = IsCodeSigned(file, cat, CALG_SHA_256);
    ASSERT_TRUE(good.trusted);
    const std::string goodTag = good.tag;

    std::string bytes = test::ReadFile(file);
    bytes[bytes.size() / 2] ^= 0x01;
    test::WriteFile(file, bytes);
    {
        OutputCapture capture;
        const CodeSigningResult tampered = IsCodeSigned(file, cat, CALG_SHA_256);
        EXPECT_FALSE(tampered.trusted);
        EXPECT_EQ(tampered.trustCode, kTrustENoSignature);
    }
    // Asked as the member it claims to be, the file's digest no longer matches.
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({cat, goodTag, file}), kTrustEBadDigest);
    // Data appended after the signature-free image also changes the digest.
    test::CopyFile(Real("packages/tidepool-ftdiport-2024/amd64/FTSER2K.sys"), file);
    test::WriteFile(file, test::ReadFile(file) + std::string(8, '\0'));
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({cat, goodTag, file}), kTrustEBadDigest);
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({cat, goodTag, dir / "missing.sys"}),
              kCryptEFileError);
}

TEST_F(RealWorldTrust, TagsCompareIgnoringLetterCase) {
    const std::string cat = Real("packages/tidepool-hid-infonly-2024/tidepoolhid.cat");
    const std::string inf = Real("packages/tidepool-hid-infonly-2024/tidepoolhid.inf");
    const CodeSigningResult signing = IsCodeSigned(inf, cat, CALG_SHA_256);
    ASSERT_TRUE(signing.trusted);
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({cat, AsciiLower(signing.tag), inf}), 0u);
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({cat, "00", inf}), kTrustENoSignature);
    EXPECT_EQ(platform::WinVerifyTrustCatalogMember({cat, "", inf}), kInvalidParameter);
}

// Their publisher's certificate expired in 2016; their Symantec countersignature holds the bare
// SHA-1 digest in its RSA block, which Windows accepts, so the chain is judged at 2014.
TEST_F(RealWorldTrust, ExpiredGoogleCatalogsVerifyAtTheirLegacyTimeStamp) {
    const std::pair<const char*, int> catalogs[] = {{"androidwinusb86.cat", 13},
                                                    {"androidwinusba64.cat", 7}};
    for (const auto& [name, second] : catalogs) {
        const auto report =
            platform::VerifyCatalogSignature(Real("catalogs/google-usb-driver-2014/") + name);
        EXPECT_EQ(report.status, 0u) << name;
        std::tm tm{};
        tm.tm_year = 114, tm.tm_mon = 8, tm.tm_mday = 10, tm.tm_hour = 20, tm.tm_min = 59,
        tm.tm_sec = second;
        ASSERT_TRUE(report.timestamp) << name;
        EXPECT_EQ(*report.timestamp, timegm(&tm)) << name;
        ASSERT_EQ(report.signingChain.size(), 3u);
        EXPECT_EQ(report.signingChain.front().issuedTo,
                  "VeriSign Class 3 Public Primary Certification Authority - G5");
        EXPECT_EQ(report.signingChain.back().issuedTo, "Google Inc");
        EXPECT_EQ(report.signingChain.back().sha1Hex, "FCAC7E666CC54341CA213BECF2EB463F2B62ADB0");
        ASSERT_EQ(report.timestampChain.size(), 3u);
        EXPECT_EQ(report.timestampChain.front().issuedTo, "Thawte Timestamping CA");
        EXPECT_EQ(report.timestampChain.back().issuedTo,
                  "Symantec Time Stamping Services Signer - G4");
    }
    // The countersignature's RSA value ends the file: with one byte of it changed the time stamp
    // no longer holds, and the publisher's certificate is judged today.
    test::TempDir dir;
    std::string bytes = test::ReadFile(Real("catalogs/google-usb-driver-2014/androidwinusb86.cat"));
    bytes.back() ^= 0x01;
    test::WriteFile(dir / "changed.cat", bytes);
    const auto changed = platform::VerifyCatalogSignature(dir / "changed.cat");
    EXPECT_EQ(changed.status, kCertEExpired);
    EXPECT_FALSE(changed.timestamp);
    // The INF beside them was edited after signing: no member.
    OutputCapture capture;
    const CodeSigningResult edited =
        IsCodeSigned(Real("catalogs/google-usb-driver-2014/android_winusb.inf"),
                     Real("catalogs/google-usb-driver-2014/androidwinusb86.cat"), CALG_SHA_256);
    EXPECT_FALSE(edited.trusted);
    EXPECT_EQ(edited.trustCode, kTrustENoSignature);
}

TEST_F(RealWorldTrust, SignatureReportsCarryChainsAndTimeStamps) {
    const auto legacy = platform::VerifyCatalogSignature(
        Real("packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat"));
    EXPECT_EQ(legacy.status, 0u);
    ASSERT_TRUE(legacy.timestamp);
    std::tm tm{};
    tm.tm_year = 115, tm.tm_mon = 6, tm.tm_mday = 1, tm.tm_hour = 10, tm.tm_min = 16,
    tm.tm_sec = 21;
    EXPECT_EQ(*legacy.timestamp, timegm(&tm));
    ASSERT_EQ(legacy.signingChain.size(), 3u);
    EXPECT_EQ(legacy.signingChain[0].issuedTo, "Microsoft Root Certificate Authority");
    EXPECT_EQ(legacy.signingChain[2].issuedTo,
              "Microsoft Windows Hardware Compatibility Publisher");
    EXPECT_EQ(legacy.signingChain[2].issuedBy, "Microsoft Windows Hardware Compatibility PCA");
    EXPECT_EQ(legacy.signingChain[2].sha1Hex, "C802CA01BC3064BFC0510CC762FFAA20BFE8EC61");
    EXPECT_EQ(legacy.timestampChain.back().issuedTo, "Microsoft Time-Stamp Service");

    const auto rfc3161 =
        platform::VerifyCatalogSignature(Real("packages/tidepool-ftdiport-2024/ftdiport.cat"));
    EXPECT_EQ(rfc3161.status, 0u);
    EXPECT_TRUE(rfc3161.timestamp);
    ASSERT_EQ(rfc3161.timestampChain.size(), 3u);
    EXPECT_EQ(rfc3161.timestampChain[0].issuedTo, "Microsoft Root Certificate Authority 2010");

    const auto vendor = platform::VerifyCatalogSignature(
        Real("catalogs/seeed-usb-serial-2024/seeed_usb_serial.cat"));
    EXPECT_EQ(vendor.status, 0u);
    EXPECT_EQ(vendor.signingChain.front().issuedTo, "GlobalSign Code Signing Root R45");
}

TEST_F(RealWorldTrust, CatalogsThatCannotBeVerified) {
    EXPECT_EQ(platform::VerifyCatalogSignature(Real("catalogs/unsigned/catfiletest.cat")).status,
              kTrustENoSignature);
    EXPECT_EQ(
        platform::VerifyCatalogSignature(Real("catalogs/ctl-not-a-catalog/authroot.stl")).status,
        kCryptEUnexpectedMsgType);
    EXPECT_EQ(platform::VerifyCatalogSignature(Real("catalogs/missing.cat")).status,
              kCryptEFileError);
    // A file signed with its own embedded signature is no member of an unrelated catalog.
    OutputCapture capture;
    const CodeSigningResult embedded =
        IsCodeSigned(Real("binaries/pciide.sys"),
                     Real("packages/tidepool-ftdibus-2024/ftdibus.cat"), CALG_SHA_256);
    EXPECT_FALSE(embedded.trusted);
    EXPECT_EQ(embedded.trustCode, kTrustENoSignature);
}

} // namespace
} // namespace halyard

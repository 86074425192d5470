// Member tags, the signature check's reports and the catalog signing date, line by line.
#include "base/date_text.h"
#include "base/outcome.h"
#include "catalog/cat_file_tag.h"
#include "catalog/code_signing.h"
#include "catalog/sign_date.h"
#include "fixtures.h"
#include "platform/hash.h"
#include "report/diagnostics.h"
#include "report/output.h"
#include "testkit.h"
#include "windows_headers.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

using namespace codes;

std::string Sha256Hex(const std::string& content) {
    return fixtures::HexUpper(platform::DigestOf(
        platform::DigestAlgorithm::Sha256,
        {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()}));
}

class CatalogServices : public ::testing::Test {
protected:
    test::TempDir dir;
    std::string cat = dir / "plain.cat";

    void SetUp() override {
        fixtures::CatalogRecipe recipe; // unsigned: opening it is all the tag needs
        fixtures::WriteCatalog(cat, recipe);
    }

    std::string Tag(const std::string& file, std::uint32_t alg, OutputCapture& capture,
                    bool expected = true) {
        const auto tag = CalcCatFileTag(cat, file, alg);
        EXPECT_EQ(tag.ok(), expected) << capture.text();
        return tag ? *tag : std::string();
    }
};

TEST_F(CatalogServices, CatalogThatCannotBeOpenedStopsAtOnce) {
    OutputCapture capture;
    const auto tag = CalcCatFileTag(dir / "missing.cat", dir / "no-such-file.sys", CALG_SHA_256);
    ASSERT_FALSE(tag);
    EXPECT_EQ(tag.error(), 2u);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0],
              FormatCollectedError("CalcCatFileTag", "CryptCATOpen fail", dir / "missing.cat", 2));
}

TEST_F(CatalogServices, SpecialExtensionsAndUnknownContentHashFlat) {
    // A PE image named .MSI is still hashed as a flat file.
    const auto image = fixtures::MakePeFile();
    const std::string msi = dir / "setup.MSI";
    fixtures::WriteFileBytes(msi, image);
    OutputCapture capture;
    EXPECT_EQ(Tag(msi, CALG_SHA_256, capture), Sha256Hex(std::string(image.begin(), image.end())));
    fixtures::WriteFileBytes(dir / "driver.sys", image);
    EXPECT_NE(Tag(dir / "driver.sys", CALG_SHA_256, capture),
              Sha256Hex(std::string(image.begin(), image.end())));

    test::WriteFile(dir / "x.Ppkg", "MZ whatever");
    EXPECT_EQ(Tag(dir / "x.Ppkg", CALG_SHA_256, capture), Sha256Hex("MZ whatever"));
    test::WriteFile(dir / "readme.txt", "MZ but not a program");
    EXPECT_EQ(Tag(dir / "readme.txt", CALG_SHA_256, capture), Sha256Hex("MZ but not a program"));
    const std::string sha1 = Tag(dir / "readme.txt", CALG_SHA1, capture);
    EXPECT_EQ(sha1, "F5BBFB2FC0500E2886B3C9618A7C7EC327AB7C8F"); // SHA-1 of the text
    EXPECT_TRUE(capture.lines().empty()) << capture.text();
}

TEST_F(CatalogServices, RefusedAlgorithmFallsBackOnlyForShaTwoFiftySix) {
    const std::string cab = dir / "drivers.cab";
    test::WriteFile(cab, "MSCF cabinet bytes");
    OutputCapture capture;
    // SHA-256: the package refuses, the administrator's SHA-1 of the content is the tag.
    const std::string content = "MSCF cabinet bytes";
    EXPECT_EQ(Tag(cab, CALG_SHA_256, capture),
              fixtures::HexUpper(platform::DigestOf(
                  platform::DigestAlgorithm::Sha1,
                  {reinterpret_cast<const std::uint8_t*>(content.data()), content.size()})));
    EXPECT_TRUE(capture.lines().empty()) << capture.text();
    // SHA-1: the refusal is reported.
    const auto refused = CalcCatFileTag(cat, cab, CALG_SHA1);
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error(), kNteBadAlgid);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(
        capture.lines()[0],
        FormatCollectedError("CalcCatFileTag", "pfCreate fail: NTE_BAD_ALGID", cab, kNteBadAlgid));
    capture.clear();
    const auto gone = CalcCatFileTag(cat, dir / "gone.inf", CALG_SHA1);
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error(), 2u);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0],
              FormatCollectedError("CalcCatFileTag", "pfCreate fail", dir / "gone.inf", 2));
}

TEST_F(CatalogServices, NoCatalogAndUncomputableTagAreReported) {
    OutputCapture capture;
    const CodeSigningResult noCatalog = IsCodeSigned(dir / "never-read.sys", "", CALG_SHA_256);
    EXPECT_FALSE(noCatalog.trusted);
    EXPECT_EQ(noCatalog.tag, "");
    EXPECT_EQ(noCatalog.trustCode, kNoCode);
    ASSERT_EQ(capture.lines().size(), 1u);
    EXPECT_EQ(capture.lines()[0], "IsCodeSigned: No cat file; Params: " + dir / "never-read.sys");

    capture.clear();
    const std::string file = dir / "a.inf";
    test::WriteFile(file, "[Version]\r\n");
    const CodeSigningResult noTag = IsCodeSigned(file, dir / "missing.cat", CALG_SHA_256);
    EXPECT_FALSE(noTag.trusted);
    EXPECT_EQ(noTag.tag, "");
    EXPECT_EQ(noTag.trustCode, kNoCode);
    ASSERT_EQ(capture.lines().size(), 2u); // no SHA-1 attempt follows
    EXPECT_EQ(capture.lines()[1],
              FormatCollectedError("IsCodeSigned", "CalcCatFileTag fail: " + file,
                                   dir / "missing.cat", 2));
}

// The failure report names eight trust results and gives the others as hex digits; the values
// come from Windows' headers, not from our table.
TEST_F(CatalogServices, TrustResultNames) {
    const auto headers = test::WindowsHeaderCodes();
    HALYARD_NEED(headers.has_value(), test::WindowsHeadersDir() + "winerror.h");
    for (const char* name :
         {"TRUST_E_SUBJECT_NOT_TRUSTED", "TRUST_E_PROVIDER_UNKNOWN", "TRUST_E_ACTION_UNKNOWN",
          "TRUST_E_SUBJECT_FORM_UNKNOWN", "TRUST_E_NOSIGNATURE", "TRUST_E_NO_SIGNER_CERT",
          "CERT_E_CHAINING", "CRYPT_E_FILE_ERROR"}) {
        EXPECT_EQ(TrustResultName(headers->at(name)), name);
    }
    EXPECT_EQ(TrustResultName(headers->at("CERT_E_UNTRUSTEDROOT")), "800B0109");
    EXPECT_EQ(TrustResultName(headers->at("TRUST_E_BAD_DIGEST")), "80096010");
    EXPECT_EQ(TrustResultName(0x0000000A), "0000000A");
}

// A code without a reason of its own is given by the name the failure report uses.
TEST_F(CatalogServices, TrustCodeReasons) {
    EXPECT_EQ(TrustCodeReason(0), "");
    EXPECT_EQ(TrustCodeReason(kNoCode), "no trust query made");
    EXPECT_EQ(TrustCodeReason(kTrustENoSignature), "not a member of the catalog");
    EXPECT_EQ(TrustCodeReason(kTrustEProviderUnknown), "not trusted (TRUST_E_PROVIDER_UNKNOWN)");
    EXPECT_EQ(TrustCodeReason(kCertECritical), "not trusted (800B0105)");
    EXPECT_EQ(TrustCodeReason(0x12345678), "not trusted (12345678)");
}

class SignDate : public ::testing::Test {
protected:
    test::TempDir dir;

    std::string CatalogAt(std::int64_t thisUpdate) {
        fixtures::CatalogRecipe recipe;
        recipe.thisUpdate = thisUpdate;
        const std::string path = dir / ("c" + std::to_string(thisUpdate) + ".cat");
        fixtures::WriteCatalog(path, recipe);
        return path;
    }
};

constexpr std::int64_t k20200621 = 1592697600;
constexpr std::int64_t k20000101 = 946684800;

TEST_F(SignDate, WindowEdges) {
    OutputCapture capture;
    EXPECT_EQ(GetSignDateOfCAT(CatalogAt(k20200621)), 44003.0);
    EXPECT_EQ(GetSignDateOfCAT(CatalogAt(k20000101)), 36526.0);
    EXPECT_TRUE(capture.lines().empty()) << capture.text();

    const std::string late = CatalogAt(k20200621 + 1);
    EXPECT_EQ(GetSignDateOfCAT(late), 0);
    const std::string early = CatalogAt(k20000101 - 1);
    EXPECT_EQ(GetSignDateOfCAT(early), 0);
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0],
              "GetSignDateOfCAT: Wrong result: 6/21/2020 12:00:01 AM; Params: " + late);
    EXPECT_EQ(capture.lines()[1],
              "GetSignDateOfCAT: Wrong result: 12/31/1999 11:59:59 PM; Params: " + early);
}

TEST_F(SignDate, TakenInUtcWhateverTheLocalZone) {
    const char* saved = std::getenv("TZ");
    const std::string previous = saved != nullptr ? saved : "";
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    const TDateTime date = GetSignDateOfCAT(CatalogAt(1551742200)); // 2019-03-04 23:30 UTC
    if (saved != nullptr) {
        setenv("TZ", previous.c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
    EXPECT_EQ(ConvertDateToString(date, true), "2019-03-04");
    EXPECT_EQ(date, ConvertStringToDateTime("03-04-2019 23-30-00", false));
}

TEST_F(SignDate, UnreadableFilesAreReported) {
    OutputCapture capture;
    EXPECT_EQ(GetSignDateOfCAT(dir / "missing.cat"), 0);
    test::WriteFile(dir / "text.cat", "not a trust list");
    EXPECT_EQ(GetSignDateOfCAT(dir / "text.cat"), 0);
    ASSERT_EQ(capture.lines().size(), 2u);
    EXPECT_EQ(capture.lines()[0], FormatCollectedError("GetSignDateOfCAT", "CryptQueryObject fail",
                                                       dir / "missing.cat", 2));
    EXPECT_EQ(capture.lines()[1], FormatCollectedError("GetSignDateOfCAT", "CryptQueryObject fail",
                                                       dir / "text.cat", kCryptENoMatch));
}

} // namespace
} // namespace halyard

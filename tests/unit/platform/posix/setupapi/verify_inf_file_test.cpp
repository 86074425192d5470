// SetupVerifyInfFileW of the POSIX Setup API library, called through the binding as the pair
// check calls it: real driver packages, and INF/catalog pairs signed by the test PKI.
#include "base/outcome.h"
#include "base/unicode.h"
#include "external/setupapi/setupapi.h"
#include "fixtures.h"
#include "platform/module.h"
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

namespace codes = platform::codes;
using fixtures::CatAttr;

constexpr const char* kWhcp = "Microsoft Windows Hardware Compatibility Publisher";

CatAttr OsAttr(const std::string& value) {
    return CatAttr{"OSAttr", value, fixtures::kNameValueFlags, std::nullopt};
}

struct Answer {
    bool ok = false;
    std::uint32_t error = 0;
    std::string catalogFile;
    std::string digitalSigner;
    std::string signerVersion;
};

std::string Field(const setupapi::WideChar* units) {
    std::u16string text;
    for (std::size_t i = 0; i < 260 && units[i] != 0; ++i) {
        text += units[i];
    }
    return Utf16ToUtf8(text);
}

setupapi::SP_ALTPLATFORM_INFO_V2 AltPlatform(std::uint16_t arch, std::uint32_t major,
                                             std::uint32_t minor) {
    setupapi::SP_ALTPLATFORM_INFO_V2 alt{};
    alt.cbSize = sizeof(alt);
    alt.Platform = setupapi::kVerPlatformWin32Nt;
    alt.ProcessorArchitecture = arch;
    alt.MajorVersion = major;
    alt.MinorVersion = minor;
    alt.FirstValidatedMajorVersion = major;
    alt.FirstValidatedMinorVersion = minor;
    return alt;
}

class SetupVerifyInfFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // The program never unloads the library once it has called it; its statics (the case
        // locale, the catalog cache) live until the process ends. Keep the image mapped the same
        // way here, so that the suite's final unload does not orphan them.
        static const platform::ModuleHandle pin = platform::LoadModuleLibrary("SetupApi.dll");
        ASSERT_NE(pin, nullptr);
        ASSERT_TRUE(LoadSetupApi());
    }
    static void TearDownTestSuite() { UnloadSetupApi(); }

    static Answer Call(const std::string& inf, setupapi::SP_ALTPLATFORM_INFO_V2* alt = nullptr,
                       setupapi::DWORD cbSize = sizeof(setupapi::SP_INF_SIGNER_INFO_V1_W)) {
        setupapi::SP_INF_SIGNER_INFO_V2_W info{};
        info.cbSize = cbSize;
        const std::u16string name = Utf8ToUtf16(inf);
        Answer a;
        a.ok = SetupVerifyInfFile(name.c_str(), alt,
                                  reinterpret_cast<setupapi::SP_INF_SIGNER_INFO_V1_W*>(&info)) != 0;
        a.error = SetupApiGetLastError();
        a.catalogFile = Field(info.CatalogFile);
        a.digitalSigner = Field(info.DigitalSigner);
        a.signerVersion = Field(info.DigitalSignerVersion);
        return a;
    }

    // Copies a real package's top-level INF and catalog into the temporary folder.
    std::string CopyPackage(const std::string& package, const std::string& inf) {
        const std::string from = test::RealworldDir() + "packages/" + package + "/";
        for (const auto& entry : std::filesystem::directory_iterator(from)) {
            if (entry.is_regular_file()) {
                test::CopyFile(entry.path().string(), dir_ / entry.path().filename().string());
            }
        }
        return dir_ / inf;
    }

    // Writes an INF and a catalog signed by the test PKI that holds it as a member.
    std::string SignedPair(const std::string& infText, const std::string& catName,
                           const fixtures::Identity& signer,
                           const std::vector<CatAttr>& memberAttributes = {OsAttr("2:10.0")},
                           const std::vector<CatAttr>& catalogAttributes = {}, int version = 2) {
        const std::string inf = dir_ / "driver.inf";
        test::WriteFile(inf, infText);
        fixtures::CatalogRecipe recipe;
        recipe.version = version;
        recipe.hash =
            version == 2 ? platform::DigestAlgorithm::Sha256 : platform::DigestAlgorithm::Sha1;
        recipe.signer = &signer;
        recipe.attributes = catalogAttributes;
        fixtures::AddFileMember(recipe, inf, {}, memberAttributes);
        fixtures::WriteCatalog(dir_ / catName, recipe);
        return inf;
    }

    std::string Full(const std::string& relative) {
        return std::filesystem::weakly_canonical(dir_ / relative).string();
    }

    test::TempDir dir_;
};

const std::string kInf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nCatalogFile=driver.cat\r\n";

TEST_F(SetupVerifyInfFileTest, RealInfOnlyPackagesVerifyWithTheirSigner) {
    if (!test::RealworldAvailable()) {
        GTEST_SKIP() << "real-world samples not present";
    }
    const Answer hid = Call(CopyPackage("tidepool-hid-infonly-2024", "tidepoolhid.inf"));
    EXPECT_TRUE(hid.ok) << std::hex << hid.error;
    EXPECT_EQ(hid.error, 0u);
    EXPECT_EQ(hid.catalogFile, Full("tidepoolhid.cat"));
    EXPECT_EQ(hid.digitalSigner, kWhcp);
    EXPECT_EQ(hid.signerVersion, "10.0");
}

TEST_F(SetupVerifyInfFileTest, CatalogNameMatchesIgnoringLetterCase) {
    if (!test::RealworldAvailable()) {
        GTEST_SKIP() << "real-world samples not present";
    }
    // The INF names WinUSBInstallation.cat; the file is winusbinstallation.cat.
    const Answer a = Call(CopyPackage("tidepool-webusb-infonly-2024", "webusb.inf"));
    EXPECT_TRUE(a.ok) << std::hex << a.error;
    EXPECT_EQ(a.catalogFile, Full("winusbinstallation.cat"));
}

TEST_F(SetupVerifyInfFileTest, OsAttributeIsCheckedAgainstTheTargetPlatform) {
    if (!test::RealworldAvailable()) {
        GTEST_SKIP() << "real-world samples not present";
    }
    // Signed for Windows 7 to 8.1 (2:6.1,2:6.2,2:6.3); the layer runs as 10.0.
    const std::string inf = CopyPackage("ftdi-cdm-2.12.04-ftdibus-whql-2015", "ftdibus.inf");
    const Answer running = Call(inf);
    EXPECT_FALSE(running.ok);
    EXPECT_EQ(running.error, codes::kErrorSignatureOsattributeMismatch);

    auto win7 = AltPlatform(setupapi::kProcessorArchitectureAmd64, 6, 1);
    const Answer seven = Call(inf, &win7);
    EXPECT_TRUE(seven.ok) << std::hex << seven.error;
    EXPECT_EQ(seven.digitalSigner, kWhcp);
    EXPECT_EQ(seven.signerVersion, "6.1");

    // Version 0.0 names no version: the running one, with every earlier release admitted by
    // the zero first-validated version.
    auto unnamed = AltPlatform(setupapi::kProcessorArchitectureAmd64, 0, 0);
    EXPECT_TRUE(Call(inf, &unnamed).ok);
    // The first version of the record checks its one version only.
    auto v1 = AltPlatform(setupapi::kProcessorArchitectureAmd64, 10, 0);
    v1.cbSize = sizeof(setupapi::SP_ALTPLATFORM_INFO_V1);
    EXPECT_EQ(Call(inf, &v1).error, codes::kErrorSignatureOsattributeMismatch);
    // Another platform id never matches "2:".
    auto nine = AltPlatform(setupapi::kProcessorArchitectureIntel, 6, 1);
    nine.Platform = setupapi::kVerPlatformWin32Windows;
    EXPECT_EQ(Call(inf, &nine).error, codes::kErrorSignatureOsattributeMismatch);
}

TEST_F(SetupVerifyInfFileTest, VendorPublisherIsTrustedButNotDriverSigned) {
    if (!test::RealworldAvailable()) {
        GTEST_SKIP() << "real-world samples not present";
    }
    const std::string inf = CopyPackage("datalogic-usblan-win8-vendor-ev-2018", "datalogic.inf");
    auto win8 = AltPlatform(setupapi::kProcessorArchitectureAmd64, 6, 2);
    const Answer a = Call(inf, &win8);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, codes::kErrorAuthenticodeTrustNotEstablished);
    EXPECT_EQ(a.catalogFile, Full("datalogic.cat"));
    EXPECT_FALSE(a.digitalSigner.empty());
    EXPECT_NE(a.digitalSigner, kWhcp);
}

TEST_F(SetupVerifyInfFileTest, InfStoredWithOtherLineEndsIsNotAMember) {
    if (!test::RealworldAvailable()) {
        GTEST_SKIP() << "real-world samples not present";
    }
    CopyPackage("ftdi-cdm-2.12.04-ftdiport-whql-2015", "ftdiport.inf");
    const std::string lf = dir_ / "ftdiport.inf";
    test::CopyFile(test::RealworldDir() + "negative/ftdiport_as-stored-LF_ftdi-cdm.inf", lf);
    const Answer a = Call(lf);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, codes::kTrustENoSignature);
}

TEST_F(SetupVerifyInfFileTest, CatalogDirectiveAndCatalogFile) {
    const auto& pki = fixtures::BuildTestPki();
    // No directive at all, or an empty one.
    test::WriteFile(dir_ / "none.inf", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    EXPECT_EQ(Call(dir_ / "none.inf").error, codes::kErrorNoCatalogForOemInf);
    test::WriteFile(dir_ / "empty.inf", "[Version]\r\nCatalogFile= ; nothing\r\n");
    EXPECT_EQ(Call(dir_ / "empty.inf").error, codes::kErrorNoCatalogForOemInf);
    // A directive whose catalog is not there, or that points out of the folder.
    test::WriteFile(dir_ / "missing.inf", "[Version]\r\nCatalogFile=missing.cat\r\n");
    EXPECT_EQ(Call(dir_ / "missing.inf").error, codes::kCryptEFileError);
    test::WriteFile(dir_ / "outside.inf", "[Version]\r\nCatalogFile=../driver.cat\r\n");
    EXPECT_EQ(Call(dir_ / "outside.inf").error, codes::kCryptEFileError);
    // A catalog that is not a catalog keeps the reader's reason.
    test::WriteFile(dir_ / "junk.inf", "[Version]\r\nCatalogFile=junk.cat\r\n");
    test::WriteFile(dir_ / "junk.cat", "not a catalog at all");
    const Answer junk = Call(dir_ / "junk.inf");
    EXPECT_FALSE(junk.ok);
    EXPECT_NE(junk.error, 0u);
    EXPECT_NE(junk.error, codes::kCryptEFileError);

    // Comments and quotes around the value are the INF parser's business.
    const std::string inf = SignedPair("[version]\r\ncatalogfile = \"Driver.CAT\" ; signed\r\n",
                                       "driver.cat", pki.whcp);
    const Answer a = Call(inf);
    EXPECT_TRUE(a.ok) << std::hex << a.error;
    EXPECT_EQ(a.catalogFile, Full("driver.cat"));
    EXPECT_EQ(a.digitalSigner, kWhcp);
}

TEST_F(SetupVerifyInfFileTest, DecoratedDirectiveWinsForItsPlatform) {
    const auto& pki = fixtures::BuildTestPki();
    const std::string inf = SignedPair("[Version]\r\nCatalogFile=other.cat\r\n"
                                       "CatalogFile.NTamd64=driver.cat\r\n"
                                       "CatalogFile.NTx86=x86.cat\r\n",
                                       "driver.cat", pki.whcp);
    EXPECT_TRUE(Call(inf).ok);
    auto x86 = AltPlatform(setupapi::kProcessorArchitectureIntel, 10, 0);
    EXPECT_EQ(Call(inf, &x86).error, codes::kCryptEFileError);
    // ARM64 has no decorated entry: the undecorated one covers it.
    test::CopyFile(dir_ / "driver.cat", dir_ / "other.cat");
    auto arm64 = AltPlatform(setupapi::kProcessorArchitectureArm64, 10, 0);
    const Answer a = Call(inf, &arm64);
    EXPECT_TRUE(a.ok) << std::hex << a.error;
    EXPECT_EQ(a.catalogFile, Full("other.cat"));
}

TEST_F(SetupVerifyInfFileTest, SignerAndChainDecideTheAnswer) {
    const auto& pki = fixtures::BuildTestPki();
    {
        const Answer a = Call(SignedPair(kInf, "driver.cat", pki.contoso));
        EXPECT_FALSE(a.ok);
        EXPECT_EQ(a.error, codes::kErrorAuthenticodeTrustNotEstablished);
        EXPECT_EQ(a.digitalSigner, "Contoso Test Publisher");
        EXPECT_EQ(a.catalogFile, Full("driver.cat"));
    }
    {
        const Answer a = Call(SignedPair(kInf, "driver.cat", pki.untrustedLeaf));
        EXPECT_FALSE(a.ok);
        EXPECT_EQ(a.error, codes::kCertEUntrustedRoot);
    }
    {
        // A catalog-level OSAttr speaks when the member has none; a member's own one wins.
        const Answer a = Call(SignedPair(kInf, "driver.cat", pki.whcp, {}, {OsAttr("2:6.1")}));
        EXPECT_EQ(a.error, codes::kErrorSignatureOsattributeMismatch);
        const Answer b =
            Call(SignedPair(kInf, "driver.cat", pki.whcp, {OsAttr("2:10.0")}, {OsAttr("2:6.1")}));
        EXPECT_TRUE(b.ok) << std::hex << b.error;
    }
    {
        // No OSAttr anywhere restricts nothing; a v1 catalog matches by the SHA-1 tag.
        const Answer a = Call(SignedPair(kInf, "driver.cat", pki.whcp, {}, {}, 1));
        EXPECT_TRUE(a.ok) << std::hex << a.error;
        EXPECT_EQ(a.signerVersion, "");
    }
    {
        // Malformed OSAttr entries cover nothing; a well-formed one among them still counts.
        const Answer a =
            Call(SignedPair(kInf, "driver.cat", pki.whcp, {OsAttr("2:x.0, junk,2:10.0")}));
        EXPECT_TRUE(a.ok) << std::hex << a.error;
        const Answer b = Call(SignedPair(kInf, "driver.cat", pki.whcp, {OsAttr("2:10")}));
        EXPECT_EQ(b.error, codes::kErrorSignatureOsattributeMismatch);
    }
}

TEST_F(SetupVerifyInfFileTest, BadArgumentsAreRefused) {
    const std::string missingDir = dir_ / "nowhere/driver.inf";
    EXPECT_EQ(Call(missingDir).error, codes::kPathNotFound);
    EXPECT_EQ(Call(dir_ / "absent.inf").error, codes::kFileNotFound);

    test::WriteFile(dir_ / "x.inf", kInf);
    const Answer badSize = Call(dir_ / "x.inf", nullptr, 1000);
    EXPECT_FALSE(badSize.ok);
    EXPECT_EQ(badSize.error, 1784u);
    auto alt = AltPlatform(setupapi::kProcessorArchitectureAmd64, 10, 0);
    alt.cbSize = 24;
    EXPECT_EQ(Call(dir_ / "x.inf", &alt).error, 1784u);

    setupapi::SP_INF_SIGNER_INFO_V1_W info{};
    info.cbSize = sizeof(info);
    EXPECT_EQ(SetupVerifyInfFile(nullptr, nullptr, &info), 0);
    EXPECT_EQ(SetupApiGetLastError(), 87u);
}

} // namespace
} // namespace halyard

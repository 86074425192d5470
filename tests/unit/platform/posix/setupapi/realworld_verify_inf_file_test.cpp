// SetupVerifyInfFileW of the POSIX Setup API library on real driver packages: their signers,
// their OS attributes, a catalog name in another letter case, an INF stored with other line ends.
#include "setup_verify_inf_file.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

class RealPackages : public SetupVerifyInfFileTest {
protected:
    void SetUp() override { HALYARD_NEED_REALWORLD(); }

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
};

TEST_F(RealPackages, RealInfOnlyPackagesVerifyWithTheirSigner) {
    const Answer hid = Call(CopyPackage("tidepool-hid-infonly-2024", "tidepoolhid.inf"));
    EXPECT_TRUE(hid.ok) << std::hex << hid.error;
    EXPECT_EQ(hid.error, 0u);
    EXPECT_EQ(hid.catalogFile, Full("tidepoolhid.cat"));
    EXPECT_EQ(hid.digitalSigner, kWhcp);
    EXPECT_EQ(hid.signerVersion, "10.0");
}

TEST_F(RealPackages, CatalogNameMatchesIgnoringLetterCase) {
    // The INF names WinUSBInstallation.cat; the file is winusbinstallation.cat.
    const Answer a = Call(CopyPackage("tidepool-webusb-infonly-2024", "webusb.inf"));
    EXPECT_TRUE(a.ok) << std::hex << a.error;
    EXPECT_EQ(a.catalogFile, Full("winusbinstallation.cat"));
}

TEST_F(RealPackages, OsAttributeIsCheckedAgainstTheTargetPlatform) {
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

TEST_F(RealPackages, VendorPublisherIsTrustedButNotDriverSigned) {
    const std::string inf = CopyPackage("datalogic-usblan-win8-vendor-ev-2018", "datalogic.inf");
    auto win8 = AltPlatform(setupapi::kProcessorArchitectureAmd64, 6, 2);
    const Answer a = Call(inf, &win8);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, codes::kErrorAuthenticodeTrustNotEstablished);
    EXPECT_EQ(a.catalogFile, Full("datalogic.cat"));
    EXPECT_FALSE(a.digitalSigner.empty());
    EXPECT_NE(a.digitalSigner, kWhcp);
}

TEST_F(RealPackages, InfStoredWithOtherLineEndsIsNotAMember) {
    CopyPackage("ftdi-cdm-2.12.04-ftdiport-whql-2015", "ftdiport.inf");
    const std::string lf = dir_ / "ftdiport.inf";
    test::CopyFile(test::RealworldDir() + "negative/ftdiport_as-stored-LF_ftdi-cdm.inf", lf);
    const Answer a = Call(lf);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, codes::kTrustENoSignature);
}

} // namespace
} // namespace halyard

// "/verify" end to end on real driver packages: the built program, its Setup API library and the
// trusted public roots.
#include "testkit.h"
#include "verify_folder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

namespace fs = std::filesystem;

using Lines = std::vector<std::string>;

using test::VerifyFolder;

// Copies a real package whole (subfolders too) into a fresh folder.
void CopyPackage(const std::string& package, const std::string& to) {
    fs::copy(test::RealworldDir() + "packages/" + package, to, fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(to)) {
        fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
    }
}

class VerifyModeRealworld : public ::testing::Test {
protected:
    void SetUp() override {
        HALYARD_NEED_REALWORLD();
        ASSERT_TRUE(
            fs::exists(test::BinDir() + "trust/microsoft-root-certificate-authority-2010.pem"))
            << "the public roots belong in the build's trust folder";
    }
    test::TempDir tmp_;
};

TEST_F(VerifyModeRealworld, InfOnlyWhcpPackagesSucceed) {
    for (const char* package : {"tidepool-hid-infonly-2024", "tidepool-webusb-infonly-2024"}) {
        const std::string folder = tmp_ / package;
        CopyPackage(package, folder);
        EXPECT_EQ(VerifyFolder(folder), Lines{"success"}) << package;
    }
}

TEST_F(VerifyModeRealworld, VendorSignedPackagesAreIgnored) {
    // Their PE files lie in subfolders; only the top-level INF and catalog count.
    for (const char* package :
         {"datalogic-usblan-win7-vendor-ev-2018", "datalogic-usblan-win8-vendor-ev-2018"}) {
        const std::string folder = tmp_ / package;
        CopyPackage(package, folder);
        const Lines lines = VerifyFolder(folder);
        ASSERT_EQ(lines.size(), 2u) << package;
        EXPECT_TRUE(lines[0].starts_with("VerifyInfAndCat: ")) << lines[0];
        EXPECT_EQ(lines[1], "ignore") << package;
    }
}

TEST_F(VerifyModeRealworld, InfStoredWithLfLineEndsIsNotInItsCatalog) {
    // Only the CRLF form was signed. (The Prolific INF of the same kind has no catalog here.)
    for (const char* name : {"ftdibus", "ftdiport"}) {
        const std::string folder = tmp_ / name;
        test::CopyFile(test::RealworldDir() + "negative/" + name + "_as-stored-LF_ftdi-cdm.inf",
                       folder + "/" + name + ".inf");
        test::CopyFile(test::RealworldDir() + "packages/ftdi-cdm-2.12.04-" + name + "-whql-2015/" +
                           name + ".cat",
                       folder + "/" + name + ".cat");
        EXPECT_EQ(
            VerifyFolder(folder),
            (Lines{"VerifyInfAndCat: SetupVerifyInfFile fail; Params: " + folder + "/" + name +
                       ".inf; Last error: 800B0100 No signature was present in the "
                       "subject",
                   "wrong:Unknown error 800B0100", "fail"}))
            << name;
    }
}

TEST_F(VerifyModeRealworld, CatalogsForEarlierWindowsAreIgnored) {
    // Signed for 6.1 to 6.3; the platform is 10.0.
    const std::string folder = tmp_ / "ftdi";
    CopyPackage("ftdi-cdm-2.12.04-ftdibus-whql-2015", folder);
    EXPECT_EQ(VerifyFolder(folder),
              (Lines{"VerifyInfAndCat: SetupVerifyInfFile fail; Params: " + folder +
                         "/ftdibus.inf; Last error: E0000244 The signature's operating-system "
                         "attribute does not match this platform",
                     "ignore"}));
}

} // namespace
} // namespace halyard

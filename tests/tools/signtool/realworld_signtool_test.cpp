// The POSIX SignTool stand-in, copied beside a trust folder holding the public roots, on real
// WHCP and vendor catalogs and packages, as the SignTool checks read its reports.
#include "external/process/dos_output.h"
#include "report/output.h"
#include "standin_copy.h"
#include "testkit.h"
#include "verify/signtool_checks.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class StandIn : public ::testing::Test {
protected:
    void SetUp() override {
        HALYARD_NEED_REALWORLD();
        ASSERT_TRUE(fs::exists(test::BinDir() + "SignTool.exe"));
        program = test::CopyStandInWithPublicRoots(bin);
    }

    // The checks' command lines, run with this copy of the stand-in.
    SigntoolRunner runner() const {
        return [this](const std::string& commandLine, const std::string& folder) {
            const std::string name = "SignTool.exe";
            EXPECT_EQ(commandLine.rfind(name, 0), 0u);
            return GetDosOutput("\"" + program + "\"" + commandLine.substr(name.size()), folder);
        };
    }

    std::string Copy(const std::string& realworldPath) {
        const std::string to = work / fs::path(realworldPath).filename().string();
        test::CopyFile(test::RealworldDir() + realworldPath, to);
        return to;
    }

    test::TempDir bin;
    test::TempDir work;
    std::string program;
};

TEST_F(StandIn, CatalogReportHasTheShapeTheCheckReadsOnRealWhcpCatalogs) {
    for (const char* cat : {"catalogs/tidepool-phdc-2024/phdc_driver.cat",
                            "catalogs/tidepool-vcp-2024/tidepoolvcp.cat",
                            "packages/tidepool-ftdibus-2024/ftdibus.cat",
                            "packages/tidepool-ftdiport-2024/ftdiport.cat",
                            "packages/tidepool-hid-infonly-2024/tidepoolhid.cat",
                            "packages/tidepool-webusb-infonly-2024/winusbinstallation.cat",
                            "packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat"}) {
        const std::string path = Copy(cat);
        const test::RunResult raw = test::Run(program, {"verify", "/v", "/kp", path}, work.path());
        EXPECT_EQ(raw.exitCode, 0) << cat << "\n" << raw.output;
        const Lines lines = SplitSigntoolOutput(raw.output);
        ASSERT_EQ(lines.size(), 100u) << cat << "\n" << raw.output;
        EXPECT_EQ(lines[0], "Verifying: " + path);
        EXPECT_EQ(lines[54], "            Issued to: Microsoft Time-Stamp Service") << cat;

        OutputCapture capture;
        EXPECT_TRUE(VerifyCatWithSigntool(path, work.path(), runner())) << cat;
        EXPECT_TRUE(capture.lines().empty()) << capture.text();
    }
}

TEST_F(StandIn, FileReportOnARealPackage) {
    const std::string pkg = test::RealworldDir() + "packages/tidepool-ftdibus-2024";
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(pkg)) {
        if (e.is_regular_file()) {
            // A folder name outside ASCII and outside Windows-1252 comes back whole.
            const std::string to = work / ("caf\xC3\xA9-\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82/" +
                                           fs::relative(e.path(), pkg).string());
            test::CopyFile(e.path().string(), to);
            if (e.path().extension() != ".cat") {
                files.push_back(to);
            }
        }
    }
    ASSERT_GE(files.size(), 5u);
    const std::string cat =
        work / "caf\xC3\xA9-\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82/ftdibus.cat";
    const test::RunResult raw =
        test::Run(program, {"verify", "/kp", "/c", cat, files.front()}, work.path());
    EXPECT_EQ(raw.exitCode, 0);
    // The stand-in, a POSIX console program, writes UTF-8.
    EXPECT_EQ(SplitSigntoolOutput(raw.output),
              (Lines{"Verifying: " + files.front(), "Successfully verified: " + files.front()}));

    OutputCapture capture;
    EXPECT_TRUE(VerifyFilesWithSigntool(files, cat, work.path(), runner()));
    EXPECT_TRUE(capture.lines().empty()) << capture.text();
}

TEST_F(StandIn, FailuresAreSigntoolErrors) {
    const std::string cat = Copy("packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat");
    const std::string inf = Copy("negative/ftdibus_as-stored-LF_ftdi-cdm.inf");
    test::RunResult raw = test::Run(program, {"verify", "/kp", "/c", cat, inf}, work.path());
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_NE(raw.output.find("SignTool Error: WinVerifyTrust returned error: 0x800B0100"),
              std::string::npos)
        << raw.output;
    {
        OutputCapture capture;
        EXPECT_FALSE(VerifyFilesWithSigntool({inf}, cat, work.path(), runner()));
        EXPECT_EQ(capture.lines(), Lines{"SignTool failed for " + inf});
    }

    // A vendor-signed catalog verifies, but not as the hardware publisher's.
    const std::string vendor = Copy("packages/datalogic-usblan-win8-vendor-ev-2018/datalogic.cat");
    {
        OutputCapture capture;
        EXPECT_FALSE(VerifyCatWithSigntool(vendor, work.path(), runner()));
        ASSERT_EQ(capture.lines().size(), 1u);
        EXPECT_EQ(capture.lines()[0].rfind("SignTool failed 24:             Issued to: ", 0), 0u)
            << capture.lines()[0];
    }

    // Without trusted roots the catalog does not verify at all.
    fs::remove_all(bin / "trust");
    raw = test::Run(program, {"verify", "/v", "/kp", cat}, work.path());
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_NE(raw.output.find("SignTool Error: "), std::string::npos);
    EXPECT_NE(raw.output.find("Number of errors: 1"), std::string::npos);
    OutputCapture capture;
    EXPECT_FALSE(VerifyCatWithSigntool(cat, work.path(), runner()));
    EXPECT_EQ(capture.lines(), Lines{"SignTool failed for " + cat});
}

// Vendor catalogs of 2014 whose publisher has expired since: their legacy time stamp holds (its
// RSA block holds the bare digest), so SignTool verifies them and the check goes on to the
// publisher, where a vendor fails as on Windows.
TEST_F(StandIn, ExpiredVendorCatalogsWithALegacyTimeStampReachThePublisherCheck) {
    for (const char* cat : {"catalogs/google-usb-driver-2014/androidwinusb86.cat",
                            "catalogs/google-usb-driver-2014/androidwinusba64.cat"}) {
        const std::string path = Copy(cat);
        const test::RunResult raw = test::Run(program, {"verify", "/v", "/kp", path}, work.path());
        EXPECT_EQ(raw.exitCode, 0) << raw.output;
        const Lines lines = SplitSigntoolOutput(raw.output);
        ASSERT_EQ(lines.size(), 100u) << raw.output;
        EXPECT_EQ(lines[54], "            Issued to: Symantec Time Stamping Services Signer - G4");
        EXPECT_EQ(lines[92], "Successfully verified: " + path);

        OutputCapture capture;
        EXPECT_FALSE(VerifyCatWithSigntool(path, work.path(), runner()));
        EXPECT_EQ(capture.lines(), Lines{"SignTool failed 24:             Issued to: Google Inc"});
    }
}

} // namespace
} // namespace halyard

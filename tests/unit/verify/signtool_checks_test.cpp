// The SignTool checks on crafted reports (exact messages and command lines), and the POSIX
// SignTool stand-in on real WHCP catalogs and packages.
#include "base/unicode.h"
#include "external/process/dos_output.h"
#include "report/output.h"
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

// SignTool's line ends: text lines CR CR LF, "Verifying:", the time-stamp line and blank lines
// CR LF.
struct Report {
    std::string text;
    void line(const std::string& s) { text += s + "\r\r\n"; }
    void plain(const std::string& s) { text += s + "\r\n"; }
    void chain(const std::vector<std::string>& names) {
        std::string indent = "    ";
        for (const auto& name : names) {
            line(indent + "Issued to: " + name);
            line(indent + "Issued by: someone");
            line(indent + "Expires:   Sun Jun 24 01:34:01 2035");
            line(indent + "SHA1 hash: 3B1EFD3A66EA28B16697394703A72CA340A05BD5");
            plain("");
            indent += "    ";
        }
    }
};

const std::vector<std::string> kSigning = {"Microsoft Root Certificate Authority 2010",
                                           "Microsoft Windows Third Party Component CA 2014",
                                           "Microsoft Windows Hardware Compatibility Publisher"};
const std::vector<std::string> kStamp3 = {"Microsoft Root Certificate Authority 2010",
                                          "Microsoft Time-Stamp PCA 2010",
                                          "Microsoft Time-Stamp Service"};
const std::vector<std::string> kStamp2 = {"Thawte Timestamping CA",
                                          "VeriSign Time Stamping Service"};

std::string CatalogReport(const std::string& cat, const std::vector<std::string>& signing,
                          const std::vector<std::string>& stamp, int errors = 0) {
    Report r;
    r.plain("Verifying: " + cat);
    r.line("Hash of file (sha1): 179CA952757DE0E89316C2AC1BC6F4DE6E78E4CF");
    r.plain("");
    r.line("Signing Certificate Chain:");
    r.chain(signing);
    r.plain("The signature is timestamped: Tue Sep 24 09:00:40 2024");
    r.line("Timestamp Verified by:");
    r.chain(stamp);
    r.line("Cross Certificate Chain:");
    r.chain(signing);
    r.line("Successfully verified: " + cat);
    r.plain("");
    r.line("Number of files successfully Verified: 1");
    r.line("Number of warnings: 0");
    r.line("Number of errors: " + std::to_string(errors));
    return r.text;
}

// A runner that answers with fixed texts and records the command lines.
struct FakeSigntool {
    std::vector<std::string> answers;
    std::vector<std::string> commands;
    std::vector<std::string> works;
    SigntoolRunner runner() {
        return [this](const std::string& commandLine, const std::string& folder) {
            commands.push_back(commandLine);
            works.push_back(folder);
            const std::size_t i = commands.size() - 1;
            return i < answers.size() ? answers[i] : std::string();
        };
    }
};

const std::string kCat = "/w/pkg/driver.cat";
const std::string kWork = "/w/pkg/";

TEST(SplitSigntoolOutput, TrimsThenCutsAtEveryLineEnd) {
    EXPECT_EQ(SplitSigntoolOutput(""), Lines{});
    EXPECT_EQ(SplitSigntoolOutput(" \r\n\t\r\n"), Lines{});
    EXPECT_EQ(SplitSigntoolOutput("\r\n  a\r\r\nb\rc\n\nd\r\n\r\n"),
              (Lines{"a", "", "b", "c", "", "d"}));
}

TEST(VerifyCatWithSigntool, AcceptsTheHundredAndNinetyOneLineShapes) {
    FakeSigntool fake;
    fake.answers = {CatalogReport(kCat, kSigning, kStamp3),
                    "\r\n\r\n" + CatalogReport(kCat, kSigning, kStamp2) + "\r\n \r\n"};
    ASSERT_EQ(SplitSigntoolOutput(fake.answers[0]).size(), 100u);
    ASSERT_EQ(SplitSigntoolOutput(fake.answers[1]).size(), 91u);
    OutputCapture capture;
    EXPECT_TRUE(VerifyCatWithSigntool(kCat, kWork, fake.runner()));
    EXPECT_TRUE(VerifyCatWithSigntool(kCat, kWork, fake.runner()));
    EXPECT_TRUE(capture.lines().empty());
    EXPECT_EQ(fake.commands[0], "SignTool.exe verify /v /kp \"/w/pkg/driver.cat\"");
    EXPECT_EQ(fake.works[0], kWork);
}

TEST(VerifyCatWithSigntool, WritesOneExactLineAtTheFirstDifference) {
    const auto run = [](const std::string& output) {
        FakeSigntool fake;
        fake.answers = {output};
        OutputCapture capture;
        EXPECT_FALSE(VerifyCatWithSigntool(kCat, kWork, fake.runner()));
        return capture.lines();
    };
    EXPECT_EQ(run(""), Lines{"SignTool failed for " + kCat});
    EXPECT_EQ(run(CatalogReport(kCat, kSigning, kStamp3) + "Extra line\r\n"),
              Lines{"SignTool failed for " + kCat});

    std::vector<std::string> vendor = kSigning;
    vendor[2] = "Contoso, Inc";
    EXPECT_EQ(run(CatalogReport(kCat, vendor, kStamp3)),
              Lines{"SignTool failed 24:             Issued to: Contoso, Inc"});

    // VeriSign's 91-line name is not accepted at line 54 of a 100-line report.
    std::vector<std::string> stamp = kStamp3;
    stamp[2] = "VeriSign Time Stamping Service";
    EXPECT_EQ(run(CatalogReport(kCat, kSigning, stamp)),
              Lines{"SignTool failed 54:             Issued to: VeriSign Time Stamping Service"});
    std::vector<std::string> stamp2 = kStamp2;
    stamp2[1] = "VeriSign Time Stamping Services Signer";
    EXPECT_EQ(
        run(CatalogReport(kCat, kSigning, stamp2)),
        Lines{"SignTool failed 45:         Issued to: VeriSign Time Stamping Services Signer"});

    EXPECT_EQ(run(CatalogReport("/W/PKG/DRIVER.CAT", kSigning, kStamp3)),
              Lines{"SignTool failed: Successfully verified: /W/PKG/DRIVER.CAT"});
    EXPECT_EQ(run(CatalogReport(kCat, kSigning, kStamp3, 1)),
              Lines{"SignTool failed: Number of errors: 1"});
}

TEST(VerifyFilesWithSigntool, EachFileNeedsTheTwoLineReport) {
    const std::vector<std::string> files = {"/w/pkg/a.sys", "/w/pkg/sub/b.inf"};
    const auto good = [](const std::string& f) {
        return "Verifying: " + f + "\r\nSuccessfully verified: " + f + "\r\r\n";
    };
    {
        FakeSigntool fake;
        fake.answers = {good(files[0]), good(files[1])};
        OutputCapture capture;
        EXPECT_TRUE(VerifyFilesWithSigntool(files, kCat, kWork, fake.runner()));
        EXPECT_TRUE(capture.lines().empty());
        EXPECT_EQ(fake.commands,
                  (Lines{"SignTool.exe verify /kp /c \"/w/pkg/driver.cat\" \"/w/pkg/a.sys\"",
                         "SignTool.exe verify /kp /c \"/w/pkg/driver.cat\" \"/w/pkg/sub/b.inf\""}));
        EXPECT_EQ(fake.works, (Lines{kWork, kWork}));
    }
    const auto fails = [&](const std::vector<std::string>& answers, std::size_t runs) {
        FakeSigntool fake;
        fake.answers = answers;
        OutputCapture capture;
        EXPECT_FALSE(VerifyFilesWithSigntool(files, kCat, kWork, fake.runner()));
        EXPECT_EQ(fake.commands.size(), runs);
        return capture.lines();
    };
    EXPECT_EQ(fails({""}, 1), Lines{"SignTool failed for /w/pkg/a.sys"});
    EXPECT_EQ(
        fails({good(files[0]), "Verifying: x\r\nSuccessfully verified: /W/PKG/SUB/B.INF\r\n"}, 2),
        Lines{"SignTool failed: Successfully verified: /W/PKG/SUB/B.INF"});
    EXPECT_EQ(fails({"Verifying: x\r\nSuccessfully verified: /w/pkg/a.sys\r\r\n"
                     "SignTool Warning: something\r\r\n"},
                    1),
              Lines{"SignTool failed for /w/pkg/a.sys"});
}

// ---------------------------------------------------------------------------------------------
// The stand-in, copied beside a trust folder holding the public roots.

class StandIn : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::RealworldAvailable() || !fs::exists(test::BinDir() + "SignTool.exe")) {
            GTEST_SKIP() << "real-world samples or the stand-in are missing";
        }
        program = bin / "SignTool.exe";
        test::CopyFile(test::BinDir() + "SignTool.exe", program);
        fs::permissions(program, fs::perms::owner_exec, fs::perm_options::add);
        fs::create_directories(bin / "trust");
        for (const auto& e : fs::directory_iterator(test::RealworldDir() + "certs/roots")) {
            test::CopyFile(e.path().string(), bin / ("trust/" + e.path().filename().string()));
        }
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

TEST_F(StandIn, UsageErrors) {
    test::RunResult raw = test::Run(program, {});
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_EQ(raw.output.rfind("SignTool Error: A required parameter is missing.", 0), 0u);
    raw = test::Run(program, {"verify", "/kp"});
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_EQ(raw.output.rfind("SignTool Error: Missing filename.", 0), 0u);
    raw = test::Run(program, {"verify", "/kp", "/c", work / "none.cat", work / "none.sys"});
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_NE(raw.output.find("SignTool Error: File not found: " + (work / "none.sys")),
              std::string::npos);
}

} // namespace
} // namespace halyard

// The SignTool checks on crafted reports: exact messages and command lines.
#include "report/output.h"
#include "verify/signtool_checks.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace halyard {
namespace {

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

// Starts side by side: a runner that answers per file, after waiting until as many calls as
// expected are inside it at once (or a while, when they never are).
struct ParallelSigntool {
    std::map<std::string, std::string> answers; // by the command's last argument
    std::size_t meet = 1;
    std::mutex lock;
    std::condition_variable changed;
    std::size_t inside = 0;
    std::size_t most = 0;
    std::vector<std::string> files;
    SigntoolRunner runner() {
        return [this](const std::string& commandLine, const std::string&) {
            const std::size_t open = commandLine.rfind(" \"");
            const std::string file = commandLine.substr(open + 2, commandLine.size() - open - 3);
            std::unique_lock hold(lock);
            files.push_back(file);
            most = std::max(most, ++inside);
            changed.notify_all();
            changed.wait_for(hold, std::chrono::seconds(5), [this] { return most >= meet; });
            --inside;
            const auto it = answers.find(file);
            return it == answers.end() ? std::string() : it->second;
        };
    }
};

TEST(VerifyFilesWithSigntool, StartsSideBySideAndJudgesInTheFilesOrder) {
    const std::vector<std::string> files = {"/w/a.sys", "/w/b.sys", "/w/c.sys", "/w/d.sys",
                                            "/w/e.sys", "/w/f.sys", "/w/g.sys"};
    const auto good = [](const std::string& f) {
        return "Verifying: " + f + "\r\nSuccessfully verified: " + f + "\r\r\n";
    };
    {
        ParallelSigntool fake;
        fake.meet = 3;
        for (const auto& f : files) {
            fake.answers[f] = good(f);
        }
        OutputCapture capture;
        EXPECT_TRUE(VerifyFilesWithSigntool(files, kCat, kWork, fake.runner(), 3));
        EXPECT_TRUE(capture.lines().empty());
        EXPECT_EQ(fake.most, 3u); // never more than asked for
        std::sort(fake.files.begin(), fake.files.end());
        EXPECT_EQ(fake.files, files); // each file once
    }
    // c and e fail; whichever answers first, c is the finding, as in a one-by-one run, and no
    // start is made past the window that c closes.
    for (const std::size_t atOnce : {1u, 2u, 4u}) {
        ParallelSigntool fake;
        fake.meet = atOnce;
        for (const auto& f : files) {
            fake.answers[f] = good(f);
        }
        fake.answers["/w/c.sys"] = "Verifying: x\r\nSignTool Error: c\r\n";
        fake.answers["/w/e.sys"] = "";
        OutputCapture capture;
        EXPECT_FALSE(VerifyFilesWithSigntool(files, kCat, kWork, fake.runner(), atOnce));
        EXPECT_EQ(capture.lines(), Lines{"SignTool failed: SignTool Error: c"}) << atOnce;
        EXPECT_LE(fake.files.size(), 3 + atOnce - 1) << atOnce;
        EXPECT_GE(fake.files.size(), 3u) << atOnce;
    }
}

} // namespace
} // namespace halyard

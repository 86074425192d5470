// The stand-in's verbose catalog report against real SignTool transcripts: on real WHCP catalogs
// it must print the sections, the "Issued to"/"Issued by" pairs with their indentation and the
// closing counters exactly as the published reports of the same kind of catalog show them; and
// the rules every published chain obeys (each block indented four blanks deeper, the first one
// self-issued, each next one issued by the one above) must hold in every report it prints. The
// lines are read here by splitting at LF and dropping trailing CRs and blanks, not by our own
// SignTool output parser.
#include "base/codes.h"
#include "standin_copy.h"
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Lines SplitText(const std::string& text) {
    Lines lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        line.erase(line.find_last_not_of(" \r") + 1);
        lines.push_back(line);
    }
    return lines;
}

// The report's skeleton: section headers, the chains' "Issued to"/"Issued by" lines as they
// stand, the closing lines and counters; file names and dates replaced by placeholders.
Lines Skeleton(const Lines& lines) {
    static const std::regex kept(R"((Signing Certificate Chain:|Timestamp Verified by:|)"
                                 R"(Cross Certificate Chain:|Number of .*|\s+Issued (to|by): .*))");
    Lines out;
    for (const auto& line : lines) {
        if (line.starts_with("Verifying: ")) {
            out.push_back("Verifying: <file>");
        } else if (line.starts_with("Successfully verified: ")) {
            out.push_back("Successfully verified: <file>");
        } else if (line.starts_with("The signature is timestamped: ")) {
            out.push_back("The signature is timestamped: <date>");
        } else if (std::regex_match(line, kept)) {
            out.push_back(line);
        }
    }
    return out;
}

// Every chain of a skeleton obeys SignTool's layout; the reason of the first breach, or empty.
std::string ChainBreach(const Lines& skeleton) {
    static const std::regex issued(R"(( +)Issued (to|by): (.*))");
    std::string above; // the "Issued to" of the block above in this chain
    std::size_t depth = 0;
    for (std::size_t i = 0; i < skeleton.size(); ++i) {
        std::smatch m;
        if (!std::regex_match(skeleton[i], m, issued)) {
            above.clear();
            depth = 0;
            continue;
        }
        if (m[2] != "to") {
            return "an \"Issued by\" without its \"Issued to\": " + skeleton[i];
        }
        const std::string indent = m[1];
        const std::string to = m[3];
        if (indent.size() != 4 * (depth + 1)) {
            return "block " + std::to_string(depth) + " indented " + std::to_string(indent.size()) +
                   ": " + skeleton[i];
        }
        if (i + 1 == skeleton.size() || !std::regex_match(skeleton[i + 1], m, issued) ||
            m[2] != "by" || m[1] != indent) {
            return "no \"Issued by\" at the same indentation after: " + skeleton[i];
        }
        const std::string by = m[3];
        if (by != (depth == 0 ? to : above)) {
            return "\"" + to + "\" issued by \"" + by + "\", expected \"" +
                   (depth == 0 ? to : above) + "\"";
        }
        above = to;
        ++depth;
        ++i;
    }
    return {};
}

// Every line of a report with its values replaced by placeholders: names, dates, digests and
// paths go, the labels, their spacing and indentation and the blank lines stay.
Lines Shape(const Lines& lines) {
    static const std::regex date(R"([A-Z][a-z]{2} [A-Z][a-z]{2} \d{2} \d{2}:\d{2}:\d{2} \d{4})");
    static const std::regex issued(R"((\s+)(Issued to|Issued by): \S.*)");
    static const std::regex expires(R"((\s+)Expires:   (.*))");
    static const std::regex sha1(R"((\s+)SHA1 hash: [0-9A-F]{40})");
    static const std::regex fileHash(R"(Hash of file \((sha1|sha256)\): ([0-9A-F]+))");
    static const std::regex named(
        R"((Verifying|File is signed in catalog|Successfully verified): \S.*)");
    static const std::regex error(
        R"(SignTool Error: WinVerifyTrust returned error: 0x[0-9A-F]{8})");
    static const std::regex errorText(R"( {8}\S.*)");
    Lines out;
    for (const auto& line : lines) {
        std::smatch m;
        if (std::regex_match(line, m, issued)) {
            out.push_back(m[1].str() + m[2].str() + ": <name>");
        } else if (std::regex_match(line, m, expires)) {
            out.push_back(m[1].str() + "Expires:   " +
                          (std::regex_match(m[2].str(), date) ? "<date>" : m[2].str()));
        } else if (std::regex_match(line, m, sha1)) {
            out.push_back(m[1].str() + "SHA1 hash: <hex>");
        } else if (std::regex_match(line, m, fileHash)) {
            const bool fits = m[2].length() == (m[1] == "sha1" ? 40 : 64);
            out.push_back(fits ? "Hash of file (<alg>): <digest>" : line);
        } else if (line.starts_with("The signature is timestamped: ") &&
                   std::regex_match(line.substr(30), date)) {
            out.push_back("The signature is timestamped: <date>");
        } else if (std::regex_match(line, m, named)) {
            out.push_back(m[1].str() + ": <file>");
        } else if (std::regex_match(line, error)) {
            out.push_back("SignTool Error: WinVerifyTrust returned error: <code>");
        } else if (std::regex_match(line, errorText)) {
            out.push_back("        <text>");
        } else {
            out.push_back(line);
        }
    }
    return out;
}

// A published run without the command line (after the shell's prompt, if any) and the blank
// line after it.
Lines WithoutCommandLine(Lines lines) {
    if (!lines.empty() && lines.front().find("signtool") != std::string::npos &&
        lines.front().find(" verify ") != std::string::npos) {
        lines.erase(lines.begin(), lines.begin() + (lines.size() > 1 && lines[1].empty() ? 2 : 1));
    }
    return lines;
}

// Published reports of a whole verbose run, not reflowed; the WHCP ones are of the same kind of
// catalog as the samples below (publisher, time-stamp and cross chains).
const char* const kWhcpTranscripts[] = {
    "belcarra-2026-03-19_signtool-verify-v-kp_belcarra.cat_FILTERED.txt",
    "belcarrademo-2026-02-12_signtool-verify-v-kp_belcarrademo.cat_FILTERED.txt",
};
const char* const kOtherTranscripts[] = {
    "notepad_signtool-verify-a-v_catalog-signed-system-file.txt",
    "seisware_signtool-verify-pa-v_exe-and-msi_win10sdk-19041.txt",
};
// Real WHCP catalogs signed in 2024 under the chains the transcripts show.
const char* const kWhcpCatalogs[] = {
    "catalogs/tidepool-phdc-2024/phdc_driver.cat",
    "catalogs/tidepool-vcp-2024/tidepoolvcp.cat",
    "packages/tidepool-ftdibus-2024/ftdibus.cat",
    "packages/tidepool-ftdiport-2024/ftdiport.cat",
    "packages/tidepool-hid-infonly-2024/tidepoolhid.cat",
    "packages/tidepool-webusb-infonly-2024/winusbinstallation.cat",
};

class StandInTranscripts : public ::testing::Test {
protected:
    void SetUp() override {
        HALYARD_NEED_REALWORLD();
        ASSERT_TRUE(fs::exists(test::BinDir() + "SignTool.exe"));
        program = test::CopyStandInWithPublicRoots(bin);
    }

    static Lines Transcript(const std::string& name) {
        return SplitText(test::ReadFile(test::RealworldDir() + "transcripts/" + name));
    }

    // The stand-in's `verify /v /kp` report on a copy of a sample catalog.
    Lines Report(const std::string& sample) {
        const std::string cat = work / fs::path(sample).filename().string();
        test::CopyFile(test::RealworldDir() + sample, cat);
        const test::RunResult r = test::Run(program, {"verify", "/v", "/kp", cat}, work.path());
        EXPECT_EQ(r.exitCode, 0) << sample << "\n" << r.output;
        return SplitText(r.output);
    }

    // The stand-in's `verify /v /pa /c CAT FILE` report, raw, on a copy of a sample package.
    test::RunResult MemberReport(const std::string& package, const std::string& cat,
                                 const std::string& file) {
        for (const auto& e : fs::recursive_directory_iterator(test::RealworldDir() + package)) {
            if (e.is_regular_file()) {
                test::CopyFile(e.path().string(),
                               work /
                                   fs::relative(e.path(), test::RealworldDir() + package).string());
            }
        }
        return test::Run(program, {"verify", "/v", "/pa", "/c", cat, file}, work.path());
    }

    test::TempDir bin;
    test::TempDir work;
    std::string program;
};

TEST_F(StandInTranscripts, WhcpCatalogReportsHaveTheSkeletonOfThePublishedOnes) {
    const Lines expected = Skeleton(Transcript(kWhcpTranscripts[0]));
    ASSERT_EQ(expected.size(), 27u); // the transcript as this test reads it
    for (const char* name : kWhcpTranscripts) {
        EXPECT_EQ(Skeleton(Transcript(name)), expected) << name;
    }
    for (const char* cat : kWhcpCatalogs) {
        EXPECT_EQ(Skeleton(Report(cat)), expected) << cat;
    }
}

TEST_F(StandInTranscripts, EveryChainIsLaidOutAsSigntoolLaysItOut) {
    // The rules hold in every published report this test reads...
    for (const auto& list :
         {std::vector<const char*>(std::begin(kWhcpTranscripts), std::end(kWhcpTranscripts)),
          std::vector<const char*>(std::begin(kOtherTranscripts), std::end(kOtherTranscripts))}) {
        for (const char* name : list) {
            const Lines skeleton = Skeleton(Transcript(name));
            EXPECT_GE(skeleton.size(), 10u) << name;
            EXPECT_EQ(ChainBreach(skeleton), "") << name;
        }
    }
    // ...and in the stand-in's on every real signed catalog it verifies, WHCP, WHQL and vendor.
    for (const char* cat : {"packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat",
                            "packages/datalogic-usblan-win8-vendor-ev-2018/datalogic.cat",
                            "catalogs/google-usb-driver-2014/androidwinusb86.cat",
                            "catalogs/seeed-usb-serial-2024/seeed_usb_serial.cat"}) {
        const std::string path = test::RealworldDir() + cat;
        if (!fs::exists(path)) {
            ADD_FAILURE() << "sample missing: " << path;
            continue;
        }
        const Lines skeleton = Skeleton(Report(cat));
        EXPECT_EQ(ChainBreach(skeleton), "") << cat;
        ASSERT_GE(skeleton.size(), 4u) << cat;
        EXPECT_EQ(
            Lines(skeleton.end() - 4, skeleton.end()),
            (Lines{"Successfully verified: <file>", "Number of files successfully Verified: 1",
                   "Number of warnings: 0", "Number of errors: 0"}))
            << cat;
    }
    for (const char* cat : kWhcpCatalogs) {
        EXPECT_EQ(ChainBreach(Skeleton(Report(cat))), "") << cat;
    }
}

// A certificate that a published report shows by its SHA-1 hash is named there as the stand-in
// must name it.
TEST_F(StandInTranscripts, CertificatesSeenInTranscriptsCarryTheSameNames) {
    // SHA-1 hash -> "Issued to" and "Issued by" (without indentation), from the transcripts.
    const std::regex to(R"(\s+Issued to: (.*))"), by(R"(\s+Issued by: (.*))"),
        hash(R"(\s+SHA1 hash: ([0-9A-F]{40}))");
    const auto blocks = [&](const Lines& lines) {
        std::map<std::string, std::pair<std::string, std::string>> out;
        std::string issuedTo, issuedBy;
        for (const auto& line : lines) {
            std::smatch m;
            if (std::regex_match(line, m, to)) {
                issuedTo = m[1];
            } else if (std::regex_match(line, m, by)) {
                issuedBy = m[1];
            } else if (std::regex_match(line, m, hash)) {
                out[m[1]] = {issuedTo, issuedBy};
            }
        }
        return out;
    };
    std::map<std::string, std::pair<std::string, std::string>> published;
    for (const char* name : kOtherTranscripts) {
        published.merge(blocks(Transcript(name)));
    }
    std::size_t compared = 0;
    for (const char* cat : kWhcpCatalogs) {
        for (const auto& [sha1, names] : blocks(Report(cat))) {
            const auto it = published.find(sha1);
            if (it != published.end()) {
                EXPECT_EQ(names, it->second) << cat << ": " << sha1;
                ++compared;
            }
        }
    }
    // Microsoft Root Certificate Authority 2010 and Microsoft Time-Stamp PCA 2010, at least.
    EXPECT_GE(compared, 2u);
}

// A catalog member's verbose report, every line of it: the published run verified a system file
// through its catalog with 3-certificate signing and time-stamp chains, as these packages have.
TEST_F(StandInTranscripts, MemberReportIsLaidOutLineByLineAsThePublishedOne) {
    const Lines published = Shape(WithoutCommandLine(
        Transcript("notepad_signtool-verify-a-v_catalog-signed-system-file.txt")));
    ASSERT_EQ(published.size(), 42u); // the transcript as this test reads it
    for (const auto& [package, cat, file] :
         {std::tuple{"packages/tidepool-ftdibus-2024", "ftdibus.cat", "ftdibus.inf"},
          std::tuple{"packages/ftdi-cdm-2.12.04-ftdibus-whql-2015", "ftdibus.cat",
                     "amd64/ftbusui.dll"}}) {
        const test::RunResult r = MemberReport(package, cat, file);
        EXPECT_EQ(r.exitCode, 0) << package << "\n" << r.output;
        EXPECT_EQ(Shape(SplitText(r.output)), published) << package << "\n" << r.output;

        // The ends a transcript cannot show: CR CR LF after a text line, CR LF after "Verifying:",
        // the time-stamp date and blank lines.
        std::istringstream raw(r.output);
        std::string line;
        while (std::getline(raw, line)) {
            const bool single = line == "\r" || line.starts_with("Verifying: ") ||
                                line.starts_with("The signature is timestamped: ");
            EXPECT_TRUE(line.ends_with(single ? "\r" : "\r\r")) << package << ": " << line;
            EXPECT_FALSE(line.ends_with(single ? "\r\r" : "\r\r\r")) << package << ": " << line;
        }
    }
}

// A failed member check: the published run (untrusted root) gives the code and the system's text
// for it indented by eight blanks; the stand-in, with no root trusted either, gives the code it
// finds and the code table's text for it.
TEST_F(StandInTranscripts, FailedMemberCheckEndsWithTheCodeAndItsText) {
    const Lines published = Shape(WithoutCommandLine(
        Transcript("vboxguest-notes_signtool-verify-pa-v-c_untrusted-root_DE.txt")));
    ASSERT_GE(published.size(), 4u);
    EXPECT_EQ(Lines(published.begin(), published.begin() + 4),
              (Lines{"Verifying: <file>", "File is signed in catalog: <file>",
                     "SignTool Error: WinVerifyTrust returned error: <code>", "        <text>"}));

    fs::remove_all(bin / "trust"); // no root is trusted
    const test::RunResult r =
        MemberReport("packages/tidepool-ftdibus-2024", "ftdibus.cat", "ftdibus.inf");
    EXPECT_EQ(r.exitCode, 1);
    const Lines lines = SplitText(r.output);
    const Lines shape = Shape(lines);
    // The stand-in adds the member's hash line and a blank line before the error; the published
    // run shows neither.
    ASSERT_GE(shape.size(), 6u) << r.output;
    EXPECT_EQ(Lines(shape.begin(), shape.begin() + 2),
              Lines(published.begin(), published.begin() + 2));
    EXPECT_EQ(Lines(shape.begin() + 2, shape.begin() + 4),
              (Lines{"Hash of file (<alg>): <digest>", ""}));
    EXPECT_EQ(Lines(shape.begin() + 4, shape.begin() + 6),
              Lines(published.begin() + 2, published.begin() + 4));
    // The text is the code table's text of the code named on the line above.
    const std::uint32_t code =
        static_cast<std::uint32_t>(std::stoul(lines[4].substr(49), nullptr, 16));
    EXPECT_EQ(lines[5], "        " + std::string(TextOfCode(code))) << r.output;
}

} // namespace
} // namespace halyard

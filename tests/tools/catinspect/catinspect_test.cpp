// catinspect end to end: its command line, the text report's lines (LF) with hand-written
// expectations, the per-file findings and the explanations of a failing package, and the JSON
// document read by a strict JSON parser.
#include "package_builder.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

constexpr const char* kWhcp = "Microsoft Windows Hardware Compatibility Publisher";

// catinspect's standard output alone (stderr is dropped), and its exit code.
struct Out {
    int exitCode = -1;
    std::string text;
    Lines lines; // split at LF
};

Out Catinspect(const std::vector<std::string>& args, const char* keep = "stdout",
               const std::string& workDir = {}) {
    std::vector<std::string> shellArgs = {
        "-c",
        std::string("exec \"$0\" \"$@\" ") +
            (std::string(keep) == "stdout" ? "2>/dev/null" : "2>&1 >/dev/null"),
        BinDir() + "catinspect"};
    shellArgs.insert(shellArgs.end(), args.begin(), args.end());
    const RunResult r = Run("/bin/sh", shellArgs, workDir);
    return Out{r.exitCode, r.output, LfLines(r.output)};
}

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

const JsonValue* FileRow(const JsonValue& json, const std::string& path) {
    for (const auto& file : json["files"].items) {
        if (file["path"].text == path) {
            return &file;
        }
    }
    return nullptr;
}

std::string Sha256Tag(const std::string& path) {
    return fixtures::HexUpper(fixtures::FileCatalogDigest(path, platform::DigestAlgorithm::Sha256));
}

// Packs the content folder again as it is now, without signing it anew.
void Repack(const PackageBuilder& pkg, const std::string& archive) {
    fs::remove(archive);
    const auto r = Run(SevenZip(), {"a", "-t7z", "-bd", "-y", archive, "*"}, pkg.contentDir());
    ASSERT_EQ(r.exitCode, 0) << r.output;
}

TEST(CatinspectCommandLine, HelpVersionAndUsageErrors) {
    const Out help = Catinspect({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_TRUE(help.text.starts_with("Usage: catinspect")) << help.text;
    EXPECT_EQ(help.text.find('\r'), std::string::npos);
    EXPECT_EQ(Catinspect({"-h"}).text, help.text);
    const Out version = Catinspect({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    // The same version as halyard's.
    const auto halyard = RunHalyard({"--version"});
    ASSERT_FALSE(halyard.lines.empty());
    EXPECT_EQ(version.lines, (Lines{"catinspect " + halyard.lines[0].substr(8)}));

    // Usage errors: nothing on standard output, a reason on standard error, exit code 2.
    const std::vector<std::vector<std::string>> misuses = {{},
                                                           {"--jsn"},
                                                           {"-x"},
                                                           {"--json", "x.cat"},
                                                           {"--package"},
                                                           {"--package", "a.7z", "b.7z"},
                                                           {"--json=1", "--package", "a.7z"}};
    for (const auto& args : misuses) {
        const Out out = Catinspect(args);
        EXPECT_EQ(out.exitCode, 2) << testing::PrintToString(args);
        EXPECT_EQ(out.text, "") << testing::PrintToString(args);
        const Out err = Catinspect(args, "stderr");
        EXPECT_TRUE(err.text.starts_with("catinspect: ")) << err.text;
    }
    EXPECT_EQ(Catinspect({"--jsn"}, "stderr").lines,
              (Lines{"catinspect: invalid option: --jsn",
                     "Try 'catinspect --help' for more information."}));
}

TEST(CatinspectCommandLine, FilesAgainstACatalogSayWhyAndSetTheExitCode) {
    TempDir dir;
    const std::string cat = SourceDir() + "examples/inf-folder/sample.cat";
    const std::string inf = SourceDir() + "examples/inf-folder/sample.inf";
    // A catalog that does not open: the reason on standard error, no row, exit code 1.
    const Out none = Catinspect({dir / "nosuch.cat", "/etc/hostname"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_EQ(none.text, "");
    EXPECT_EQ(Catinspect({dir / "nosuch.cat", "/etc/hostname"}, "stderr").lines,
              (Lines{"catinspect: cannot open " + (dir / "nosuch.cat") +
                     " as a catalog: 00000002 The system cannot find the file specified"}));

    // Options after the operands; a member passes, the others name their cause.
    WriteFile(dir / "other.txt", "not in the catalog");
    const Out rows = Catinspect({cat, inf, dir / "other.txt", dir / "absent.sys", "-v"});
    EXPECT_EQ(rows.exitCode, 1);
    EXPECT_EQ(rows.text.find('\r'), std::string::npos) << "lines end in LF";
    ASSERT_GE(rows.lines.size(), 3u);
    EXPECT_EQ(rows.lines[0], inf + " " + Sha256Tag(inf) + " 00000000");
    EXPECT_TRUE(Has(rows.lines, dir / "absent.sys" +
                                    " - FFFFFFFF cannot read the file: 00000002 The system cannot "
                                    "find the file specified"))
        << rows.text;
    const auto other = std::find_if(rows.lines.begin(), rows.lines.end(), [&](const auto& line) {
        return line.starts_with(dir / "other.txt ");
    });
    ASSERT_NE(other, rows.lines.end());
    EXPECT_TRUE(other->ends_with(" 800B0100 not a member of the catalog")) << *other;
    EXPECT_EQ(Catinspect({cat, inf}).exitCode, 0);

    // "--" ends the options: a file named "-v" is a file.
    WriteFile(dir / "-v", "x");
    const Out dashed = Catinspect({cat, "--", "-v"}, "stdout", dir.path());
    ASSERT_EQ(dashed.lines.size(), 1u) << dashed.text;
    EXPECT_TRUE(dashed.lines[0].starts_with("-v ")) << dashed.text;
}

class CatinspectPackage : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }

    struct Both {
        RunResult halyard;
        Out text;
        JsonValue json;
    };
    // halyard, the text report and the JSON report of one archive; the verdicts agree.
    static Both Inspect(const std::string& archive) {
        Both both;
        both.halyard = RunPackageCheck({archive});
        both.text = Catinspect({archive, "--package"});
        const Out json = Catinspect({"--json", "--package", archive});
        try {
            both.json = ParseJson(json.text);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what() << "\n" << json.text;
        }
        EXPECT_EQ(both.text.text.find('\r'), std::string::npos) << "lines end in LF";
        EXPECT_TRUE(both.text.text.ends_with("\n"));
        if (!both.text.lines.empty() && !both.halyard.lines.empty()) {
            EXPECT_EQ(both.text.lines.back(), both.halyard.lines.back());
        }
        return both;
    }
};

// Every step's row written out by hand for the committed example package.
TEST_F(CatinspectPackage, TheExamplePackageRowByRow) {
    TempDir dir;
    CopyFile(SourceDir() + "examples/sample-package.7z", dir / "sample-package.7z");
    const Both both = Inspect(dir / "sample-package.7z");
    EXPECT_EQ(both.text.exitCode, 0);
    const Lines expected = {
        "Package: " + (dir / "sample-package.7z"),
        "Catalog: sample.cat",
        "  signer:     Microsoft Windows Hardware Compatibility Publisher (valid until 2049-12-31 "
        "23:59:59 UTC)",
        "  chain:      Halyard Test Root CA > Halyard Test Code Signing CA > Microsoft Windows "
        "Hardware Compatibility Publisher",
        "  time stamp: 2019-06-01 12:34:56 UTC by Microsoft Time-Stamp Service",
        "  signature:  00000000 ok",
        "Files:",
        "  sample.inf  CDBE61F7F8AFB9CF914F3E852589CEE4C06586D58A7B851FF79E6B753F63BAC8  00000000  "
        "ok",
        "  x64/sample.sys  4D796895927FE6369F05DA6C8B423E8A268390B4AFA255957C9E94F68DAA8015  "
        "00000000  ok",
        "  x86/sample.sys  535E5BB95C7D4703C941068431D6FA29C3686DDD00783133F0DC3AFE19BB1838  "
        "00000000  ok",
        "Checks:",
        "  ok    UnZipFile: expected the archive unpacks, found unpacked",
        "  ok    Logs: expected InternalLogsDoNotCopyToProduction, found present",
        "  ok    GetDriverFiles: expected driver files, found 3 files",
        "  ok    Cat file: expected a catalog at the top level, found sample.cat",
        "  ok    VerifyAndGetHashes: expected every driver file a signed member, found all 3 do",
        "  ok    DateSign: expected 06-01-2019 12-34-56, found 06-01-2019 12-34-56",
        "  ok    TotalHashs: expected FFC1531B52982E85AB605E22373E42B4852D7E9C, found "
        "FFC1531B52982E85AB605E22373E42B4852D7E9C",
        "  ok    Inf file: expected an INF at the top level, found sample.inf",
        "  ok    ExtractParamsFromInf: expected DriverVer for section Install (64-bit), found read",
        "  ok    Version: expected 1.0.2.0, found 1.0.2",
        "  ok    Date: expected 06-01-2019, found 06-01-2019",
        "  ok    VerifyFilesWithSigntool: expected SignTool verifies every driver file, found "
        "verified",
        "  ok    VerifyCatWithSigntool: expected SignTool's report on the catalog, found as "
        "required",
        "  ok    OS: expected one of: 10_64 104_64 101_64 102_64 103_64, found 10_64",
        "success"};
    EXPECT_EQ(both.text.lines, expected);

    const JsonValue& json = both.json;
    ASSERT_EQ(json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(json["schema"].text, "1");
    EXPECT_EQ(json["cause"].kind, JsonValue::Kind::Null);
    EXPECT_EQ(json["catalog"]["timestamp"].text, "2019-06-01T12:34:56Z");
    EXPECT_EQ(json["catalog"]["signDate"].text, "2019-06-01T12:34:56Z");
    EXPECT_TRUE(json["catalog"]["accepted"].boolean);
    EXPECT_EQ(json["catalog"]["chain"].items.at(2)["notAfter"].text, "2049-12-31T23:59:59Z");
}

// Files that share a name in different folders are told apart by their tags.
TEST_F(CatinspectPackage, MembersOfTheSameNameAreMatchedByTag) {
    PackageBuilder pkg;
    fixtures::PeOptions amd64;
    amd64.pe32Plus = true;
    pkg.addPe("amd64/ftlang.dll", amd64);
    pkg.addPe("i386/ftlang.dll");
    pkg.addPe("i386/ftbusui.dll", [] {
        fixtures::PeOptions o;
        o.fill = 0x21;
        return o;
    }());
    const std::string archive = pkg.pack();
    const std::string i386Tag = Sha256Tag(pkg.contentDir() + "i386/ftlang.dll");
    const std::string uiTag = Sha256Tag(pkg.contentDir() + "i386/ftbusui.dll");
    {
        // One of the two is deleted.
        fs::remove(pkg.contentDir() + "i386/ftlang.dll");
        Repack(pkg, archive);
        const Both both = Inspect(archive);
        EXPECT_EQ(both.text.exitCode, 1);
        EXPECT_TRUE(Has(both.text.lines,
                        "  ftlang.dll  " + i386Tag + "  FFFFFFFF  FAIL missing from the package"))
            << both.text.text;
        ASSERT_EQ(both.json.kind, JsonValue::Kind::Object);
        EXPECT_EQ(both.json["verdict"].text, "wrong:TotalHashs incorrect");
        int missing = 0;
        for (const auto& file : both.json["files"].items) {
            missing += file["reason"].text == "missing from the package" ? 1 : 0;
        }
        EXPECT_EQ(missing, 1) << "a SHA-1 shadow member is no file of its own";
    }
    {
        // The other one changed as well, and another file is gone: one changed, two missing.
        fixtures::PeOptions changed;
        changed.pe32Plus = true;
        changed.fill = 0x90;
        fixtures::WriteFileBytes(pkg.contentDir() + "amd64/ftlang.dll",
                                 fixtures::MakePeFile(changed));
        fs::remove(pkg.contentDir() + "i386/ftbusui.dll");
        Repack(pkg, archive);
        const Both both = Inspect(archive);
        ASSERT_EQ(both.json.kind, JsonValue::Kind::Object);
        const JsonValue* amd = FileRow(both.json, "amd64/ftlang.dll");
        ASSERT_TRUE(amd);
        EXPECT_EQ((*amd)["reason"].text, "changed after signing");
        const JsonValue* ui = FileRow(both.json, "ftbusui.dll");
        ASSERT_TRUE(ui);
        EXPECT_EQ((*ui)["tag"].text, uiTag);
        EXPECT_EQ((*ui)["reason"].text, "missing from the package");
        const JsonValue* lang = FileRow(both.json, "ftlang.dll");
        ASSERT_TRUE(lang);
        EXPECT_EQ((*lang)["reason"].text, "missing from the package");
    }
}

// A catalog changed after signing is named as the cause, not the files it lists.
TEST_F(CatinspectPackage, AnAlteredCatalogIsBlamedNotItsFiles) {
    PackageBuilder pkg;
    pkg.addPe("x86/driver.sys");
    const std::string archive = pkg.pack();
    const std::string catPath = pkg.contentDir() + "driver.cat";
    std::string cat = ReadFile(catPath);
    // Flip one bit of the driver's member tag (the digest's bytes in the catalog).
    const auto tag = fixtures::FileCatalogDigest(pkg.contentDir() + "x86/driver.sys",
                                                 platform::DigestAlgorithm::Sha256);
    const auto at = cat.find(std::string(tag.begin(), tag.end()));
    ASSERT_NE(at, std::string::npos);
    cat[at] = static_cast<char>(cat[at] ^ 1);
    WriteFile(catPath, cat);
    Repack(pkg, archive);
    const Both both = Inspect(archive);
    EXPECT_EQ(both.text.exitCode, 1);
    ASSERT_EQ(both.json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(both.json["catalog"]["code"].text, "80096010");
    ASSERT_FALSE(both.json["files"].items.empty());
    for (const auto& file : both.json["files"].items) {
        EXPECT_NE(file["reason"].text, "changed after signing") << file["path"].text;
        EXPECT_NE(file["reason"].text.find("catalog"), std::string::npos) << file["path"].text;
    }
    const JsonValue* inf = FileRow(both.json, "driver.inf");
    ASSERT_TRUE(inf);
    EXPECT_EQ((*inf)["reason"].text, "the catalog was changed after signing");
}

// A catalog another publisher signed fails at SignTool's publisher line; the report says who
// signed it and which publisher the check accepts.
TEST_F(CatinspectPackage, AnotherPublisherIsNamed) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    pkg.catalog().signer = &fixtures::BuildTestPki().contoso;
    const Both both = Inspect(pkg.pack());
    ASSERT_GE(both.halyard.lines.size(), 2u);
    EXPECT_EQ(both.halyard.lines[both.halyard.lines.size() - 2],
              "SignTool failed 24:             Issued to: Contoso Test Publisher");
    EXPECT_EQ(both.text.exitCode, 1);
    EXPECT_TRUE(Has(both.text.lines, "  signer:     Contoso Test Publisher (valid until "
                                     "2049-12-31 23:59:59 UTC)"))
        << both.text.text;
    EXPECT_TRUE(Has(both.text.lines, std::string("  accepted:   no, the package check accepts "
                                                 "only catalogs signed by \"") +
                                         kWhcp + "\""))
        << both.text.text;
    EXPECT_TRUE(Has(both.text.lines,
                    std::string("  FAIL  VerifyCatWithSigntool: expected SignTool's report on "
                                "the catalog, found signed by Contoso Test Publisher; only "
                                "catalogs signed by \"") +
                        kWhcp + "\" are accepted"))
        << both.text.text;
    ASSERT_EQ(both.json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(both.json["catalog"]["signer"].text, "Contoso Test Publisher");
    EXPECT_FALSE(both.json["catalog"]["accepted"].boolean);
}

// A catalog dated after 21 June 2020 counts as undated: halyard says "Wrong result" and passes
// with DateSign=0; catinspect says why.
TEST_F(CatinspectPackage, TheSigningDateWindowIsExplained) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    pkg.catalog().thisUpdate = 1625133600; // 2021-07-01 10:00:00 UTC
    pkg.catalog().timeStampTime = 1625133600;
    pkg.params()["DateSign"] = "0";
    const Both both = Inspect(pkg.pack());
    EXPECT_EQ(both.halyard.lines,
              (Lines{"GetSignDateOfCAT: Wrong result: 7/1/2021 10:00:00 AM; Params: " +
                         (pkg.dir() / "pkg/driver.cat"),
                     "success"}));
    EXPECT_EQ(both.text.exitCode, 0);
    EXPECT_TRUE(Has(both.text.lines,
                    "  ok    DateSign: expected 0: the catalog's date 07-01-2021 10-00-00 lies "
                    "outside 01-01-2000 00-00-00 .. 06-21-2020 00-00-00, the window the check "
                    "reads signing dates in, so it counts as no date, found 0"))
        << both.text.text;
    EXPECT_TRUE(Has(both.text.lines, "        | GetSignDateOfCAT: Wrong result: 7/1/2021 10:00:00 "
                                     "AM; Params: " +
                                         (pkg.dir() / "pkg/driver.cat")))
        << both.text.text;
    ASSERT_EQ(both.json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(both.json["catalog"]["signDate"].text, "2021-07-01T10:00:00Z");
}

TEST_F(CatinspectPackage, AnUnreadableArchiveCarriesItsCause) {
    TempDir dir;
    WriteFile(dir / "junk.7z", "not an archive");
    WriteFile(dir / "pkg.zip", "x");
    const struct {
        std::string archive;
        std::string cause;
    } cases[] = {
        {dir / "junk.7z", "UnZipFile: Not a 7z archive"},
        {dir / "missing.7z", "UnZipFile: Cannot open file \"" + (dir / "missing.7z") +
                                 "\". The system cannot find the file specified"},
        {dir / "pkg.zip", "the archive's name does not end in .7z"},
    };
    for (const auto& c : cases) {
        const Out out = Catinspect({"--package", "--json", c.archive});
        EXPECT_EQ(out.exitCode, 2) << c.archive;
        JsonValue json;
        ASSERT_NO_THROW(json = ParseJson(out.text)) << out.text;
        EXPECT_EQ(json["schema"].text, "1");
        EXPECT_EQ(json["cause"].text, c.cause);
    }
}

} // namespace
} // namespace halyard::test

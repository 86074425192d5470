// catinspect --package: every step of the package check run on built packages, each failure
// named with its file or figure, in the text report and in the JSON document.
#include "package_builder.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const char* const kCheckNames[] = {"UnZipFile",
                                   "Logs",
                                   "GetDriverFiles",
                                   "Cat file",
                                   "VerifyAndGetHashes",
                                   "DateSign",
                                   "TotalHashs",
                                   "Inf file",
                                   "ExtractParamsFromInf",
                                   "Version",
                                   "Date",
                                   "VerifyFilesWithSigntool",
                                   "VerifyCatWithSigntool",
                                   "OS"};

class PackageInspection : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }

    // Both reports of the archive; halyard's verdict is compared by RunPackageCheck. The
    // private folder goes under a TMPDIR of the test's own, which must be empty afterwards.
    struct Both {
        RunResult halyard;
        RunResult text;
        JsonValue json;
    };
    Both Inspect(const std::string& archive) {
        Both both;
        both.halyard = RunPackageCheck({archive});
        both.text = test::Run("/usr/bin/env", {"TMPDIR=" + tmp_.path(), BinDir() + "catinspect",
                                               "--package", archive});
        // The report's lines end in LF.
        both.text.lines = test::LfLines(both.text.output);
        const auto json =
            test::Run("/usr/bin/env", {"TMPDIR=" + tmp_.path(), BinDir() + "catinspect",
                                       "--package", archive, "--json"});
        EXPECT_EQ(json.exitCode, both.text.exitCode);
        try {
            both.json = ParseJson(json.output);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what() << "\n" << json.output;
        }
        EXPECT_TRUE(fs::is_empty(tmp_.path())) << "the private folder was left behind";
        // The text report ends in the same verdict.
        EXPECT_FALSE(both.text.lines.empty());
        if (!both.text.lines.empty() && !both.halyard.lines.empty()) {
            EXPECT_EQ(both.text.lines.back(), both.halyard.lines.back());
        }
        return both;
    }

    static const JsonValue* File(const JsonValue& json, const std::string& path) {
        for (const auto& file : json["files"].items) {
            if (file["path"].text == path) {
                return &file;
            }
        }
        ADD_FAILURE() << "no row for " << path;
        return nullptr;
    }

    static const JsonValue* Check(const JsonValue& json, const std::string& name) {
        for (const auto& check : json["checks"].items) {
            if (check["name"].text == name) {
                return &check;
            }
        }
        ADD_FAILURE() << "no check " << name;
        return nullptr;
    }

    // The names of the checks that failed.
    static std::vector<std::string> Failed(const JsonValue& json) {
        std::vector<std::string> names;
        for (const auto& check : json["checks"].items) {
            if (!check["ok"].boolean) {
                names.push_back(check["name"].text);
            }
        }
        return names;
    }

    static bool HasLine(const RunResult& r, const std::string& line) {
        return std::find(r.lines.begin(), r.lines.end(), line) != r.lines.end();
    }

    // Packs the content folder again as it is now, without signing it anew.
    static void Repack(PackageBuilder& pkg, const std::string& archive) {
        fs::remove(archive);
        const auto r =
            test::Run(SevenZip(), {"a", "-t7z", "-bd", "-y", archive, "*"}, pkg.contentDir());
        ASSERT_EQ(r.exitCode, 0) << r.output;
    }

    TempDir tmp_;
};

TEST_F(PackageInspection, AGoodPackageIsExplainedRowByRow) {
    PackageBuilder pkg;
    fixtures::PeOptions pe64;
    pe64.pe32Plus = true;
    pkg.addPe("x64/driver.sys", pe64);
    pkg.addPe("x86/driver.sys");
    const auto both = Inspect(pkg.pack());
    EXPECT_EQ(both.text.exitCode, 0) << both.text.output;
    const JsonValue& json = both.json;
    ASSERT_EQ(json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(json["verdict"].text, "success");
    EXPECT_EQ(json["archive"].text, pkg.dir() / "pkg.7z");

    const JsonValue& catalog = json["catalog"];
    EXPECT_EQ(catalog["path"].text, "driver.cat");
    EXPECT_EQ(catalog["signer"].text, "Microsoft Windows Hardware Compatibility Publisher");
    EXPECT_EQ(catalog["code"].text, "00000000");
    EXPECT_EQ(catalog["timestamp"].text, "2019-06-01T12:34:56Z");
    ASSERT_EQ(catalog["chain"].items.size(), 3u);
    EXPECT_EQ(catalog["chain"].items[0]["subject"].text, "Halyard Test Root CA");

    std::set<std::string> tags;
    for (const auto& file : json["files"].items) {
        EXPECT_EQ(file["code"].text, "00000000") << file["path"].text;
        EXPECT_EQ(file["reason"].text, "") << file["path"].text;
        tags.insert(file["tag"].text);
    }
    const auto expected = pkg.expectedTags();
    EXPECT_EQ(tags, std::set<std::string>(expected.begin(), expected.end()));
    ASSERT_EQ(json["checks"].items.size(), std::size(kCheckNames));
    for (std::size_t i = 0; i < std::size(kCheckNames); ++i) {
        EXPECT_EQ(json["checks"].items[i]["name"].text, kCheckNames[i]);
        EXPECT_TRUE(json["checks"].items[i]["ok"].boolean) << kCheckNames[i];
    }
    EXPECT_TRUE(HasLine(both.text, "  ok    DateSign: expected 06-01-2019 12-34-56, found "
                                   "06-01-2019 12-34-56"))
        << both.text.output;
    EXPECT_TRUE(HasLine(both.text, "  signer:     Microsoft Windows Hardware Compatibility "
                                   "Publisher (valid until 2049-12-31 23:59:59 UTC)"))
        << both.text.output;
}

TEST_F(PackageInspection, EveryFileThatFailsIsNamedWithItsReason) {
    PackageBuilder pkg;
    pkg.addPe("a.sys");
    fixtures::PeOptions other;
    other.fill = 0x33;
    pkg.addPe("sub/c.sys", other);
    pkg.addFile("extra.sys", "in no catalog", false);
    const std::string archive = pkg.pack();
    // After signing: a.sys is rebuilt with other content and sub/c.sys is dropped.
    fixtures::PeOptions changed;
    changed.fill = 0x90;
    fixtures::WriteFileBytes(pkg.contentDir() + "a.sys", fixtures::MakePeFile(changed));
    fs::remove(pkg.contentDir() + "sub/c.sys");
    Repack(pkg, archive);

    const auto both = Inspect(archive);
    EXPECT_EQ(both.text.exitCode, 1);
    const JsonValue& json = both.json;
    ASSERT_EQ(json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(json["verdict"].text, "wrong:VerifyAndGetHashes failed");
    const JsonValue* a = File(json, "a.sys");
    const JsonValue* extra = File(json, "extra.sys");
    const JsonValue* c = File(json, "c.sys");
    const JsonValue* inf = File(json, "driver.inf");
    ASSERT_TRUE(a && extra && c && inf);
    EXPECT_EQ((*a)["reason"].text, "changed after signing");
    EXPECT_EQ((*a)["code"].text, "800B0100");
    EXPECT_EQ((*extra)["reason"].text, "not a member of the catalog");
    EXPECT_EQ((*extra)["code"].text, "800B0100");
    EXPECT_EQ((*c)["reason"].text, "missing from the package");
    EXPECT_EQ((*c)["code"].text, "FFFFFFFF");
    EXPECT_EQ((*c)["tag"].text.size(), 64u);
    EXPECT_EQ((*inf)["code"].text, "00000000");
    // Every step ran; the figures that depend on the files fail with them.
    EXPECT_EQ(json["checks"].items.size(), std::size(kCheckNames));
    EXPECT_EQ(Failed(json), (Lines{"VerifyAndGetHashes", "TotalHashs", "VerifyFilesWithSigntool"}));
    const JsonValue* membership = Check(json, "VerifyAndGetHashes");
    ASSERT_TRUE(membership);
    EXPECT_EQ((*membership)["found"].text, "2 of 3 fail");

    EXPECT_TRUE(HasLine(both.text, "  c.sys  " + (*c)["tag"].text +
                                       "  FFFFFFFF  FAIL missing from the package"))
        << both.text.output;
    EXPECT_TRUE(HasLine(both.text, "  extra.sys  " + (*extra)["tag"].text +
                                       "  800B0100  FAIL not a member of the catalog"))
        << both.text.output;
    EXPECT_TRUE(HasLine(both.text, "  FAIL  VerifyAndGetHashes: expected every driver file a "
                                   "signed member, found 2 of 3 fail"))
        << both.text.output;
}

TEST_F(PackageInspection, AMissingMemberShowsBehindTheRecordedDigest) {
    PackageBuilder pkg;
    pkg.addPe("a.sys");
    pkg.addPe("b.sys", [] {
        fixtures::PeOptions o;
        o.fill = 0x44;
        return o;
    }());
    const std::string archive = pkg.pack();
    fs::remove(pkg.contentDir() + "b.sys");
    Repack(pkg, archive);
    const auto both = Inspect(archive);
    const JsonValue& json = both.json;
    ASSERT_EQ(json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(json["verdict"].text, "wrong:TotalHashs incorrect");
    EXPECT_EQ(Failed(json), Lines{"TotalHashs"});
    const JsonValue* b = File(json, "b.sys");
    ASSERT_TRUE(b);
    EXPECT_EQ((*b)["reason"].text, "missing from the package");
    const JsonValue* total = Check(json, "TotalHashs");
    ASSERT_TRUE(total);
    EXPECT_EQ((*total)["found"].text, pkg.params()["TotalHashs"]);
    EXPECT_NE((*total)["expected"].text, (*total)["found"].text);
}

TEST_F(PackageInspection, RecordedFiguresShowBothValues) {
    struct Case {
        const char* key;
        const char* value;
        const char* check;
        const char* expected; // empty: not compared
        const char* found;
        const char* verdict;
    };
    const Case cases[] = {
        {"DateSign", "06-01-2019 12-34-57", "DateSign", "06-01-2019 12-34-56",
         "06-01-2019 12-34-57", "wrong:DateSign incorrect"},
        {"TotalHashs", "0000000000000000000000000000000000000000", "TotalHashs", "",
         "0000000000000000000000000000000000000000", "wrong:TotalHashs incorrect"},
        {"Version", "1.3", "Version", "1.2.3.4", "1.3", "wrong:Version incorrect"},
        {"Version", PackageBuilder::kOmit, "Version", "1.2.3.4", "(not recorded)",
         "wrong:Version incorrect"},
        {"Date", "5-17-2019", "Date", "05-17-2019", "5-17-2019", "wrong:Date incorrect"},
        {"OS", "7_64", "OS", "one of: 10_64 101_64 102_64 103_64 104_64", "7_64",
         "wrong:VerifyFilesWithCatOS failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + c.value);
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.params()[c.key] = c.value;
        const auto both = Inspect(pkg.pack());
        EXPECT_EQ(both.text.exitCode, 1);
        const JsonValue& json = both.json;
        ASSERT_EQ(json.kind, JsonValue::Kind::Object);
        EXPECT_EQ(json["verdict"].text, c.verdict);
        EXPECT_EQ(Failed(json), Lines{c.check});
        const JsonValue* check = Check(json, c.check);
        ASSERT_TRUE(check);
        if (*c.expected != '\0') {
            EXPECT_EQ((*check)["expected"].text, c.expected);
        }
        EXPECT_EQ((*check)["found"].text, c.found);
        EXPECT_TRUE(HasLine(both.text, "  FAIL  " + std::string(c.check) + ": expected " +
                                           (*check)["expected"].text + ", found " + c.found))
            << both.text.output;
    }
    // Several wrong figures at once: each is named, the verdict is the first the check meets.
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    pkg.params()["DateSign"] = "01-01-2020 00-00-00";
    pkg.params()["Version"] = "9.9";
    pkg.params()["OS"] = "7_64";
    const auto both = Inspect(pkg.pack());
    ASSERT_EQ(both.json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(both.json["verdict"].text, "wrong:DateSign incorrect");
    EXPECT_EQ(Failed(both.json), (Lines{"DateSign", "Version", "OS"}));
}

TEST_F(PackageInspection, SignersThatAreNotTrustedAreNamed) {
    const auto& pki = fixtures::BuildTestPki();
    const struct {
        const char* what;
        const fixtures::Identity* signer;
        std::vector<const fixtures::Identity*> certificates;
        fixtures::TimeStampKind timeStamp;
        const char* code;
        const char* reason;
        const char* root;
    } cases[] = {
        {"untrusted root",
         &pki.untrustedLeaf,
         {&pki.untrustedLeaf, &pki.untrustedRoot},
         fixtures::TimeStampKind::Rfc3161,
         "800B0109",
         "signer not trusted",
         "Halyard Untrusted Test Root"},
        {"expired, no time stamp",
         &pki.whcpExpired,
         {},
         fixtures::TimeStampKind::None,
         "800B0101",
         "signer's certificate expired",
         "Halyard Test Root CA"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.catalog().signer = c.signer;
        pkg.catalog().certificates = c.certificates;
        pkg.catalog().timeStamp = c.timeStamp;
        const auto both = Inspect(pkg.pack());
        EXPECT_EQ(both.text.exitCode, 1);
        const JsonValue& json = both.json;
        ASSERT_EQ(json.kind, JsonValue::Kind::Object);
        EXPECT_EQ(json["verdict"].text, "wrong:VerifyAndGetHashes failed");
        EXPECT_EQ(json["catalog"]["code"].text, c.code);
        ASSERT_FALSE(json["catalog"]["chain"].items.empty());
        EXPECT_EQ(json["catalog"]["chain"].items.front()["subject"].text, c.root);
        EXPECT_EQ(json["files"].items.size(), 2u);
        for (const auto& file : json["files"].items) {
            EXPECT_EQ(file["reason"].text, c.reason) << file["path"].text;
            EXPECT_EQ(file["code"].text, c.code) << file["path"].text;
        }
        EXPECT_TRUE(
            HasLine(both.text, "  signature:  " + std::string(c.code) + " FAIL " + c.reason))
            << both.text.output;
    }
}

TEST_F(PackageInspection, NamesAreEscapedInBothForms) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    const std::string odd = "q\"b\x01 \xD0\x94\xD1\x80\r\nsuccess\t.sys";
    pkg.addFile(odd, "in no catalog", false);
    const std::string packed = pkg.pack();
    // A folder name with a backslash and a byte that is not UTF-8.
    const std::string folder = pkg.dir() / "back\\slash\xFF";
    fs::create_directory(folder);
    fs::rename(packed, folder + "/pkg.7z");
    const auto both = Inspect(folder + "/pkg.7z");
    const JsonValue& json = both.json;
    ASSERT_EQ(json.kind, JsonValue::Kind::Object);
    EXPECT_EQ(json["archive"].text, pkg.dir() / "back\\slash\xEF\xBF\xBD/pkg.7z");
    // Such a name is refused before anything is written (Windows allows none of '"' and the
    // controls); the refusal quotes it escaped.
    const JsonValue* unzip = Check(json, "UnZipFile");
    ASSERT_TRUE(unzip);
    ASSERT_EQ((*unzip)["lines"].items.size(), 1u);
    EXPECT_EQ((*unzip)["lines"].items[0].text,
              "UnZipFile: Refused item \"q\"b\\x01 \xD0\x94\xD1\x80\\r\\nsuccess\\t.sys\": a part "
              "of the path holds '\"', which Windows allows in no name");
    // The text report cannot be forged by the name: its lines are the tool's own.
    EXPECT_EQ(std::count(both.text.lines.begin(), both.text.lines.end(), "success"), 0);
    EXPECT_NE(both.text.output.find("q\"b\\x01 \xD0\x94\xD1\x80\\r\\nsuccess\\t.sys"),
              std::string::npos)
        << both.text.output;
}

TEST_F(PackageInspection, StepsThatThrowAndArchivesThatCannotBeRead) {
    {
        // params.ini above its cap: the reader throws, the verdict is the front end's line.
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.params()["Padding"] = std::string(300 << 10, 'p');
        const auto both = Inspect(pkg.pack());
        EXPECT_EQ(both.text.exitCode, 1);
        ASSERT_EQ(both.json.kind, JsonValue::Kind::Object);
        EXPECT_TRUE(both.json["verdict"].text.starts_with("wrong:EFOpenError: Cannot open file \"" +
                                                          (pkg.dir() / "pkg/")))
            << both.json["verdict"].text;
        EXPECT_EQ(Failed(both.json).front(), "DateSign");
    }
    TempDir dir;
    WriteFile(dir / "junk.7z", "not an archive");
    WriteFile(dir / "pkg.zip", "x");
    const struct {
        std::string archive;
        std::string verdict;
    } cases[] = {
        {dir / "junk.7z", "wrong:UnZipFile failed"},
        {dir / "missing.7z", "wrong:UnZipFile failed"},
        {dir / "pkg.zip", "wrong:Archive name: " + (dir / "pkg.zip")},
    };
    for (const auto& c : cases) {
        const auto both = Inspect(c.archive);
        EXPECT_EQ(both.text.exitCode, 2) << c.archive;
        ASSERT_EQ(both.json.kind, JsonValue::Kind::Object);
        EXPECT_EQ(both.json["verdict"].text, c.verdict);
    }
    EXPECT_FALSE(fs::exists(dir / "junk"));
}

TEST(CatInspectUsage, HelpDocumentsThePackageReport) {
    const auto r = test::Run(BinDir() + "catinspect", {"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.output.find("--package [--json] PKG.7z"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("2 a usage error, or the package cannot be read"), std::string::npos)
        << r.output;
    EXPECT_EQ(test::Run(BinDir() + "catinspect", {"--package"}).exitCode, 2);
}

} // namespace
} // namespace halyard::test

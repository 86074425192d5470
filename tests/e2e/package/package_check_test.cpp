#include "base/unicode.h"
#include "package_builder.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Every entry below a folder, as relative paths.
std::set<std::string> Snapshot(const std::string& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        out.insert(fs::relative(e.path(), dir).string());
    }
    return out;
}

class PackageCheck : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }

    // Runs the check on the packed archive and verifies that the work folder is gone and that
    // nothing was left beside the archive.
    RunResult Check(PackageBuilder& pkg, const std::string& archiveName = "pkg.7z") {
        const std::string archive = pkg.pack(archiveName);
        const auto before = Snapshot(pkg.dir().path());
        auto r = RunPackageCheck({archive});
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(Snapshot(pkg.dir().path()), before) << r.output;
        return r;
    }
};

TEST_F(PackageCheck, ASignedPackagePasses) {
    PackageBuilder pkg;
    fixtures::PeOptions pe64;
    pe64.pe32Plus = true;
    pkg.addPe("x64/driver.sys", pe64);
    pkg.addPe("x86/driver.sys");
    pkg.addFile("x64/driver.dll", std::string(3000, 'd'));
    const auto r = Check(pkg);
    EXPECT_EQ(r.lines, Lines{"success"});
}

TEST_F(PackageCheck, ArchiveNamesThatAreRefused) {
    TempDir dir;
    WriteFile(dir / "pkg.zip", "x");
    auto r = RunPackageCheck({dir / "pkg.zip"});
    EXPECT_EQ(r.lines, Lines{"wrong:Archive name: " + (dir / "pkg.zip")});
    // A name that is only the extension would make the archive's own folder the work folder.
    for (const char* name : {".7z", "..7z", ". .7z"}) {
        WriteFile(dir / name, "x");
        r = RunPackageCheck({dir / name});
        EXPECT_EQ(r.lines, Lines{"wrong:Archive name: " + (dir / name)});
        EXPECT_TRUE(fs::exists(dir / "pkg.zip"));
    }
}

TEST_F(PackageCheck, UpperCaseExtensionAndLeftoverFolder) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    WriteFile(pkg.dir() / "PKG/stale.sys", "left over from an earlier run");
    const std::string archive = pkg.pack("PKG.7Z");
    const auto r = RunPackageCheck({archive});
    EXPECT_EQ(r.lines, Lines{"success"});
    EXPECT_FALSE(fs::exists(pkg.dir() / "PKG"));
}

TEST_F(PackageCheck, ArchivesThatDoNotOpenNameTheCause) {
    const auto stopsWith = [](const std::string& archive, const std::string& cause) {
        const auto r = RunPackageCheck({archive});
        EXPECT_EQ(r.lines, (Lines{"UnZipFile: " + cause, "wrong:UnZipFile failed"})) << archive;
        EXPECT_FALSE(fs::exists(archive.substr(0, archive.size() - 3))) << archive;
    };
    TempDir dir;
    WriteFile(dir / "junk.7z", "not an archive at all");
    stopsWith(dir / "junk.7z", "Not a 7z archive");

    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    pkg.pack(); // writes the catalog and the logs into the content folder
    const auto pack = [&](const std::string& name, std::vector<std::string> options) {
        options.insert(options.begin(), {"a", "-bd", "-y"});
        options.insert(options.end(), {dir / name, "*"});
        const auto r = test::Run(SevenZip(), options, pkg.contentDir());
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return dir / name;
    };
    stopsWith(pack("zip.7z", {"-tzip"}), "Not a 7z archive");
    stopsWith(pack("headers.7z", {"-t7z", "-pSECRET", "-mhe=on"}),
              "The archive's headers are encrypted and no password is offered");
    const std::string whole = ReadFile(pack("whole.7z", {"-t7z"}));
    WriteFile(dir / "cut.7z", whole.substr(0, whole.size() - 40));
    stopsWith(dir / "cut.7z", "The archive is damaged: unexpected end of the archive");
}

TEST_F(PackageCheck, HostileItemPathsStopTheUnpacking) {
    for (const char* hostile : {"../evil.sys", "sub/../../evil.sys"}) {
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        const std::string archive = pkg.pack();
        const auto rn = test::Run(SevenZip(), {"rn", "-bd", archive, "driver.sys", hostile});
        ASSERT_EQ(rn.exitCode, 0) << rn.output;
        const auto r = RunPackageCheck({archive});
        ASSERT_EQ(r.lines.size(), 2u) << r.output;
        EXPECT_TRUE(r.lines[0].starts_with("UnZipFile: ")) << r.lines[0];
        EXPECT_NE(r.lines[0].find("evil.sys"), std::string::npos) << r.lines[0];
        EXPECT_EQ(r.lines[1], "wrong:UnZipFile failed");
        EXPECT_FALSE(fs::exists(pkg.dir() / "evil.sys"));
        EXPECT_FALSE(fs::exists(pkg.dir() / "pkg"));
    }
}

// Packs the package's content with the fixture builder's 7z writer instead of 7zz, with
// `before` ahead of the content's files.
std::string PackWithWriter(PackageBuilder& pkg, std::vector<fixtures::SevenZipItem> before) {
    const std::string archive = pkg.pack();
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(pkg.contentDir())) {
        if (e.is_regular_file()) {
            files.push_back(fs::relative(e.path(), pkg.contentDir()).generic_string());
        }
    }
    std::sort(files.begin(), files.end());
    fixtures::SevenZipRecipe recipe;
    recipe.items = std::move(before);
    for (const auto& file : files) {
        recipe.items.push_back(
            fixtures::SevenZipFile(Utf8ToUtf16(file), ReadFile(pkg.contentDir() + file)));
    }
    fixtures::WriteSevenZip(archive, recipe);
    return archive;
}

TEST_F(PackageCheck, ItemsThatWouldBeOneFileOnWindowsAreRefused) {
    fixtures::PeOptions pe64;
    pe64.pe32Plus = true;
    {
        // The writer's archive of a good package passes: only the extra item below is wrong.
        PackageBuilder pkg;
        pkg.addPe("x64/sample.sys", pe64);
        const auto r = RunPackageCheck({PackWithWriter(pkg, {})});
        EXPECT_EQ(r.lines, Lines{"success"});
    }
    pe64.fill = 0x90; // another image, in no catalog
    const std::string unsigned64 = [&] {
        const fixtures::Bytes bytes = fixtures::MakePeFile(pe64);
        return std::string(bytes.begin(), bytes.end());
    }();
    for (const std::u16string name :
         {u"x64/sample.sys", u"X64/Sample.SYS", u"x64/sample.sys.", u"x64\\sample.sys "}) {
        PackageBuilder pkg;
        pe64.fill = 0xCC;
        pkg.addPe("x64/sample.sys", pe64);
        const std::string archive = PackWithWriter(pkg, {fixtures::SevenZipFile(name, unsigned64)});
        const auto r = RunPackageCheck({archive});
        EXPECT_EQ(r.lines, (Lines{"UnZipFile: Refused item \"x64/sample.sys\": it is the same file "
                                  "on Windows as item \"" +
                                      Utf16ToUtf8(name) + "\"",
                                  "wrong:UnZipFile failed"}));
        EXPECT_FALSE(fs::exists(pkg.dir() / "pkg"));
    }
}

TEST_F(PackageCheck, StopsInTheLayoutSteps) {
    {
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.writeLogsFolder = false;
        EXPECT_EQ(Check(pkg).lines, Lines{"wrong:No logs"});
    }
    {
        PackageBuilder pkg;
        pkg.remove("driver.inf");
        pkg.addFile("DriverInfoQ956F.ini", "bookkeeping", false);
        EXPECT_EQ(Check(pkg).lines, Lines{"wrong:GetDriverFiles failed"});
    }
    {
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.catalogName = "sub/driver.cat";
        EXPECT_EQ(Check(pkg).lines, Lines{"wrong:Cat file was not found"});
    }
}

TEST_F(PackageCheck, AFileOutsideTheCatalogStopsTheMembership) {
    PackageBuilder pkg;
    pkg.addPe("a.sys");
    pkg.addFile("b.sys", "not in the catalog", false);
    const auto r = Check(pkg);
    ASSERT_GE(r.lines.size(), 2u) << r.output;
    EXPECT_EQ(r.lines[r.lines.size() - 2],
              "IsCodeSigned failed for " + pkg.dir().path() + "/pkg/b.sys");
    EXPECT_EQ(r.lines.back(), "wrong:VerifyAndGetHashes failed");
}

TEST_F(PackageCheck, RecordedFiguresMustMatch) {
    struct Case {
        const char* key;
        const char* value;
        const char* line;
    };
    const Case cases[] = {
        {"DateSign", "06-01-2019 12-34-57", "wrong:DateSign incorrect"},
        {"DateSign", PackageBuilder::kOmit, "wrong:DateSign incorrect"},
        {"TotalHashs", "0000000000000000000000000000000000000000", "wrong:TotalHashs incorrect"},
        {"Version", "1.3", "wrong:Version incorrect"},
        {"Version", PackageBuilder::kOmit, "wrong:Version incorrect"},
        {"Date", "5-17-2019", "wrong:Date incorrect"},
        {"Date", PackageBuilder::kOmit, "wrong:Date incorrect"},
        {"OS", "7_64", "wrong:VerifyFilesWithCatOS failed"},
    };
    for (const auto& c : cases) {
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.params()[c.key] = c.value;
        const auto r = Check(pkg);
        EXPECT_EQ(r.lines, Lines{c.line}) << c.key << "=" << c.value;
    }
}

TEST_F(PackageCheck, LenientFiguresThatPass) {
    {
        // The digest is not compared while the marker file is there.
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.params()["TotalHashs"] = "wrong";
        pkg.addFile("InternalLogsDoNotCopyToProduction/UnitTestDoNotCheckHashes", "", false);
        EXPECT_EQ(Check(pkg).lines, Lines{"success"});
    }
    {
        // 1.2 recorded against 1.2.0.0 in the INF; the OS code of a newer release is covered by
        // the widening of the declaration.
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.setInf("[Version]\r\nDriverVer = 05/17/2019, 1.2.0.0 ; shipped\r\n");
        pkg.params()["Version"] = "01.2";
        pkg.params()["OS"] = "104_64";
        EXPECT_EQ(Check(pkg).lines, Lines{"success"});
    }
}

TEST_F(PackageCheck, InfProblems) {
    {
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.setInf("[Version]\r\nDriverVer=05/17/2019,1.2.3.4\r\n", "sub/driver.inf");
        EXPECT_EQ(Check(pkg).lines, Lines{"wrong:Inf file was not found"});
    }
    {
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.setInf("[Version]\r\nSignature=\"$Windows NT$\"\r\n");
        const auto r = Check(pkg);
        ASSERT_EQ(r.lines.size(), 2u) << r.output;
        EXPECT_EQ(r.lines[0], "ExtractParamsFromInf: Date failed; Params: ");
        EXPECT_EQ(r.lines[1], "wrong:ExtractParamsFromInf failed");
    }
}

// The old VeriSign/Symantec time-stamp service put the bare digest into its RSA block; Windows
// accepts such a time stamp, so a publisher that has expired since still passes on it.
TEST_F(PackageCheck, AnExpiredPublisherPassesOnALegacyFormTimeStamp) {
    for (const auto kind : {fixtures::TimeStampKind::Legacy, fixtures::TimeStampKind::Rfc3161}) {
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.catalog().signer = &fixtures::BuildTestPki().whcpExpired;
        pkg.catalog().timeStamp = kind;
        pkg.catalog().timeStampStyle.bareDigest = true;
        EXPECT_EQ(Check(pkg).lines, Lines{"success"});
    }
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    pkg.catalog().signer = &fixtures::BuildTestPki().whcpExpired;
    pkg.catalog().timeStamp = fixtures::TimeStampKind::Legacy;
    pkg.catalog().timeStampStyle.bareDigest = true;
    pkg.catalog().timeStampStyle.alterDigest = true;
    const auto r = Check(pkg);
    ASSERT_EQ(r.lines.size(), 3u) << r.output;
    EXPECT_NE(r.lines[0].find("; Params: 800B0101; "), std::string::npos) << r.lines[0];
    EXPECT_EQ(r.lines[2], "wrong:VerifyAndGetHashes failed");
}

TEST_F(PackageCheck, SignToolMustAgree) {
    {
        // Without a time stamp SignTool's catalog report does not have the expected shape.
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        pkg.catalog().timeStamp = fixtures::TimeStampKind::None;
        const auto r = Check(pkg);
        ASSERT_EQ(r.lines.size(), 2u) << r.output;
        EXPECT_EQ(r.lines[0], "SignTool failed for " + pkg.dir().path() + "/pkg/driver.cat");
        EXPECT_EQ(r.lines[1], "wrong:VerifyCatWithSigntool failed");
    }
    {
        // A copy of the tool without SignTool beside it (nor on the search path).
        PackageBuilder pkg;
        pkg.addPe("driver.sys");
        const std::string archive = pkg.pack();
        TempDir tool;
        CopyFile(BinDir() + "halyard", tool / "halyard");
        fs::permissions(tool / "halyard", fs::perms::owner_exec, fs::perm_options::add);
        fs::copy(BinDir() + "trust", tool / "trust");
        const auto r = test::Run(tool / "halyard", {archive});
        ASSERT_EQ(r.lines.size(), 2u) << r.output;
        EXPECT_EQ(r.lines[0], "SignTool failed for " + pkg.dir().path() + "/pkg/driver.inf");
        EXPECT_EQ(r.lines[1], "wrong:VerifyFilesWithSigntool failed");
    }
}

} // namespace
} // namespace halyard::test

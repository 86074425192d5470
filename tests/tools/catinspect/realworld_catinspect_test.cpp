// The catinspect tool on real catalogs: a catalog's listing, one line per file with tag and
// trust code, and a real package with a file deleted.
#include "json_reader.h"
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

namespace fs = std::filesystem;

using test::LfLines;

TEST(CatInspect, ListsAndChecksARealPackage) {
    const std::string tool = test::BinDir() + "catinspect";
    HALYARD_NEED_REALWORLD();
    ASSERT_TRUE(std::filesystem::exists(tool));
    const std::string dir = test::RealworldDir() + "packages/tidepool-ftdiport-2024/";
    const auto listing = test::Run(tool, {dir + "ftdiport.cat"});
    EXPECT_EQ(listing.exitCode, 0);
    const auto listed = LfLines(listing.output);
    ASSERT_GE(listed.size(), 10u);
    EXPECT_EQ(listed[0], "ThisUpdate: 2024-09-24 09:00:13 UTC");
    EXPECT_EQ(listed[1], "Signature: 00000000 (00000000)");
    EXPECT_NE(listing.output.find("    File = ftdiport.inf"), std::string::npos);

    const auto check =
        test::Run(tool, {dir + "ftdiport.cat", dir + "ftdiport.inf",
                         test::RealworldDir() + "negative/ftdiport_as-stored-LF_ftdi-cdm.inf"});
    // The INF stored with LF line ends is no member: exit code 1, and the reason.
    EXPECT_EQ(check.exitCode, 1);
    const auto rows = LfLines(check.output);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0],
              dir + "ftdiport.inf " +
                  "EA3157FB167E3D6C67DFC00F5B15E1384DF996FC3F45D82859986BD2D6E0B15F 00000000");
    EXPECT_TRUE(rows[1].ends_with(" 800B0100 not a member of the catalog")) << rows[1];

    EXPECT_EQ(test::Run(tool, {}).exitCode, 2);
}

TEST(CatInspect, GoogleCatalogsVerifyAtTheirTimeStamp) {
    const std::string tool = test::BinDir() + "catinspect";
    HALYARD_NEED_REALWORLD();
    ASSERT_TRUE(std::filesystem::exists(tool));
    const auto listing = test::Run(
        tool, {"-v", test::RealworldDir() + "catalogs/google-usb-driver-2014/androidwinusb86.cat"});
    EXPECT_EQ(listing.exitCode, 0);
    const auto listed = LfLines(listing.output);
    ASSERT_GE(listed.size(), 3u);
    EXPECT_EQ(listed[1], "Signature: 00000000 (00000000)");
    EXPECT_EQ(listed[2], "Time stamp: 2014-09-10 20:59:13 UTC");
}

// The FTDI package holds ftlang.dll for i386 and for amd64; without the i386 one the catalog's
// member for it is missing from the package, though a file of its name is there.
TEST(CatInspect, ADeletedFileBesideOneOfTheSameNameIsMissing) {
    HALYARD_NEED_REALWORLD();
    const std::string sevenZip = "/usr/bin/7zz";
    HALYARD_NEED_PROGRAM(sevenZip);
    test::TempDir tmp;
    const std::string content = tmp / "content";
    fs::copy(test::RealworldDir() + "packages/tidepool-ftdibus-2024", content,
             fs::copy_options::recursive);
    fs::permissions(content, fs::perms::owner_all, fs::perm_options::add);
    fs::permissions(content + "/i386", fs::perms::owner_all, fs::perm_options::add);
    fs::remove(content + "/i386/ftlang.dll");
    fs::create_directories(content + "/InternalLogsDoNotCopyToProduction");
    test::WriteFile(content + "/InternalLogsDoNotCopyToProduction/params.ini", "[General]\r\n");
    const auto packed =
        test::Run(sevenZip, {"a", "-t7z", "-bd", "-y", tmp / "ftdibus.7z", "*"}, content);
    ASSERT_EQ(packed.exitCode, 0) << packed.output;

    const auto run =
        test::Run(test::BinDir() + "catinspect", {"--package", tmp / "ftdibus.7z", "--json"});
    EXPECT_EQ(run.exitCode, 1);
    const test::JsonValue json = test::ParseJson(run.output);
    std::vector<std::string> missing;
    for (const auto& file : json["files"].items) {
        if (file["reason"].text == "missing from the package") {
            missing.push_back(file["path"].text + " " + file["tag"].text);
        }
    }
    EXPECT_EQ(missing, std::vector<std::string>{"ftlang.dll "
                                                "79717150AEB6E72317EF63AB001662484631793101AA1D552"
                                                "433AA22724B7F07"});
}

} // namespace
} // namespace halyard

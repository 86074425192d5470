// The catinspect tool on real catalogs: a catalog's listing, and one line per file with tag and
// trust code.
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

TEST(CatInspect, ListsAndChecksARealPackage) {
    const std::string tool = test::BinDir() + "catinspect";
    HALYARD_NEED_REALWORLD();
    ASSERT_TRUE(std::filesystem::exists(tool));
    const std::string dir = test::RealworldDir() + "packages/tidepool-ftdiport-2024/";
    const auto listing = test::Run(tool, {dir + "ftdiport.cat"});
    EXPECT_EQ(listing.exitCode, 0);
    ASSERT_GE(listing.lines.size(), 10u);
    EXPECT_EQ(listing.lines[0], "ThisUpdate: 2024-09-24 09:00:13 UTC");
    EXPECT_EQ(listing.lines[1], "Signature: 00000000 (00000000)");
    EXPECT_NE(listing.output.find("    File = ftdiport.inf"), std::string::npos);

    const auto check =
        test::Run(tool, {dir + "ftdiport.cat", dir + "ftdiport.inf",
                         test::RealworldDir() + "negative/ftdiport_as-stored-LF_ftdi-cdm.inf"});
    EXPECT_EQ(check.exitCode, 0);
    ASSERT_GE(check.lines.size(), 2u);
    EXPECT_EQ(check.lines[0],
              dir + "ftdiport.inf " +
                  "EA3157FB167E3D6C67DFC00F5B15E1384DF996FC3F45D82859986BD2D6E0B15F 00000000");
    EXPECT_EQ(check.lines[1].substr(check.lines[1].size() - 9), " 800B0100");

    EXPECT_EQ(test::Run(tool, {}).exitCode, 2);
}

TEST(CatInspect, GoogleCatalogsVerifyAtTheirTimeStamp) {
    const std::string tool = test::BinDir() + "catinspect";
    HALYARD_NEED_REALWORLD();
    ASSERT_TRUE(std::filesystem::exists(tool));
    const auto listing = test::Run(
        tool, {"-v", test::RealworldDir() + "catalogs/google-usb-driver-2014/androidwinusb86.cat"});
    EXPECT_EQ(listing.exitCode, 0);
    ASSERT_GE(listing.lines.size(), 3u);
    EXPECT_EQ(listing.lines[1], "Signature: 00000000 (00000000)");
    EXPECT_EQ(listing.lines[2], "Time stamp: 2014-09-10 20:59:13 UTC");
}

} // namespace
} // namespace halyard

// "/cat" end to end on real catalogs: their OS lists, one without any, and a trust list that is
// no catalog.
#include "testkit.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

using Lines = std::vector<std::string>;

struct RealCatalog {
    const char* path;
    const char* expected; // the line halyard prints last
};

TEST(CatalogOsReport, RealCatalogs) {
    HALYARD_NEED_REALWORLD();
    const std::string win10 =
        "success:_v100,_v100_X64,_v100_RS1,_v100_X64_RS1,_v100_RS2,_v100_X64_RS2,_v100_RS3,"
        "_v100_X64_RS3,_v100_RS4,_v100_X64_RS4,_v100_RS5,_v100_X64_RS5,_v100_19H1,_v100_X64_19H1,"
        "_v100_Vb,_v100_X64_Vb,_v100_X64_21H2,_v100_X64_22H2,_v100_X64_24H2";
    const RealCatalog cases[] = {
        {"catalogs/tidepool-phdc-2024/phdc_driver.cat", win10.c_str()},
        {"catalogs/tidepool-vcp-2024/tidepoolvcp.cat", win10.c_str()},
        {"packages/tidepool-hid-infonly-2024/tidepoolhid.cat", win10.c_str()},
        {"packages/tidepool-webusb-infonly-2024/winusbinstallation.cat", win10.c_str()},
        {"packages/tidepool-ftdibus-2024/ftdibus.cat", win10.c_str()},
        {"packages/tidepool-ftdiport-2024/ftdiport.cat", win10.c_str()},
        {"catalogs/seeed-usb-serial-2024/seeed_usb_serial.cat", "fail"},
        {"packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.cat",
         "success:7X86,7X64,Server2008R2X64,8X86,8X64,_v63,_v63_X64,_v63_Server_X64"},
        {"catalogs/google-usb-driver-2014/androidwinusb86.cat",
         "success:XPX86,Server2003X86,VistaX86,Server2008X86,7X86"},
    };
    for (const auto& c : cases) {
        const auto r = test::RunHalyard({"/cat", test::RealworldDir() + c.path});
        ASSERT_FALSE(r.lines.empty()) << c.path;
        EXPECT_EQ(r.lines.back(), c.expected) << c.path;
        EXPECT_EQ(r.lines.size(), std::string(c.expected) == "fail" ? 2u : 1u) << r.output;
    }
}

TEST(CatalogOsReport, TrustListThatIsNoCatalog) {
    HALYARD_NEED_REALWORLD();
    test::TempDir dir;
    test::CopyFile(test::RealworldDir() + "catalogs/ctl-not-a-catalog/authroot.stl",
                   dir / "authroot.cat");
    // The cause comes first, as a diagnostic line; the verdict lines stay.
    const auto r = test::RunHalyard({"/cat", dir / "authroot.cat"});
    ASSERT_EQ(r.lines.size(), 3u) << r.output;
    EXPECT_TRUE(r.lines[0].starts_with("ParseCatFile: CryptCATOpen fail; Params: " +
                                       (dir / "authroot.cat") + "; Last error: 8009"))
        << r.lines[0];
    EXPECT_EQ(Lines(r.lines.begin() + 1, r.lines.end()),
              (Lines{"wrong:CryptCATOpen fail", "fail"}));
}

} // namespace
} // namespace halyard

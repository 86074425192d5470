// DriverVer of every real INF, through both INI readers.
#include "inf/driver_ver.h"
#include "inf/ini_files.h"
#include "report/output.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

// Every real INF, read as Windows would: each file's DriverVer sits in its [Version] section
// only, so every install section name (the real ones, with their decorated and OS-versioned
// variants, and the pipeline's default "2345") falls through to [Version].
TEST(DriverVerRealworld, EveryInfReadsItsDriverVer) {
    HALYARD_NEED_REALWORLD();
    struct Sample {
        const char* path;
        const char* section;
        double date;
        const char* version;
    };
    const Sample samples[] = {
        {"packages/datalogic-usblan-win7-vendor-ev-2018/datalogic.inf", "Datalogic", 43143,
         "2.4.11.14"},
        {"packages/datalogic-usblan-win8-vendor-ev-2018/datalogic.inf", "Datalogic", 43143,
         "2.4.11.14"},
        {"packages/ftdi-cdm-2.12.04-ftdibus-whql-2015/ftdibus.inf", "FtdiBus", 42174, "2.12.4"},
        {"packages/ftdi-cdm-2.12.04-ftdiport-whql-2015/ftdiport.inf", "FtdiPort", 42174, "2.12.4"},
        {"packages/tidepool-ftdibus-2024/ftdibus.inf", "FtdiBus", 41332, "2.8.28.0"},
        {"packages/tidepool-ftdiport-2024/ftdiport.inf", "FtdiPort", 44509, "2.12.36.4"},
        {"packages/tidepool-hid-infonly-2024/tidepoolhid.inf", "BayerHID", 42481, "1.3.0.0"},
        {"packages/tidepool-webusb-infonly-2024/webusb.inf", "USB_Install", 44853, "14.0.0.0"},
        {"catalogs/google-usb-driver-2014/android_winusb.inf", "USB_Install", 41879, "11.0.0.0"},
        {"catalogs/seeed-usb-serial-2024/seeed_usb_serial.inf", "DriverInstall", 41278, "1.0.0.0"},
        {"catalogs/tidepool-phdc-2024/phdc.inf", "USB_Install", 45554, "4.0.0.0"},
        {"catalogs/tidepool-vcp-2024/tidepoolvcp.inf", "silabser", 44984, "4.0.0.0"},
        {"negative/ftdibus_as-stored-LF_ftdi-cdm.inf", "FtdiBus", 42174, "2.12.4"},
        {"negative/ftdiport_as-stored-LF_ftdi-cdm.inf", "FtdiPort", 42174, "2.12.4"},
        {"negative/ser2pl_as-stored-LF_prolific-pl2303.inf", "ComPort", 43963, "3.8.36.2"},
    };
    test::TempDir dir;
    int n = 0;
    for (const Sample& s : samples) {
        const std::string copy = dir / (std::to_string(++n) + ".inf");
        test::CopyFile(test::RealworldDir() + s.path, copy);
        // The in-memory reader sees the same entry (each file has one [Version] and one DriverVer).
        TMemIniFile mem(copy);
        TIniFile profile(copy);
        EXPECT_EQ(mem.ReadString("version", "driverver", "-"),
                  profile.ReadString("VERSION", "DRIVERVER", "+"))
            << s.path;
        for (const char* section : {s.section, "2345"}) {
            for (bool isWow64 : {true, false}) {
                TDateTime date = 0;
                std::string version;
                OutputCapture capture;
                EXPECT_TRUE(ExtractParamsFromInf(copy, section, date, version, isWow64))
                    << s.path << " " << section << " " << isWow64;
                EXPECT_EQ(date, s.date) << s.path << " " << section;
                EXPECT_EQ(version, s.version) << s.path << " " << section;
                EXPECT_TRUE(capture.lines().empty()) << s.path;
            }
        }
    }
}

} // namespace
} // namespace halyard

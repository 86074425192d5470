#include "catalog/file_hash.h"
#include "fixtures.h"
#include "package_builder.h"
#include "platform/catalog.h"
#include "platform/ctl.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

struct RealPackage {
    const char* folder;
    const char* version; // as DriverVer writes it
    const char* date;    // mm-dd-yyyy
    const char* os;      // the code recorded for the package
    const char* verdict; // the last line expected
};

// "mm-dd-yyyy hh-mm-ss" of a FILETIME inside the accepted signing window, "0" outside it.
std::string DateSignText(platform::FileTime ft) {
    const std::int64_t unix = static_cast<std::int64_t>(ft / 10000000) - 11644473600LL;
    // 2000-01-01 .. 2020-06-21 00:00:00, both ends included.
    if (unix < 946684800 || unix > 1592697600) {
        return "0";
    }
    const std::time_t t = unix;
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%m-%d-%Y %H-%M-%S", &tm);
    return buf;
}

// Repacks a real package in the delivery layout, with the figures worked out from its files.
std::string Repack(const RealPackage& p, TempDir& dir) {
    const std::string src = RealworldDir() + "packages/" + p.folder;
    const std::string content = dir / "content";
    fs::copy(src, content, fs::copy_options::recursive);
    for (const auto& e : fs::recursive_directory_iterator(content)) {
        fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
    }
    std::string cat;
    std::vector<std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(content)) {
        if (e.is_regular_file()) {
            (e.path().extension() == ".cat" ? cat : files.emplace_back()) = e.path().string();
        }
    }
    // Tags as the catalog lists them: SHA-256 where the catalog has it, else SHA-1.
    const auto store = platform::CryptCATOpen(cat, 1);
    EXPECT_TRUE(store.ok());
    std::vector<std::string> tags;
    for (const auto& f : files) {
        std::string tag =
            fixtures::HexUpper(fixtures::FileCatalogDigest(f, platform::DigestAlgorithm::Sha256));
        bool member = false;
        for (const auto& m : (*store)->members) {
            member = member || m.referenceTag == tag;
        }
        if (!member) {
            tag =
                fixtures::HexUpper(fixtures::FileCatalogDigest(f, platform::DigestAlgorithm::Sha1));
        }
        tags.push_back(tag);
    }
    std::string osValue;
    for (const auto& a : (*store)->catalogAttributes) {
        if (a.referenceTag == "OS") {
            osValue = a.valueText();
        }
    }
    const auto ctl = platform::CryptQueryObjectCtl(cat);
    EXPECT_TRUE(ctl.ok());
    const std::string logs = content + "/InternalLogsDoNotCopyToProduction/";
    WriteFile(logs + "params.ini", "[General]\r\nDateSign=" + DateSignText(ctl->thisUpdate) +
                                       "\r\nTotalHashs=" + GenerateHash(tags) + "\r\nOS=" + p.os +
                                       "\r\nVersion=" + p.version + "\r\nDate=" + p.date + "\r\n");
    WriteFile(logs + "cat_file.ini", "[General]\r\nOS=" + osValue + "\r\n");
    const std::string archive = dir / (std::string(p.folder) + ".7z");
    const auto r = Run(SevenZip(), {"a", "-t7z", "-bd", "-y", archive, "*"}, content);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    return archive;
}

TEST(RealworldPackages, RepackedInTheDeliveryLayout) {
    HALYARD_NEED_REALWORLD();
    HALYARD_NEED(!SevenZip().empty(), "7zz");
    const RealPackage packages[] = {
        {"ftdi-cdm-2.12.04-ftdibus-whql-2015", "2.12.04", "06-19-2015", "7_64", "success"},
        {"ftdi-cdm-2.12.04-ftdiport-whql-2015", "2.12.04", "06-19-2015", "81_32", "success"},
        {"tidepool-ftdibus-2024", "2.08.28.0", "02-27-2013", "10_64", "success"},
        {"tidepool-ftdiport-2024", "2.12.36.4", "11-09-2021", "104_64", "success"},
        {"tidepool-hid-infonly-2024", "1.3", "04-21-2016", "10_32", "success"},
        {"tidepool-webusb-infonly-2024", "14.0.0.0", "10-19-2022", "101_64", "success"},
        // Signed by a vendor, not by the hardware-compatibility publisher: SignTool's report
        // names another publisher.
        {"datalogic-usblan-win7-vendor-ev-2018", "02.04.11.014", "02-12-2018", "7_64",
         "wrong:VerifyCatWithSigntool failed"},
        {"datalogic-usblan-win8-vendor-ev-2018", "2.4.11.14", "02-12-2018", "8_64",
         "wrong:VerifyCatWithSigntool failed"},
    };
    for (const auto& p : packages) {
        TempDir dir;
        const std::string archive = Repack(p, dir);
        const auto r = RunPackageCheck({archive});
        ASSERT_FALSE(r.lines.empty()) << p.folder;
        EXPECT_EQ(r.lines.back(), p.verdict) << p.folder << "\n" << r.output;
        EXPECT_FALSE(fs::exists(dir / p.folder)) << p.folder;
    }
}

} // namespace
} // namespace halyard::test

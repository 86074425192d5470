// The package check on hostile inputs: files above their size cap, and packages whose verdict
// would depend on the order in which the file system lists a folder.
#include "base/outcome.h"
#include "package_builder.h"
#include "platform/filestream.h"
#include "platform/messages.h"

#include <gtest/gtest.h>

namespace halyard::test {
namespace {

using Lines = std::vector<std::string>;

class PackageInputs : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }
    static RunResult Check(PackageBuilder& pkg) {
        const auto r = RunPackageCheck({pkg.pack()});
        EXPECT_EQ(r.exitCode, 0);
        return r;
    }
};

TEST_F(PackageInputs, ParamsIniAboveTheCapIsNotRead) {
    // A padding key takes params.ini just past the cap; the file compresses to almost nothing.
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    const std::size_t overhead = 512;
    pkg.params()["Padding"] = std::string(platform::kMaxIniFileSize - overhead, 'p');
    const std::string params =
        pkg.dir().path() + "/pkg/InternalLogsDoNotCopyToProduction/params.ini";
    auto r = Check(pkg);
    EXPECT_EQ(r.lines, Lines{"success"}) << "within the cap";

    pkg.params()["Padding"] = std::string(platform::kMaxIniFileSize, 'p');
    r = Check(pkg);
    EXPECT_EQ(r.lines, Lines{"wrong:EFOpenError: Cannot open file \"" + params + "\". " +
                             platform::SysErrorMessage(codes::kFileTooLarge)});
}

TEST_F(PackageInputs, AnInfAboveTheCapIsNamedBeforeTheVerdict) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    std::string inf = "[Version]\r\nSignature=\"$Windows NT$\"\r\nDriverVer=05/17/2019,1.2.3.4\r\n"
                      "CatalogFile=driver.cat\r\n";
    inf += std::string(platform::kMaxInfFileSize + 1 - inf.size(), ';');
    pkg.setInf(inf);
    const auto r = Check(pkg);
    EXPECT_EQ(r.lines, (Lines{"ExtractParamsFromInf: Cannot read; Params: " + pkg.dir().path() +
                                  "/pkg/driver.inf; Last error: 000000DF " +
                                  platform::SysErrorMessage(codes::kFileTooLarge),
                              "wrong:ExtractParamsFromInf failed"}));
}

// Two catalogs at the top level, one of them damaged: the one Windows lists first on NTFS (by
// upper-cased name, ordinal) decides, whatever order ext4 returns them in. Each pair's byte
// order differs from its NTFS order, and several pairs make it all but certain that the file
// system's own order differs from NTFS order for some of them.
TEST_F(PackageInputs, TheFirstCatalogIsTheFirstInNtfsOrder) {
    struct Pair {
        const char* first; // in NTFS order
        const char* second;
    };
    const Pair pairs[] = {{"a.cat", "B.cat"}, {"z.cat", "_z.cat"},        {"drv.cat", "DRV1.cat"},
                          {"k.cat", "L.CAT"}, {"pkg-a.cat", "PKG_A.cat"}, {"m.cat", "N.cat"}};
    for (const auto& pair : pairs) {
        for (const bool goodFirst : {true, false}) {
            PackageBuilder pkg;
            pkg.addPe("driver.sys");
            pkg.catalogName = goodFirst ? pair.first : pair.second;
            const std::string damaged = goodFirst ? pair.second : pair.first;
            pkg.addFile(damaged, "a damaged catalog", false);
            const auto r = Check(pkg);
            ASSERT_FALSE(r.lines.empty());
            if (goodFirst) {
                EXPECT_EQ(r.lines, Lines{"success"}) << pair.first << " " << pair.second;
            } else {
                EXPECT_EQ(r.lines.back(), "wrong:VerifyAndGetHashes failed")
                    << pair.first << " " << pair.second << "\n"
                    << r.output;
            }
        }
    }
}

} // namespace
} // namespace halyard::test

#include "base/errors.h"
#include "inf/supported_os.h"
#include "report/output.h"
#include "testkit.h"
#include "unopenable_file.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace halyard {
namespace {

using Codes = std::vector<std::string>;

class SupportedOs : public ::testing::Test {
protected:
    Codes Derive(const std::string& oss, bool extend, bool extendAll) {
        return PrepareSupportedOS(oss, dir_.path(), extend, extendAll);
    }
    void WriteCatFile(const std::string& relative, const std::string& bytes) {
        test::WriteFile(dir_ / relative, bytes);
    }
    test::TempDir dir_;
};

TEST_F(SupportedOs, NameFormWidensBothFamiliesInOrder) {
    EXPECT_EQ(Derive("XPX86, VistaX64", true, true),
              (Codes{"5_32", "6_64", "6_32", "7_32", "8_32", "81_32", "10_32", "101_32", "102_32",
                     "103_32", "104_32", "7_64", "8_64", "81_64", "10_64", "101_64", "102_64",
                     "103_64", "104_64"}));
    EXPECT_EQ(Derive("XPX86, VistaX64", true, false), (Codes{"5_32", "6_64"}));
    EXPECT_EQ(Derive("XPX86, VistaX64", false, true), (Codes{"5_32", "6_64"}));
}

TEST_F(SupportedOs, WideningWithoutExtendAllStartsAtTheFirstNewCode) {
    EXPECT_EQ(Derive("7X64,8X64", true, false),
              (Codes{"7_64", "8_64", "81_64", "10_64", "101_64", "102_64", "103_64", "104_64"}));
    EXPECT_EQ(Derive("_v63,7x86", true, false),
              (Codes{"81_32", "7_32", "10_32", "101_32", "102_32", "103_32", "104_32"}));
    EXPECT_EQ(Derive("_v100_RS4", true, false),
              (Codes{"104_32", "10_32", "101_32", "102_32", "103_32"}));
}

TEST_F(SupportedOs, FeatureUpdatesBringTheirBaseRelease) {
    EXPECT_EQ(Derive("_V100_X64_RS3", true, true),
              (Codes{"103_64", "10_64", "101_64", "102_64", "104_64"}));
    EXPECT_EQ(Derive("_v100_RS1,_v100_RS2,_v100,_v100_X64_RS5", false, false),
              (Codes{"101_32", "10_32", "102_32", "10_64"}));
    EXPECT_EQ(Derive("_v100_X64_22H2,_v100_ARM64_22H2", false, false), Codes{});
}

TEST_F(SupportedOs, DuplicatesOnlyGuardedForWindows10) {
    EXPECT_EQ(Derive("XPX86,XPX86", false, false), (Codes{"5_32", "5_32"}));
    EXPECT_EQ(Derive("_V100,10X86", false, false), (Codes{"10_32"}));
    EXPECT_EQ(Derive("10X64,_v100_x64", false, false), (Codes{"10_64"}));
    EXPECT_EQ(Derive("Server2008R2X64,2000,8ARM,7X64", false, false), (Codes{"7_64"}));
}

TEST_F(SupportedOs, AttributeForm) {
    EXPECT_EQ(Derive("2:6.1,2:6.2", false, false), (Codes{"7_32", "7_64", "8_32", "8_64"}));
    EXPECT_EQ(Derive("XPX86,2:6.1", false, false), (Codes{"7_32", "7_64"}));
    EXPECT_EQ(Derive("2:10.0", true, true), Codes{});
    EXPECT_EQ(Derive("2:5.1,2:5.2,2:6.0,2:6.3", false, false),
              (Codes{"5_32", "5_64", "6_32", "6_64", "81_32", "81_64"}));
    EXPECT_EQ(Derive("2:6.3", true, true),
              (Codes{"81_32", "81_64", "10_32", "101_32", "102_32", "103_32", "104_32", "10_64",
                     "101_64", "102_64", "103_64", "104_64"}));
}

TEST_F(SupportedOs, ReadsCatFileAsUtf8WithFallbacks) {
    WriteCatFile("InternalLogsDoNotCopyToProduction/cat_file.ini",
                 "\xEF\xBB\xBF[General]\r\nOS=\r\nOSAttr=\r\n[0]\r\nOSAttr=2:6.1\r\n");
    EXPECT_EQ(Derive("", false, false), (Codes{"7_32", "7_64"}));
    // An explicit declaration is used instead of the file.
    EXPECT_EQ(Derive("XPX64", false, false), (Codes{"5_64"}));
    WriteCatFile("InternalLogsDoNotCopyToProduction/cat_file.ini",
                 "[general]\nosattr=2:6.2\n[0]\nOSAttr=2:6.1\n");
    EXPECT_EQ(Derive("", false, false), (Codes{"8_32", "8_64"}));
    WriteCatFile("InternalLogsDoNotCopyToProduction/cat_file.ini",
                 "[General]\nOS=_v63_X64\nOSAttr=2:6.2\n");
    EXPECT_EQ(Derive("", false, false), (Codes{"81_64"}));
}

TEST_F(SupportedOs, CatFileDirectlyInTheWorkFolderAndTrailingSeparator) {
    WriteCatFile("cat_file.ini", "[General]\nOS=7X86\n");
    EXPECT_EQ(Derive("", false, false), (Codes{"7_32"}));
    EXPECT_EQ(PrepareSupportedOS("", dir_.path() + "/", false, false), (Codes{"7_32"}));
    // The copy under InternalLogsDoNotCopyToProduction is preferred.
    WriteCatFile("InternalLogsDoNotCopyToProduction/cat_file.ini", "[General]\nOS=8X86\n");
    EXPECT_EQ(PrepareSupportedOS("", dir_.path() + "/", false, false), (Codes{"8_32"}));
}

TEST_F(SupportedOs, FailuresGiveEmptyResultsAndPrintNothing) {
    OutputCapture capture;
    EXPECT_EQ(PrepareSupportedOS("7X86", dir_ / "missing", true, true), Codes{});
    EXPECT_EQ(Derive("", true, true), Codes{}); // no cat_file.ini
    WriteCatFile("cat_file.ini", "[General]\nOS=\n");
    EXPECT_EQ(Derive("", true, true), Codes{});
    EXPECT_EQ(Derive("Mystery", true, true), Codes{});
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(SupportedOs, UnopenableCatFileRaisesTheFileError) {
    std::filesystem::create_directories(dir_ / "InternalLogsDoNotCopyToProduction");
    const test::UnopenableFile socket(dir_ / "InternalLogsDoNotCopyToProduction/cat_file.ini");
    EXPECT_THROW(Derive("", true, true), EFOpenError);
}

// Declarations exactly as real catalogs carry them (the catalogs' "OS" and "OSAttr" attributes),
// written into cat_file.ini and derived as the package check does (widening everything).
TEST_F(SupportedOs, RealCatalogDeclarations) {
    struct Case {
        const char* catFile;
        Codes codes;
    };
    const Case cases[] = {
        {"[General]\r\nOS=_v100,_v100_X64,_v100_RS1,_v100_X64_RS1,_v100_RS2,_v100_X64_RS2,"
         "_v100_RS3,_v100_X64_RS3,_v100_RS4,_v100_X64_RS4,_v100_RS5,_v100_X64_RS5,_v100_19H1,"
         "_v100_X64_19H1,_v100_Vb,_v100_X64_Vb,_v100_X64_21H2,_v100_X64_22H2,_v100_X64_24H2\r\n"
         "OSAttr=2:10.0\r\n",
         {"10_32", "10_64", "101_32", "101_64", "102_32", "102_64", "103_32", "103_64", "104_32",
          "104_64"}},
        {"[General]\r\nOS=7X86,7X64,Server2008R2X64,8X86,8X64,_v63,_v63_X64,_v63_Server_X64\r\n",
         {"7_32", "7_64", "8_32", "8_64", "81_32", "81_64", "10_32", "101_32", "102_32", "103_32",
          "104_32", "10_64", "101_64", "102_64", "103_64", "104_64"}},
        {"[General]\r\nOS=XPX86,Server2003X86,VistaX86,Server2008X86,7X86\r\n",
         {"5_32", "6_32", "7_32", "8_32", "81_32", "10_32", "101_32", "102_32", "103_32",
          "104_32"}},
        {"[General]\r\nOS=\r\n[0]\r\nOSAttr=2:6.2,2:6.3,2:6.4\r\n",
         {"8_32", "8_64", "81_32", "81_64", "10_32", "101_32", "102_32", "103_32", "104_32",
          "10_64", "101_64", "102_64", "103_64", "104_64"}},
        // A Windows 10 declaration in attribute form alone names no code.
        {"[General]\r\nOSAttr=2:10.0\r\n", {}},
    };
    for (const Case& c : cases) {
        WriteCatFile("InternalLogsDoNotCopyToProduction/cat_file.ini", c.catFile);
        EXPECT_EQ(Derive("", true, true), c.codes) << c.catFile;
    }
}

} // namespace
} // namespace halyard

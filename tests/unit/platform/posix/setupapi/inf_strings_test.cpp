// The Setup API's %key% substitution in the INF values SetupVerifyInfFileW reads: the rule on its
// own, and the CatalogFile directives of INF texts shaped as vendors write them (a signed pair
// named through a token is checked end to end with "/verify").
#include "platform/posix/setupapi/verify_inf_file.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>

namespace halyard {
namespace {

using setupapi_posix::CatalogDirective;
using setupapi_posix::RunningPlatform;
using setupapi_posix::SubstituteInfStrings;

TEST(InfStringSubstitution, TokensPercentSignsAndUndefinedKeys) {
    const std::map<std::string, std::string> strings = {
        {"NAME", "arduino"}, {"EMPTY", ""}, {"TOKEN", "%NAME%"}};
    const auto lookup = [&](const std::string& key) -> std::optional<std::string> {
        const auto it = strings.find(key);
        return it == strings.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    const std::pair<const char*, const char*> cases[] = {
        {"%NAME%.cat", "arduino.cat"},
        {"x_%NAME%_%NAME%%EMPTY%.cat", "x_arduino_arduino.cat"},
        {"100%%.cat", "100%.cat"},
        {"%%NAME%%", "%NAME%"},                  // "%%" pairs first, left to right
        {"%MISSING%.cat", "%MISSING%.cat"},      // undefined: as written
        {"%MISSING%%NAME%", "%MISSING%arduino"}, // the undefined token keeps its own closing "%"
        {"50% off", "50% off"},                  // a lone "%"
        {"%TOKEN%", "%NAME%"},                   // what a key stands for is not scanned again
        {"%", "%"},
    };
    for (const auto& [value, expected] : cases) {
        EXPECT_EQ(SubstituteInfStrings(value, lookup), expected) << value;
    }
}

class InfStringsDirective : public ::testing::Test {
protected:
    test::TempDir dir_;

    std::optional<std::string> Directive(const std::string& text) {
        const std::string inf = dir_ / "driver.inf";
        test::WriteFile(inf, text);
        return CatalogDirective(inf, RunningPlatform());
    }
};

TEST_F(InfStringsDirective, ArduinoStyleTokenAndStringsSections) {
    // As signed vendor packages write it (LF line ends, as stored in their repositories).
    EXPECT_EQ(Directive("[Version]\nSignature=\"$Windows NT$\"\nCatalogFile=%MFGFILENAME%.cat\n"
                        "DriverVer=01/01/2013,1.0\n\n[Strings]\nMFGFILENAME=\"arduino\"\n"
                        "MFGNAME=\"Arduino LLC (www.arduino.cc)\"\n"),
              "arduino.cat");
    // [Strings.0409] is read before [Strings]; keys and section names ignore letter case; the
    // quotes and a comment around a string go.
    EXPECT_EQ(Directive("[version]\r\ncatalogfile = %MfgFileName%.cat ; the catalog\r\n"
                        "[strings]\r\nmfgfilename=generic\r\n"
                        "[STRINGS.0409]\r\nMFGFILENAME = \"us;english\" ; chosen\r\n"),
              "us;english.cat");
    // A key [Strings.0409] lacks is still found in [Strings]; another language's section is
    // not read.
    EXPECT_EQ(Directive("[Version]\r\nCatalogFile=%A%_%B%.cat\r\n[Strings.0407]\r\nB=german\r\n"
                        "[Strings.0409]\r\nA=a\r\n[Strings]\r\nA=not-this\r\nB=\"b\"\r\n"),
              "a_b.cat");
    // An undefined token, a token inside the quoted value, a decorated directive.
    EXPECT_EQ(Directive("[Version]\r\nCatalogFile=%NOPE%.cat\r\n[Strings]\r\nYES=1\r\n"),
              "%NOPE%.cat");
    EXPECT_EQ(Directive("[Version]\r\nCatalogFile.NTamd64=\"%N%.cat\"\r\nCatalogFile=x.cat\r\n"
                        "[Strings]\r\nN=amd64\r\n"),
              "amd64.cat");
    // A directive that comes out empty names no catalog.
    EXPECT_EQ(Directive("[Version]\r\nCatalogFile=%E%\r\n[Strings]\r\nE=\"\"\r\n"), std::nullopt);
}

} // namespace
} // namespace halyard

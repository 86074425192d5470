#include "platform/messages.h"
#include "report/diagnostics.h"
#include "report/output.h"
#include "testkit.h"

#include <gtest/gtest.h>

namespace halyard {
namespace {

TEST(CollectError, WithoutACodeTheErrorPartIsLeftOut) {
    EXPECT_EQ(FormatCollectedError("GetSignDateOfCAT", "CryptQueryObject fail", "/x/a.cat",
                                   codes::kNoCode),
              "GetSignDateOfCAT: CryptQueryObject fail; Params: /x/a.cat");
    EXPECT_EQ(FormatCollectedError("F", "", "", codes::kNoCode), "F: ; Params: ");
}

TEST(CollectError, CodesAreEightUpperCaseDigitsAndTheTextLosesItsFullStop) {
    HALYARD_WINDOWS_ONLY(); // Wine's message texts differ from Windows'
    EXPECT_EQ(FormatCollectedError("F", "m", "p", 0),
              "F: m; Params: p; Last error: 00000000 The operation completed successfully");
    EXPECT_EQ(FormatCollectedError("F", "m", "p", 0x800B0100),
              "F: m; Params: p; Last error: 800B0100 No signature was present in the subject");
    EXPECT_EQ(FormatCollectedError("F", "m", "p", 2),
              "F: m; Params: p; Last error: 00000002 The system cannot find the file specified");
}

TEST(CollectError, ACodeWithoutTextEndsWithTheBlank) {
    EXPECT_EQ(platform::SysErrorMessage(0x12345678), "");
    EXPECT_EQ(FormatCollectedError("F", "m", "p", 0x12345678),
              "F: m; Params: p; Last error: 12345678 ");
}

TEST(CollectError, WritesOneLineAndXLogWritesNothing) {
    OutputCapture out;
    CollectError("IsCodeSigned", "No cat file", "a.sys", codes::kNoCode);
    XLog::Error("PrepareSupportedOS", "Unknown OS", "FOO");
    EXPECT_EQ(out.lines(), std::vector<std::string>{"IsCodeSigned: No cat file; Params: a.sys"});
}

TEST(MessageTable, EveryTrustCodeTheChecksPrintHasAText) {
    HALYARD_WINDOWS_ONLY(); // Wine has no texts for most crypt and trust codes
    for (std::uint32_t code :
         {0x800B0004u, 0x800B0001u, 0x800B0002u, 0x800B0003u, 0x800B0100u, 0x80096002u, 0x800B010Au,
          0x80092003u, 0x800B0109u, 0x800B0101u, 0x80096010u, 0x80090008u, 0xE000022Fu, 0xE0000241u,
          0xE0000242u, 0xE0000244u, 0x80004005u, 1u,          3u,          5u,          1168u}) {
        const std::string text = platform::SysErrorMessage(code);
        EXPECT_FALSE(text.empty()) << std::hex << code;
        EXPECT_NE(text.back(), '.') << std::hex << code;
    }
}

} // namespace
} // namespace halyard

// The POSIX SignTool stand-in's usage errors.
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

TEST(StandIn, UsageErrors) {
    const std::string program = test::BinDir() + "SignTool.exe";
    ASSERT_TRUE(std::filesystem::exists(program));
    test::TempDir work;
    test::RunResult raw = test::Run(program, {});
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_EQ(raw.output.rfind("SignTool Error: A required parameter is missing.", 0), 0u);
    raw = test::Run(program, {"verify", "/kp"});
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_EQ(raw.output.rfind("SignTool Error: Missing filename.", 0), 0u);
    raw = test::Run(program, {"verify", "/kp", "/c", work / "none.cat", work / "none.sys"});
    EXPECT_EQ(raw.exitCode, 1);
    EXPECT_NE(raw.output.find("SignTool Error: File not found: " + (work / "none.sys")),
              std::string::npos);
}

} // namespace
} // namespace halyard

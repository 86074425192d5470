// The console process runner on Windows: real console programs (cmd.exe and this build's
// halyard.exe) run through CreateProcessW with one pipe for both output streams.
#ifdef _WIN32
#include "base/unicode.h"
#include "external/process/dos_output.h"
#include "platform/files.h"
#include "platform/process.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <string>
#include <windows.h>

namespace halyard {
namespace {

using test::TempDir;
using test::WriteFile;

std::string Cmd(const std::string& script) {
    return "cmd.exe /c \"" + script + "\"";
}

TEST(GetDosOutputWin32, CapturesBothStreamsInOrderAndWaits) {
    EXPECT_EQ(GetDosOutput("cmd.exe /c rem", ""), "");
    // cmd writes the blank before a redirection as part of the echoed text.
    std::string both =
        GetDosOutput(Cmd("echo out1& echo err1 1>&2& echo out2& echo err2 1>&2"), "");
    for (std::size_t at; (at = both.find(" \r\n")) != std::string::npos;) {
        both.erase(at, 1);
    }
    EXPECT_EQ(both, "out1\r\nerr1\r\nout2\r\nerr2\r\n");
}

TEST(GetDosOutputWin32, ProgramThatCannotStartGivesEmptyText) {
    EXPECT_EQ(GetDosOutput("no-such-program-8f2c.exe /v", ""), "");
    EXPECT_EQ(GetDosOutput("", ""), "");
    const platform::ConsoleRun run =
        platform::RunConsoleProgram("cmd.exe /c echo x", "Z:\\no\\such\\folder-8f2c", 255);
    EXPECT_FALSE(run.started);
    EXPECT_TRUE(run.reads.empty());
}

TEST(GetDosOutputWin32, WorkFolderIsTheChildsCurrentFolder) {
    TempDir dir;
    WriteFile(dir / "marker-7d1e.txt", "x");
    EXPECT_NE(GetDosOutput("cmd.exe /c dir /b", dir.path()).find("marker-7d1e.txt"),
              std::string::npos);
}

TEST(GetDosOutputWin32, LongOutputArrivesWholeInReadsOf255) {
    std::string expected;
    for (int i = 1; i <= 60; ++i) {
        expected += "line" + std::to_string(i) + "\r\n";
    }
    const std::string command = Cmd("for /l %i in (1,1,60) do @echo line%i");
    const platform::ConsoleRun run = platform::RunConsoleProgram(command, "", 255);
    ASSERT_TRUE(run.started);
    std::string joined;
    for (const auto& read : run.reads) {
        EXPECT_LE(read.size(), 255u);
        joined += read;
    }
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(GetDosOutput(command, ""), expected);
}

TEST(GetDosOutputWin32, BytesAreDecodedFromTheAnsiCodePage) {
    if (::GetACP() != 1252) {
        GTEST_SKIP() << "the expected text is for Windows-1252";
    }
    TempDir dir;
    WriteFile(dir / "ansi.txt", "caf\xE9 \x80");
    EXPECT_EQ(GetDosOutput("cmd.exe /c type ansi.txt", dir.path()), "caf\xC3\xA9 \xE2\x82\xAC");
}

TEST(GetDosOutputWin32, FindsThisProgramsFolderFirst) {
    // halyard.exe lies beside the test programs; CreateProcessW looks there first.
    EXPECT_EQ(GetDosOutput("halyard.exe /cat", ""), "wrong:Cat name: \r\nfail\r\n");
    TempDir elsewhere;
    EXPECT_EQ(GetDosOutput("halyard /cat", elsewhere.path()), "wrong:Cat name: \r\nfail\r\n");
    EXPECT_EQ(platform::FindProgram("halyard"), platform::ProgramDirectory() + "halyard.exe");
    EXPECT_EQ(platform::FindProgram("no-such-program-8f2c"), "");
}

TEST(GetDosOutputWin32, LeavesNoHandleBehind) {
    DWORD before = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
    for (int i = 0; i < 10; ++i) {
        GetDosOutput("cmd.exe /c echo x", "");
        GetDosOutput("no-such-program-8f2c", "");
    }
    DWORD after = 0;
    ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
    EXPECT_LE(after, before + 2); // the system may cache a handle or two on first use
}

} // namespace
} // namespace halyard
#endif

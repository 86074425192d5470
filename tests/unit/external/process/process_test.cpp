// The console process runner: Windows command-line rules, program lookup, one pipe for both
// output streams, and the text GetDosOutput makes of the pipe's reads.
#include "base/unicode.h"
#include "external/process/dos_output.h"
#include "platform/process.h"
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace halyard {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

using Args = std::vector<std::string>;

TEST(CommandLineToArgv, FollowsTheWindowsRules) {
    const struct {
        const char* line;
        Args args;
    } cases[] = {
        {"prog", {"prog"}},
        {"prog   \t", {"prog"}},
        {"prog \"abc\" d e", {"prog", "abc", "d", "e"}},
        {R"(prog a\\\b d"e f"g h)", {"prog", R"(a\\\b)", "de fg", "h"}},
        {R"(prog a\\\"b c d)", {"prog", R"(a\"b)", "c", "d"}},
        {R"(prog a\\\\"b c" d e)", {"prog", R"(a\\b c)", "d", "e"}},
        {R"(prog "a""b")", {"prog", R"(a"b)"}},
        {R"(prog "")", {"prog", ""}},
        // The program name takes no escapes and ends at the next quotation mark.
        {R"("C:\Program Files\x.exe" /v)", {R"(C:\Program Files\x.exe)", "/v"}},
        {R"("a\"b c)", {R"(a\)", "b", "c"}},
        {R"(SignTool.exe verify /kp /c "/tmp/a b/x.cat" "/tmp/a b/y.sys")",
         {"SignTool.exe", "verify", "/kp", "/c", "/tmp/a b/x.cat", "/tmp/a b/y.sys"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::CommandLineToArgv(c.line), c.args) << c.line;
    }
}

// The runner's own tests run POSIX programs; Windows has its own in process_win32_test.cpp.
#ifndef _WIN32
void WriteScript(const std::string& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
}

// Changes the current folder for one test.
class CurrentFolder {
public:
    explicit CurrentFolder(const std::string& dir) : saved_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~CurrentFolder() { fs::current_path(saved_); }

private:
    fs::path saved_;
};

class PathVariable {
public:
    explicit PathVariable(const std::string& value) : saved_(std::getenv("PATH")) {
        ::setenv("PATH", value.c_str(), 1);
    }
    ~PathVariable() { ::setenv("PATH", saved_.c_str(), 1); }

private:
    std::string saved_;
};

TEST(FindProgram, OwnFolderThenCurrentFolderThenPath) {
    TempDir cwd;
    TempDir onPath;
    CurrentFolder here(cwd.path());
    PathVariable path(onPath.path() + ":/usr/bin:/bin");

    // This program's folder wins over the current folder.
    WriteScript(cwd / "halyard", "echo cwd");
    EXPECT_EQ(platform::FindProgram("halyard"), test::BinDir() + "halyard");
    if (fs::exists(test::BinDir() + "SignTool.exe")) {
        EXPECT_EQ(platform::FindProgram("SignTool.exe"), test::BinDir() + "SignTool.exe");
    }

    WriteScript(cwd / "probe-x", "echo cwd");
    WriteScript(onPath / "probe-x", "echo path");
    EXPECT_EQ(platform::FindProgram("probe-x"), cwd / "probe-x");
    EXPECT_EQ(GetDosOutput("probe-x", ""), "cwd\n");
    fs::remove(cwd / "probe-x");
    EXPECT_EQ(platform::FindProgram("probe-x"), onPath / "probe-x");

    // ".exe": a bare name tries the name with ".exe" first; "x.exe" also finds "x".
    WriteScript(onPath / "probe-x.exe", "echo exe");
    EXPECT_EQ(platform::FindProgram("probe-x"), onPath / "probe-x.exe");
    EXPECT_EQ(platform::FindProgram("probe-y.exe"), "");
    WriteScript(onPath / "probe-y", "echo y");
    EXPECT_EQ(platform::FindProgram("PROBE-Y.EXE"), "");
    EXPECT_EQ(platform::FindProgram("probe-y.exe"), onPath / "probe-y");

    // A name with a path is taken as given, a relative one from the current folder.
    fs::create_directories(cwd / "tools");
    WriteScript(cwd / "tools/t", "echo t");
    EXPECT_EQ(platform::FindProgram("tools/t"), cwd / "tools/t");
    EXPECT_EQ(GetDosOutput("tools/t", onPath.path()), "t\n");

    // Not executable, or a folder: not a program.
    WriteFile(onPath / "plain", "data");
    EXPECT_EQ(platform::FindProgram("plain"), "");
    fs::create_directories(onPath / "folder");
    EXPECT_EQ(platform::FindProgram("folder"), "");
}

TEST(GetDosOutput, CapturesBothStreamsInOrderAndWaits) {
    EXPECT_EQ(GetDosOutput("sh -c true", ""), "");
    EXPECT_EQ(
        GetDosOutput(R"(sh -c "printf out1; printf err1 >&2; printf out2; printf err2 >&2")", ""),
        "out1err1out2err2");

    TempDir dir;
    // The child closes its output first and ends later: the call returns only after the end.
    const std::string marker = dir / "marker";
    EXPECT_EQ(GetDosOutput(
                  "sh -c \"printf x; exec >/dev/null 2>&1; sleep 0.3; : > '" + marker + "'\"", ""),
              "x");
    EXPECT_TRUE(fs::exists(marker));
}

TEST(GetDosOutput, ProgramThatCannotStartGivesEmptyText) {
    EXPECT_EQ(GetDosOutput("no-such-program-8f2c.exe verify", ""), "");
    EXPECT_FALSE(platform::RunConsoleProgram("no-such-program-8f2c", "", 255).started);
    EXPECT_EQ(GetDosOutput("", ""), "");
    TempDir dir;
    // A working folder that does not exist: the child is not started.
    EXPECT_FALSE(platform::RunConsoleProgram("sh -c true", dir / "missing", 255).started);
    EXPECT_EQ(GetDosOutput("sh -c \"echo hi\"", dir / "missing"), "");
}

TEST(GetDosOutput, WorkFolderIsTheChildsCurrentFolder) {
    TempDir dir;
    EXPECT_EQ(GetDosOutput("sh -c pwd", dir.path()), fs::canonical(dir.path()).string() + "\n");
}

TEST(GetDosOutput, LongOutputArrivesWholeInReadsOf255) {
    std::string expected;
    for (int i = 1; i <= 2000; ++i) {
        expected += std::to_string(i) + "\n";
    }
    const platform::ConsoleRun run = platform::RunConsoleProgram("seq 1 2000", "", 255);
    ASSERT_TRUE(run.started);
    std::string joined;
    for (const auto& read : run.reads) {
        EXPECT_LE(read.size(), 255u);
        joined += read;
    }
    EXPECT_EQ(joined, expected);
    EXPECT_EQ(GetDosOutput("seq 1 2000", ""), expected);
}

TEST(GetDosOutput, ZeroByteCutsOnlyItsOwnRead) {
    // One write of 300 bytes (atomic in the pipe): the first read takes 255 of them, cut at
    // the zero; the second read's 45 bytes count in full.
    std::string bytes(300, 'b');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>('a' + i % 26);
    }
    bytes[10] = '\0';
    TempDir dir;
    WriteFile(dir / "data.bin", bytes);
    EXPECT_EQ(GetDosOutput("cat data.bin", dir.path()), bytes.substr(0, 10) + bytes.substr(255));

    EXPECT_EQ(JoinDosOutputReads({std::string("ab\0cd", 5), "ef", std::string("\0gh", 3), "ij"}),
              "abefij");
}

TEST(GetDosOutput, BytesAreTakenAsUtf8) {
    // A POSIX console program writes UTF-8 (Cyrillic is outside Windows-1252); bytes that are
    // not UTF-8 stay as they are, so an echoed file name still compares equal.
    TempDir dir;
    WriteFile(dir / "utf8.txt", "\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82 caf\xC3\xA9 \x80");
    EXPECT_EQ(GetDosOutput("cat utf8.txt", dir.path()),
              "\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82 caf\xC3\xA9 \x80");

    // A character of a multi-byte code page split across two reads stays whole, because the
    // reads are joined before anything is decoded.
    const std::string joined = JoinDosOutputReads({"ab\xE2\x82", "\xAC"
                                                                 "cd"});
    EXPECT_EQ(joined, "ab\xE2\x82\xAC"
                      "cd");
    EXPECT_TRUE(IsValidUtf8(joined));
}

TEST(GetDosOutput, LeavesNoDescriptorBehind) {
    const auto count = [] {
        return std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{});
    };
    const auto before = count();
    for (int i = 0; i < 20; ++i) {
        GetDosOutput("sh -c \"echo x\"", "");
        GetDosOutput("no-such-program-8f2c", "");
    }
    EXPECT_EQ(count(), before);
}

#endif

} // namespace
} // namespace halyard

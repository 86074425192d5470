// Console programs run with a captured pipe (CreatePipe, CreateProcessW, ReadFile,
// WaitForSingleObject): the child's standard output and standard error share one pipe, its
// standard input is ours, and it runs in a given working folder.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace halyard::platform {

struct ConsoleRun {
    bool started = false;
    // The child (with everything it started) was killed at the time limit.
    bool timedOut = false;
    // The pipe's bytes exactly as each read returned them, in order.
    std::vector<std::string> reads;
};

// Runs a Windows-style command line (program name first) with workDir as the child's current
// folder (empty: ours), reads the pipe in reads of at most maxRead bytes until the child and
// everything it started have closed it, and waits for the child to end. started is false, with
// no reads, when the program cannot be found or started (also for a missing working folder).
// With a time limit (milliseconds; 0: none) a child still running at its end is killed with
// everything it started, and timedOut is set.
ConsoleRun RunConsoleProgram(const std::string& commandLine, const std::string& workDir,
                             std::size_t maxRead, int timeoutMs = 0);

// How many console programs a check may run side by side: one per processor on POSIX (at most
// kMostConsolePrograms), one on Windows, where every child started meanwhile would inherit the
// others' pipe handles and hold their output open.
inline constexpr std::size_t kMostConsolePrograms = 8;
std::size_t ConsoleProgramsAtOnce();

// The text of a console program's captured bytes. Windows programs write the ANSI code page to
// a pipe; on POSIX they write the locale's encoding, UTF-8, whose bytes are taken as they are
// (so a path the program echoes compares equal to ours even where it is not valid UTF-8).
std::string ConsoleOutputToUtf8(std::string_view bytes);

// The arguments of a command line by CommandLineToArgvW's rules: the program name ends at the
// next blank or, when quoted, at the next quotation mark; the other arguments honour quotation
// marks, backslashes before them and doubled quotation marks.
std::vector<std::string> CommandLineToArgv(std::string_view commandLine);

// The file a program name stands for, looked up as CreateProcessW does without an application
// name: a name with a path as given; otherwise this program's folder, the current folder, then
// each folder of PATH. A name without an extension also tries ".exe" added; on POSIX a name
// ending in ".exe" also tries the name without it. Empty when nothing is found.
std::string FindProgram(const std::string& name);

} // namespace halyard::platform

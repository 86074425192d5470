// Standard output and the program's command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace halyard::platform {

// Converts a UTF-8 line to the bytes standard output takes (UTF-8 on POSIX; the console or ANSI
// code page on Windows).
std::string EncodeForStdout(std::string_view text);

// Writes all bytes and flushes; false when the write failed.
bool WriteStdout(std::string_view bytes);

// Progress for a person watching: whether standard error is a terminal (a console on Windows),
// and writing bytes to it unbuffered (failures are ignored: progress is never a result).
bool StderrIsTerminal();
void WriteStderr(std::string_view bytes);

// The program's arguments after the program name, by the Windows rule: from the process command
// line on Windows; from argv on POSIX, stopping at the first empty argument.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Whether the front end trims blanks and control characters from the ends of the joined path.
// Windows drops trailing blanks from file names anyway; a POSIX file name may begin or end in
// them, so there every argument is taken byte for byte (a trailing blank names another file).
#ifdef _WIN32
inline constexpr bool kTrimJoinedArguments = true;
#else
inline constexpr bool kTrimJoinedArguments = false;
#endif

// The front end's own split of a command line text (argument 0 included), as ParamStr splits it:
// every character up to U+0020 is a blank, quotation marks group without any escape, and a pair
// of them standing alone is skipped. Programs we start get CommandLineToArgv's rule instead.
std::vector<std::string> SplitParamStr(std::string_view commandLine);

} // namespace halyard::platform

// Running a console program and taking everything it writes (GetDosOutput).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace halyard {

// Runs the command line (program name first, looked up as Windows does) with work as the
// child's current folder and returns what it wrote to standard output and standard error, in
// the order written, decoded from the console programs' encoding (the ANSI code page on
// Windows, UTF-8 on POSIX). Empty when the child cannot be started.
// Waits for the child to end; with a time limit (milliseconds, 0: none) a child still running at
// its end is killed with everything it started, and the result is empty as for a child that
// could not be started (what it wrote before is no verdict).
std::string GetDosOutput(const std::string& commandLine, const std::string& work,
                         int timeoutMs = 0);

// The bytes of the pipe's reads put together: a zero byte ends the text of its own read (the
// rest of that read is dropped); the next read counts in full again. The bytes are decoded
// only once joined, so that a character split across two reads stays whole.
std::string JoinDosOutputReads(const std::vector<std::string>& reads);

// The largest read from the pipe.
inline constexpr std::size_t kDosOutputReadSize = 255;

} // namespace halyard

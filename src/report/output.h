// The one writer of result and diagnostic lines: every line ends in CR LF and is flushed at once.
// On POSIX lines are written as UTF-8 bytes; on Windows in the console's output code page, or in
// the ANSI code page when standard output is a pipe or a file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace halyard {

// Writes one line (UTF-8 text) to standard output, escaped by EscapeLine. Throws EWriteError
// when the write fails.
void WriteLine(std::string_view text);

// The visible form of a line's text, so that no text from outside (a path, an item name, a file's
// content, a child program's output) can end a line or forge another: CR, LF and TAB become
// "\r", "\n" and "\t"; any other C0 control, DEL and every byte that is not part of valid UTF-8
// become "\xHH" (the byte, upper-case hex); the C1 controls U+0080..U+009F and the line and
// paragraph separators U+2028 and U+2029 become "\u{HHHH}". Everything else, backslashes
// included, stays as it is (Windows paths keep their look).
std::string EscapeLine(std::string_view text);

// While alive, lines go to this object instead of standard output (tests).
class OutputCapture {
public:
    OutputCapture();
    ~OutputCapture();
    OutputCapture(const OutputCapture&) = delete;
    OutputCapture& operator=(const OutputCapture&) = delete;

    const std::vector<std::string>& lines() const { return lines_; }
    std::string text() const; // lines joined with "\n"
    void clear() { lines_.clear(); }

private:
    friend void WriteLine(std::string_view text);
    std::vector<std::string> lines_;
    OutputCapture* previous_;
};

} // namespace halyard

#include "report/output.h"

#include "base/errors.h"
#include "base/hex.h"
#include "base/unicode.h"
#include "platform/console.h"
#include "report/progress.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace halyard {

namespace {
OutputCapture* activeCapture = nullptr;

} // namespace

std::string EscapeLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (byte == '\r') {
                out += "\\r";
            } else if (byte == '\n') {
                out += "\\n";
            } else if (byte == '\t') {
                out += "\\t";
            } else if (byte < 0x20 || byte == 0x7F) {
                out += "\\x";
                AppendHexDigits(out, byte, 2);
            } else {
                out += static_cast<char>(byte);
            }
            ++i;
            continue;
        }
        std::size_t next = i;
        bool valid = true;
        const char32_t cp = DecodeUtf8Char(text, next, &valid);
        if (!valid) {
            // One byte at a time: decoding resumes at the next byte.
            out += "\\x";
            AppendHexDigits(out, byte, 2);
            ++i;
        } else if (cp <= 0x9F || cp == 0x2028 || cp == 0x2029) {
            out += "\\u{";
            AppendHexDigits(out, static_cast<unsigned>(cp), 4);
            out += '}';
            i = next;
        } else {
            out.append(text.substr(i, next - i));
            i = next;
        }
    }
    return out;
}

void WriteLine(std::string_view text) {
    const std::string line = EscapeLine(text);
    if (activeCapture != nullptr) {
        activeCapture->lines_.push_back(line);
        return;
    }
    EndProgress(); // a line on the terminal must not start after a progress line
    std::string bytes = platform::EncodeForStdout(line);
    bytes += "\r\n";
    if (!platform::WriteStdout(bytes)) {
        throw EWriteError("Cannot write to standard output");
    }
}

OutputCapture::OutputCapture() : previous_(activeCapture) {
    activeCapture = this;
}

OutputCapture::~OutputCapture() {
    activeCapture = previous_;
}

std::string OutputCapture::text() const {
    std::string out;
    for (const auto& line : lines_) {
        if (!out.empty()) {
            out += '\n';
        }
        out += line;
    }
    return out;
}

} // namespace halyard

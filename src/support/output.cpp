#include "support/output.h"

#include "platform/console.h"
#include "platform/errors.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace halyard {

namespace {
OutputCapture* g_capture = nullptr;
} // namespace

void WriteLine(std::string_view text) {
    if (g_capture != nullptr) {
        g_capture->lines_.emplace_back(text);
        return;
    }
    std::string bytes = platform::EncodeForStdout(text);
    bytes += "\r\n";
    if (!platform::WriteStdout(bytes)) {
        throw EWriteError("Cannot write to standard output");
    }
}

OutputCapture::OutputCapture() : previous_(g_capture) {
    g_capture = this;
}

OutputCapture::~OutputCapture() {
    g_capture = previous_;
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

#include "platform/console.h"

#include <cerrno>
#include <unistd.h>

namespace halyard::platform {

std::string EncodeForStdout(std::string_view text) {
    return std::string(text);
}

bool StderrIsTerminal() {
    return ::isatty(STDERR_FILENO) == 1;
}

void WriteStderr(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(STDERR_FILENO, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

bool WriteStdout(std::string_view bytes) {
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        if (argv[i] == nullptr || argv[i][0] == '\0') {
            break;
        }
        args.emplace_back(argv[i]);
    }
    return args;
}

} // namespace halyard::platform

#include "platform/files.h"

#include <climits>
#include <string>
#include <unistd.h>
#include <vector>

namespace halyard::platform {

std::string ExpandFileName(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    std::string full = path;
    if (path.front() != '/') {
        char cwd[PATH_MAX];
        if (::getcwd(cwd, sizeof cwd) == nullptr) {
            return path;
        }
        full = std::string(cwd) + '/' + path;
    }
    // Fold the elements by their text, as Windows does: "a/b/../c" is "a/c" even when b is a
    // symbolic link.
    std::vector<std::string> parts;
    std::size_t i = 0;
    while (i < full.size()) {
        const std::size_t next = full.find('/', i);
        const std::size_t end = next == std::string::npos ? full.size() : next;
        const std::string part = full.substr(i, end - i);
        if (part == "..") {
            if (!parts.empty()) {
                parts.pop_back();
            }
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = end + 1;
    }
    std::string out;
    for (const auto& part : parts) {
        out += '/';
        out += part;
    }
    if (out.empty() || path.back() == '/') {
        out += '/';
    }
    return out;
}

} // namespace halyard::platform

// The archive item path rule on arbitrary stored paths: an accepted path must stay below the
// target folder whatever it holds.
#include "support/sevenzip_path.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view path(reinterpret_cast<const char*>(data), size);
    const halyard::ArchiveItemPathCheck check = halyard::CheckArchiveItemPath(path);
    if (check.ok) {
        const std::string_view rel = check.relative;
        if (rel.empty() || rel.front() == '/' || rel.back() == '/' ||
            rel.find('\\') != std::string_view::npos || rel.find(':') != std::string_view::npos ||
            rel.find("//") != std::string_view::npos || rel.find('\0') != std::string_view::npos) {
            std::abort();
        }
        std::size_t start = 0;
        while (start <= rel.size()) {
            std::size_t end = rel.find('/', start);
            if (end == std::string_view::npos) {
                end = rel.size();
            }
            const std::string_view part = rel.substr(start, end - start);
            if (part.find_first_not_of(". ") == std::string_view::npos) {
                std::abort(); // ".", "..", or a name Windows would read as one of them
            }
            start = end + 1;
        }
    } else if (check.reason.empty()) {
        std::abort();
    }
    return 0;
}

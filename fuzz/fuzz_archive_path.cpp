// The archive item path rules on arbitrary stored paths. The input is an archive listing, one
// item per line (a line that starts with ">", which no Windows name holds, is a folder): an
// accepted path must stay below the target folder whatever it holds, and the whole-listing check
// must refuse exactly the first item that a plain pairwise comparison finds clashing with an
// earlier one.
#include "external/sevenzip/sevenzip_path.h"
#include "platform/locale.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using halyard::ArchiveItemEntry;
using halyard::ArchiveItemPathCheck;

// A device name Windows keeps in every folder, found the plain way: every reserved name, in
// every letter case, followed by the end, a dot, or blanks and then the end or a dot.
bool IsReservedDevice(std::string_view part) {
    static const char* const kNames[] = {
        "CON",         "PRN",        "AUX",         "NUL",         "CONIN$",      "CONOUT$",
        "COM0",        "COM1",       "COM2",        "COM3",        "COM4",        "COM5",
        "COM6",        "COM7",       "COM8",        "COM9",        "LPT0",        "LPT1",
        "LPT2",        "LPT3",       "LPT4",        "LPT5",        "LPT6",        "LPT7",
        "LPT8",        "LPT9",       "COM\xC2\xB9", "COM\xC2\xB2", "COM\xC2\xB3", "LPT\xC2\xB9",
        "LPT\xC2\xB2", "LPT\xC2\xB3"};
    for (const char* name : kNames) {
        const std::string_view n = name;
        if (part.size() < n.size()) {
            continue;
        }
        bool same = true;
        for (std::size_t i = 0; i < n.size(); ++i) {
            const char c = part[i];
            const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
            same = same && upper == n[i];
        }
        if (!same) {
            continue;
        }
        std::size_t i = n.size();
        while (i < part.size() && part[i] == ' ') {
            ++i;
        }
        if (i == part.size() || part[i] == '.') {
            return true;
        }
    }
    return false;
}

void CheckOnePath(std::string_view path) {
    const ArchiveItemPathCheck check = halyard::CheckArchiveItemPath(path);
    if (!check.ok) {
        if (check.reason.empty()) {
            std::abort();
        }
        return;
    }
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
        for (const char c : part) {
            if (static_cast<unsigned char>(c) < 0x20 ||
                std::string_view("\"*?<>|").find(c) != std::string_view::npos) {
                std::abort(); // a character no Windows name holds
            }
        }
        if (IsReservedDevice(part)) {
            std::abort();
        }
        start = end + 1;
    }
}

// The Windows name of an accepted path, part by part, computed the plain way.
std::vector<std::string> WindowsParts(const std::string& relative) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= relative.size()) {
        std::size_t end = relative.find('/', start);
        if (end == std::string::npos) {
            end = relative.size();
        }
        std::string part = relative.substr(start, end - start);
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) {
            part.pop_back();
        }
        parts.push_back(halyard::platform::UpperCase(part));
        start = end + 1;
    }
    return parts;
}

bool IsPrefix(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    if (a.size() >= b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i]) {
            return false;
        }
    }
    return true;
}

// The first item in archive order that is refused, by comparing every pair.
std::optional<std::size_t> FirstRefused(const std::vector<ArchiveItemEntry>& items) {
    std::vector<std::optional<std::vector<std::string>>> names;
    for (std::size_t j = 0; j < items.size(); ++j) {
        const ArchiveItemPathCheck check = halyard::CheckArchiveItemPath(items[j].path);
        if (!check.ok) {
            if (!items[j].folder) {
                return j;
            }
            names.emplace_back();
            continue;
        }
        names.emplace_back(WindowsParts(check.relative));
        for (std::size_t i = 0; i < j; ++i) {
            if (!names[i]) {
                continue;
            }
            const auto& a = *names[i];
            const auto& b = *names[j];
            if ((a == b && (!items[i].folder || !items[j].folder)) ||
                (IsPrefix(a, b) && !items[i].folder) || (IsPrefix(b, a) && !items[j].folder)) {
                return j;
            }
        }
    }
    return std::nullopt;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckOnePath(input);

    std::vector<ArchiveItemEntry> items;
    std::size_t start = 0;
    while (start <= input.size() && items.size() < 64) {
        std::size_t end = input.find('\n', start);
        if (end == std::string_view::npos) {
            end = input.size();
        }
        std::string_view line = input.substr(start, end - start);
        const bool folder = !line.empty() && line.front() == '>';
        if (folder) {
            line.remove_prefix(1);
        }
        CheckOnePath(line);
        items.push_back(ArchiveItemEntry{std::string(line), folder});
        start = end + 1;
    }
    const halyard::ArchiveItemsCheck check = halyard::CheckArchiveItemPaths(items);
    const std::optional<std::size_t> expected = FirstRefused(items);
    if (check.ok != !expected.has_value() || (expected && check.item != *expected) ||
        (!check.ok && check.reason.empty())) {
        std::abort();
    }
    return 0;
}

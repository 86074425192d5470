// The in-memory INI parser on arbitrary bytes in every encoding: every answer must be valid text
// and agree with a plain scan of the stored lines (a repeated key answers its last line).
#include "base/unicode.h"
#include "inf/inf_text.h"
#include "inf/ini_files.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    using halyard::Encoding;
    static constexpr Encoding kEncodings[] = {Encoding::Detect, Encoding::Ansi, Encoding::Utf8,
                                              Encoding::Utf16Le, Encoding::Utf16Be};
    const Encoding encoding = kEncodings[data[0] % 5];
    const std::string text = halyard::TMemIniFile::decodeText(
        std::span<const std::uint8_t>(data + 1, size - 1), encoding);
    if (!halyard::IsValidUtf8(text) || text.find('\0') != std::string::npos) {
        std::abort();
    }
    halyard::TMemIniFile ini("");
    ini.SetText(text);

    const std::vector<std::string> sections = ini.ReadSections();
    std::unordered_set<std::string> seen;
    for (const std::string& section : sections) {
        if (!seen.insert(halyard::inf::UpperKey(section)).second) {
            std::abort(); // a repeated section must have continued the first
        }
        // The last line of a name decides.
        std::unordered_map<std::string, std::pair<std::string, std::string>> last;
        for (const std::string& line : ini.ReadSectionValues(section)) {
            const auto eq = line.find('=');
            if (eq == std::string::npos) {
                if (line.empty() || halyard::IsBlank(static_cast<unsigned char>(line.front())) ||
                    halyard::IsBlank(static_cast<unsigned char>(line.back()))) {
                    std::abort(); // bare lines are stored trimmed and never empty
                }
                continue;
            }
            const std::string name = line.substr(0, eq);
            last[halyard::inf::UpperKey(name)] = {name, line.substr(eq + 1)};
        }
        for (const auto& [upper, entry] : last) {
            if (ini.ReadString(section, entry.first, "\x01") != entry.second) {
                std::abort();
            }
        }
    }
    return 0;
}

// The escaping of output lines on arbitrary bytes: nothing that could end or forge a line gets
// through, and text that needs no escaping is left exactly as it is.
#include "base/unicode.h"
#include "report/output.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool NeedsEscape(char32_t cp) {
    return cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string line = halyard::EscapeLine(text);
    if (!halyard::IsValidUtf8(line)) {
        __builtin_trap();
    }
    bool clean = halyard::IsValidUtf8(text);
    for (std::size_t i = 0; i < text.size();) {
        if (NeedsEscape(halyard::DecodeUtf8Char(text, i))) {
            clean = false;
        }
    }
    for (std::size_t i = 0; i < line.size();) {
        if (NeedsEscape(halyard::DecodeUtf8Char(line, i))) {
            __builtin_trap();
        }
    }
    if (clean != (line == text)) {
        __builtin_trap();
    }
    // Each input byte becomes at most "\u{HHHH}" per character or "\xHH" per byte.
    if (line.size() > 4 * text.size()) {
        __builtin_trap();
    }
    return 0;
}

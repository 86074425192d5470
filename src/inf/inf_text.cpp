#include "inf/inf_text.h"

#include "base/unicode.h"
#include "platform/locale.h"

namespace halyard::inf {

namespace {

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

std::size_t Utf16Length(std::string_view text) {
    std::size_t n = 0;
    ForEachUnit(text, [&n](char16_t) { ++n; });
    return n;
}

std::string_view Utf16Prefix(std::string_view text, std::size_t maxUnits) {
    std::size_t units = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        std::size_t next = i;
        const std::size_t width = DecodeUtf8Char(text, next) >= 0x10000 ? 2 : 1;
        if (units + width > maxUnits) {
            break;
        }
        units += width;
        i = next;
    }
    return text.substr(0, i);
}

std::string UpperKey(std::string_view text) {
    if (IsAscii(text)) {
        return AsciiUpper(text);
    }
    return platform::UpperCase(text);
}

} // namespace halyard::inf

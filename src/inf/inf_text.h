// Text helpers of the INF module: UTF-8 texts measured and hashed in UTF-16 code units without
// building the UTF-16 string, and the upper-casing used for case-insensitive names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace halyard::inf {

// Decodes the character at text[i] and advances i; malformed sequences give U+FFFD and resume
// where Utf8ToUtf16 resumes, so both agree unit for unit.
inline char32_t DecodeNext(std::string_view text, std::size_t& i) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (b0 < 0x80) {
        ++i;
        return b0;
    }
    int extra = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if ((b0 & 0xE0) == 0xC0) {
        extra = 1;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        extra = 2;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        extra = 3;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        ++i;
        return 0xFFFD;
    }
    std::size_t j = i + 1;
    for (int k = 0; k < extra; ++k, ++j) {
        if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
            i = j;
            return 0xFFFD;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
    }
    i = j;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0xFFFD;
    }
    return cp;
}

// Calls fn(char16_t) for every UTF-16 unit of a UTF-8 text without building the UTF-16 string.
template <class Fn>
void ForEachUnit(std::string_view text, Fn&& fn) {
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp = DecodeNext(text, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            fn(static_cast<char16_t>(0xD800 + (cp >> 10)));
            fn(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            fn(static_cast<char16_t>(cp));
        }
    }
}

// The number of UTF-16 units of a UTF-8 text.
std::size_t Utf16Length(std::string_view text);

// The longest prefix of a UTF-8 text that holds at most maxUnits UTF-16 units. A character
// whose surrogate pair would be split is left out whole.
std::string_view Utf16Prefix(std::string_view text, std::size_t maxUnits);

// Upper-casing by the user locale's rules, with a fast path for ASCII texts.
std::string UpperKey(std::string_view text);

// Case-insensitive equality of two names (user-locale upper-casing).
bool SameText(std::string_view a, std::string_view b);

} // namespace halyard::inf

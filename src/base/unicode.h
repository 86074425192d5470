// Text helpers shared by every layer: UTF-8 inside, UTF-16 where Windows behaviour is defined on
// code units, and the blank rule (every character at or below U+0020 is a blank).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace halyard {

// UTF-16 code units to UTF-8; unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(std::u16string_view text);
// UTF-8 to UTF-16 code units; malformed sequences become U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

// Little-endian UTF-16 bytes up to the first zero unit (or the end) to UTF-8.
std::string Utf16LeBytesToUtf8(std::span<const std::uint8_t> bytes, bool stopAtZero = true);

// The byte-order mark a text's bytes start with.
enum class ByteOrderMark { None, Utf8, Utf16Le, Utf16Be };
ByteOrderMark DetectByteOrderMark(std::span<const std::uint8_t> bytes);
// Its length in bytes (0 for None).
std::size_t ByteOrderMarkSize(ByteOrderMark mark);

// Bytes of the ANSI code page to UTF-8. On POSIX the ANSI code page is Windows-1252.
std::string AnsiToUtf8(std::string_view bytes);
// UTF-8 to the ANSI code page; characters it lacks become '?'.
std::string Utf8ToAnsi(std::string_view text);

// Is the text valid UTF-8?
bool IsValidUtf8(std::string_view text);

// Decodes the character at text[i] and advances i. A malformed sequence gives U+FFFD (and
// *valid false when given) and decoding resumes after the bytes that were looked at.
inline char32_t DecodeUtf8Char(std::string_view text, std::size_t& i, bool* valid = nullptr) {
    const auto b0 = static_cast<unsigned char>(text[i]);
    if (valid != nullptr) {
        *valid = true;
    }
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
        if (valid != nullptr) {
            *valid = false;
        }
        return 0xFFFD;
    }
    std::size_t j = i + 1;
    for (int k = 0; k < extra; ++k, ++j) {
        if (j >= text.size() || (static_cast<unsigned char>(text[j]) & 0xC0) != 0x80) {
            i = j;
            if (valid != nullptr) {
                *valid = false;
            }
            return 0xFFFD;
        }
        cp = (cp << 6) | (static_cast<unsigned char>(text[j]) & 0x3F);
    }
    i = j;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        if (valid != nullptr) {
            *valid = false;
        }
        return 0xFFFD;
    }
    return cp;
}

// Calls fn(char16_t) for every UTF-16 code unit of a UTF-8 text, without building the string.
template <class Fn>
void ForEachUtf16Unit(std::string_view text, Fn&& fn) {
    std::size_t i = 0;
    while (i < text.size()) {
        char32_t cp = DecodeUtf8Char(text, i);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            fn(static_cast<char16_t>(0xD800 + (cp >> 10)));
            fn(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            fn(static_cast<char16_t>(cp));
        }
    }
}

inline bool IsBlank(char32_t c) {
    return c <= 0x20;
}

// The line that starts at `start`, ended by CR, LF, CR LF or the end of the text; start moves
// past the line's end. Lines of INI and INF texts are cut by this one rule.
inline std::string_view NextLine(std::string_view text, std::size_t& start) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\r' && text[end] != '\n') {
        ++end;
    }
    const std::string_view line = text.substr(start, end - start);
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') {
        ++end;
    }
    start = end + 1;
    return line;
}

// Removes leading and trailing blanks (characters at or below U+0020).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// ASCII-only case helpers for names and extensions.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

} // namespace halyard

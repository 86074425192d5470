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

// Bytes of the ANSI code page to UTF-8. On POSIX the ANSI code page is Windows-1252.
std::string AnsiToUtf8(std::string_view bytes);
// UTF-8 to the ANSI code page; characters it lacks become '?'.
std::string Utf8ToAnsi(std::string_view text);

// Is the text valid UTF-8?
bool IsValidUtf8(std::string_view text);

// Calls fn(char16_t) for every UTF-16 code unit of a UTF-8 text, without building the string.
template <class Fn>
void ForEachUtf16Unit(std::string_view text, Fn&& fn) {
    for (char16_t unit : Utf8ToUtf16(text)) {
        fn(unit);
    }
}

inline bool IsBlank(char32_t c) { return c <= 0x20; }

// Removes leading and trailing blanks (characters at or below U+0020).
std::string Trim(std::string_view text);
std::string TrimLeft(std::string_view text);
std::string TrimRight(std::string_view text);

// ASCII-only case helpers for names and extensions.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);
bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// "%08X".
std::string Hex8(std::uint32_t value);

} // namespace halyard

// Upper-case hexadecimal texts: member tags and thumbprints (two digits a byte, in byte order),
// codes in messages ("%08X") and escapes in output lines.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace halyard {

// Appends the low `digits` hexadecimal digits of value, most significant first.
inline void AppendHexDigits(std::string& out, std::uint32_t value, int digits) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out += kDigits[(value >> shift) & 0xF];
    }
}

// Two digits for every byte, in byte order: "000AFF" for 0x00 0x0A 0xFF.
inline std::string HexUpper(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const std::uint8_t b : bytes) {
        AppendHexDigits(out, b, 2);
    }
    return out;
}

// The bytes of an upper-case text HexUpper wrote; nullopt for anything else (an odd length,
// another character).
inline std::optional<std::vector<std::uint8_t>> BytesOfHexUpper(std::string_view hex) {
    const auto digit = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
    };
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = digit(hex[i]);
        const int low = digit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    return out;
}

// "%08X".
inline std::string Hex8(std::uint32_t value) {
    std::string out;
    AppendHexDigits(out, value, 8);
    return out;
}

} // namespace halyard

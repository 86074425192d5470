// Upper-case hexadecimal texts: member tags and thumbprints (two digits a byte, in byte order),
// codes in messages ("%08X") and escapes in output lines.
#pragma once

#include <cstdint>
#include <span>
#include <string>

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

// "%08X".
inline std::string Hex8(std::uint32_t value) {
    std::string out;
    AppendHexDigits(out, value, 8);
    return out;
}

} // namespace halyard

// Every Windows code the system knows, once (codes.inc): the codes:: constants, and by value the
// code's symbol, our own text for it and the reason reports give for a failed trust query.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace halyard {

// Error codes as Windows reports them (Win32 errors and HRESULTs); they appear in our output.
namespace codes {
#define HALYARD_CODE(constant, value, symbol, text, reason)                                        \
    inline constexpr std::uint32_t constant = value;
#include "base/codes.inc"

// A Win32 error as an HRESULT (HRESULT_FROM_WIN32).
constexpr std::uint32_t HResultFromWin32(std::uint32_t code) {
    return code == 0 ? 0 : 0x80070000u | (code & 0xFFFFu);
}
} // namespace codes

// One row of the table.
struct CodeRow {
    std::uint32_t value;
    std::string_view symbol; // empty when Windows has no name for it
    std::string_view text;   // without line end; empty when there is none
    std::string_view reason; // empty when the code has none of its own
};

// Every row, in the table's order.
std::span<const CodeRow> CodeRows();

// The row of a code (the first one when two share the value), or nullptr.
const CodeRow* FindCodeRow(std::uint32_t code);

// The symbol of a code ("CERT_E_UNTRUSTEDROOT"), or empty.
std::string_view SymbolOfCode(std::uint32_t code);

// The symbol of a code when it is one of named, else empty: for reports that name only some
// codes and give the others otherwise.
std::string_view SymbolAmong(std::uint32_t code, std::span<const std::uint32_t> named);

// Our text for a code, also for the HRESULT form of a Win32 error the table lists so; empty when
// there is none.
std::string_view TextOfCode(std::uint32_t code);

// The reason a report gives for a failed trust query with this code, or empty.
std::string_view ReasonOfCode(std::uint32_t code);

} // namespace halyard

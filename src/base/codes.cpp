#include "base/codes.h"

#include <algorithm>

namespace halyard {

namespace {

using namespace codes;

constexpr CodeRow kRows[] = {
#define HALYARD_CODE(constant, value, symbol, text, reason) {value, symbol, text, reason},
#include "base/codes.inc"
};

constexpr std::uint32_t kWin32WithHResultForm[] = {
#define HALYARD_CODE(constant, value, symbol, text, reason)
#define HALYARD_CODE_AS_HRESULT(constant) constant,
#include "base/codes.inc"
};

} // namespace

std::span<const CodeRow> CodeRows() {
    return kRows;
}

const CodeRow* FindCodeRow(std::uint32_t code) {
    const auto it = std::find_if(std::begin(kRows), std::end(kRows),
                                 [code](const CodeRow& row) { return row.value == code; });
    return it == std::end(kRows) ? nullptr : &*it;
}

std::string_view SymbolOfCode(std::uint32_t code) {
    const CodeRow* row = FindCodeRow(code);
    return row == nullptr ? std::string_view() : row->symbol;
}

std::string_view SymbolAmong(std::uint32_t code, std::span<const std::uint32_t> named) {
    return std::find(named.begin(), named.end(), code) == named.end() ? std::string_view()
                                                                      : SymbolOfCode(code);
}

std::string_view TextOfCode(std::uint32_t code) {
    if (const CodeRow* row = FindCodeRow(code)) {
        return row->text;
    }
    for (const std::uint32_t win32 : kWin32WithHResultForm) {
        if (code == HResultFromWin32(win32)) {
            return TextOfCode(win32);
        }
    }
    return {};
}

std::string_view ReasonOfCode(std::uint32_t code) {
    const CodeRow* row = FindCodeRow(code);
    return row == nullptr ? std::string_view() : row->reason;
}

} // namespace halyard

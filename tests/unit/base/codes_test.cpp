// The code table against Windows' own headers: every symbol it names exists there with the same
// value, so a mistyped value or a symbol on the wrong row cannot stand. The lookups by value are
// checked on the table's own shape only where it matters (shared values, HRESULT forms).
#include "base/codes.h"
#include "testkit.h"
#include "windows_headers.h"

#include <gtest/gtest.h>
#include <map>
#include <set>

namespace halyard {
namespace {

// Symbols the MinGW-w64 headers lack, with the value Microsoft's documentation gives them
// ("System Error Codes (1000-1299)").
const std::map<std::string, std::uint32_t> kDocumentedOnly = {
    {"ERROR_DISK_QUOTA_EXCEEDED", 1295},
};

TEST(CodeTable, EverySymbolHasItsWindowsValue) {
    const auto headers = test::WindowsHeaderCodes();
    HALYARD_NEED(headers.has_value(), test::WindowsHeadersDir() + "winerror.h");
    std::set<std::string_view> seen;
    std::size_t checked = 0;
    for (const CodeRow& row : CodeRows()) {
        if (row.symbol.empty()) {
            continue;
        }
        EXPECT_TRUE(seen.insert(row.symbol).second) << row.symbol << " names two rows";
        const std::string symbol(row.symbol);
        const auto it = headers->find(symbol);
        if (it != headers->end()) {
            EXPECT_EQ(row.value, it->second) << symbol;
            ++checked;
        } else if (kDocumentedOnly.contains(symbol)) {
            EXPECT_EQ(row.value, kDocumentedOnly.at(symbol)) << symbol;
        } else {
            ADD_FAILURE() << symbol << " is no Windows symbol";
        }
    }
    EXPECT_GE(checked, 140u);
}

TEST(CodeTable, OnlyTheKnownPairSharesAValue) {
    std::map<std::uint32_t, std::vector<std::string_view>> byValue;
    for (const CodeRow& row : CodeRows()) {
        byValue[row.value].push_back(row.symbol);
    }
    for (const auto& [value, symbols] : byValue) {
        if (value == codes::kSFalse) {
            EXPECT_EQ(symbols,
                      (std::vector<std::string_view>{"ERROR_INVALID_FUNCTION", "S_FALSE"}));
            EXPECT_EQ(SymbolOfCode(value), "ERROR_INVALID_FUNCTION"); // the first row answers
        } else {
            EXPECT_EQ(symbols.size(), 1u) << std::hex << value;
        }
    }
}

TEST(CodeTable, LookupsByValue) {
    EXPECT_EQ(SymbolOfCode(codes::kCertEUntrustedRoot), "CERT_E_UNTRUSTEDROOT");
    EXPECT_EQ(FindCodeRow(0x12345678), nullptr);
    EXPECT_EQ(SymbolOfCode(0x12345678), "");
    EXPECT_EQ(TextOfCode(0x12345678), "");
    EXPECT_EQ(ReasonOfCode(0x12345678), "");
    const std::uint32_t named[] = {codes::kCertEChaining};
    EXPECT_EQ(SymbolAmong(codes::kCertEChaining, named), "CERT_E_CHAINING");
    EXPECT_EQ(SymbolAmong(codes::kCertEUntrustedRoot, named), "");
    // A listed Win32 error reads the same as its HRESULT form; an unlisted one's form has no text.
    EXPECT_EQ(TextOfCode(codes::HResultFromWin32(codes::kFileNotFound)),
              TextOfCode(codes::kFileNotFound));
    EXPECT_FALSE(TextOfCode(codes::kFileNotFound).empty());
    EXPECT_EQ(FindCodeRow(codes::HResultFromWin32(codes::kFileNotFound)), nullptr);
    EXPECT_EQ(TextOfCode(codes::HResultFromWin32(codes::kInvalidData)), "");
}

TEST(CodeTable, TextsAreSentencesWithoutLineEnds) {
    for (const CodeRow& row : CodeRows()) {
        if (row.text.empty()) {
            continue;
        }
        EXPECT_EQ(row.text.back(), '.') << row.symbol;
        for (const char c : row.text) {
            EXPECT_GE(static_cast<unsigned char>(c), 0x20u) << row.symbol;
        }
    }
}

} // namespace
} // namespace halyard

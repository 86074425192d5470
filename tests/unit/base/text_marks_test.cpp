// Hexadecimal texts, byte-order marks and line ends: the one encoder, mark reader and line
// cutter every layer uses.
#include "base/hex.h"
#include "base/unicode.h"

#include <gtest/gtest.h>
#include <vector>

namespace halyard {
namespace {

TEST(Hex, UpperCaseDigitsInByteOrder) {
    const std::vector<std::uint8_t> bytes = {0x00, 0x0A, 0xFF, 0x9C, 0x5E};
    EXPECT_EQ(HexUpper(bytes), "000AFF9C5E");
    EXPECT_EQ(HexUpper({}), "");
    EXPECT_EQ(Hex8(0), "00000000");
    EXPECT_EQ(Hex8(0x800B0109), "800B0109");
    EXPECT_EQ(Hex8(0xE000022F), "E000022F");
    std::string out = "\\u{";
    AppendHexDigits(out, 0x2028, 4);
    AppendHexDigits(out, 0x7, 2);
    EXPECT_EQ(out, "\\u{202807");
}

TEST(ByteOrderMark, RecognisesEachMarkOnlyWhole) {
    using B = std::vector<std::uint8_t>;
    EXPECT_EQ(DetectByteOrderMark(B{0xEF, 0xBB, 0xBF, 'a'}), ByteOrderMark::Utf8);
    EXPECT_EQ(DetectByteOrderMark(B{0xEF, 0xBB}), ByteOrderMark::None);
    EXPECT_EQ(DetectByteOrderMark(B{0xFF, 0xFE}), ByteOrderMark::Utf16Le);
    EXPECT_EQ(DetectByteOrderMark(B{0xFE, 0xFF, 0, 'a'}), ByteOrderMark::Utf16Be);
    EXPECT_EQ(DetectByteOrderMark(B{0xFF}), ByteOrderMark::None);
    EXPECT_EQ(DetectByteOrderMark(B{}), ByteOrderMark::None);
    EXPECT_EQ(DetectByteOrderMark(B{'[', 'V'}), ByteOrderMark::None);
}

TEST(NextLine, CutsAtCrLfCrLfAndTheEnd) {
    const std::string_view text = "a\r\nb\rc\nd\n\re\r";
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; start < text.size();) {
        lines.push_back(NextLine(text, start));
    }
    // LF CR is two line ends (an empty line between), a final CR ends the last line.
    EXPECT_EQ(lines, (std::vector<std::string_view>{"a", "b", "c", "d", "", "e"}));
    std::size_t start = 0;
    EXPECT_EQ(NextLine("x", start), "x");
    EXPECT_EQ(start, 2u);
}

} // namespace
} // namespace halyard

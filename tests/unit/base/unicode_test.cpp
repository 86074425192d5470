// Text: UTF-8 and UTF-16 both ways, malformed input, Windows-1252, trimming, hex codes.
#include "base/hex.h"
#include "base/unicode.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

TEST(Unicode, RoundTripsAndReplacesMalformedInput) {
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"; // a, e-acute, euro, emoji
    const std::u16string units = Utf8ToUtf16(text);
    EXPECT_EQ(units, (std::u16string{u'a', 0x00E9, 0x20AC, 0xD83D, 0xDE00}));
    EXPECT_EQ(Utf16ToUtf8(units), text);
    // Truncated sequence, overlong form, lone surrogate.
    EXPECT_EQ(Utf8ToUtf16("\xE2\x82"), std::u16string{0xFFFD});
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), std::u16string{0xFFFD});
    EXPECT_EQ(Utf16ToUtf8(std::u16string{0xD800, u'x'}), "\xEF\xBF\xBDx");
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_TRUE(IsValidUtf8("\xEF\xBF\xBD"));
    EXPECT_FALSE(IsValidUtf8("\xFF"));
    std::size_t units16 = 0;
    ForEachUtf16Unit(text, [&](char16_t) { ++units16; });
    EXPECT_EQ(units16, units.size());
}

TEST(Unicode, Utf16LeBytesStopAtTheZeroUnit) {
    const std::vector<std::uint8_t> bytes = {'O', 0, 'S', 0, 0, 0, 'x', 0};
    EXPECT_EQ(Utf16LeBytesToUtf8(bytes), "OS");
    EXPECT_EQ(Utf16LeBytesToUtf8(bytes, false), std::string("OS\0x", 4));
    EXPECT_EQ(Utf16LeBytesToUtf8(std::vector<std::uint8_t>{'A', 0, 'B'}), "A"); // odd byte dropped
}

TEST(Unicode, AnsiIsWindows1252BothWays) {
    EXPECT_EQ(AnsiToUtf8("\x80\xE9\x81"), "\xE2\x82\xAC\xC3\xA9\xC2\x81");
    EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC\xC3\xA9\xE2\x98\x83"), "\x80\xE9?");
}

TEST(Unicode, TrimRemovesEveryControlCharacterAndBlank) {
    EXPECT_EQ(Trim("\t\r\n x y \x01\x1F"), "x y");
    EXPECT_EQ(Trim(" \x7F "), "\x7F");
    EXPECT_EQ(Trim("   "), "");
    EXPECT_TRUE(EndsWithIgnoreCase("PKG.7Z", ".7z"));
    EXPECT_FALSE(EndsWithIgnoreCase("7z", ".7z"));
    EXPECT_EQ(Hex8(0x800B0100), "800B0100");
}

} // namespace
} // namespace halyard

#include "report/output.h"

#include <gtest/gtest.h>

namespace halyard {
namespace {

using Lines = std::vector<std::string>;

TEST(EscapeLine, ControlCharactersBecomeVisible) {
    EXPECT_EQ(EscapeLine("a\r\nsuccess"), "a\\r\\nsuccess");
    EXPECT_EQ(EscapeLine("tab\there"), "tab\\there");
    EXPECT_EQ(EscapeLine(std::string("nul\0bel\x07"
                                     "esc\x1B"
                                     "del\x7F",
                                     16)),
              "nul\\x00bel\\x07esc\\x1Bdel\\x7F");
    // C1 controls (NEL among them) and the Unicode line and paragraph separators.
    EXPECT_EQ(EscapeLine("a\xC2\x85"
                         "b\xC2\x80\xC2\x9F"),
              "a\\u{0085}b\\u{0080}\\u{009F}");
    EXPECT_EQ(EscapeLine("a\xE2\x80\xA8"
                         "b\xE2\x80\xA9"),
              "a\\u{2028}b\\u{2029}");
}

TEST(EscapeLine, BytesThatAreNotUtf8AreWrittenOneByOne) {
    // A lone continuation byte, a truncated sequence, an overlong slash, an encoded surrogate.
    EXPECT_EQ(EscapeLine("a\x85"
                         "b"),
              "a\\x85b");
    EXPECT_EQ(EscapeLine("a\xE2\x82"), "a\\xE2\\x82");
    EXPECT_EQ(EscapeLine("\xC0\xAF"), "\\xC0\\xAF");
    EXPECT_EQ(EscapeLine("\xED\xA0\x80"), "\\xED\\xA0\\x80");
}

TEST(EscapeLine, PrintableTextIsLeftAlone) {
    for (const std::string text :
         {"wrong:Archive name: C:\\My Drivers\\pkg.7z",
          "/drop/\xD0\x9F\xD0\xB0\xD0\xBA\xD0\xB5\xD1\x82/a b.sys",
          "caf\xC3\xA9 \xC2\xA0\xE2\x82\xAC \xF0\x9F\x98\x80", "\\r is two characters", ""}) {
        EXPECT_EQ(EscapeLine(text), text);
    }
}

TEST(WriteLine, EveryLineIsEscapedBeforeItLeaves) {
    OutputCapture out;
    WriteLine("wrong:Archive name: x\r\nsuccess");
    WriteLine("IsCodeSigned failed for /w/pkg/a\nwrong:forged\xC2\x85");
    EXPECT_EQ(out.lines(), (Lines{"wrong:Archive name: x\\r\\nsuccess",
                                  "IsCodeSigned failed for /w/pkg/a\\nwrong:forged\\u{0085}"}));
}

} // namespace
} // namespace halyard

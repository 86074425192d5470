// Every ASCII byte through the line escaper, against a table written out by hand: a control
// character that slips through raw can end or forge an output line.
#include "report/output.h"

#include <gtest/gtest.h>
#include <string>

namespace halyard {
namespace {

// The visible form of the bytes 0x00..0x1F, in order.
const char* const kC0[32] = {
    "\\x00", "\\x01", "\\x02", "\\x03", "\\x04", "\\x05", "\\x06", "\\x07",
    "\\x08", "\\t",   "\\n",   "\\x0B", "\\x0C", "\\r",   "\\x0E", "\\x0F",
    "\\x10", "\\x11", "\\x12", "\\x13", "\\x14", "\\x15", "\\x16", "\\x17",
    "\\x18", "\\x19", "\\x1A", "\\x1B", "\\x1C", "\\x1D", "\\x1E", "\\x1F",
};

TEST(EscapeTable, EveryAsciiByteAloneAndBetweenLetters) {
    for (int byte = 0; byte < 0x80; ++byte) {
        const std::string raw(1, static_cast<char>(byte));
        const std::string expected = byte < 0x20 ? kC0[byte] : byte == 0x7F ? "\\x7F" : raw;
        EXPECT_EQ(EscapeLine(raw), expected) << "byte " << byte;
        EXPECT_EQ(EscapeLine("a" + raw + "z"), "a" + expected + "z") << "byte " << byte;
    }
    // The edges of the printable range, spelled out.
    EXPECT_EQ(EscapeLine("\x1F\x20\x7E\x7F"), "\\x1F ~\\x7F");
}

} // namespace
} // namespace halyard

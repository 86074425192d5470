#include "base/unicode.h"
#include "platform/filestream.h"
#include "platform/profile.h"
#include "testkit.h"
#include "unopenable_file.h"

#include <filesystem>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace halyard {
namespace {

using platform::GetPrivateProfileString;

class PrivateProfile : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const std::string path = dir_ / ("f" + std::to_string(++count_) + ".inf");
        test::WriteFile(path, bytes);
        return path;
    }
    test::TempDir dir_;
    int count_ = 0;
};

TEST_F(PrivateProfile, NamesIgnoreCaseAndBlanksAreTrimmed) {
    const auto path =
        Write("[Version]\r\n  DriverVer   =  06/21/2006,6.1.7600.16385 ; comment  \r\n"
              "\tTabbed\t=\tv\t\r\n");
    EXPECT_EQ(GetPrivateProfileString("version", "DRIVERVER", "", path),
              "06/21/2006,6.1.7600.16385 ; comment");
    EXPECT_EQ(GetPrivateProfileString(" Version ", " tabbed ", "", path), "v");
    EXPECT_EQ(GetPrivateProfileString("Version", "Missing", "def", path), "def");
    EXPECT_EQ(GetPrivateProfileString("Other", "DriverVer", "def", path), "def");
}

TEST_F(PrivateProfile, FirstOccurrenceWinsAndOnlyTheFirstSectionIsSearched) {
    const auto path = Write("[S]\nk=1\nK=2\n[T]\nx=1\n[s]\nk=3\nonly=later\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), "1");
    EXPECT_EQ(GetPrivateProfileString("S", "only", "def", path), "def");
    // A line naming the key without "=" comes first: the default.
    const auto bare = Write("[S]\nk\nk=1\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "def", bare), "def");
}

TEST_F(PrivateProfile, QuotesAroundTheWholeValueAreRemoved) {
    const auto path = Write("[S]\na=\"quoted value\"\nb='single'\nc=\"half\nd=\"mixed'\ne=\"\"\n"
                            "f=\"\ng=x \"in\" y\nh=\"a\" ; c\n");
    EXPECT_EQ(GetPrivateProfileString("S", "a", "", path), "quoted value");
    EXPECT_EQ(GetPrivateProfileString("S", "b", "", path), "single");
    EXPECT_EQ(GetPrivateProfileString("S", "c", "", path), "\"half");
    EXPECT_EQ(GetPrivateProfileString("S", "d", "", path), "\"mixed'");
    EXPECT_EQ(GetPrivateProfileString("S", "e", "def", path), "");
    EXPECT_EQ(GetPrivateProfileString("S", "f", "", path), "\"");
    EXPECT_EQ(GetPrivateProfileString("S", "g", "", path), "x \"in\" y");
    EXPECT_EQ(GetPrivateProfileString("S", "h", "", path), "\"a\" ; c");
}

TEST_F(PrivateProfile, CommentsHeadersAndLinesBeforeTheFirstSection) {
    const auto path = Write("k=before\n[S]\n;k=comment\n  ; k=comment\nk\\\n[S2] ; note\nk=2\n"
                            "[Open\nm=3\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "def", path), "def"); // "k\" is a different key
    EXPECT_EQ(GetPrivateProfileString("S", "k\\", "def", path), "def");
    EXPECT_EQ(GetPrivateProfileString("S2", "k", "", path), "2");
    // A header runs to the last "]" of its line; "[Open" is no header.
    EXPECT_EQ(GetPrivateProfileString("S2", "m", "", path), "3");
    const auto last = Write("[A] x [B]\nk=1\n");
    EXPECT_EQ(GetPrivateProfileString("A] x [B", "k", "", last), "1");
}

TEST_F(PrivateProfile, NoContinuationLines) {
    const auto path = Write("[S]\r\nc=a.sys, \\\r\nb.sys\r\n");
    EXPECT_EQ(GetPrivateProfileString("S", "c", "", path), "a.sys, \\");
}

TEST_F(PrivateProfile, Encodings) {
    const std::u16string units = u"[S]\r\nk=Caf\u00E9\r\n";
    std::string utf16 = "\xFF\xFE";
    for (char16_t u : units) {
        utf16.push_back(static_cast<char>(u & 0xFF));
        utf16.push_back(static_cast<char>(u >> 8));
    }
    const auto le = Write(utf16);
    const auto u8 = Write("\xEF\xBB\xBF[S]\r\nk=Caf\xC3\xA9\r\n");
    const auto ansi = Write("[S]\rk=Caf\xE9\r");
    for (const auto& path : {le, u8, ansi}) {
        EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), "Caf\xC3\xA9") << path;
    }
    // UTF-8 without a mark is ANSI text.
    const auto plain = Write("[S]\nk=Caf\xC3\xA9\n");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", plain), "Caf\xC3\x83\xC2\xA9");
}

TEST_F(PrivateProfile, ValuesAreCutToTheBuffer) {
    const auto path =
        Write("[S]\nlong=" + std::string(3000, 'x') + "\nq=\"abcdef\"\nu=\xC3\xA9\xC3\xA9\n");
    EXPECT_EQ(GetPrivateProfileString("S", "long", "", path).size(), 2047u);
    EXPECT_EQ(GetPrivateProfileString("S", "q", "", path, 4), "abc");
    EXPECT_EQ(GetPrivateProfileString("S", "long", "", path, 1), "");
    EXPECT_EQ(GetPrivateProfileString("S", "long", "", path, 0), "");
    // Units, not bytes: é is one unit and two UTF-8 bytes.
    const auto utf8 = Write("\xEF\xBB\xBF[S]\nu=\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80\n");
    EXPECT_EQ(GetPrivateProfileString("S", "u", "", utf8, 2), "\xC3\xA9");
    EXPECT_EQ(GetPrivateProfileString("S", "u", "", utf8, 5), "\xC3\xA9\xC3\xA9\xF0\x9F\x98\x80");
    EXPECT_EQ(GetPrivateProfileString("S", "none", std::string(5000, 'd'), path).size(), 2047u);
}

TEST_F(PrivateProfile, MissingFileSectionOrKeyGiveTheDefault) {
    EXPECT_EQ(GetPrivateProfileString("S", "k", "456,789", dir_ / "none.inf"), "456,789");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "def  ", dir_.path()), "def");
    const test::UnopenableFile socket(dir_ / "socket.inf");
    EXPECT_EQ(GetPrivateProfileString("S", "k", "def", dir_ / "socket.inf"), "def");
    const auto path = Write("[]\nk=1\n[S]\n=empty name\n");
    EXPECT_EQ(GetPrivateProfileString("", "k", "def", path), "def");
    if (!test::RunningUnderWine()) { // Wine answers the entry with the empty name
        EXPECT_EQ(GetPrivateProfileString("S", "", "def", path), "");
    }
}

TEST_F(PrivateProfile, ValueEndsAtNul) {
    const auto path = Write(std::string("[S]\nk=ab\0cd\nn=1\n", 16));
    EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), "ab");
    EXPECT_EQ(GetPrivateProfileString("S", "n", "", path), "1");
}

// The file is read in 64 KiB pieces: a character cut by a piece's end must come out whole.
TEST_F(PrivateProfile, CharactersAcrossReadPiecesComeOutWhole) {
    const std::string value = "\xC3\xA9\xF0\x9F\x98\x80\xC3\xA9"; // é, a surrogate pair, é
    constexpr std::size_t kPiece = 64 * 1024;
    for (std::size_t shift = 0; shift < 8; ++shift) {
        // UTF-8 with its mark: the value's first byte lands shift bytes before the piece's end.
        {
            const std::string head = "\r\n[S]\r\nk=";
            const std::size_t pad = kPiece - shift - 3 - 1 - head.size();
            const std::string text = ";" + std::string(pad, 'p') + head + value + "\r\n";
            const auto path = Write("\xEF\xBB\xBF" + text);
            EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), value) << "UTF-8 " << shift;
        }
        // UTF-16LE with its mark, shifted by whole units.
        {
            const std::u16string head = u"\r\n[S]\r\nk=";
            const std::size_t pad = (kPiece - 2) / 2 - shift - 1 - head.size();
            const std::u16string text =
                u";" + std::u16string(pad, u'p') + head + Utf8ToUtf16(value) + u"\r\n";
            std::string bytes = "\xFF\xFE";
            for (char16_t unit : text) {
                bytes += static_cast<char>(unit & 0xFF);
                bytes += static_cast<char>(unit >> 8);
            }
            const auto path = Write(bytes);
            EXPECT_EQ(GetPrivateProfileString("S", "k", "", path), value) << "UTF-16 " << shift;
        }
    }
}

#ifndef _WIN32
TEST_F(PrivateProfile, FilesThatAreNoRegularFileOrTooLargeGiveTheDefault) {
    const std::string fifo = dir_ / "fifo.inf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // would block an open() for ever
    EXPECT_EQ(GetPrivateProfileString("S", "k", "def", fifo), "def");
    const std::string zero = dir_ / "zero.inf";
    std::filesystem::create_symlink("/dev/zero", zero); // would never end
    EXPECT_EQ(GetPrivateProfileString("S", "k", "def", zero), "def");

    const auto path = Write("[S]\nk=v\n");
    std::filesystem::resize_file(path, platform::kMaxInfFileSize);
    EXPECT_EQ(GetPrivateProfileString("S", "k", "def", path), "v");
    std::filesystem::resize_file(path, platform::kMaxInfFileSize + 1);
    EXPECT_EQ(GetPrivateProfileString("S", "k", "def", path), "def");
}
#endif

} // namespace
} // namespace halyard

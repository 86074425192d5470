#include "base/errors.h"
#include "inf/ini_files.h"
#include "platform/filestream.h"
#include "testkit.h"
#include "unopenable_file.h"

#include <filesystem>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace halyard {
namespace {

std::unique_ptr<TMemIniFile> FromLines(const std::vector<std::string>& lines) {
    auto ini = std::make_unique<TMemIniFile>("");
    ini->SetStrings(lines);
    return ini;
}

std::string Utf16Le(const std::u16string& text, bool mark) {
    std::string out = mark ? std::string("\xFF\xFE") : std::string();
    for (char16_t u : text) {
        out.push_back(static_cast<char>(u & 0xFF));
        out.push_back(static_cast<char>(u >> 8));
    }
    return out;
}

TEST(StringHash, HashOfRotatesAndXorsUtf16Units) {
    EXPECT_EQ(TStringHash::HashOf(""), 0u);
    EXPECT_EQ(TStringHash::HashOf("A"), 0x41u);
    EXPECT_EQ(TStringHash::HashOf("AB"), (0x41u << 2) ^ 0x42u);
    // A character outside the BMP counts as its two surrogate units.
    const std::uint32_t d83d = 0xD83D;
    EXPECT_EQ(TStringHash::HashOf("\xF0\x9F\x98\x80"), (d83d << 2) ^ 0xDE00u);
    // The accumulator rotates (bits leaving at the top come back at the bottom).
    std::string many(17, 'A');
    std::uint32_t h = 0;
    for (char c : many) {
        h = ((h << 2) | (h >> 30)) ^ static_cast<std::uint32_t>(c);
    }
    EXPECT_EQ(TStringHash::HashOf(many), h);
}

TEST(StringHash, FindAnswersTheLastAdded) {
    TStringHash hash;
    EXPECT_EQ(hash.bucketCount(), 256u);
    hash.Add("KEY", 1);
    for (int i = 0; i < 5000; ++i) {
        hash.Add("K" + std::to_string(i), i);
    }
    hash.Add("KEY", 7);
    EXPECT_EQ(hash.bucketCount(), 256u);
    EXPECT_EQ(hash.ValueOf("KEY"), 7);
    EXPECT_EQ(hash.ValueOf("K4999"), 4999);
    EXPECT_EQ(hash.ValueOf("key"), -1);
    hash.Clear();
    EXPECT_EQ(hash.ValueOf("KEY"), -1);
}

TEST(HashedStringList, LookupsFollowChangesAndIgnoreCase) {
    THashedStringList list;
    list.Add("Alpha=1");
    list.Add("bare");
    EXPECT_EQ(list.IndexOfName("ALPHA"), 0);
    EXPECT_EQ(list.IndexOf("BARE"), 1);
    EXPECT_EQ(list.IndexOfName("bare"), -1); // a line without "=" has no name
    list.Add("alpha=2");                     // appended while the tables are valid
    EXPECT_EQ(list.IndexOfName("Alpha"), 2);
    list.Modify(2, [](std::string& line) { line = "beta=3"; });
    EXPECT_EQ(list.IndexOfName("alpha"), 0);
    EXPECT_EQ(list.IndexOfName("BETA"), 2);
    EXPECT_EQ(list.IndexOf("beta=3"), 2);
    list.SetCaseSensitive(true);
    EXPECT_EQ(list.IndexOfName("BETA"), -1);
    EXPECT_EQ(list.IndexOfName("beta"), 2);
    list.Clear();
    EXPECT_EQ(list.IndexOfName("beta"), -1);
}

TEST(MemIniFile, SectionHeadersAreTolerant) {
    auto ini = FromLines({"[Version] ; comment", "a=1", "[ Spaced ]", "b=2", "[]", "c=3", "[Open",
                          "[x]tail]", "d=4"});
    EXPECT_EQ(ini->ReadString("Version", "a", "-"), "1");
    EXPECT_EQ(ini->ReadString("Spaced", "b", "-"), "2");
    EXPECT_EQ(ini->ReadString("", "c", "-"), "3");
    EXPECT_EQ(ini->ReadString("x", "d", "-"), "4");
    // "[Open" has no "]" after its first character: a bare line of the section before.
    EXPECT_EQ(ini->ReadSectionValues(""), (std::vector<std::string>{"c=3", "[Open"}));
    EXPECT_EQ(ini->ReadSections(), (std::vector<std::string>{"Version", "Spaced", "", "x"}));
}

TEST(MemIniFile, LinesBeforeTheFirstHeaderAndCommentsAreIgnored) {
    auto ini = FromLines({"a=0", "[Open without close", "[S]", "; a=9", "   ;b=9", "", "a = 1 "});
    EXPECT_EQ(ini->ReadSections(), (std::vector<std::string>{"S"}));
    EXPECT_EQ(ini->ReadSectionValues("S"), (std::vector<std::string>{"a=1"}));
}

TEST(MemIniFile, RepeatedSectionContinuesTheFirstAndLastDuplicateWins) {
    auto ini = FromLines({"[General]", "Key=1", "Other=x", "[Next]", "n=1", "[GENERAL]", "key=2",
                          "[general]", "KEY=3"});
    EXPECT_EQ(ini->ReadSections(), (std::vector<std::string>{"General", "Next"}));
    EXPECT_EQ(ini->ReadString("general", "KEY", "-"), "3");
    EXPECT_EQ(ini->ReadString("General", "other", "-"), "x");
    EXPECT_EQ(ini->ReadSectionValues("General"),
              (std::vector<std::string>{"Key=1", "Other=x", "key=2", "KEY=3"}));
}

TEST(MemIniFile, EmptyValueIsNotTheDefault) {
    auto ini = FromLines({"[S]", "Key=", "Eq=a=b", " spaced key =  v w  "});
    EXPECT_EQ(ini->ReadString("S", "Key", "def"), "");
    EXPECT_EQ(ini->ReadString("S", "Missing", "def"), "def");
    EXPECT_EQ(ini->ReadString("Nope", "Key", "def"), "def");
    EXPECT_EQ(ini->ReadString("S", "Eq", "def"), "a=b");
    EXPECT_EQ(ini->ReadString("S", "SPACED KEY", "def"), "v w");
}

TEST(MemIniFile, BackslashContinuesKeyLines) {
    auto ini = FromLines({"[S]", "Files = a.sys, \\", "b.sys, \\", "; comment between", "", "c.sys",
                          "d.sys", "A=x \\", "B=y", "x \\", "y", "E=\\", "  z  "});
    EXPECT_EQ(ini->ReadString("S", "Files", ""), "a.sys,b.sys,c.sys");
    EXPECT_EQ(ini->ReadString("S", "A", ""), "x \\"); // a line with "=" never continues
    EXPECT_EQ(ini->ReadString("S", "B", ""), "y");
    EXPECT_EQ(ini->ReadString("S", "E", ""), "z");
    EXPECT_EQ(ini->ReadSectionValues("S"),
              (std::vector<std::string>{"Files=a.sys,b.sys,c.sys", "d.sys", "A=x \\", "B=y", "x \\",
                                        "y", "E=z"}));
}

TEST(MemIniFile, ContinuationResumesAfterARepeatedHeader) {
    auto ini = FromLines({"[S]", "List=a\\", "[T]", "t=1", "[S]", "b"});
    EXPECT_EQ(ini->ReadString("S", "List", ""), "ab");
    // A new section starts with no line to continue.
    auto fresh = FromLines({"[S]", "List=a\\", "[T]", "b"});
    EXPECT_EQ(fresh->ReadSectionValues("T"), (std::vector<std::string>{"b"}));
}

TEST(MemIniFile, LongContinuationChainKeepsEveryPart) {
    std::vector<std::string> lines{"[S]", "K=" + std::string(1000, 'n') + "=\\"};
    for (int i = 0; i < 2000; ++i) {
        lines.push_back(std::to_string(i % 10) + "\\");
    }
    lines.push_back("end");
    auto ini = FromLines(lines);
    const std::string value = ini->ReadString("S", "K", "");
    EXPECT_EQ(value.size(), 1000u + 1 + 2000 + 3);
    EXPECT_EQ(value.substr(value.size() - 5), "89end");
}

TEST(MemIniFile, SplitsAtEveryLineEndAndStopsAtNul) {
    TMemIniFile ini("");
    ini.SetText("[S]\r\na=1\rb=2\nc=3\r\n\r\nd=4");
    EXPECT_EQ(ini.ReadSectionValues("S"), (std::vector<std::string>{"a=1", "b=2", "c=3", "d=4"}));
    EXPECT_EQ(TMemIniFile::decodeText(std::vector<std::uint8_t>{'a', 0, 'b'}, Encoding::Ansi), "a");
}

TEST(MemIniFile, EncodingsReadAlike) {
    test::TempDir dir;
    const std::string text = "[General]\r\nOS=7_64\r\nName=Caf\xC3\xA9\r\n";
    const std::u16string units = u"[General]\r\nOS=7_64\r\nName=Caf\u00E9\r\n";
    test::WriteFile(dir / "utf16.ini", Utf16Le(units, true));
    test::WriteFile(dir / "utf8.ini", "\xEF\xBB\xBF" + text);
    test::WriteFile(dir / "ansi.ini", std::string("[General]\r\nOS=7_64\r\nName=Caf\xE9\r\n"));
    std::string be = "\xFE\xFF";
    for (char16_t u : units) {
        be.push_back(static_cast<char>(u >> 8));
        be.push_back(static_cast<char>(u & 0xFF));
    }
    test::WriteFile(dir / "utf16be.ini", be);
    for (const char* name : {"utf16.ini", "utf8.ini", "ansi.ini", "utf16be.ini"}) {
        TMemIniFile ini(dir / name);
        EXPECT_EQ(ini.ReadString("General", "OS", ""), "7_64") << name;
        EXPECT_EQ(ini.ReadString("General", "Name", ""), "Caf\xC3\xA9") << name;
    }
    // With the encoding given: its mark is skipped when present, the bytes decoded with it.
    test::WriteFile(dir / "plain8.ini", text);
    for (const char* name : {"plain8.ini", "utf8.ini"}) {
        TMemIniFile ini(dir / name, Encoding::Utf8);
        EXPECT_EQ(ini.ReadString("General", "Name", ""), "Caf\xC3\xA9") << name;
    }
    // Without a mark the same UTF-8 bytes are read as ANSI (Windows-1252).
    TMemIniFile ansi(dir / "plain8.ini");
    EXPECT_EQ(ansi.ReadString("General", "Name", ""), "Caf\xC3\x83\xC2\xA9");
    // Malformed UTF-8 becomes replacement characters, never invalid text.
    test::WriteFile(dir / "bad8.ini", std::string("[S]\nk=a\xFF\xC3"));
    TMemIniFile bad(dir / "bad8.ini", Encoding::Utf8);
    EXPECT_EQ(bad.ReadString("S", "k", ""), "a\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(MemIniFile, MissingFileIsEmptyUnopenableFileThrows) {
    test::TempDir dir;
    TMemIniFile missing(dir / "none.ini");
    EXPECT_EQ(missing.ReadString("S", "k", "def"), "def");
    TMemIniFile folder(dir.path());
    EXPECT_EQ(folder.ReadString("S", "k", "def"), "def");
    const test::UnopenableFile unopenable(dir / "socket.ini");
    EXPECT_THROW(TMemIniFile socket(dir / "socket.ini"), EFOpenError);
}

TEST(MemIniFile, FilesAboveTheCapOrNoRegularFileAreNotOpened) {
    test::TempDir dir;
    const std::string path = dir / "params.ini";
    test::WriteFile(path, "[General]\r\nOS=10_64\r\n;");
    std::filesystem::resize_file(path, platform::kMaxIniFileSize);
    EXPECT_EQ(TMemIniFile(path).ReadString("General", "OS", ""), "10_64");
    std::filesystem::resize_file(path, platform::kMaxIniFileSize + 1);
    EXPECT_THROW(TMemIniFile big(path), EFOpenError);
#ifndef _WIN32
    const std::string fifo = dir / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // would block an open() for ever
    EXPECT_THROW(TMemIniFile blocked(fifo), EFOpenError);
#endif
}

TEST(MemIniFile, CaseSensitivityAppliesToEverySection) {
    auto ini = FromLines({"[S]", "Key=1"});
    EXPECT_FALSE(ini->GetCaseSensitive());
    ini->SetCaseSensitive(true);
    EXPECT_EQ(ini->ReadString("s", "Key", "-"), "-");
    EXPECT_EQ(ini->ReadString("S", "key", "-"), "-");
    EXPECT_EQ(ini->ReadString("S", "Key", "-"), "1");
}

TEST(IniFile, ReadsThroughThePrivateProfileService) {
    test::TempDir dir;
    // The service's rules, not the in-memory parser's: the first duplicate wins, no continuation.
    test::WriteFile(dir / "a.inf", "[S]\r\nk=first\r\nk=second\r\nc=a.sys, \\\r\nb.sys\r\n");
    TIniFile ini(dir / "a.inf");
    EXPECT_EQ(ini.ReadString("s", "K", ""), "first");
    EXPECT_EQ(ini.ReadString("S", "c", ""), "a.sys, \\");
    EXPECT_EQ(ini.ReadString("S", "none", "def"), "def");
    TMemIniFile mem(dir / "a.inf");
    EXPECT_EQ(mem.ReadString("s", "K", ""), "second");
    EXPECT_EQ(mem.ReadString("S", "c", ""), "a.sys,b.sys");
}

} // namespace
} // namespace halyard

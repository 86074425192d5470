// The one-pass section reader answers every key as GetPrivateProfileString does, on a text with
// the service's corners: repeated sections and keys, a key line without "=", quotes, comments,
// names in another letter case, a UTF-16 file.
#include "base/unicode.h"
#include "os/profile_section.h"
#include "platform/profile.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <optional>
#include <string>

namespace halyard {
namespace {

TEST(ProfileSection, AnswersAsTheService) {
    const std::string text = "k=before any section\r\n"
                             "[ strings ]\r\n"
                             "; k=comment\r\n"
                             "Name = \"quoted value\" ; kept comment\r\n"
                             "name=second line of the key\r\n"
                             "Bare\r\n"
                             "bare=after a line without =\r\n"
                             "single='single'\r\n"
                             "empty=\r\n"
                             "[Other]\r\n"
                             "other=1\r\n"
                             "[STRINGS]\r\n"
                             "late=in a repeated section\r\n";
    test::TempDir dir;
    const std::string ansi = dir / "ansi.inf";
    test::WriteFile(ansi, text);
    const std::string utf16 = dir / "utf16.inf";
    std::string bytes = "\xFF\xFE";
    for (const char16_t unit : Utf8ToUtf16(text)) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    test::WriteFile(utf16, bytes);

    for (const auto& file : {ansi, utf16}) {
        const auto section = platform::ReadProfileSection("Strings", file);
        for (const char* key : {"k", "name", "NAME", "bare", "single", "empty", "other", "late",
                                " name ", "missing"}) {
            const std::string one = platform::GetPrivateProfileString("Strings", key, "\x01", file);
            const std::string two = platform::GetPrivateProfileString("Strings", key, "\x02", file);
            EXPECT_EQ(section.value(key),
                      one == two ? std::optional<std::string>(one) : std::nullopt)
                << key << " in " << file;
        }
        EXPECT_EQ(section.value("name"), "\"quoted value\" ; kept comment");
        EXPECT_EQ(section.value(""), std::nullopt);
    }
    EXPECT_EQ(platform::ReadProfileSection("Strings", dir / "absent.inf").value("name"),
              std::nullopt);
}

} // namespace
} // namespace halyard

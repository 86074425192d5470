#include "base/errors.h"
#include "catalog/file_hash.h"
#include "testkit.h"

#include <cstddef>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace halyard {
namespace {

using List = std::vector<std::string>;

TEST(GenerateHash, EmptyListIsTheDigestOfNothing) {
    List list;
    EXPECT_EQ(GenerateHash(list), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
    EXPECT_TRUE(list.empty());
}

TEST(GenerateHash, OneTagIsHashedWithoutALineBreak) {
    List list{"ABC"};
    // SHA-1("ABC")
    EXPECT_EQ(GenerateHash(list), "3C01BDBB26F358BAB27F267924AA2C9A03FCFDB8");
}

TEST(GenerateHash, OrderDoesNotMatterAndTheListComesBackSorted) {
    List a{"F00D", "0ABC", "BEEF", "0ABC"};
    List b{"0ABC", "BEEF", "0ABC", "F00D"};
    const std::string ha = GenerateHash(a);
    EXPECT_EQ(ha, GenerateHash(b));
    EXPECT_EQ(a, (List{"0ABC", "0ABC", "BEEF", "F00D"}));
    EXPECT_EQ(a, b);
    // Duplicates contribute a line each: the digest covers "0ABC\r\n0ABC\r\nBEEF\r\nF00D".
    List single{"0ABC\r\n0ABC\r\nBEEF\r\nF00D"};
    EXPECT_EQ(ha, GenerateHash(single));
}

TEST(GenerateHash, AShorterTagSortsBeforeItsExtensionsAndCaseIsIgnored) {
    const std::string sha1(40, 'A');
    const std::string sha256 = sha1 + std::string(24, '0');
    List list{sha256, sha1};
    GenerateHash(list);
    EXPECT_EQ(list, (List{sha1, sha256}));
    List mixed{"b1", "A2", "a1"};
    GenerateHash(mixed);
    EXPECT_EQ(mixed[2], "b1");
}

TEST(GenerateHash, ResultIsTheUpperCaseShaOneOfTheJoinedTags) {
    List list{"abcd", "1234"};
    // SHA-1("1234\r\nabcd"), as sha1sum gives it, in upper case.
    EXPECT_EQ(GenerateHash(list), "7661D2A738F127411B638A4BC8C5E74F55F61A96");
}

TEST(BytesToHex, UpperCaseTwoDigitsPerByte) {
    const std::uint8_t bytes[] = {0x00, 0x0A, 0xFF};
    EXPECT_EQ(BytesToHex(bytes, 3), "000AFF");
    EXPECT_EQ(BytesToHex(bytes, 0), "");
    EXPECT_EQ(BytesToHex(bytes, -1), "");
}

TEST(TryGetFileHash, HashesTheWholeContent) {
    test::TempDir dir;
    // 100,000 bytes that repeat with no power-of-two period: a lost, doubled or reordered block
    // of any read size changes the digest.
    std::string content(100000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>((i * 131 + 7) % 251);
    }
    test::WriteFile(dir / "a.bin", content);
    test::WriteFile(dir / "empty.bin", "");
    EXPECT_EQ(TryGetFileHash(dir / "empty.bin"), "DA39A3EE5E6B4B0D3255BFEF95601890AFD80709");
    // sha1sum of the same bytes.
    EXPECT_EQ(TryGetFileHash(dir / "a.bin"), "E6B181396325E11A19ED71C29D235DF1FB58595B");
}

TEST(TryGetFileHash, AMissingFileRaisesTheOpenError) {
    HALYARD_WINDOWS_ONLY(); // the message carries the system's text, which Wine words its own way
    test::TempDir dir;
    try {
        TryGetFileHash(dir / "missing.sys");
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + (dir / "missing.sys") +
                                             "\". The system cannot find the file specified");
        EXPECT_STREQ(e.typeName(), "EFOpenError");
    }
}

} // namespace
} // namespace halyard

// The POSIX catalog reader on the fixture builder's catalogs and on bytes that are no catalog.
#include "der.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "platform/catalog.h"
#include "platform/ctl.h"
#include "posix_seam.h"
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace halyard::trust {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The fixture builder's catalogs: unsigned (v1) and signed by the test PKI (v2).
fixtures::CatalogRecipe UnsignedRecipe() {
    fixtures::CatalogRecipe recipe;
    fixtures::CatalogMemberRecipe member;
    member.digest = fixtures::Bytes(20, 0x5A);
    recipe.members.push_back(member);
    return recipe;
}

std::string WriteSignedCatalog(const std::string& path) {
    fixtures::CatalogRecipe recipe;
    recipe.version = 2;
    recipe.hash = DigestAlgorithm::Sha256;
    recipe.signer = &fixtures::BuildTestPki().whcp;
    fixtures::CatalogMemberRecipe member;
    member.digest = fixtures::Bytes(32, 0xA5);
    recipe.members.push_back(member);
    fixtures::WriteCatalog(path, recipe);
    return path;
}

TEST(CtlQuery, ReadsBase64AndRefusesOtherContent) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    test::TempDir dir;
    const Bytes der = fixtures::BuildCatalog(UnsignedRecipe());
    std::vector<unsigned char> b64(4 * ((der.size() + 2) / 3) + 1);
    EVP_EncodeBlock(b64.data(), der.data(), static_cast<int>(der.size()));
    std::string text(reinterpret_cast<const char*>(b64.data()));
    // Line breaks anywhere are allowed, as are PEM armour lines.
    std::string wrapped;
    for (std::size_t i = 0; i < text.size(); i += 64) {
        wrapped += text.substr(i, 64) + "\r\n";
    }
    test::WriteFile(dir / "plain.b64", wrapped);
    test::WriteFile(dir / "armoured.pem",
                    "-----BEGIN PKCS7-----\n" + wrapped + "-----END PKCS7-----\n");
    for (const char* name : {"plain.b64", "armoured.pem"}) {
        const auto q = platform::CryptQueryObjectCtl(dir / name);
        ASSERT_TRUE(q.ok()) << name;
        EXPECT_EQ(q->contentType, platform::kCertQueryContentCtl);
        // The fixture builder's ThisUpdate: 2019-01-01 00:00:00 UTC.
        EXPECT_EQ(q->thisUpdate, der::FileTimeFromCalendar(2019, 1, 1, 0, 0, 0));
    }
    test::WriteFile(dir / "text.cat", "[Version]\r\nSignature=\"$Windows NT$\"\r\n");
    test::WriteFile(dir / "empty.cat", std::string());
    test::WriteFile(dir / "bad64.cat", "QUJD!!==");
    for (const char* name : {"text.cat", "empty.cat", "bad64.cat"}) {
        const auto q = platform::CryptQueryObjectCtl(dir / name);
        ASSERT_FALSE(q.ok()) << name;
        EXPECT_EQ(q.error(), codes::kCryptENoMatch) << name;
    }
    EXPECT_EQ(platform::CryptQueryObjectCtl(dir / "missing.cat").error(), codes::kFileNotFound);
}

TEST(CatalogCache, ParsedFilesAreCachedUntilTheFileChanges) {
    test::TempDir dir;
    const std::string path = dir / "c.cat";
    fixtures::WriteCatalog(path, UnsignedRecipe());
    const auto first = ParseCatalogFile(path);
    const auto second = ParseCatalogFile(path);
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(first.value().get(), second.value().get());
    EXPECT_EQ(first.value()->store.path, path);
    EXPECT_TRUE(first.value()->signerInfos.empty());
    WriteSignedCatalog(path);
    const auto third = ParseCatalogFile(path);
    ASSERT_TRUE(third.ok());
    EXPECT_NE(third.value().get(), first.value().get());
    EXPECT_FALSE(third.value()->signerInfos.empty());
    std::filesystem::remove(path);
    EXPECT_EQ(ParseCatalogFile(path).error(), codes::kFileNotFound);
}

TEST(CatalogOpen, HandlesOpenedAlikeShareOneStoreUntilTheFileChanges) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    test::TempDir dir;
    const std::string path = dir / "c.cat";
    fixtures::WriteCatalog(path, UnsignedRecipe());
    const auto first = platform::CryptCATOpen(path, 1);
    const auto second = platform::CryptCATOpen(path, 1);
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(first->get(), second->get());
    EXPECT_EQ((*first)->publicVersion, 1u);
    EXPECT_EQ((*first)->members.size(), 1u);
    // Other open parameters get a store of their own.
    const auto other = platform::CryptCATOpen(path, 0);
    ASSERT_TRUE(other.ok());
    EXPECT_NE(other->get(), first->get());
    EXPECT_EQ((*other)->publicVersion, 0u);
    // A rewritten catalog is read again; handles already open keep what they read.
    WriteSignedCatalog(path);
    const auto third = platform::CryptCATOpen(path, 1);
    ASSERT_TRUE(third.ok());
    EXPECT_NE(third->get(), first->get());
    EXPECT_EQ((*third)->members.front().digest, fixtures::Bytes(32, 0xA5));
    EXPECT_EQ((*first)->members.front().digest, fixtures::Bytes(20, 0x5A));
}

TEST(CatalogOpen, FileErrorsCarryTheWindowsCode) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    test::TempDir dir;
    EXPECT_EQ(platform::CryptCATOpen(dir / "missing.cat", 0).error(), codes::kFileNotFound);
    EXPECT_EQ(platform::CryptCATOpen(dir / "no/such/folder/x.cat", 0).error(),
              codes::kPathNotFound);
    EXPECT_EQ(platform::CryptCATOpen(dir.path(), 0).error(), codes::kAccessDenied);
#ifndef _WIN32 // no FIFOs or /dev/zero there (devices and pipes: unit/trust/win32)
    // A FIFO would block an open() for ever; an endless device would never end.
    const std::string fifo = dir / "fifo.cat";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(platform::CryptCATOpen(fifo, 0).error(), codes::kCantAccessFile);
    EXPECT_EQ(platform::CryptCATOpen("/dev/zero", 0).error(), codes::kCantAccessFile);
#endif
    test::WriteFile(dir / "huge.cat", "0");
    std::filesystem::resize_file(dir / "huge.cat", kMaxCatalogFileSize + 1);
    EXPECT_EQ(platform::CryptCATOpen(dir / "huge.cat", 0).error(), codes::kFileTooLarge);
    test::WriteFile(dir / "empty.cat", std::string());
    EXPECT_EQ(platform::CryptCATOpen(dir / "empty.cat", 0).error(), 0x80093102u);
    test::WriteFile(dir / "text.cat", "not a catalog at all");
    EXPECT_EQ(platform::CryptCATOpen(dir / "text.cat", 0).error(), codes::kCryptEAsn1Badtag);
}

TEST(CatalogOpen, ContentInfoOfAnotherTypeIsRefused) {
    // ContentInfo { data, [0] OCTET STRING "hi" }
    const Bytes data = {0x30, 0x11, 0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D,
                        0x01, 0x07, 0x01, 0xA0, 0x04, 0x04, 0x02, 'h',  'i'};
    const auto parsed = ParseCatalogBytes(data);
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error(), codes::kCryptEInvalidMsgType);
    EXPECT_FALSE(QueryCtlBytes(data).ok());
}

// Time encodings the CTL may use.
std::optional<FileTime> TimeOf(int tag, const std::string& text) {
    Bytes der = {static_cast<std::uint8_t>(tag), static_cast<std::uint8_t>(text.size())};
    der.insert(der.end(), text.begin(), text.end());
    der::Cursor cursor(der);
    der::Element e;
    if (!cursor.next(e)) {
        return std::nullopt;
    }
    return der::TimeValue(der, e);
}

TEST(DerTime, UtcAndGeneralizedTimesBecomeFileTimes) {
    EXPECT_EQ(TimeOf(23, "200621000000Z"), der::FileTimeFromCalendar(2020, 6, 21, 0, 0, 0));
    EXPECT_EQ(TimeOf(23, "991231235959Z"), der::FileTimeFromCalendar(1999, 12, 31, 23, 59, 59));
    EXPECT_EQ(TimeOf(23, "500101000000Z"), der::FileTimeFromCalendar(1950, 1, 1, 0, 0, 0));
    EXPECT_EQ(TimeOf(24, "20200621000000.5Z"),
              der::FileTimeFromCalendar(2020, 6, 21, 0, 0, 0, 500));
    EXPECT_EQ(TimeOf(24, "20500101120000Z"), der::FileTimeFromCalendar(2050, 1, 1, 12, 0, 0));
    EXPECT_EQ(TimeOf(23, "200621010000+0100"), der::FileTimeFromCalendar(2020, 6, 21, 0, 0, 0));
    // 1601-01-01 is FILETIME zero; 2000-01-01 is 125911584000000000.
    EXPECT_EQ(der::FileTimeFromCalendar(1601, 1, 1, 0, 0, 0), 0u);
    EXPECT_EQ(der::FileTimeFromCalendar(2000, 1, 1, 0, 0, 0), 125911584000000000u);
    EXPECT_FALSE(TimeOf(23, "201331000000Z"));
    EXPECT_FALSE(TimeOf(23, "200230000000Z"));
    EXPECT_FALSE(TimeOf(23, "2006210000Z0"));
    EXPECT_FALSE(TimeOf(23, "20062100000"));
    EXPECT_TRUE(TimeOf(24, "20000229000000Z"));
    EXPECT_FALSE(TimeOf(24, "19000229000000Z"));
}

} // namespace
} // namespace halyard::trust

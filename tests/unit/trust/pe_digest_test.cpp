// The Authenticode PE image digest, the flat digest, subject package detection and the SIP
// dispatch of the POSIX backend.
#include "base/outcome.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "platform/sip.h"
#include "posix_seam.h"
#include "testkit.h"

#include <gtest/gtest.h>
#include <openssl/sha.h>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace halyard::trust {
namespace {

using namespace codes;
using Bytes = std::vector<std::uint8_t>;

std::uint32_t Le32(const Bytes& b, std::size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

// The digest by the rule written out: leave out CheckSum and the Certificate Table entry, pad an
// unsigned image with zeros to a multiple of 8.
Bytes ExpectedUnsignedDigest(Bytes image, bool pe32Plus, bool sha256 = false) {
    const std::size_t opt = Le32(image, 0x3C) + 24;
    const std::size_t entry = opt + (pe32Plus ? 144 : 128);
    image.erase(image.begin() + static_cast<std::ptrdiff_t>(entry),
                image.begin() + static_cast<std::ptrdiff_t>(entry + 8));
    image.erase(image.begin() + static_cast<std::ptrdiff_t>(opt + 64),
                image.begin() + static_cast<std::ptrdiff_t>(opt + 68));
    const std::size_t original = image.size() + 12;
    image.resize(image.size() + (8 - original % 8) % 8, 0);
    Bytes out(sha256 ? SHA256_DIGEST_LENGTH : SHA_DIGEST_LENGTH);
    if (sha256) {
        SHA256(image.data(), image.size(), out.data());
    } else {
        SHA1(image.data(), image.size(), out.data());
    }
    return out;
}

TEST(PeDigest, UnsignedImagesLeaveOutTwoFieldsAndArePadded) {
    for (const bool plus : {false, true}) {
        fixtures::PeOptions options;
        options.pe32Plus = plus;
        options.checkSum = 0x12345678;
        options.trailing = {1, 2, 3}; // the size is no longer a multiple of 8
        const Bytes image = fixtures::MakePeFile(options);
        const auto layout = ParsePeLayout(image);
        ASSERT_TRUE(layout);
        EXPECT_FALSE(layout->hasCertTable());
        const auto digests = ComputeDigestsOfBytes(image, SubjectDigestKind::PeImage);
        ASSERT_TRUE(digests);
        EXPECT_EQ(digests->sha1, ExpectedUnsignedDigest(image, plus)) << plus;
        // A different CheckSum does not change the digest.
        Bytes changed = image;
        changed[layout->checksumOffset] ^= 0xFF;
        EXPECT_EQ(ComputeDigestsOfBytes(changed, SubjectDigestKind::PeImage)->sha256,
                  digests->sha256);
    }
}

// Signs an image as signing tools do: zeros up to a multiple of 8, then the certificate table,
// with the Certificate Table entry pointing at it.
Bytes AppendCertificateTable(Bytes image, bool pe32Plus) {
    image.resize((image.size() + 7) / 8 * 8, 0);
    const std::size_t entry = Le32(image, 0x3C) + 24 + (pe32Plus ? 144 : 128);
    const auto offset = static_cast<std::uint32_t>(image.size());
    const std::uint32_t size = 16;
    for (int i = 0; i < 4; ++i) {
        image[entry + i] = static_cast<std::uint8_t>(offset >> (8 * i));
        image[entry + 4 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    }
    image.insert(image.end(), size, 0xAB);
    return image;
}

TEST(PeDigest, SigningDoesNotChangeTheDigestButTrailingBytesDo) {
    for (const bool plus : {false, true}) {
        fixtures::PeOptions options;
        options.pe32Plus = plus;
        options.trailing = {9, 9, 9, 9, 9};
        const Bytes unsignedImage = fixtures::MakePeFile(options);
        const Bytes signedImage = AppendCertificateTable(unsignedImage, plus);
        const auto layout = ParsePeLayout(signedImage);
        ASSERT_TRUE(layout);
        ASSERT_TRUE(layout->hasCertTable());

        const auto before = ComputeDigestsOfBytes(unsignedImage, SubjectDigestKind::PeImage);
        const auto after = ComputeDigestsOfBytes(signedImage, SubjectDigestKind::PeImage);
        EXPECT_EQ(before->sha1, after->sha1);
        EXPECT_EQ(before->sha256, after->sha256);

        // Bytes after the certificate table are hashed, so appending to a signed file is noticed.
        Bytes appended = signedImage;
        appended.push_back(0);
        const auto withTail = ComputeDigestsOfBytes(appended, SubjectDigestKind::PeImage);
        ASSERT_TRUE(withTail);
        EXPECT_NE(withTail->sha256, after->sha256);
    }
    // The builder's signed images agree as well.
    fixtures::PeOptions options;
    const Bytes plain = fixtures::MakePeFile(options);
    options.certificateTable = true;
    EXPECT_EQ(
        ComputeDigestsOfBytes(plain, SubjectDigestKind::PeImage)->sha1,
        ComputeDigestsOfBytes(fixtures::MakePeFile(options), SubjectDigestKind::PeImage)->sha1);
}

TEST(PeDigest, MalformedImagesAreNotPeImages) {
    fixtures::PeOptions fewDirectories;
    fewDirectories.numberOfRvaAndSizes = 4;
    EXPECT_FALSE(ParsePeLayout(fixtures::MakePeFile(fewDirectories)));

    fixtures::PeOptions withTable;
    withTable.certificateTable = true;
    Bytes truncated = fixtures::MakePeFile(withTable);
    truncated.pop_back(); // the table now runs past the end
    EXPECT_FALSE(ParsePeLayout(truncated));
    EXPECT_EQ(ComputeDigestsOfBytes(truncated, SubjectDigestKind::PeImage).error(), kBadFormat);

    Bytes badMagic = fixtures::MakePeFile();
    badMagic[Le32(badMagic, 0x3C) + 24] = 0x0C;
    EXPECT_FALSE(ParsePeLayout(badMagic));

    Bytes farHeader = fixtures::MakePeFile();
    farHeader[0x3C + 3] = 0x7F; // e_lfanew beyond the file
    EXPECT_FALSE(ParsePeLayout(farHeader));

    EXPECT_FALSE(ParsePeLayout(Bytes{'M', 'Z'}));
}

TEST(PeDigest, FilesAreStreamedAndRememberedByStamp) {
    test::TempDir dir;
    fixtures::PeOptions options;
    options.sectionSize = 3 * 1024 * 1024 + 512; // several read blocks
    options.fill = 0x11;
    const Bytes image = fixtures::MakePeFile(options);
    const std::string path = dir / "big.sys";
    fixtures::WriteFileBytes(path, image);

    const auto expected = ComputeDigestsOfBytes(image, SubjectDigestKind::PeImage);
    const std::uint64_t start = DigestPassCount();
    const auto first = FileDigestOf(path, SubjectDigestKind::PeImage, DigestAlgorithm::Sha256);
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, expected->sha256);
    EXPECT_EQ(*FileDigestOf(path, SubjectDigestKind::PeImage, DigestAlgorithm::Sha256), *first);
    EXPECT_EQ(DigestPassCount() - start, 1u);

    // Only the algorithm asked for is computed: SHA-1 is a pass of its own, then remembered too.
    EXPECT_EQ(*FileDigestOf(path, SubjectDigestKind::PeImage, DigestAlgorithm::Sha1),
              expected->sha1);
    EXPECT_EQ(*FileDigestOf(path, SubjectDigestKind::PeImage, DigestAlgorithm::Sha256), *first);
    EXPECT_EQ(*FileDigestOf(path, SubjectDigestKind::PeImage, DigestAlgorithm::Sha1),
              expected->sha1);
    EXPECT_EQ(DigestPassCount() - start, 2u);

    // The flat digest is another computation; a rewritten file is hashed again.
    EXPECT_EQ(*FileDigestOf(path, SubjectDigestKind::Flat, DigestAlgorithm::Sha256),
              DigestOf(DigestAlgorithm::Sha256, image));
    Bytes changed = image;
    changed[changed.size() / 2] ^= 1;
    changed.push_back(0); // a new size, whatever the clock's resolution
    fixtures::WriteFileBytes(path, changed);
    EXPECT_NE(*FileDigestOf(path, SubjectDigestKind::PeImage, DigestAlgorithm::Sha256), *first);
    EXPECT_EQ(DigestPassCount() - start, 4u);

    EXPECT_EQ(
        FileDigestOf(dir / "missing.sys", SubjectDigestKind::Flat, DigestAlgorithm::Sha1).error(),
        kFileNotFound);
    EXPECT_EQ(FileDigestOf(dir.path(), SubjectDigestKind::Flat, DigestAlgorithm::Sha1).error(),
              kAccessDenied);
}

TEST(FileDigests, SpecialFilesAreRefusedWithoutBlocking) {
#ifdef _WIN32
    GTEST_SKIP() << "no FIFOs or /dev/zero on Windows (devices and pipes: unit/trust/win32)";
#else
    test::TempDir dir;
    const std::string fifo = dir / "driver.sys";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // an open() would wait for a writer for ever
    for (const auto& path : {fifo, std::string("/dev/zero")}) {
        EXPECT_EQ(FileDigestOf(path, SubjectDigestKind::PeImage, DigestAlgorithm::Sha256).error(),
                  kCantAccessFile);
        EXPECT_EQ(FileDigestOf(path, SubjectDigestKind::Flat, DigestAlgorithm::Sha1).error(),
                  kCantAccessFile);
        EXPECT_EQ(platform::CryptSIPRetrieveSubjectGuid(path).error(), kCantAccessFile);
    }
#endif
}

TEST(SubjectPackages, DetectionFollowsTheContent) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    test::TempDir dir;
    auto guidOf = [&](const std::string& name, const std::string& content) {
        test::WriteFile(dir / name, content);
        return platform::CryptSIPRetrieveSubjectGuid(dir / name);
    };
    fixtures::WriteFileBytes(dir / "a.sys", fixtures::MakePeFile());
    EXPECT_EQ(*platform::CryptSIPRetrieveSubjectGuid(dir / "a.sys"), platform::kSubjectPeImage);
    EXPECT_EQ(*guidOf("a.cab", "MSCF\0\0\0\0"), platform::kSubjectCabinet);
    EXPECT_EQ(*guidOf("a.cat", std::string("\x30\x03\x02\x01\x00", 5)), platform::kSubjectCatalog);
    EXPECT_EQ(*guidOf("b.cat", std::string("\x30\x82\x00\x04\x02\x02\x00\x00", 8)),
              platform::kSubjectCatalog);
    EXPECT_EQ(*guidOf("c.cat", std::string("\x30\x80\x00\x00", 4)), platform::kSubjectCatalog);
    EXPECT_EQ(guidOf("d.cat", std::string("\x30\x05\x02\x01\x00", 5)).error(),
              kTrustESubjectFormUnknown); // the length does not fit the file
    EXPECT_EQ(guidOf("a.inf", "[Version]\r\n").error(), kTrustESubjectFormUnknown);
    EXPECT_EQ(guidOf("mz.bin", "MZ not a program").error(), kTrustESubjectFormUnknown);
    EXPECT_EQ(guidOf("short", "MZ").error(), kInvalidParameter);
    EXPECT_EQ(platform::CryptSIPRetrieveSubjectGuid(dir / "missing").error(), kFileNotFound);
}

TEST(SubjectPackages, SizeQueryDoesNotHashAndRefusesWhatAPackageCannotDo) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    test::TempDir dir;
    const std::string pe = dir / "a.sys";
    fixtures::WriteFileBytes(pe, fixtures::MakePeFile());
    test::WriteFile(dir / "a.inf", "[Version]\r\n");
    test::WriteFile(dir / "a.cab", "MSCF....");

    SipSubjectInfo subject;
    subject.fileName = pe;
    subject.digestAlgorithmOid = kOidSha256RsaEncryption;
    const auto peSip = platform::CryptSIPLoad(platform::kSubjectPeImage);
    ASSERT_TRUE(peSip);
    const std::uint64_t start = DigestPassCount();
    const auto size = peSip->createIndirectDataSize(subject);
    ASSERT_TRUE(size);
    EXPECT_GT(*size, 32u);
    EXPECT_EQ(DigestPassCount(), start);
    EXPECT_EQ(*peSip->createIndirectDataDigest(subject),
              ExpectedUnsignedDigest(fixtures::MakePeFile(), false, true));
    subject.digestAlgorithmOid = platform::CertAlgIdToOID(platform::kCalgSha1);
    EXPECT_EQ(*peSip->createIndirectDataDigest(subject),
              ExpectedUnsignedDigest(fixtures::MakePeFile(), false));

    subject.digestAlgorithmOid = platform::CertAlgIdToOID(0x8003); // MD5
    EXPECT_EQ(peSip->createIndirectDataSize(subject).error(), kNteBadAlgid);
    subject.digestAlgorithmOid = kOidSha256;
    subject.fileName = dir / "a.inf";
    EXPECT_EQ(peSip->createIndirectDataSize(subject).error(), kBadFormat);
    subject.fileName = dir / "missing.sys";
    EXPECT_EQ(peSip->createIndirectDataSize(subject).error(), kFileNotFound);

    subject.fileName = dir / "a.cab";
    EXPECT_EQ(CryptSIPLoad(platform::kSubjectCabinet)->createIndirectDataSize(subject).error(),
              kNteBadAlgid);
    EXPECT_EQ(CryptSIPLoad(Guid{1, 2, 3, {}}).error(), kTrustESubjectFormUnknown);

    subject.fileName = dir / "a.inf";
    const auto flat = CryptSIPLoad(platform::kSubjectFlatImage);
    const std::string text = "[Version]\r\n";
    EXPECT_EQ(*flat->createIndirectDataDigest(subject),
              DigestOf(DigestAlgorithm::Sha256,
                       {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}));
}

TEST(SubjectPackages, AdminHashIsShaOneOfImageOrContent) {
    HALYARD_ENGINE_THROUGH_THE_SEAM();
    test::TempDir dir;
    const Bytes image = fixtures::MakePeFile();
    fixtures::WriteFileBytes(dir / "a.sys", image);
    test::WriteFile(dir / "a.inf", "abc");
    EXPECT_EQ(*platform::CryptCATAdminCalcHashFromFile(dir / "a.sys"),
              ComputeDigestsOfBytes(image, SubjectDigestKind::PeImage)->sha1);
    EXPECT_EQ(fixtures::HexUpper(*platform::CryptCATAdminCalcHashFromFile(dir / "a.inf")),
              "A9993E364706816ABA3E25717850C26C9CD0D89D");
    EXPECT_EQ(platform::CryptCATAdminCalcHashFromFile(dir / "none").error(), kFileNotFound);
}

} // namespace
} // namespace halyard::trust

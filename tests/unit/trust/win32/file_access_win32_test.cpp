// The engine's Windows file access keeps the promises of the POSIX one: only disk files are read
// (a device or a pipe is refused at once, never waited on), a folder is refused as Windows refuses
// it, the size cap holds, paths are UTF-8 whatever the code page, and the trust folders' stamp
// follows every change of a root file.
#include "base/codes.h"
#include "fixtures.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "testkit.h"

#include <ctime>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace halyard::trust {
namespace {

using namespace codes;

TEST(WindowsFileAccess, OnlyDiskFilesAreReadAndEveryRefusalHasItsCode) {
    test::TempDir dir;
    // A pipe with a listening server, an instance for each open below (stamps open it too): opening
    // it as a client succeeds at once, reading it would wait for the server.
    const std::string pipe =
        "\\\\.\\pipe\\halyard-file-access-" + std::to_string(::GetCurrentProcessId());
    std::vector<HANDLE> servers;
    for (int i = 0; i < 8; ++i) {
        servers.push_back(::CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_DUPLEX,
                                             PIPE_TYPE_BYTE | PIPE_WAIT, 8, 4096, 4096, 0,
                                             nullptr));
        ASSERT_NE(servers.back(), INVALID_HANDLE_VALUE);
    }
    for (const std::string& path : {std::string("NUL"), pipe}) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ReadCatalogFile(path).error(), kCantAccessFile);
        EXPECT_EQ(FileDigestOf(path, SubjectDigestKind::Flat, DigestAlgorithm::Sha1).error(),
                  kCantAccessFile);
        EXPECT_EQ(IsPeImageFile(path).error(), kCantAccessFile);
    }
    for (const HANDLE server : servers) {
        ::CloseHandle(server);
    }

    EXPECT_EQ(ReadCatalogFile(dir.path()).error(), kAccessDenied);
    EXPECT_EQ(FileDigestOf(dir.path(), SubjectDigestKind::Flat, DigestAlgorithm::Sha1).error(),
              kAccessDenied);
    EXPECT_EQ(ReadCatalogFile(dir / "missing.cat").error(), kFileNotFound);
    EXPECT_EQ(ReadCatalogFile(dir / "no/such/folder/x.cat").error(), kPathNotFound);
    test::WriteFile(dir / "huge.cat", "0");
    std::filesystem::resize_file(dir / "huge.cat", kMaxCatalogFileSize + 1);
    EXPECT_EQ(ReadCatalogFile(dir / "huge.cat").error(), kFileTooLarge);
    std::filesystem::resize_file(dir / "huge.cat", kMaxCatalogFileSize);
    EXPECT_EQ(ReadCatalogFile(dir / "huge.cat")->size(), kMaxCatalogFileSize);
}

TEST(WindowsFileAccess, PathsAreUtf8) {
    test::TempDir dir;
    // "Tréiber ü" in UTF-8: the ANSI code page would read other letters.
    const std::string folder = dir / "Tr\xC3\xA9iber \xC3\xBC";
    std::filesystem::create_directory(std::filesystem::u8path(folder));
    const fixtures::Bytes image = fixtures::MakePeFile();
    fixtures::WriteFileBytes(dir / "plain.sys", image);
    std::filesystem::copy_file(std::filesystem::u8path(dir / "plain.sys"),
                               std::filesystem::u8path(folder + "/\xC3\xBC.sys"));
    const auto digest =
        FileDigestOf(folder + "/\xC3\xBC.sys", SubjectDigestKind::PeImage, DigestAlgorithm::Sha256);
    ASSERT_TRUE(digest.ok()) << digest.error();
    EXPECT_EQ(*digest, ComputeDigestsOfBytes(image, SubjectDigestKind::PeImage)->sha256);
    EXPECT_EQ(*IsPeImageFile(folder + "/\xC3\xBC.sys"), true);
    EXPECT_EQ(ReadCatalogFile(folder + "/\xC3\xBC.sys")->size(), image.size());
    test::WriteFile(std::filesystem::u8path(folder + "/r\xC3\xB6\xC3\xB6t.pem").string(),
                    fixtures::BuildTestPki().root.certPem);
    EXPECT_EQ(TrustAnchors(folder).certificateCount(), 1u);
}

TEST(WindowsFileAccess, TrustFolderStampFollowsTheRootFiles) {
    const auto& pki = fixtures::BuildTestPki();
    test::TempDir trust;
    const std::vector<std::string> folders = {trust.path(), trust / "missing"};
    const std::time_t later = std::time(nullptr) + 60;
    bool settled = false;
    const auto empty = TrustFoldersStamp(folders, later, settled);
    EXPECT_TRUE(settled);
    EXPECT_EQ(TrustFoldersStamp(folders, later, settled), empty);

    test::WriteFile(trust / "root.pem", pki.root.certPem);
    test::WriteFile(trust / "notes.txt", "not a trust file");
    const auto one = TrustFoldersStamp(folders, later, settled);
    EXPECT_NE(one, empty);
    // Something written just now is too recent for the stamp to vouch for.
    TrustFoldersStamp(folders, std::time(nullptr), settled);
    EXPECT_FALSE(settled);

    // Other files of the folder do not count; a root rewritten does, even at the same size.
    test::WriteFile(trust / "notes.txt", "still not a trust file");
    EXPECT_EQ(TrustFoldersStamp(folders, later, settled), one);
    ::Sleep(20);
    test::WriteFile(trust / "root.pem", pki.root.certPem);
    EXPECT_NE(TrustFoldersStamp(folders, later, settled), one);
    const TrustAnchors anchors(trust.path());
    EXPECT_EQ(anchors.certificateCount(), 1u);
}

} // namespace
} // namespace halyard::trust

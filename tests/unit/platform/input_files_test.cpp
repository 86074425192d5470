// Opening input files: never blocking, regular files only, within a cap; and the order in which
// folders are listed.
#include "base/errors.h"
#include "base/outcome.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/messages.h"
#include "testkit.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace halyard {
namespace {

namespace fs = std::filesystem;

std::string OpenError(const std::string& path, std::uint64_t cap = platform::kNoSizeCap) {
    try {
        platform::FileReader reader(path, cap);
    } catch (const EFOpenError& e) {
        return e.what();
    }
    return {};
}

TEST(InputFiles, CapIsInclusiveAndNamedWhenPassed) {
    test::TempDir dir;
    const std::string path = dir / "f.ini";
    test::WriteFile(path, std::string(100, 'x'));
    EXPECT_EQ(platform::ReadWholeFile(path, 100).size(), 100u);
    EXPECT_EQ(platform::ProbeInputFile(path, 100), codes::kSuccess);
    EXPECT_EQ(platform::ProbeInputFile(path, 99), codes::kFileTooLarge);
    EXPECT_THROW(platform::ReadWholeFile(path, 99), EFOpenError);
    EXPECT_EQ(OpenError(path, 99), "Cannot open file \"" + path + "\". " +
                                       platform::SysErrorMessage(codes::kFileTooLarge));
    EXPECT_EQ(platform::ProbeInputFile(dir / "missing.ini"), codes::kFileNotFound);
    // Windows refuses to open a folder as a file.
    EXPECT_EQ(platform::ProbeInputFile(dir.path()), codes::kAccessDenied);
}

#ifndef _WIN32
TEST(InputFiles, SpecialFilesAreRefusedWithoutBlocking) {
    test::TempDir dir;
    // A FIFO without a writer would block a plain open() for ever.
    const std::string fifo = dir / "x.inf";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // An endless device, reached through a link.
    const std::string zero = dir / "zero.inf";
    fs::create_symlink("/dev/zero", zero);
    for (const auto& path : {fifo, zero, std::string("/dev/null")}) {
        EXPECT_EQ(platform::ProbeInputFile(path), codes::kCantAccessFile) << path;
        EXPECT_EQ(OpenError(path), "Cannot open file \"" + path + "\". " +
                                       platform::SysErrorMessage(codes::kCantAccessFile))
            << path;
        EXPECT_THROW(platform::ReadWholeFile(path, 1024), EFOpenError) << path;
    }
    EXPECT_FALSE(platform::SysErrorMessage(codes::kCantAccessFile).empty());
    EXPECT_FALSE(platform::SysErrorMessage(codes::kFileTooLarge).empty());
}
#endif

// Names whose NTFS order (upper-cased UTF-16 units, ordinal) differs from their byte order:
// 'a' sorts before 'B' and '_' after 'Z'; "." sorts before digits; non-ASCII last.
const std::vector<std::string> kNtfsOrder = {"a.cat", "a1.CAT", "B.cat",
                                             "Z.cat", "_x.cat", "\xC3\xA9t\xC3\xA9.cat"};

TEST(Listing, FilesComeInNtfsNameOrderWhateverTheCreationOrder) {
    HALYARD_WINDOWS_ONLY(); // Wine lists in the host file system's order
    for (const bool reversed : {false, true}) {
        test::TempDir dir;
        std::vector<std::string> names = kNtfsOrder;
        if (reversed) {
            std::reverse(names.begin(), names.end());
        }
        for (const auto& name : names) {
            test::WriteFile(dir / name, name);
        }
        test::WriteFile(dir / "m.cat.d/inner.cat", "");
        std::vector<std::string> expected;
        const std::string root = platform::IncludeTrailingPathDelimiter(dir.path());
        for (const auto& name : kNtfsOrder) {
            expected.push_back(root + name);
        }
        EXPECT_EQ(platform::ListFiles(dir.path(), "*.cat"), expected);
        // The walk takes a folder's files where the folder's own name sorts.
        expected.insert(expected.begin() + 3,
                        platform::IncludeTrailingPathDelimiter(root + "m.cat.d") + "inner.cat");
        EXPECT_EQ(platform::ListFilesRecursive(dir.path()), expected);
    }
}

#ifndef _WIN32
TEST(Listing, NamesThatDifferOnlyInCaseFollowInByteOrder) {
    test::TempDir dir;
    for (const char* name : {"x.cat", "X.CAT", "X.cat"}) {
        test::WriteFile(dir / name, "");
    }
    const std::string root = platform::IncludeTrailingPathDelimiter(dir.path());
    EXPECT_EQ(platform::ListFiles(dir.path(), "*.cat"),
              (std::vector<std::string>{root + "X.CAT", root + "X.cat", root + "x.cat"}));
}
#endif

} // namespace
} // namespace halyard

// Unpacking into a held folder: writes go through the held folder whatever happens to its path,
// the archive file is read as it was opened whatever happens to its path, and the bounds of an
// unpacking (bytes written, free space left).
#include "base/errors.h"
#include "external/sevenzip/sevenzip.h"
#include "external/sevenzip/sevenzip_budget.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "report/output.h"
#include "testkit.h"
#include "verify/package_steps.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace halyard {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using Lines = std::vector<std::string>;

const char* const k7zz = "/usr/bin/7zz";

class UnpackIntoFolder : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED_PROGRAM(k7zz); }

    std::string Pack(const std::vector<std::pair<std::string, std::string>>& files) {
        for (const auto& [name, bytes] : files) {
            WriteFile(dir / "src/" + name, bytes);
        }
        const auto r = test::Run(k7zz, {"a", "-bd", dir / "a.7z", "."}, dir / "src");
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return dir / "a.7z";
    }

    // UnZipFile's lines, from the archive's path or from the file opened.
    template <class Archive>
    Lines Unzip(Archive&& archive, platform::Folder& folder, bool expect) {
        OutputCapture capture;
        EXPECT_EQ(UnZipFile(std::forward<Archive>(archive), folder), expect);
        return capture.lines();
    }

    TempDir dir;
};

TEST_F(UnpackIntoFolder, WritesFollowTheHeldFolderNotItsPath) {
    const std::string archive = Pack({{"sub/deep/a.txt", "alpha"}, {"b.txt", "bravo"}});
    TempDir elsewhere;
    const auto folder = platform::Folder::openOrCreate(dir / "work");
    // The folder is moved away and a link to another folder takes its place.
    fs::rename(dir / "work", dir / "moved");
    fs::create_directory_symlink(elsewhere.path(), dir / "work");

    EXPECT_TRUE(Unzip(archive, *folder, true).empty());
    EXPECT_EQ(ReadFile(dir / "moved/sub/deep/a.txt"), "alpha");
    EXPECT_EQ(ReadFile(dir / "moved/b.txt"), "bravo");
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST_F(UnpackIntoFolder, ALinkAtThePathIsNotOpened) {
    const std::string archive = Pack({{"a.txt", "alpha"}});
    TempDir elsewhere;
    fs::create_directory_symlink(elsewhere.path(), dir / "work");
    OutputCapture capture;
    EXPECT_FALSE(UnZipFile(archive, dir / "work"));
    const Lines lines = capture.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("UnZipFile: Cannot create folder \"" + (dir / "work/") + "\". ", 0),
              0u)
        << lines[0];
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
}

TEST_F(UnpackIntoFolder, TheOpenedArchiveIsUnpackedAfterItsPathIsGoneOrReplaced) {
    const std::string archive = Pack({{"a.txt", "first"}});
    {
        auto opened = std::make_unique<platform::FileReader>(archive);
        fs::remove(archive);
        const auto folder = platform::Folder::openOrCreate(dir / "removed");
        EXPECT_TRUE(Unzip(std::move(opened), *folder, true).empty());
        EXPECT_EQ(ReadFile(dir / "removed/a.txt"), "first");
    }
    {
        Pack({{"a.txt", "second"}});
        auto opened = std::make_unique<platform::FileReader>(archive);
        fs::rename(archive, dir / "moved.7z");
        Pack({{"a.txt", "an archive put in its place"}});
        const auto folder = platform::Folder::openOrCreate(dir / "replaced");
        EXPECT_TRUE(Unzip(std::move(opened), *folder, true).empty());
        EXPECT_EQ(ReadFile(dir / "replaced/a.txt"), "second");
    }
    WriteFile(dir / "not.7z", "plain text, no archive");
    auto opened = std::make_unique<platform::FileReader>(dir / "not.7z");
    const auto folder = platform::Folder::openOrCreate(dir / "work");
    EXPECT_EQ(Unzip(std::move(opened), *folder, false), Lines{"UnZipFile: Not a 7z archive"});
}

// The package steps: the step that opens the archive hands it to the unpacking step.
TEST_F(UnpackIntoFolder, ThePackageStepsUnpackTheArchiveTheyOpened) {
    const std::string archive = Pack({{"a.txt", "packaged"}});
    PackageFacts facts;
    ASSERT_TRUE(CheckArchiveName(archive, facts).ok);
    ASSERT_TRUE(OpenArchive(facts).ok);
    fs::remove(archive);

    const auto work = platform::Folder::openOrCreate(facts.workPath);
    facts.work = work.get();
    std::vector<PackageStepResult> steps;
    OutputCapture capture;
    RunPackageSteps(facts, StepMode::StopAtFirstFailure,
                    [&](const PackageStepResult& step) { steps.push_back(step); });
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps[0].name, "UnZipFile");
    EXPECT_TRUE(steps[0].ok) << steps[0].found;
    EXPECT_EQ(ReadFile(facts.workPath + "a.txt"), "packaged");
    EXPECT_FALSE(facts.archive); // closed by the unpacking
}

TEST_F(UnpackIntoFolder, TheSizeLimitComesFromTheEnvironment) {
    const std::string archive = Pack({{"zeros.bin", std::string(3 << 20, '\0')}});
    const auto folder = platform::Folder::openOrCreate(dir / "work");
    ::setenv(kMaxUnpackedVariable, "2", 1);
    const Lines lines = Unzip(archive, *folder, false);
    EXPECT_EQ(lines, Lines{"UnZipFile: The archive's content of 3 MiB passes the limit of 2 MiB "
                           "unpacked (HALYARD_MAX_UNPACKED_MB)"});
    EXPECT_FALSE(fs::exists(dir / "work/zeros.bin"));

    // Values that are not a positive whole number leave the default.
    for (const char* value : {"0", "-1", "2x", "", "99999999999999999999"}) {
        ::setenv(kMaxUnpackedVariable, value, 1);
        EXPECT_EQ(MaxUnpackedBytes(), kDefaultMaxUnpackedMB << 20) << value;
    }
    ::unsetenv(kMaxUnpackedVariable);
    EXPECT_TRUE(Unzip(archive, *folder, true).empty());
    EXPECT_EQ(fs::file_size(dir / "work/zeros.bin"), 3u << 20);
}

TEST(UnpackBudget, CountsTheBytesWrittenAndKeepsTheReserve) {
    TempDir dir;
    const auto folder = platform::Folder::openOrCreate(dir / "work");
    {
        // Whatever the archive announced, the bytes written count.
        SevenZipUnpackBudget budget(*folder, 1 << 20, 0);
        budget.announce(10);
        budget.startItem("x64/a.sys");
        budget.charge(1 << 19);
        budget.charge(1 << 19);
        try {
            budget.charge(1);
            FAIL() << "the limit was passed";
        } catch (const ESevenZipException& e) {
            EXPECT_STREQ(e.what(), "Item \"x64/a.sys\": the unpacked size passes the limit of 1 "
                                   "MiB unpacked (HALYARD_MAX_UNPACKED_MB)");
        }
    }
    {
        // A reserve larger than the free space stops the first write.
        const std::uint64_t reserve = folder->availableBytes() + (1u << 30);
        SevenZipUnpackBudget budget(*folder, UINT64_MAX, reserve);
        budget.startItem("big.bin");
        try {
            budget.charge(1);
            FAIL() << "the reserve was not kept";
        } catch (const ESevenZipException& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Item \"big.bin\": unpacking it would leave less than " +
                          std::to_string(reserve >> 20) + " MiB free on the file system of \"" +
                          folder->path() + "\"");
        }
        EXPECT_THROW(budget.announce(0), ESevenZipException);
    }
}

} // namespace
} // namespace halyard

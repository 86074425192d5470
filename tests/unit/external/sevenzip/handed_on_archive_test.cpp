// The archive file opened once: the unpacking reads the file the package steps opened, whatever
// happens to its path afterwards.
#include "external/sevenzip/sevenzip.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "report/output.h"
#include "testkit.h"
#include "verify/package_steps.h"

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

class HandedOnArchive : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED_PROGRAM(k7zz); }

    // An archive of one file, a.txt, holding text.
    std::string Pack(const std::string& name, const std::string& text) {
        WriteFile(dir / ("src-" + name + "/a.txt"), text);
        const auto r = test::Run(k7zz, {"a", "-bd", dir / name, "a.txt"}, dir / ("src-" + name));
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return dir / name;
    }

    TempDir dir;
};

TEST_F(HandedOnArchive, TheOpenedFileIsUnpackedAfterItsPathIsGoneOrReplaced) {
    const std::string archive = Pack("a.7z", "first");
    const std::string other = Pack("b.7z", "second");
    {
        auto opened = std::make_unique<platform::FileReader>(archive);
        fs::remove(archive);
        const auto folder = platform::Folder::OpenOrCreate(dir / "removed");
        OutputCapture capture;
        EXPECT_TRUE(UnZipFile(std::move(opened), *folder));
        EXPECT_EQ(capture.lines(), Lines{});
        EXPECT_EQ(ReadFile(dir / "removed/a.txt"), "first");
    }
    {
        auto opened = std::make_unique<platform::FileReader>(other);
        fs::rename(other, dir / "moved.7z");
        Pack("b.7z", "an archive put in its place");
        const auto folder = platform::Folder::OpenOrCreate(dir / "replaced");
        OutputCapture capture;
        EXPECT_TRUE(UnZipFile(std::move(opened), *folder));
        EXPECT_EQ(ReadFile(dir / "replaced/a.txt"), "second");
    }
}

TEST_F(HandedOnArchive, ABrokenOpenedArchiveFailsWithOneLine) {
    WriteFile(dir / "not.7z", "plain text, no archive");
    auto opened = std::make_unique<platform::FileReader>(dir / "not.7z");
    const auto folder = platform::Folder::OpenOrCreate(dir / "work");
    OutputCapture capture;
    EXPECT_FALSE(UnZipFile(std::move(opened), *folder));
    EXPECT_EQ(capture.lines(), Lines{"UnZipFile: Not a 7z archive"});
}

// The package steps: the step that opens the archive hands it to the unpacking step.
TEST_F(HandedOnArchive, ThePackageStepsUnpackWhatTheyOpened) {
    const std::string archive = Pack("pkg.7z", "packaged");
    PackageFacts facts;
    ASSERT_TRUE(CheckArchiveName(archive, facts).ok);
    ASSERT_TRUE(OpenArchive(facts).ok);
    fs::remove(archive);

    const auto work = platform::Folder::OpenOrCreate(facts.workPath);
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

} // namespace
} // namespace halyard

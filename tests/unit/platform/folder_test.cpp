// Held folders and the work folder guard.
#include "base/errors.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "testkit.h"

#include <filesystem>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace halyard {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;

void Write(platform::Folder& folder, const std::string& relative, const std::string& bytes) {
    auto writer = folder.createFileBelow(relative);
    writer->write(bytes.data(), bytes.size());
}

TEST(WorkFolder, IsMadeAnewAndRemovedWithItsContent) {
    TempDir dir;
    WriteFile(dir / "pkg/stale/old.sys", "left by an earlier run");
    auto made = platform::WorkFolder::create(dir / "pkg/");
    ASSERT_TRUE(made.folder) << made.refusal;
    EXPECT_EQ(made.folder->path(), dir / "pkg" + platform::kPathDelim);
    EXPECT_TRUE(fs::is_empty(dir / "pkg"));
    Write(*made.folder, "x64/sub/a.sys", "new");
    EXPECT_EQ(ReadFile(dir / "pkg/x64/sub/a.sys"), "new");
    made.folder->remove();
    EXPECT_FALSE(fs::exists(dir / "pkg"));
    made.folder.reset(); // nothing more to remove

    // The guard alone removes it too.
    made = platform::WorkFolder::create(dir / "pkg");
    ASSERT_TRUE(made.folder);
    Write(*made.folder, "a/b/c.txt", "x");
    made.folder.reset();
    EXPECT_FALSE(fs::exists(dir / "pkg"));
}

TEST(WorkFolder, ExistingFilesAreReplacedAndNothingIsWrittenThroughALink) {
#ifdef _WIN32
    GTEST_SKIP() << "symbolic links need a privilege on Windows";
#endif
    TempDir dir;
    TempDir elsewhere;
    WriteFile(elsewhere / "keep.txt", "kept");
    auto folder = platform::Folder::openOrCreate(dir / "work");
    WriteFile(dir / "work/a.txt", "old and longer");
    Write(*folder, "a.txt", "new");
    EXPECT_EQ(ReadFile(dir / "work/a.txt"), "new");

    // A hard link is replaced, not written through.
    fs::create_hard_link(elsewhere / "keep.txt", dir / "work/hard.txt");
    Write(*folder, "hard.txt", "new");
    EXPECT_EQ(ReadFile(elsewhere / "keep.txt"), "kept");

    // Links at any level below are refused.
    fs::create_directory(dir / "work/d1");
    fs::create_directory_symlink(elsewhere.path(), dir / "work/d1/d2");
    fs::create_symlink(elsewhere / "keep.txt", dir / "work/d1/file.txt");
    EXPECT_THROW(Write(*folder, "d1/d2/x.txt", "x"), EInOutError);
    EXPECT_THROW(Write(*folder, "d1/file.txt", "x"), EFCreateError);
    WriteFile(dir / "work/plain", "a file where a folder is asked for");
    EXPECT_THROW(Write(*folder, "plain/x.txt", "x"), EInOutError);
    EXPECT_EQ(ReadFile(elsewhere / "keep.txt"), "kept");
    EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.path()), {}), 1);
}

#ifndef _WIN32
TEST(WorkFolder, RefusesWhatIsNotAFolderAndLeavesIt) {
    TempDir dir;
    TempDir elsewhere;
    WriteFile(elsewhere / "keep.txt", "kept");
    WriteFile(dir / "file", "user data");
    fs::create_directory_symlink(elsewhere.path(), dir / "dirlink");
    ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
    const struct {
        const char* name;
        const char* kind;
    } cases[] = {{"file", "a file"}, {"dirlink", "a symbolic link"}, {"fifo", "a pipe"}};
    for (const auto& c : cases) {
        const auto made = platform::WorkFolder::create(dir / c.name);
        EXPECT_FALSE(made.folder) << c.name;
        EXPECT_EQ(made.refusal, "Cannot create folder \"" + (dir / c.name) + "/\". The path is " +
                                    c.kind + ", not a folder; it is left as it is");
        EXPECT_TRUE(fs::exists(fs::symlink_status(dir / c.name))) << c.name;
    }
    EXPECT_EQ(ReadFile(dir / "file"), "user data");
    EXPECT_EQ(ReadFile(elsewhere / "keep.txt"), "kept");
}

TEST(WorkFolder, RemovesOnlyTheFolderItHolds) {
    TempDir dir;
    auto made = platform::WorkFolder::create(dir / "pkg");
    ASSERT_TRUE(made.folder);
    Write(*made.folder, "a.txt", "x");
    // Another folder takes its place at the path while it is in use.
    fs::rename(dir / "pkg", dir / "moved");
    WriteFile(dir / "pkg/user.txt", "not ours");
    EXPECT_THROW(made.folder->remove(), EInOutError);
    EXPECT_EQ(ReadFile(dir / "pkg/user.txt"), "not ours");
    EXPECT_TRUE(fs::is_empty(dir / "moved")); // its content went, through the descriptor
}

// Deep trees with few descriptors and paths longer than PATH_MAX.
TEST(WorkFolder, DeepTreesGoWithAFixedNumberOfDescriptors) {
    TempDir dir;
    auto made = platform::WorkFolder::create(dir / "pkg");
    ASSERT_TRUE(made.folder);
    std::string deep;
    for (int i = 0; i < 1500; ++i) {
        deep += "level/";
    }
    Write(*made.folder, deep + "x.txt", "deep");
    Write(*made.folder, deep.substr(0, 600) + "side/y.txt", "side");

    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    // What is open now, plus a handful.
    int open = 0;
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        (void)e;
        ++open;
    }
    rlimit low = saved;
    low.rlim_cur = static_cast<rlim_t>(open + 8);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::string error;
    try {
        made.folder->remove();
    } catch (const std::exception& e) {
        error = e.what();
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(error, "");
    EXPECT_FALSE(fs::exists(dir / "pkg"));
}
#endif

} // namespace
} // namespace halyard

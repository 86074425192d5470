// The work folder beside the archive, end to end: what is never deleted or followed, what the
// archive path must be, runs that share a work folder, bounds of the unpacking and deep trees.
#include "package_builder.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <thread>

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class WorkFolderRuns : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }
};

// The run ends in the unpacking step with one diagnostic line that starts as given.
void ExpectUnpackingStop(const RunResult& r, const std::string& diagnostic) {
    ASSERT_EQ(r.lines.size(), 2u) << r.output;
    EXPECT_EQ(r.lines[0].rfind(diagnostic, 0), 0u) << r.lines[0];
    EXPECT_EQ(r.lines[1], "wrong:UnZipFile failed");
}

TEST_F(WorkFolderRuns, AMissingArchiveDeletesNothing) {
    TempDir dir;
    WriteFile(dir / "important/data.txt", "user data");
    const auto r = RunPackageCheck({dir / "important.7z"});
    EXPECT_EQ(r.lines, (Lines{"UnZipFile: Cannot open file \"" + (dir / "important.7z") +
                                  "\". The system cannot find the file specified",
                              "wrong:UnZipFile failed"}));
    EXPECT_EQ(ReadFile(dir / "important/data.txt"), "user data");
}

TEST_F(WorkFolderRuns, ArchivesThatAreNotRegularFilesAreRefusedAtOnce) {
    TempDir dir;
    WriteFile(dir / "pipe/data.txt", "user data"); // the would-be work folder of pipe.7z
    ASSERT_EQ(::mkfifo((dir / "pipe.7z").c_str(), 0600), 0);
    fs::create_directory(dir / "folder.7z");
    fs::create_symlink("/dev/zero", dir / "device.7z");
    const struct {
        const char* name;
        const char* why;
    } cases[] = {
        {"pipe.7z", "The file cannot be accessed by the system: it is not a regular file"},
        {"folder.7z", "Access is denied"},
        {"device.7z", "The file cannot be accessed by the system: it is not a regular file"},
    };
    for (const auto& c : cases) {
        // A run that blocks in open() is ended by timeout (exit code 124).
        const auto r = test::Run("/usr/bin/timeout", {"20", BinDir() + "halyard", dir / c.name});
        EXPECT_EQ(r.exitCode, 0) << c.name;
        EXPECT_EQ(r.lines,
                  (Lines{"UnZipFile: Cannot open file \"" + (dir / c.name) + "\". " + c.why,
                         "wrong:UnZipFile failed"}))
            << c.name;
    }
    EXPECT_EQ(ReadFile(dir / "pipe/data.txt"), "user data");
}

TEST_F(WorkFolderRuns, WhatIsNotAFolderAtTheWorkPathIsNeverDeletedOrFollowed) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    const std::string archive = pkg.pack();
    const std::string work = pkg.dir() / "pkg";
    TempDir elsewhere;
    WriteFile(elsewhere / "keep.txt", "kept");

    const struct {
        const char* kind;
        void (*make)(const std::string& work, const std::string& elsewhere);
    } cases[] = {
        {"a file", [](const std::string& w, const std::string&) { WriteFile(w, "user file"); }},
        {"a symbolic link",
         [](const std::string& w, const std::string& e) { fs::create_directory_symlink(e, w); }},
        {"a symbolic link", [](const std::string& w,
                               const std::string& e) { fs::create_symlink(e + "/keep.txt", w); }},
        {"a pipe", [](const std::string& w, const std::string&) { ::mkfifo(w.c_str(), 0600); }},
    };
    for (const auto& c : cases) {
        c.make(work, elsewhere.path());
        const auto status = fs::symlink_status(work);
        const auto r = RunHalyard({archive});
        ExpectUnpackingStop(r, "UnZipFile: Cannot create folder \"" + work + "/\". The path is " +
                                   c.kind + ", not a folder; it is left as it is");
        EXPECT_EQ(fs::symlink_status(work).type(), status.type()) << c.kind;
        EXPECT_EQ(ReadFile(elsewhere / "keep.txt"), "kept");
        EXPECT_EQ(std::distance(fs::directory_iterator(elsewhere.path()), {}), 1)
            << "nothing was unpacked into the link's target";
        fs::remove(work);
    }
    // With the path free again the package passes, and nothing is left.
    EXPECT_EQ(RunPackageCheck({archive}).lines, Lines{"success"});
    EXPECT_FALSE(fs::exists(fs::symlink_status(work)));
}

TEST_F(WorkFolderRuns, RunsSharingAWorkFolderDoNotInterfere) {
    // A good package as pkg.7z and a bad one (wrong recorded version) as pkg.7Z: both unpack
    // into pkg/. Each run must give its own verdict however the two overlap.
    PackageBuilder good;
    good.addPe("driver.sys");
    good.addFile("x64/payload.bin", std::string(1 << 20, 'p'));
    const std::string goodArchive = good.pack("pkg.7z");
    PackageBuilder bad;
    bad.addPe("driver.sys");
    bad.addFile("x64/payload.bin", std::string(1 << 20, 'p'));
    bad.params()["Version"] = "9.9";
    const std::string badArchive = good.dir() / "pkg.7Z";
    CopyFile(bad.pack("pkg.7z"), badArchive);

    for (int round = 0; round < 3; ++round) {
        RunResult first, second, third;
        std::thread a([&] { first = RunHalyard({goodArchive}); });
        std::thread b([&] { second = RunHalyard({badArchive}); });
        std::thread c([&] { third = RunHalyard({goodArchive}); });
        a.join();
        b.join();
        c.join();
        EXPECT_EQ(first.lines, Lines{"success"}) << round;
        EXPECT_EQ(second.lines, Lines{"wrong:Version incorrect"}) << round;
        EXPECT_EQ(third.lines, Lines{"success"}) << round;
        EXPECT_FALSE(fs::exists(good.dir() / "pkg"));
    }
}

TEST_F(WorkFolderRuns, UnpackingStopsAtTheSizeLimit) {
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    pkg.addFile("x64/zeros.bin", std::string(24 << 20, '\0'));
    const std::string archive = pkg.pack();
    ASSERT_LT(fs::file_size(archive), 1u << 20);

    const auto r =
        test::Run("/usr/bin/env", {"HALYARD_MAX_UNPACKED_MB=8", BinDir() + "halyard", archive});
    ExpectUnpackingStop(r, "UnZipFile: The archive's content of 25 MiB passes the limit of 8 MiB "
                           "unpacked (HALYARD_MAX_UNPACKED_MB)");
    EXPECT_FALSE(fs::exists(pkg.dir() / "pkg"));
    // The inspector unpacks under the same bound into its own folder, and removes it.
    TempDir tmp;
    const auto inspected =
        test::Run("/usr/bin/env", {"HALYARD_MAX_UNPACKED_MB=8", "TMPDIR=" + tmp.path(),
                                   BinDir() + "catinspect", "--package", archive});
    EXPECT_EQ(inspected.exitCode, 2) << inspected.output;
    EXPECT_TRUE(inspected.output.ends_with("\nwrong:UnZipFile failed\n")) << inspected.output;
    EXPECT_NE(inspected.output.find("passes the limit of 8 MiB"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(tmp.path()));
    // Under the default bound the same package passes.
    EXPECT_EQ(RunPackageCheck({archive}).lines, Lines{"success"});
}

TEST_F(WorkFolderRuns, PackagesDecodedOnTheLibrarysThreadsKeepTheirVerdicts) {
    // Noise in small LZMA2 blocks: the 7-Zip library decodes it on threads of its own and calls
    // back from them. Run from a folder with a non-ASCII name, the archive named relative to it,
    // two runs at once; then with a link item that only a library thread reaches.
    PackageBuilder pkg;
    pkg.addPe("driver.sys");
    std::string noise(3 << 20, '\0');
    std::uint32_t x = 2024;
    for (auto& c : noise) {
        x = x * 1103515245 + 12345;
        c = static_cast<char>(x >> 24);
    }
    pkg.addFile("x64/noise.bin", noise);
    pkg.pack();
    const std::string folder = pkg.dir() / "Пакет ü";
    fs::create_directories(folder);
    const auto repack = [&](const std::string& name, const std::vector<std::string>& extra) {
        std::vector<std::string> args = {"a", "-t7z", "-bd", "-y", "-mx1", "-md=256k", "-mmt=2"};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(folder + "/" + name);
        args.push_back("*");
        const RunResult r = test::Run(SevenZip(), args, pkg.contentDir());
        ASSERT_EQ(r.exitCode, 0) << r.output;
    };
    repack("a.7z", {});
    CopyFile(folder + "/a.7z", folder + "/b.7z");

    RunResult first, second;
    std::thread one([&] { first = RunHalyard({"a.7z"}, folder); });
    std::thread two([&] { second = RunHalyard({"b.7z"}, folder); });
    one.join();
    two.join();
    EXPECT_EQ(first.lines, Lines{"success"}) << first.output;
    EXPECT_EQ(second.lines, Lines{"success"}) << second.output;
    EXPECT_EQ(RunPackageCheck({"a.7z"}, folder).lines, Lines{"success"});

    // A link to a folder outside, stored after the noise: refused where the library meets it,
    // nothing written through it, the work folder gone.
    TempDir outside;
    fs::create_directory_symlink(outside.path(), pkg.contentDir() + "/zz-link");
    repack("link.7z", {"-snl"});
    const RunResult linked = RunHalyard({"link.7z"}, folder);
    ExpectUnpackingStop(linked, "UnZipFile: Refused item \"zz-link\": symbolic links");
    EXPECT_TRUE(fs::is_empty(outside.path()));
    EXPECT_FALSE(fs::exists(folder + "/link"));
    EXPECT_FALSE(fs::exists(folder + "/a"));
    EXPECT_FALSE(fs::exists(folder + "/b"));
}

TEST_F(WorkFolderRuns, DeepTreesGoWithFewDescriptors) {
    // One item 1,500 folders deep, its path longer than PATH_MAX; the run may hold 64
    // descriptors. The work folder must go, so that the next run finds the same answer.
    TempDir dir;
    WriteFile(dir / "src/x.txt", "deep");
    const std::string archive = dir / "deep.7z";
    ASSERT_EQ(test::Run(SevenZip(), {"a", "-bd", archive, "x.txt"}, dir / "src").exitCode, 0);
    std::string deep;
    for (int i = 0; i < 1500; ++i) {
        deep += "level/";
    }
    ASSERT_GT(deep.size(), 4096u);
    const auto rn = test::Run(SevenZip(), {"rn", "-bd", archive, "x.txt", deep + "x.txt"});
    ASSERT_EQ(rn.exitCode, 0) << rn.output;

    for (int run = 0; run < 2; ++run) {
        const auto r = test::Run(
            "/bin/sh", {"-c", "ulimit -n 64 && exec \"$0\" \"$1\"", BinDir() + "halyard", archive});
        EXPECT_EQ(r.lines, Lines{"wrong:No logs"}) << run;
        EXPECT_FALSE(fs::exists(dir / "deep")) << run;
    }
}

} // namespace
} // namespace halyard::test

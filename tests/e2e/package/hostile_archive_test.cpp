// Archives and surroundings built to break the run, end to end: headers that would cost the
// 7-Zip library hundreds of MiB, item names Windows cannot create, other users and umasks, and a
// small $TMPDIR for the inspector.
#include "external/sevenzip/sevenzip_header.h"
#include "package_builder.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Lines = std::vector<std::string>;

// A run with the peak memory of the process (KiB), as /usr/bin/time finds it: measured from
// a process of its own, since a child started straight from this one would also count this
// process's peak.
struct MeasuredRun {
    Lines lines;
    long peakKiB = 0;
};

MeasuredRun RunMeasured(const TempDir& dir, const std::string& program,
                        const std::vector<std::string>& args) {
    std::vector<std::string> all{"-f", "%M", "-o", dir / "peak.txt", program};
    all.insert(all.end(), args.begin(), args.end());
    const RunResult r = test::Run("/usr/bin/time", all);
    MeasuredRun run;
    // halyard's lines end in CR LF, catinspect's in LF.
    run.lines = program.ends_with("catinspect") ? LfLines(r.output) : r.lines;
    run.peakKiB = std::stol("0" + ReadFile(dir / "peak.txt"));
    return run;
}

void PutNumber(Bytes& out, std::uint64_t v) {
    AppendSevenZipNumber(out, v);
}

void PutLe(Bytes& out, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
}

// The LZMA stream and its 5 property bytes for data, as 7zz packs one file (no filter).
std::pair<Bytes, Bytes> LzmaBy7zz(const TempDir& dir, const std::string& dataFile) {
    const std::string packed = dir / "lzma.7z";
    fs::remove(packed);
    const RunResult r = test::Run(SevenZip(), {"a", "-m0=LZMA:d=1m", "-mx1", "-mhc=off", "-mtm=off",
                                               "-mtc=off", "-mta=off", packed, dataFile});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    const std::string archive = ReadFile(packed);
    std::uint64_t streamSize = 0;
    std::memcpy(&streamSize, archive.data() + 12, 8);
    const Bytes stream(archive.begin() + 32, archive.begin() + 32 + static_cast<long>(streamSize));
    // The coder in the plain header: LZMA (03 01 01) with 5 property bytes.
    const std::string coder("\x23\x03\x01\x01\x05", 5);
    const std::size_t at = archive.find(coder, 32 + streamSize);
    EXPECT_NE(at, std::string::npos);
    const Bytes props(archive.begin() + static_cast<long>(at + coder.size()),
                      archive.begin() + static_cast<long>(at + coder.size() + 5));
    return {stream, props};
}

// A 7z archive whose header is the header bytes in dataFile, packed with LZMA (an encoded
// header), and no content.
std::string EncodedHeaderArchive(const TempDir& dir, const std::string& dataFile,
                                 const std::string& name) {
    const std::string header = ReadFile(dataFile);
    const auto [stream, props] = LzmaBy7zz(dir, dataFile);
    Bytes encoded = {0x17, 0x06};
    PutNumber(encoded, 0);
    PutNumber(encoded, 1);
    encoded.push_back(0x09);
    PutNumber(encoded, stream.size());
    encoded.insert(encoded.end(),
                   {0x00, 0x07, 0x0B, 0x01, 0x00, 0x01, 0x23, 0x03, 0x01, 0x01, 0x05});
    encoded.insert(encoded.end(), props.begin(), props.end());
    encoded.push_back(0x0C);
    PutNumber(encoded, header.size());
    encoded.insert(encoded.end(), {0x0A, 0x01});
    PutLe(encoded,
          SevenZipCrc32(reinterpret_cast<const std::uint8_t*>(header.data()), header.size()), 4);
    encoded.insert(encoded.end(), {0x00, 0x00});
    Bytes start;
    PutLe(start, stream.size(), 8);
    PutLe(start, encoded.size(), 8);
    PutLe(start, SevenZipCrc32(encoded.data(), encoded.size()), 4);
    Bytes archive = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C, 0x00, 0x04};
    PutLe(archive, SevenZipCrc32(start.data(), start.size()), 4);
    archive.insert(archive.end(), start.begin(), start.end());
    archive.insert(archive.end(), stream.begin(), stream.end());
    archive.insert(archive.end(), encoded.begin(), encoded.end());
    const std::string path = dir / name;
    WriteFile(path, std::string(archive.begin(), archive.end()));
    return path;
}

class HostileArchives : public ::testing::Test {
protected:
    void SetUp() override { HALYARD_NEED(!SevenZip().empty(), "7zz"); }
};

class HostileHeaders : public HostileArchives {
protected:
    void SetUp() override {
        HostileArchives::SetUp();
        HALYARD_NEED_PROGRAM("/usr/bin/time");
    }
};

// Both programs refuse the archive with the line given, within 64 MiB, and leave nothing.
void ExpectRefusedWithinMemory(const TempDir& dir, const std::string& archive,
                               const std::string& line) {
    const std::string stem = archive.substr(0, archive.size() - 3);
    const MeasuredRun check = RunMeasured(dir, BinDir() + "halyard", {archive});
    EXPECT_EQ(check.lines, (Lines{line, "wrong:UnZipFile failed"}));
    EXPECT_LT(check.peakKiB, 64 * 1024) << archive;
    const MeasuredRun inspect = RunMeasured(dir, BinDir() + "catinspect", {"--package", archive});
    EXPECT_NE(std::find(inspect.lines.begin(), inspect.lines.end(), "        | " + line),
              inspect.lines.end())
        << testing::PrintToString(inspect.lines);
    EXPECT_LT(inspect.peakKiB, 64 * 1024) << archive;
    EXPECT_FALSE(fs::exists(stem)) << "work folder left behind";
}

TEST_F(HostileHeaders, HeadersThatWouldCostTheLibraryHundredsOfMiBAreRefusedFirst) {
    TempDir dir;
    // A header of 96 MiB that packs into a few KiB: the library would unpack it whole.
    // Made by another process: a child's peak memory counts its parent's until it starts.
    const RunResult made = test::Run(
        "/bin/sh", {"-c", "printf '\\001' > \"$0\" && head -c 100663296 /dev/zero >> \"$0\"",
                    dir / "big.bin"});
    ASSERT_EQ(made.exitCode, 0) << made.output;
    const std::string big = EncodedHeaderArchive(dir, dir / "big.bin", "big.7z");
    fs::remove(dir / "big.bin");
    EXPECT_LT(fs::file_size(big), 64u << 10);
    ExpectRefusedWithinMemory(dir, big,
                              "UnZipFile: Refused archive: its header takes 97 MiB, more than "
                              "the 16 MiB a package's header may take");

    // 16 million empty items in a 2 MiB header packed into a few hundred bytes: the library
    // would build a table of them all before it found that nothing else is there.
    const std::uint64_t items = 16u << 20;
    std::string header = {'\x01', '\x05'};
    Bytes number;
    PutNumber(number, items);
    header.append(number.begin(), number.end());
    header.push_back('\x0E');
    number.clear();
    PutNumber(number, items / 8);
    header.append(number.begin(), number.end());
    header += std::string(items / 8, '\xFF');
    header += std::string(2, '\0');
    WriteFile(dir / "items.bin", header);
    const std::string many = EncodedHeaderArchive(dir, dir / "items.bin", "items.7z");
    ExpectRefusedWithinMemory(dir, many,
                              "UnZipFile: Refused archive: it holds 16777216 items, more than "
                              "the 65536 a package may hold");
}

TEST_F(HostileArchives, ItemNamesWindowsCannotCreateStopTheRunBeforeAnyWrite) {
    const struct {
        const char* stored;
        const char* reason;
    } cases[] = {
        {"x64/aux.sys", "\"aux.sys\" is a device name on Windows"},
        {"NUL/a.sys", "\"NUL\" is a device name on Windows"},
        {"x64/a\"b.sys", "a part of the path holds '\"', which Windows allows in no name"},
        {"x64/a|b.sys", "a part of the path holds '|', which Windows allows in no name"},
    };
    for (const auto& c : cases) {
        PackageBuilder package;
        package.addPe("x64/a.sys");
        const std::string archive = package.pack();
        const RunResult renamed =
            test::Run(SevenZip(), {"rn", archive, "x64/a.sys", c.stored}, package.dir() / "");
        ASSERT_EQ(renamed.exitCode, 0) << renamed.output;
        const RunResult r = RunPackageCheck({archive});
        EXPECT_EQ(r.lines,
                  (Lines{"UnZipFile: Refused item \"" + std::string(c.stored) + "\": " + c.reason,
                         "wrong:UnZipFile failed"}))
            << c.stored;
        EXPECT_FALSE(fs::exists(package.dir() / "pkg")) << c.stored;
    }
}

// The modes of the paths while a run holds them, as another user of the folder would find
// them: polled from the moment the work folder appears until the run ends.
TEST_F(HostileArchives, WhatIsUnpackedIsTheRunsAloneWhateverTheUmask) {
    PackageBuilder package;
    package.addPe("x64/a.sys");
    // Unsigned and not in the catalog: a group member rewriting it could flip the verdict.
    package.addFile("x64/evil.sys", std::string(20u << 20, 'e'), false);
    const std::string archive = package.pack();
    const std::string work = package.dir() / "pkg";
    // A shared drop folder: group-writable and setgid, used with umask 002.
    ASSERT_EQ(::chmod((package.dir() / "").c_str(), 02775), 0);
    const mode_t old = ::umask(002);
    pid_t pid = 0;
    std::vector<std::string> all{BinDir() + "halyard", archive};
    std::vector<char*> argv{all[0].data(), all[1].data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::umask(old);
    ASSERT_EQ(spawned, 0);
    std::map<std::string, mode_t> seen;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        for (const std::string& path : {work, work + "/x64", work + "/x64/evil.sys",
                                        work + "/x64/a.sys", work + "/driver.inf"}) {
            struct stat st {};
            if (seen.count(path) == 0 && ::lstat(path.c_str(), &st) == 0) {
                seen[path] = st.st_mode & 0777;
            }
        }
    }
    ASSERT_TRUE(seen.count(work)) << "the run ended before its work folder was seen";
    EXPECT_EQ(seen[work], 0700u);
    for (const auto& [path, mode] : seen) {
        const bool folder = path == work || path == work + "/x64";
        EXPECT_EQ(mode, folder ? 0700u : 0600u) << path;
    }
    EXPECT_TRUE(seen.count(work + "/x64/evil.sys")) << "the item was never seen";
}

// The run as an ordinary user with umask 0777 (nothing the user makes is readable or writable
// by its permissions): it unpacks, and two runs in a row behave alike and leave nothing.
TEST_F(HostileArchives, UmaskThatGrantsNothingNeitherBlocksNorLeavesAnything) {
    HALYARD_NEED(::geteuid() == 0 && fs::exists("/usr/bin/setpriv"),
                 "root and setpriv, to run as the user nobody");
    PackageBuilder package;
    package.addPe("x64/a.sys");
    const std::string archive = package.pack();
    ASSERT_EQ(::chmod((package.dir() / "").c_str(), 0777), 0);
    ::chmod(archive.c_str(), 0644);
    // The build tree must be reachable for nobody.
    const RunResult probe =
        test::Run("/usr/bin/setpriv", {"--reuid=nobody", "--regid=nogroup", "--clear-groups",
                                       "/usr/bin/test", "-x", BinDir() + "halyard"});
    HALYARD_NEED(probe.exitCode == 0, "a build tree the user nobody may run");
    const auto run = [&] {
        return test::Run("/usr/bin/setpriv",
                         {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "/bin/sh", "-c",
                          "umask 0777; exec \"$0\" \"$1\"", BinDir() + "halyard", archive});
    };
    const RunResult first = run();
    const RunResult second = run();
    EXPECT_EQ(first.lines, second.lines);
    ASSERT_FALSE(first.lines.empty()) << first.output;
    for (const auto& line : first.lines) {
        EXPECT_EQ(line.find("UnZipFile"), std::string::npos) << first.output;
        EXPECT_EQ(line.find("Cannot create"), std::string::npos) << first.output;
    }
    EXPECT_FALSE(fs::exists(package.dir() / "pkg")) << "work folder left behind";
    // The inspector, with its private folder under a $TMPDIR the user may write: the same.
    const RunResult inspected = test::Run(
        "/usr/bin/setpriv",
        {"--reuid=nobody", "--regid=nogroup", "--clear-groups", "/bin/sh", "-c",
         "umask 0777; TMPDIR=/tmp exec \"$0\" --package \"$1\"", BinDir() + "catinspect", archive});
    ASSERT_FALSE(LfLines(inspected.output).empty()) << inspected.output;
    EXPECT_EQ(LfLines(inspected.output).back(), first.lines.back()) << inspected.output;
}

// A small file system mounted as $TMPDIR for the inspector (root only).
class SmallTmpdir {
public:
    SmallTmpdir() {
        path_ = dir_ / "tmp";
        fs::create_directory(path_);
        mounted_ = ::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=8m") == 0;
    }
    ~SmallTmpdir() {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    SmallTmpdir(const SmallTmpdir&) = delete;
    SmallTmpdir& operator=(const SmallTmpdir&) = delete;
    bool mounted() const { return mounted_; }
    const std::string& path() const { return path_; }

private:
    TempDir dir_;
    std::string path_;
    bool mounted_ = false;
};

TEST_F(HostileArchives, TheInspectorOnASmallTmpdirAgreesAndNamesItsOwnFolder) {
    SmallTmpdir tmp;
    HALYARD_NEED(tmp.mounted(), "a tmpfs mount (root)");
    const auto inspect = [&](const std::string& archive) {
        return test::Run("/usr/bin/env",
                         {"TMPDIR=" + tmp.path(), BinDir() + "catinspect", "--package", archive});
    };
    // A package far below the space left beside the archive: the same verdict as the check.
    PackageBuilder small;
    small.addPe("x64/a.sys");
    const std::string archive = small.pack();
    const RunResult check = RunHalyard({archive});
    ASSERT_FALSE(check.lines.empty());
    const RunResult inspected = inspect(archive);
    const Lines inspectedLines = LfLines(inspected.output);
    ASSERT_FALSE(inspectedLines.empty());
    EXPECT_EQ(inspectedLines.back(), check.lines.back()) << inspected.output;

    // One that does not fit into $TMPDIR: the line names the inspector's folder there.
    PackageBuilder big;
    big.addPe("x64/a.sys");
    big.addFile("x64/blob.bin", std::string(12u << 20, 'b'));
    const RunResult full = inspect(big.pack());
    EXPECT_NE(full.output.find("There is not enough space on the disk (catinspect's temporary "
                               "folder, under $TMPDIR: " +
                               tmp.path() + ")"),
              std::string::npos)
        << full.output;
    EXPECT_EQ(full.output.find(big.dir() / "pkg/"), std::string::npos) << full.output;
    EXPECT_TRUE(fs::is_empty(tmp.path())) << "the inspector's folder stayed";
}

} // namespace
} // namespace halyard::test

// Nothing outside the run decides its verdict, nothing stops it for ever, and an interrupted run
// leaves nothing behind: a verdict planted where the stand-in once kept its cache, a SignTool
// that never ends, and SIGINT/SIGTERM/SIGHUP during unpacking and during the SignTool phase.
#include "base/hex.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "package_builder.h"
#include "platform/hash.h"
#include "platform/trust.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace halyard::test {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

std::string Sha256Hex(const std::string& text) {
    platform::Digest digest(platform::DigestAlgorithm::Sha256);
    digest.update(text.data(), text.size());
    return HexUpper(digest.finish());
}

std::string TextHex(const std::string& text) {
    return HexUpper(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

// An entry as the stand-in's former per-user cache stored it, with a fresh checksum: for the
// catalog's bytes, a report taken from another catalog.
std::string ForgedEntry(const std::string& catalogPath, const platform::CatalogSignatureReport& r) {
    const std::string bytes = ReadFile(catalogPath);
    const std::string catalogDigest = Sha256Hex(bytes);
    const std::string trust = HexUpper(trust::TrustFoldersDigest(platform::TrustFolders()));
    const std::string key =
        Sha256Hex("halyard-signtool-verdict 1\n" + catalogDigest + "\n" + trust + "\n");
    const auto chain = [](const char* name, const std::vector<platform::CertificateSummary>& c) {
        std::string out = std::string(name) + ' ' + std::to_string(c.size()) + '\n';
        for (const auto& cert : c) {
            out += "cert " + std::to_string(cert.notAfter) + ' ' + TextHex(cert.sha1Hex) + ' ' +
                   TextHex(cert.issuedTo) + ' ' + TextHex(cert.issuedBy) + '\n';
        }
        return out;
    };
    std::string body = "halyard-signtool-verdict 1\nkey " + key + "\nfrom 0\nuntil " +
                       std::to_string(std::numeric_limits<std::int64_t>::max()) + "\nstatus 0\n";
    body += "timestamp " + (r.timestamp ? std::to_string(*r.timestamp) : "-") + '\n';
    body += chain("signing", r.signingChain) + chain("timestamping", r.timestampChain);
    return key + '\n' + body + "sum " + Sha256Hex(body) + '\n';
}

// Every entry below a folder (none when it does not exist).
std::size_t CountBelow(const std::string& dir) {
    std::error_code ec;
    std::size_t n = 0;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::end(it);
         it.increment(ec)) {
        ++n;
    }
    return n;
}

class RunIsolation : public ::testing::Test {
protected:
    void SetUp() override {
        HALYARD_NEED(!SevenZip().empty(), "7zz");
        // The run folder goes under this $TMPDIR; the home and cache folders are ours too.
        runs_ = tmp_ / "runs";
        fs::create_directory(runs_);
        setenv("TMPDIR", runs_.c_str(), 1);
        setenv("HOME", (home_ / "").c_str(), 1);
        setenv("XDG_CACHE_HOME", (home_ / ".cache").c_str(), 1);
    }
    void TearDown() override {
        unsetenv("TMPDIR");
        unsetenv("XDG_CACHE_HOME");
        unsetenv("HALYARD_SIGNTOOL_TIMEOUT");
        setenv("HOME", home0_.c_str(), 1);
    }

    // Run folders left in $TMPDIR (the tests' own temporary folders go there too).
    std::size_t RunFoldersLeft() const {
        std::size_t n = 0;
        for (const auto& e : fs::directory_iterator(runs_)) {
            n += e.path().filename().string().rfind("halyard-run", 0) == 0 ? 1 : 0;
        }
        return n;
    }

    // A copy of halyard with a SignTool.exe of our own beside it (found before any other): it
    // notes its process and the one it starts, then waits for ever.
    std::string HangingSigntoolHalyard() {
        const std::string bin = bin_.path() + "/";
        fs::copy_file(BinDir() + "halyard", bin + "halyard");
        fs::copy(BinDir() + "trust", bin + "trust", fs::copy_options::recursive);
        WriteFile(bin + "SignTool.exe", "#!/bin/sh\necho $$ >> '" + (bin_ / "pids") +
                                            "'\nsleep 300 &\necho $! >> '" + (bin_ / "pids") +
                                            "'\nwait\n");
        fs::permissions(bin + "SignTool.exe", fs::perms::owner_all);
        return bin + "halyard";
    }
    // The processes the fake SignTool noted are all gone.
    void ExpectNoStrayChild() {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const std::string pids = fs::exists(bin_ / "pids") ? ReadFile(bin_ / "pids") : "";
        std::istringstream in(pids);
        for (pid_t pid = 0; in >> pid;) {
            // Gone, or a zombie of nobody's (reaped by init soon).
            const std::string stat = "/proc/" + std::to_string(pid) + "/stat";
            if (fs::exists(stat)) {
                EXPECT_NE(ReadFile(stat).find(") Z"), std::string::npos) << "pid " << pid;
            }
        }
    }

    TempDir tmp_;
    std::string runs_;
    TempDir home_;
    TempDir bin_;
    std::string home0_ = getenv("HOME") != nullptr ? getenv("HOME") : "/root";
};

TEST_F(RunIsolation, AVerdictPlantedWhereTheOldCacheLivedChangesNothing) {
    const auto& pki = fixtures::BuildTestPki();
    // The report of a catalog the hardware publisher signed, planted for a vendor's catalog.
    PackageBuilder genuine;
    genuine.addPe("x64/driver.sys");
    genuine.pack();
    const auto parsed = trust::ParseCatalogFile(genuine.contentDir() + "/driver.cat");
    ASSERT_TRUE(parsed.ok());
    const auto whcp = trust::VerifyParsedCatalogSignature(**parsed, trust::ProcessTrustAnchors(),
                                                          std::time(nullptr));
    ASSERT_EQ(whcp.status, 0u);

    PackageBuilder vendor;
    vendor.addPe("x64/driver.sys");
    vendor.catalog().signer = &pki.contoso;
    const std::string archive = vendor.pack();
    const std::string entry = ForgedEntry(vendor.contentDir() + "/driver.cat", whcp);
    const std::string key = entry.substr(0, entry.find('\n'));
    fs::create_directories(home_ / ".cache/halyard");
    fs::permissions(home_ / ".cache/halyard", fs::perms::owner_all);
    fs::permissions(home_ / ".cache", fs::perms::owner_all);
    WriteFile(home_ / (".cache/halyard/verdict-" + key), entry.substr(entry.find('\n') + 1));
    const std::size_t planted = CountBelow(home_.path());

    const RunResult r = RunHalyard({archive});
    ASSERT_FALSE(r.lines.empty()) << r.output;
    EXPECT_EQ(r.lines.back(), "wrong:VerifyCatWithSigntool failed") << r.output;
    // Nothing was read from there, nothing written under the home folder or left in $TMPDIR.
    EXPECT_EQ(CountBelow(home_.path()), planted);
    EXPECT_EQ(RunFoldersLeft(), 0u);
}

TEST_F(RunIsolation, NothingIsKeptBetweenRuns) {
    PackageBuilder pkg;
    for (int i = 0; i < 3; ++i) {
        pkg.addPe("x64/driver" + std::to_string(i) + ".sys");
    }
    const std::string archive = pkg.pack();
    for (int run = 0; run < 2; ++run) {
        const RunResult r = RunHalyard({archive});
        EXPECT_EQ(r.lines, std::vector<std::string>{"success"}) << r.output;
        EXPECT_EQ(RunFoldersLeft(), 0u);
        EXPECT_EQ(CountBelow(home_.path()), 0u);
    }
}

TEST_F(RunIsolation, AHangingSignToolIsStoppedAtTheTimeLimit) {
    const std::string halyard = HangingSigntoolHalyard();
    PackageBuilder pkg;
    pkg.addPe("x64/driver.sys");
    const std::string archive = pkg.pack();
    setenv("HALYARD_SIGNTOOL_TIMEOUT", "1", 1);
    const auto start = Clock::now();
    const RunResult r = test::Run(halyard, {archive});
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    ASSERT_GE(r.lines.size(), 2u) << r.output;
    EXPECT_EQ(
        r.lines[r.lines.size() - 2].rfind("SignTool failed for " + pkg.dir().path() + "/pkg/", 0),
        0u);
    EXPECT_EQ(r.lines.back(), "wrong:VerifyFilesWithSigntool failed");
    EXPECT_FALSE(fs::exists(pkg.dir() / "pkg"));
    EXPECT_EQ(RunFoldersLeft(), 0u);
    ExpectNoStrayChild();
}

// Starts halyard, sends the signal once `ready` holds, and returns the wait status.
int InterruptedRun(const std::string& halyard, const std::string& archive, int sig,
                   const std::function<bool()>& ready) {
    std::vector<char*> argv{const_cast<char*>(halyard.c_str()), const_cast<char*>(archive.c_str()),
                            nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, halyard.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        return -1;
    }
    const auto give_up = Clock::now() + std::chrono::seconds(60);
    while (!ready() && Clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(pid, sig);
    int status = 0;
    waitpid(pid, &status, 0);
    return status;
}

TEST_F(RunIsolation, SignalsStopTheRunAndLeaveNothing) {
    const std::string halyard = HangingSigntoolHalyard();
    // Large enough that unpacking takes a while.
    PackageBuilder pkg;
    // Large enough, and incompressible, that unpacking takes a while.
    std::mt19937 random(26);
    for (int i = 0; i < 12; ++i) {
        fixtures::PeOptions big;
        big.sectionSize = 2 * 1024 * 1024;
        big.content.resize(big.sectionSize);
        for (auto& byte : big.content) {
            byte = static_cast<std::uint8_t>(random());
        }
        pkg.addPe("x64/driver" + std::to_string(i) + ".sys", big);
    }
    const std::string archive = pkg.pack();
    const std::string work = pkg.dir() / "pkg";
    const std::string pids = bin_ / "pids";
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        // During unpacking: as soon as the work folder is there.
        int status = InterruptedRun(halyard, archive, sig, [&] { return fs::exists(work); });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_FALSE(fs::exists(work));
        EXPECT_EQ(RunFoldersLeft(), 0u);
        // During the SignTool phase: once the fake SignTool has started its own child.
        fs::remove(pids);
        status = InterruptedRun(halyard, archive, sig, [&] {
            if (!fs::exists(pids)) {
                return false;
            }
            const std::string noted = ReadFile(pids);
            return std::count(noted.begin(), noted.end(), '\n') >= 2;
        });
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_FALSE(fs::exists(work));
        EXPECT_EQ(RunFoldersLeft(), 0u);
        ExpectNoStrayChild();
    }
}

// A run that waits for another run's work folder (up to minutes) still ends at once on a signal,
// and leaves the other run's folder as it is.
TEST_F(RunIsolation, ASignalEndsTheWaitForAnotherRunsWorkFolder) {
    PackageBuilder pkg;
    pkg.addPe("x64/driver.sys");
    const std::string archive = pkg.pack();
    const fs::path work = pkg.dir() / "pkg";
    fs::create_directory(work);
    WriteFile(work / "theirs.sys", "another run's file");
    const int held = open(work.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX), 0); // as the other run holds it until it is done

    const auto start = Clock::now();
    const int status = InterruptedRun(BinDir() + "halyard", archive, SIGINT, [&] {
        return Clock::now() - start > std::chrono::milliseconds(500); // waiting by now
    });
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(ReadFile(work / "theirs.sys"), "another run's file");
    EXPECT_EQ(RunFoldersLeft(), 0u);
    close(held);
}

// The checks read the work folder through its path. A program able to rename entries beside it
// (a group member in a shared drop folder) moves it away and back while the checks run: here a
// SignTool that does so on its first start, then runs the stand-in. Whatever was read meanwhile,
// the run does not end in success.
TEST_F(RunIsolation, AWorkFolderMovedAwayAndBackDuringTheChecksIsNotTrusted) {
    const std::string bin = bin_.path() + "/";
    fs::copy_file(BinDir() + "halyard", bin + "halyard");
    fs::copy(BinDir() + "trust", bin + "trust", fs::copy_options::recursive);
    WriteFile(bin + "SignTool.exe", "#!/bin/sh\nif mkdir '" + (bin_ / "moved") +
                                        "' 2>/dev/null; then d=$(pwd -P); mv \"$d\" \"$d.away\" "
                                        "&& mv \"$d.away\" \"$d\"; fi\nexec '" +
                                        BinDir() + "SignTool.exe' \"$@\"\n");
    fs::permissions(bin + "SignTool.exe", fs::perms::owner_all);
    PackageBuilder pkg;
    pkg.addPe("x64/driver.sys");
    pkg.addPe("x64/other.sys");
    const std::string archive = pkg.pack();
    const RunResult r = test::Run(bin + "halyard", {archive});
    ASSERT_TRUE(fs::exists(bin_ / "moved")) << r.output;
    ASSERT_FALSE(r.lines.empty()) << r.output;
    EXPECT_EQ(r.lines.back(), "wrong:EInOutError: Work folder \"" + pkg.dir().path() +
                                  "/pkg/\" was moved by another program during the check")
        << r.output;
    EXPECT_FALSE(fs::exists(pkg.dir() / "pkg"));
    EXPECT_FALSE(fs::exists(pkg.dir() / "pkg.away"));
    EXPECT_EQ(RunFoldersLeft(), 0u);

    // Unmoved, the same package passes.
    fs::remove(bin_ / "SignTool.exe");
    fs::copy_file(BinDir() + "SignTool.exe", bin + "SignTool.exe");
    EXPECT_EQ(test::Run(bin + "halyard", {archive}).lines, std::vector<std::string>{"success"});
}

} // namespace
} // namespace halyard::test

// Helpers for the tests: temporary folders, the built programs, the real-world samples.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace halyard::test {

// A fresh folder under the system's temporary folder, deleted with everything in it at the end.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const;

private:
    std::string path_;
};

std::string BinDir();       // the build's bin/ folder, with a trailing '/'
std::string SourceDir();    // the repository, with a trailing '/'
std::string RealworldDir(); // shared/realworld (or $HALYARD_REALWORLD_DIR), with a trailing '/'
bool RealworldAvailable();
// The current year in the local time zone, as date texts without a year take it.
int LocalYearNow();

// True in a CI run: the environment variable CI is set (and neither empty, "0" nor "false").
// There a missing prerequisite of a test is a fault of the run, not a reason to skip.
bool RunningInCi();

void WriteFile(const std::string& path, const std::string& bytes);
void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes);
std::string ReadFile(const std::string& path);
void CopyFile(const std::string& from, const std::string& to);

struct RunResult {
    int exitCode = -1;
    std::string output;             // standard output and error, as written
    std::vector<std::string> lines; // output split at CR LF (the tool's line end)
};

// True when the test runs on Wine rather than on Windows (ntdll exports wine_get_version).
bool RunningUnderWine();

// Text split at LF, the line end of the tools other than halyard (catinspect).
std::vector<std::string> LfLines(const std::string& text);

// Skips a test whose subject Wine does not implement as Windows does; it runs on Windows and
// on POSIX.
#define HALYARD_WINDOWS_ONLY()                                                                     \
    if (::halyard::test::RunningUnderWine())                                                       \
    GTEST_SKIP() << "Wine lacks the behaviour this test checks"

// Records a skip for want of `what` where ctest's closing report counts it (the build's
// Testing/skipped-prerequisites.log) and returns what.
std::string NoteMissing(const std::string& what);

// A test that needs the real-world samples (or a program, such as 7zz or osslsigncode) fails
// without them in CI and skips elsewhere. Usable in a test body or a fixture's SetUp().
#define HALYARD_NEED(available, what)                                                              \
    if (available) {                                                                               \
    } else if (::halyard::test::RunningInCi())                                                     \
        FAIL() << (what) << " is missing (the environment variable CI is set)";                    \
    else                                                                                           \
        GTEST_SKIP() << ::halyard::test::NoteMissing(what) << " is missing"
#define HALYARD_NEED_REALWORLD()                                                                   \
    HALYARD_NEED(::halyard::test::RealworldAvailable(), ::halyard::test::RealworldDir())
#define HALYARD_NEED_PROGRAM(path)                                                                 \
    HALYARD_NEED(::std::filesystem::exists(path), ::std::string(path))

// Runs a program with arguments (no shell), optionally in a working folder.
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& workDir = {});
// Runs the built halyard with the arguments.
RunResult RunHalyard(const std::vector<std::string>& args, const std::string& workDir = {});

} // namespace halyard::test

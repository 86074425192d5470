#include "testkit.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#ifdef _WIN32
#include "base/unicode.h"

#include <windows.h>

// windows.h maps the name to CopyFileW; the kit's own CopyFile is meant.
#undef CopyFile
#else
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace halyard::test {

namespace fs = std::filesystem;

#ifdef _WIN32
TempDir::TempDir() {
    // No mkdtemp: a name from the process id, a counter and the clock, made until it is new.
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto name = "halyard-test-" + std::to_string(::GetCurrentProcessId()) + "-" +
                          std::to_string(counter++) + "-" + std::to_string(::GetTickCount64());
        const fs::path dir = fs::temp_directory_path() / name;
        std::error_code ec;
        if (fs::create_directory(dir, ec)) {
            path_ = dir.string();
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}
#else
TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "halyard-test-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = tmpl;
}
#endif

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

std::string TempDir::operator/(const std::string& relative) const {
    return path_ + "/" + relative;
}

std::string BinDir() {
    return std::string(HALYARD_BIN_DIR) + "/";
}
std::string SourceDir() {
    return std::string(HALYARD_SOURCE_DIR) + "/";
}
namespace {
// The samples' folder: the build's, or another named by HALYARD_REALWORLD_DIR (a copy, or a
// missing folder to see how a run without the samples reports its skips).
std::string RealworldRoot() {
    const char* other = std::getenv("HALYARD_REALWORLD_DIR");
    return other != nullptr && *other != '\0' ? other : HALYARD_REALWORLD_DIR;
}
} // namespace

std::string RealworldDir() {
    return RealworldRoot() + "/";
}
int LocalYearNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    return local.tm_year + 1900;
}

bool RealworldAvailable() {
    return fs::is_directory(RealworldRoot());
}
std::string NoteMissing(const std::string& what) {
    std::ofstream(std::string(HALYARD_BIN_DIR) + "/../Testing/skipped-prerequisites.log",
                  std::ios::app)
        << what << "\n";
    return what;
}

bool RunningInCi() {
    const char* ci = std::getenv("CI");
    if (ci == nullptr) {
        return false;
    }
    const std::string value = ci;
    return !value.empty() && value != "0" && value != "false";
}

void WriteFile(const std::string& path, const std::string& bytes) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path);
    }
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path);
    }
    std::ostringstream text;
    text << in.rdbuf(); // whole buffers, not a character at a time
    return std::move(text).str();
}

void CopyFile(const std::string& from, const std::string& to) {
    fs::create_directories(fs::path(to).parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add);
}

#ifdef _WIN32
namespace {

std::wstring Wide(const std::string& text) {
    const std::u16string units = Utf8ToUtf16(text);
    return std::wstring(units.begin(), units.end());
}

// One argument quoted for CommandLineToArgvW's rules (and the C runtime's).
std::string QuoteArgument(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    std::size_t backslashes = 0;
    for (const char c : arg) {
        if (c == '\\') {
            ++backslashes; // written once we know what follows them
            continue;
        }
        // Backslashes before a quotation mark are doubled, and the mark escaped.
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        out += c;
        backslashes = 0;
    }
    out.append(backslashes * 2, '\\');
    out += '"';
    return out;
}

} // namespace

RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& workDir) {
    std::string commandLine = QuoteArgument(program);
    for (const auto& a : args) {
        commandLine += ' ';
        commandLine += QuoteArgument(a);
    }
    SECURITY_ATTRIBUTES sa{};
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!::CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
        throw std::runtime_error("pipe failed");
    }
    ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = writeEnd;
    si.hStdError = writeEnd;
    PROCESS_INFORMATION pi{};
    std::wstring line = Wide(commandLine);
    line.push_back(L'\0');
    const std::wstring app = Wide(program);
    const std::wstring dir = Wide(workDir);
    const BOOL started = ::CreateProcessW(app.c_str(), line.data(), nullptr, nullptr, TRUE, 0,
                                          nullptr, dir.empty() ? nullptr : dir.c_str(), &si, &pi);
    ::CloseHandle(writeEnd);
    if (!started) {
        ::CloseHandle(readEnd);
        throw std::runtime_error("cannot start " + program);
    }
    RunResult result;
    char buf[4096];
    DWORD n = 0;
    while (::ReadFile(readEnd, buf, sizeof buf, &n, nullptr) && n > 0) {
        result.output.append(buf, n);
    }
    ::CloseHandle(readEnd);
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    result.exitCode = static_cast<int>(code);
#else
RunResult Run(const std::string& program, const std::vector<std::string>& args,
              const std::string& workDir) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    RunResult result;
    if (rc != 0) {
        ::close(fds[0]);
        throw std::runtime_error("cannot start " + program);
    }
    char buf[4096];
    ssize_t n = 0;
    while ((n = ::read(fds[0], buf, sizeof buf)) > 0) {
        result.output.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
    std::size_t start = 0;
    while (start < result.output.size()) {
        const auto end = result.output.find("\r\n", start);
        if (end == std::string::npos) {
            result.lines.push_back(result.output.substr(start));
            break;
        }
        result.lines.push_back(result.output.substr(start, end - start));
        start = end + 2;
    }
    return result;
}

std::vector<std::string> LfLines(const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = std::min(text.find('\n', at), text.size());
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return lines;
}

bool RunningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

RunResult RunHalyard(const std::vector<std::string>& args, const std::string& workDir) {
#ifdef _WIN32
    return Run(BinDir() + "halyard.exe", args, workDir);
#else
    return Run(BinDir() + "halyard", args, workDir);
#endif
}

} // namespace halyard::test

#include "platform/process.h"

#include "base/unicode.h"
#include "os/install_layout.h"
#include "os/unique_fd.h"
#include "platform/files.h"
#include "platform/run_guard.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace halyard::platform {

namespace {

// Blanks that end an argument of a command line: space and tab only.
bool IsArgumentBreak(char c) {
    return c == ' ' || c == '\t';
}

bool IsExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::string CurrentDirectory() {
    char buf[PATH_MAX];
    if (::getcwd(buf, sizeof buf) == nullptr) {
        return {};
    }
    return IncludeTrailingPathDelimiter(buf);
}

// The file names a program name may stand for, in the order they are tried in one folder.
std::vector<std::string> NameVariants(const std::string& name) {
    const std::string file = ExtractFileName(name);
    if (file.find('.') == std::string::npos) {
        return {name + ".exe", name};
    }
    if (EndsWithIgnoreCase(file, ".exe") && file.size() > 4) {
        return {name, name.substr(0, name.size() - 4)};
    }
    return {name};
}

std::string FirstExecutable(const std::string& folder, const std::string& name) {
    for (const auto& variant : NameVariants(name)) {
        const std::string path = folder + variant;
        if (IsExecutableFile(path)) {
            return path;
        }
    }
    return {};
}

// Closes the read end and waits for the child on every way out of the read loop; a child past
// its time limit is killed first, with its whole process group.
class ChildGuard {
public:
    ChildGuard(posix::UniqueFd readEnd, pid_t pid) : fd_(std::move(readEnd)), pid_(pid) {}
    ~ChildGuard() {
        fd_.reset();
        if (kill_) {
            ::kill(-pid_, SIGKILL);
        }
        ChildEnded(pid_);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ChildGuard(const ChildGuard&) = delete;
    ChildGuard& operator=(const ChildGuard&) = delete;

    int fd() const { return fd_.get(); }
    void killOnEnd() { kill_ = true; }

private:
    posix::UniqueFd fd_;
    pid_t pid_;
    bool kill_ = false;
};

std::int64_t MonotonicMs() {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

} // namespace

std::vector<std::string> CommandLineToArgv(std::string_view s) {
    std::vector<std::string> args;
    std::size_t i = 0;
    const std::size_t n = s.size();
    // The program name follows its own rule: no escapes, a quoted name ends at the next quote.
    std::string first;
    if (n > 0 && s[0] == '"') {
        i = 1;
        while (i < n && s[i] != '"') {
            first += s[i++];
        }
        if (i < n) {
            ++i;
        }
    } else {
        while (i < n && !IsArgumentBreak(s[i])) {
            first += s[i++];
        }
    }
    args.push_back(first);
    for (;;) {
        while (i < n && IsArgumentBreak(s[i])) {
            ++i;
        }
        if (i >= n) {
            break;
        }
        std::string arg;
        std::size_t backslashes = 0;
        int quotes = 0; // odd: inside quotation marks
        while (i < n) {
            const char c = s[i];
            if (IsArgumentBreak(c) && quotes == 0) {
                break;
            }
            if (c == '\\') {
                arg += c;
                ++backslashes;
                ++i;
            } else if (c == '"') {
                if (backslashes % 2 == 0) {
                    // 2n backslashes and a quote: n backslashes, the quote opens or closes
                    arg.resize(arg.size() - backslashes / 2);
                    ++quotes;
                } else {
                    // 2n+1 backslashes and a quote: n backslashes and a literal quote
                    arg.resize(arg.size() - backslashes / 2 - 1);
                    arg += '"';
                }
                ++i;
                backslashes = 0;
                // A run of quotes: every third one is literal.
                while (i < n && s[i] == '"') {
                    if (++quotes == 3) {
                        arg += '"';
                        quotes = 0;
                    }
                    ++i;
                }
                if (quotes == 2) {
                    quotes = 0;
                }
            } else {
                arg += c;
                backslashes = 0;
                ++i;
            }
        }
        args.push_back(std::move(arg));
    }
    return args;
}

std::string FindProgram(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        // posix_spawn resolves a relative path in the child's folder: anchor it in ours.
        const std::string base = name.front() == '/' ? std::string() : CurrentDirectory();
        return FirstExecutable(base, name);
    }
    // The program's own folder first; an installed tree keeps its helpers in libexec/halyard/.
    std::vector<std::string> folders = HelperFolders();
    const std::string cwd = CurrentDirectory();
    if (!cwd.empty()) {
        folders.push_back(cwd);
    }
    if (const char* path = std::getenv("PATH")) {
        std::string_view all(path);
        std::size_t start = 0;
        while (start <= all.size()) {
            std::size_t end = all.find(':', start);
            if (end == std::string_view::npos) {
                end = all.size();
            }
            const std::string dir(all.substr(start, end - start));
            if (!dir.empty() && dir.front() == '/') {
                folders.push_back(IncludeTrailingPathDelimiter(dir));
            }
            start = end + 1;
        }
    }
    for (const auto& folder : folders) {
        std::string found = FirstExecutable(folder, name);
        if (!found.empty()) {
            return found;
        }
    }
    return {};
}

ConsoleRun RunConsoleProgram(const std::string& commandLine, const std::string& workDir,
                             std::size_t maxRead, int timeoutMs) {
    ConsoleRun run;
    std::vector<std::string> args = CommandLineToArgv(commandLine);
    const std::string program = FindProgram(args.front());
    if (program.empty() || maxRead == 0) {
        return run;
    }
    std::vector<char*> argv;
    for (auto& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return run;
    }
    posix::UniqueFd readEnd(fds[0]);
    posix::UniqueFd writeEnd(fds[1]);
    // With our own standard output closed the write end could be descriptor 1 or 2, and a
    // duplicate onto itself would keep close-on-exec: move it out of the way first.
    if (writeEnd.get() <= STDERR_FILENO) {
        writeEnd.reset(::fcntl(writeEnd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1));
        if (!writeEnd) {
            return run;
        }
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // The duplicates lose close-on-exec; the originals close when the child starts the program.
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), STDERR_FILENO);
    if (!workDir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, workDir.c_str());
    }
    // The child leads a process group of its own, so that it can be stopped with everything it
    // starts; it gets the default signal mask and dispositions back (this program blocks the
    // interrupting signals in every thread).
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t defaults;
    sigemptyset(&defaults);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&defaults, sig);
    }
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK |
                                              POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    int rc = 0;
    const auto pid = static_cast<pid_t>(StartTrackedChild([&]() -> std::intptr_t {
        pid_t started = 0;
        rc = ::posix_spawn(&started, program.c_str(), &actions, &attributes, argv.data(), environ);
        return rc == 0 ? started : 0;
    }));
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    // Only the child holds the write end now, so the pipe ends when the child's side closes.
    writeEnd.reset();
    if (rc != 0 || pid <= 0) {
        return run;
    }
    run.started = true;
    ChildGuard guard(std::move(readEnd), pid);
    const std::int64_t deadline = timeoutMs > 0 ? MonotonicMs() + timeoutMs : 0;
    std::string buffer(maxRead, '\0');
    for (;;) {
        if (deadline != 0) {
            const std::int64_t left = deadline - MonotonicMs();
            pollfd ready{guard.fd(), POLLIN, 0};
            const int polled = left > 0 ? ::poll(&ready, 1, static_cast<int>(left)) : 0;
            if (polled < 0 && errno == EINTR) {
                continue;
            }
            if (polled == 0) {
                run.timedOut = true;
                guard.killOnEnd();
                break;
            }
        }
        const ssize_t got = ::read(guard.fd(), buffer.data(), maxRead);
        if (got > 0) {
            run.reads.emplace_back(buffer.data(), static_cast<std::size_t>(got));
        } else if (got < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return run;
}

std::size_t ConsoleProgramsAtOnce() {
    const long online = ::sysconf(_SC_NPROCESSORS_ONLN);
    return std::clamp<std::size_t>(online > 0 ? static_cast<std::size_t>(online) : 1, 1,
                                   kMostConsolePrograms);
}

std::string ConsoleOutputToUtf8(std::string_view bytes) {
    return std::string(bytes);
}

} // namespace halyard::platform

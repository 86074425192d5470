#include "platform/run_guard.h"

#include "base/hex.h"
#include "os/unique_fd.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <pthread.h>
#include <set>
#include <sys/random.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace halyard::platform {

namespace {

std::atomic<bool> interruptionPending{false};

// The registry the interruption thread works through. Everything it touches is taken under the
// one lock, so a clean-up or a child start on another thread is either finished or not begun.
struct Registry {
    std::recursive_mutex lock; // a clean-up may be registered while it is held
    std::map<std::uint64_t, std::function<void()>*> cleanups;
    std::uint64_t nextId = 1;
    std::set<pid_t> children; // each leads its own process group
};

Registry& TheRegistry() {
    static Registry* registry = new Registry; // never destroyed: the thread may outlive main
    return *registry;
}

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

[[noreturn]] void OnInterrupt(int sig) {
    Registry& registry = TheRegistry();
    // Held until the process ends: nothing else starts a child or a clean-up from here on.
    registry.lock.lock();
    for (const pid_t child : registry.children) {
        ::kill(-child, SIGKILL);
    }
    // The newest first: a folder made inside another goes before it.
    for (auto it = registry.cleanups.rbegin(); it != registry.cleanups.rend(); ++it) {
        try {
            (*it->second)();
        } catch (...) {
        }
    }
    // Ends by the signal itself, as an uninterrupted run's parent would see it.
    std::signal(sig, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    ::raise(sig);
    std::_Exit(128 + sig);
}

} // namespace

void InstallInterruptCleanup() {
    // Blocked here, before any other thread exists, so every thread inherits the mask and the
    // signals reach only the thread that waits for them (tree removal is no work for a handler).
    const sigset_t set = InterruptSignals();
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) {
        return;
    }
    TheRegistry();
    std::thread([set] {
        for (;;) {
            int sig = 0;
            if (::sigwait(&set, &sig) == 0) {
                interruptionPending.store(true);
                OnInterrupt(sig);
            }
        }
    }).detach();
}

InterruptCleanup::InterruptCleanup(std::function<void()> action) : action_(std::move(action)) {
    Registry& registry = TheRegistry();
    const std::lock_guard hold(registry.lock);
    id_ = registry.nextId++;
    registry.cleanups.emplace(id_, &action_);
}

InterruptCleanup::~InterruptCleanup() {
    Registry& registry = TheRegistry();
    const std::lock_guard hold(registry.lock);
    registry.cleanups.erase(id_);
}

void InterruptCleanup::runNow() {
    Registry& registry = TheRegistry();
    const std::lock_guard hold(registry.lock);
    if (registry.cleanups.erase(id_) != 0) {
        action_();
    }
}

void WithoutInterruption(const std::function<void()>& make) {
    {
        const std::lock_guard hold(TheRegistry().lock);
        make();
    }
    // An interruption that came meanwhile takes the lock next and ends the process: nothing of
    // the run goes on after make(), not even a verdict.
    while (interruptionPending.load()) {
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
}

bool InterruptionPending() {
    return interruptionPending.load();
}

std::intptr_t StartTrackedChild(const std::function<std::intptr_t()>& start) {
    Registry& registry = TheRegistry();
    const std::lock_guard hold(registry.lock);
    const std::intptr_t pid = start();
    if (pid > 0) {
        registry.children.insert(static_cast<pid_t>(pid));
    }
    return pid;
}

void ChildEnded(std::intptr_t pid) {
    Registry& registry = TheRegistry();
    const std::lock_guard hold(registry.lock);
    registry.children.erase(static_cast<pid_t>(pid));
}

std::unique_ptr<RunFolder> RunFolder::create() {
    // Made and registered for clean-up in one step.
    const std::lock_guard hold(TheRegistry().lock);
    // $TMPDIR when it is an absolute path, as mkdtemp's callers read it; never the home folder.
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    std::string pattern = base + "/halyard-run.XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        return nullptr;
    }
    std::unique_ptr<RunFolder> folder(new RunFolder);
    folder->path_ = pattern;
    folder->name_ = pattern.substr(pattern.rfind('/') + 1);
    folder->parent_ = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    folder->fd_ = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st {};
    std::uint8_t key[32];
    if (folder->parent_ < 0 || folder->fd_ < 0 || ::fstat(folder->fd_, &st) != 0 ||
        st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700 ||
        ::getrandom(key, sizeof key, 0) != static_cast<ssize_t>(sizeof key)) {
        ::rmdir(pattern.c_str());
        folder->name_.clear();
        return nullptr;
    }
    RunFolder* self = folder.get();
    folder->cleanup_ = std::make_unique<InterruptCleanup>([self] { self->remove(); });
    ::setenv(kRunFolderVariable, pattern.c_str(), 1);
    ::setenv(kRunKeyVariable, HexUpper(std::span<const std::uint8_t>(key, sizeof key)).c_str(), 1);
    return folder;
}

void RunFolder::remove() {
    if (name_.empty()) {
        return;
    }
    // Only this run's processes write there, but one may still be writing: a few rounds.
    for (int round = 0; round < 20; ++round) {
        try {
            posix::RemoveContentAt(fd_, path_);
        } catch (...) {
        }
        if (::unlinkat(parent_, name_.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) {
            break;
        }
    }
    name_.clear();
}

RunFolder::~RunFolder() {
    ::unsetenv(kRunFolderVariable);
    ::unsetenv(kRunKeyVariable);
    if (cleanup_) {
        cleanup_->runNow();
    }
    if (fd_ >= 0) {
        ::close(fd_);
    }
    if (parent_ >= 0) {
        ::close(parent_);
    }
}

} // namespace halyard::platform

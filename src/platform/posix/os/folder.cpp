// Folders held by a descriptor: items created relative to it, the work folder's exclusive
// creation and lock, and the removal of trees through descriptors.
#include "base/errors.h"
#include "os/unique_fd.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/messages.h"
#include "platform/run_guard.h"

#include <cerrno>
#include <chrono>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace halyard::platform {

using posix::UniqueFd;

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path) {
    const std::uint32_t code = GetLastErrorCode();
    throw EInOutError(what + " \"" + path + "\". " + SysErrorMessage(code));
}

// Folders the run makes are 0700 and its files 0600, whatever the user's umask: nobody else may
// change what is checked between unpacking and checking, and a umask such as 0777 must not leave
// a folder the run itself cannot enter. The mask is narrowed only while a folder is made (the
// library's threads call one at a time and create nothing themselves).
class PrivateMask {
public:
    PrivateMask() : old_(::umask(077)) {}
    ~PrivateMask() { ::umask(old_); }
    PrivateMask(const PrivateMask&) = delete;
    PrivateMask& operator=(const PrivateMask&) = delete;

private:
    mode_t old_;
};

int MakePrivateFolder(int parent, const char* name) {
    const PrivateMask mask;
    return ::mkdirat(parent, name, 0700);
}

bool SameEntry(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Gives a folder of ours that its mode keeps us out of (a leftover made under umask 0777) its
// owner's permissions back, through a handle that does not follow links, so that it can be
// emptied and removed.
bool OpenUpOwnFolder(int parent, const std::string& name, const struct stat& seen) {
    UniqueFd path(::openat(parent, name.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!path || ::fstat(path.get(), &st) != 0 || !SameEntry(st, seen)) {
        return false;
    }
    const std::string procPath = "/proc/self/fd/" + std::to_string(path.get());
    return ::chmod(procPath.c_str(), 0700) == 0;
}

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && IsPathDelimiter(path.back())) {
        path.pop_back();
    }
    return path;
}

// What an entry that is not a folder is, for the refusal.
const char* KindOf(mode_t mode) {
    if (S_ISLNK(mode)) {
        return "a symbolic link";
    }
    if (S_ISREG(mode)) {
        return "a file";
    }
    if (S_ISFIFO(mode)) {
        return "a pipe";
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return "a device";
    }
    if (S_ISSOCK(mode)) {
        return "a socket";
    }
    return "not a folder";
}

struct Level {
    std::string name;
    struct stat st;
};

// Opens levels [0, count) of the stack again from the root, checking that each is still the
// folder that was entered.
UniqueFd ReopenFromRoot(int root, const std::vector<Level>& stack, std::size_t count,
                        const std::string& shown) {
    UniqueFd cur(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (std::size_t i = 0; cur && i < count; ++i) {
        UniqueFd next(::openat(cur.get(), stack[i].name.c_str(), kDirFlags));
        struct stat st {};
        if (!next || ::fstat(next.get(), &st) != 0 || !SameEntry(st, stack[i].st)) {
            errno = next ? ENOENT : errno;
            ThrowIo("Cannot delete folder", shown);
        }
        cur = std::move(next);
    }
    if (!cur) {
        ThrowIo("Cannot delete folder", shown);
    }
    return cur;
}

bool IsEmptyFolder(int fd) {
    const posix::UniqueDir d =
        posix::OpenDirStream(UniqueFd(::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!d) {
        return false;
    }
    bool empty = true;
    while (dirent* e = ::readdir(d.get())) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") {
            empty = false;
            break;
        }
    }
    return empty;
}

} // namespace

void posix::RemoveContentAt(int dirFd, const std::string& shown) {
    struct stat rootSt {};
    if (::fstat(dirFd, &rootSt) != 0) {
        ThrowIo("Cannot delete folder", shown);
    }
    std::vector<Level> stack; // the folders entered below the root, outermost first
    UniqueFd cur(::fcntl(dirFd, F_DUPFD_CLOEXEC, 0));
    if (!cur) {
        ThrowIo("Cannot delete folder", shown);
    }
    int surprises = 0; // entries that changed under our feet; a bounded number is tolerated
    const auto surprise = [&] {
        if (++surprises > 1000) {
            errno = EBUSY;
            ThrowIo("Cannot delete folder", shown);
        }
    };
    for (;;) {
        // One pass over the current folder: every entry that is not a folder goes; the first
        // folder is entered afterwards. A fresh open gives a listing of its own.
        std::string sub;
        struct stat subSt {};
        {
            const posix::UniqueDir listing = posix::OpenDirStream(
                UniqueFd(::openat(cur.get(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
            if (!listing) {
                ThrowIo("Cannot delete folder", shown);
            }
            DIR* d = listing.get();
            int failure = 0;
            while (dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name == "." || name == "..") {
                    continue;
                }
                struct stat st {};
                if (::fstatat(::dirfd(d), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                    continue; // gone meanwhile
                }
                if (S_ISDIR(st.st_mode)) {
                    if (sub.empty()) {
                        sub = name;
                        subSt = st;
                    }
                } else if (::unlinkat(::dirfd(d), name.c_str(), 0) != 0 && errno != ENOENT) {
                    failure = errno;
                    break;
                }
            }
            if (failure != 0) {
                errno = failure;
                ThrowIo("Cannot delete", shown);
            }
        }
        if (!sub.empty()) {
            UniqueFd child(::openat(cur.get(), sub.c_str(), kDirFlags));
            struct stat st {};
            if (!child || ::fstat(child.get(), &st) != 0 || !SameEntry(st, subSt)) {
                if (!child && errno != ENOENT && errno != ELOOP && errno != ENOTDIR) {
                    ThrowIo("Cannot delete folder", shown);
                }
                surprise(); // replaced or gone since the listing: look again
                continue;
            }
            stack.push_back({sub, st});
            cur = std::move(child);
            continue;
        }
        if (stack.empty()) {
            return;
        }
        // The current folder is empty: climb to its parent and remove it there. ".." is only
        // trusted when it is the folder we came from.
        const struct stat& expected = stack.size() >= 2 ? stack[stack.size() - 2].st : rootSt;
        UniqueFd parent(::openat(cur.get(), "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        struct stat st {};
        if (!parent || ::fstat(parent.get(), &st) != 0 || !SameEntry(st, expected)) {
            parent = ReopenFromRoot(dirFd, stack, stack.size() - 1, shown);
        }
        const Level& level = stack.back();
        if (::fstatat(parent.get(), level.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !SameEntry(st, level.st)) {
            errno = EBUSY; // it was moved away while we emptied it
            ThrowIo("Cannot delete folder", shown);
        }
        cur.reset();
        if (::unlinkat(parent.get(), level.name.c_str(), AT_REMOVEDIR) != 0) {
            if (errno != ENOTEMPTY && errno != EEXIST) {
                ThrowIo("Cannot delete folder", shown);
            }
            surprise(); // something was put into it meanwhile: go through it again
            cur = ReopenFromRoot(dirFd, stack, stack.size(), shown);
            continue;
        }
        stack.pop_back();
        cur = std::move(parent);
    }
}

// ---------------------------------------------------------------------------------------------

Folder::Folder(std::string path, std::intptr_t handle) : path_(std::move(path)), handle_(handle) {}

// The seam's classes keep the descriptor in their shared layout; it closes through UniqueFd.
Folder::~Folder() {
    const UniqueFd closing(static_cast<int>(handle_));
}

std::unique_ptr<Folder> Folder::openOrCreate(const std::string& path) {
    const std::string bare = WithoutTrailingDelimiters(path);
    const std::string shown = IncludeTrailingPathDelimiter(bare);
    ForceDirectories(bare); // with its missing parents, as the items' folders would be
    UniqueFd fd(::open(bare.c_str(), kDirFlags));
    if (!fd) {
        ThrowIo("Cannot create folder", shown);
    }
    return std::unique_ptr<Folder>(new Folder(shown, fd.release()));
}

std::unique_ptr<FileWriter> Folder::createFileBelow(const std::string& relative) {
    const std::vector<std::string> parts = SplitRelativePath(relative);
    std::string shown = path_;
    if (parts.empty()) {
        errno = EINVAL;
        throw EFCreateError("Cannot create file \"" + shown + "\". " +
                            SysErrorMessage(GetLastErrorCode()));
    }
    // Level by level from the held folder, never through a link; one descriptor at a time.
    int cur = static_cast<int>(handle_);
    UniqueFd owned;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        shown += parts[i];
        if (MakePrivateFolder(cur, parts[i].c_str()) != 0 && errno != EEXIST) {
            ThrowIo("Cannot create folder", shown);
        }
        UniqueFd next(::openat(cur, parts[i].c_str(), kDirFlags));
        if (!next) {
            ThrowIo("Cannot create folder", shown);
        }
        owned = std::move(next);
        cur = owned.get();
        shown += kPathDelim;
    }
    const std::string& name = parts.back();
    shown += name;
    // A regular file of that name is replaced by a new one (never written through: it may be a
    // hard link); a link or anything else stays and the item is refused.
    struct stat st {};
    if (::fstatat(cur, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        if (S_ISREG(st.st_mode)) {
            ::unlinkat(cur, name.c_str(), 0);
        }
    }
    const int fd =
        ::openat(cur, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && ::fchmod(fd, 0600) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        throw EFCreateError("Cannot create file \"" + shown + "\". " +
                            SysErrorMessage(GetLastErrorCode()));
    }
    if (fd < 0) {
        if (errno == EEXIST && ::fstatat(cur, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = S_ISLNK(st.st_mode) ? ELOOP : (S_ISDIR(st.st_mode) ? EISDIR : EEXIST);
        }
        throw EFCreateError("Cannot create file \"" + shown + "\". " +
                            SysErrorMessage(GetLastErrorCode()));
    }
    return std::unique_ptr<FileWriter>(new FileWriter(shown, fd));
}

std::uint64_t Folder::availableBytes() const {
    struct statvfs vfs {};
    const int got = spaceAt_.empty() ? ::fstatvfs(static_cast<int>(handle_), &vfs)
                                     : ::statvfs(spaceAt_.c_str(), &vfs);
    if (got != 0) {
        return UINT64_MAX; // unknown: the written total still bounds the unpacking
    }
    return static_cast<std::uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

void Folder::deleteContent() {
    posix::RemoveContentAt(static_cast<int>(handle_), path_);
}

// ---------------------------------------------------------------------------------------------

WorkFolder::WorkFolder(std::string path, std::intptr_t handle, std::intptr_t parent,
                       std::string name)
    : Folder(std::move(path), handle), parent_(parent), name_(std::move(name)) {}

WorkFolder::~WorkFolder() {
    if (!removed_) {
        try {
            remove();
        } catch (...) {
            // An error already on its way matters more; remove is called on the normal path.
        }
    }
    const UniqueFd closingParent(static_cast<int>(parent_));
}

WorkFolder::Made WorkFolder::create(const std::string& path) {
    const std::string bare = WithoutTrailingDelimiters(path);
    const std::string shown = IncludeTrailingPathDelimiter(bare);
    const std::string name = ExtractFileName(bare);
    const std::string dir = ExtractFileDir(bare);
    const std::string parentPath = dir.empty() ? std::string(".") : dir;
    const auto refuse = [&](const std::string& why) {
        return Made{nullptr, "Cannot create folder \"" + shown + "\". " + why};
    };
    // A folder that cannot be made is the unpacking's failure, told on its line; only a leftover
    // that cannot be deleted is an error of its own.
    const auto cannotMake = [&] { return refuse(SysErrorMessage(GetLastErrorCode())); };
    UniqueFd parent(::open(parentPath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!parent) {
        return cannotMake();
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kWorkFolderWaitSeconds);
    for (int attempt = 0; attempt < 1000; ++attempt) {
        bool made = MakePrivateFolder(parent.get(), name.c_str()) == 0;
        if (!made && errno != EEXIST) {
            return cannotMake();
        }
        struct stat there {};
        if (::fstatat(parent.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0) {
            continue; // removed by another run meanwhile
        }
        if (!S_ISDIR(there.st_mode)) {
            return refuse(std::string("The path is ") + KindOf(there.st_mode) +
                          ", not a folder; it is left as it is");
        }
        UniqueFd fd(::openat(parent.get(), name.c_str(), kDirFlags));
        if (!fd) {
            if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR) {
                continue; // replaced meanwhile: look again
            }
            if (errno == EACCES && there.st_uid == ::geteuid() && attempt == 0 &&
                OpenUpOwnFolder(parent.get(), name, there)) {
                continue; // a leftover without permissions (an earlier run's umask)
            }
            ThrowIo("Cannot create folder", shown);
        }
        // Another run that uses the same folder holds this lock until it has removed it.
        auto pause = std::chrono::milliseconds(10);
        while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
            if (errno == EINTR) {
                continue;
            }
            if (errno != EWOULDBLOCK) {
                ThrowIo("Cannot lock folder", shown);
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return refuse("It is in use by another run (waited " +
                              std::to_string(kWorkFolderWaitSeconds) + " seconds)");
            }
            // The wait holds off interruptions (the folder and its clean-up come in one step):
            // an interruption that came meanwhile ends it, with nothing of ours made yet.
            if (InterruptionPending()) {
                return refuse("It is in use by another run, and the run was interrupted");
            }
            std::this_thread::sleep_for(pause);
            pause = std::min(pause * 2, std::chrono::milliseconds(250));
            made = false; // the other run owns what is in it
        }
        // Locked: is it still the folder at the path?
        struct stat held {};
        if (::fstat(fd.get(), &held) != 0 ||
            ::fstatat(parent.get(), name.c_str(), &there, AT_SYMLINK_NOFOLLOW) != 0 ||
            !SameEntry(held, there)) {
            continue;
        }
        // Only a folder this run made, as it made it, is used as it stands.
        if (made && held.st_uid == ::geteuid() && (held.st_mode & 0777) == 0700 &&
            IsEmptyFolder(fd.get())) {
            return Made{std::unique_ptr<WorkFolder>(
                            new WorkFolder(shown, fd.release(), parent.release(), name)),
                        {}};
        }
        // A folder left by an earlier run: removed while locked, then made anew.
        posix::RemoveContentAt(fd.get(), shown);
        if (::unlinkat(parent.get(), name.c_str(), AT_REMOVEDIR) != 0 && errno != ENOENT) {
            ThrowIo("Cannot delete folder", shown);
        }
    }
    return refuse("It keeps being replaced by another program");
}

namespace {

std::int64_t ChangeTimeNs(const struct stat& st) {
    return static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
}

std::int64_t CoarseNowNs() {
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

} // namespace

bool WorkFolder::stillAtPath() const {
    struct stat held {};
    struct stat there {};
    return ::fstat(static_cast<int>(handle_), &held) == 0 &&
           ::fstatat(static_cast<int>(parent_), name_.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 &&
           SameEntry(held, there);
}

void WorkFolder::seal() {
    // A rename stamps the moved folder's change time with the file system's clock, which
    // advances in ticks: once the clock has passed the time noted, any later move shows.
    struct stat held {};
    if (::fstat(static_cast<int>(handle_), &held) != 0 || !stillAtPath()) {
        throw EInOutError("Work folder \"" + path_ + "\" was moved by another program");
    }
    sealedChangeNs_ = ChangeTimeNs(held);
    for (int i = 0; i < 100 && CoarseNowNs() <= sealedChangeNs_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void WorkFolder::remove() {
    if (removed_) {
        return;
    }
    struct stat held {};
    const bool moved = sealedChangeNs_ >= 0 && (::fstat(static_cast<int>(handle_), &held) != 0 ||
                                                ChangeTimeNs(held) != sealedChangeNs_);
    deleteContent();
    // Only the folder this run holds is removed from the path, nothing that took its place.
    if (!stillAtPath()) {
        removed_ = true; // emptied; its entry is no longer ours to remove
        errno = ENOENT;
        ThrowIo("Cannot delete folder", path_);
    }
    if (::unlinkat(static_cast<int>(parent_), name_.c_str(), AT_REMOVEDIR) != 0) {
        ThrowIo("Cannot delete folder", path_);
    }
    removed_ = true;
    if (moved) {
        // What the checks read through the path may not have been this folder.
        throw EInOutError("Work folder \"" + path_ +
                          "\" was moved by another program during the check");
    }
}

} // namespace halyard::platform

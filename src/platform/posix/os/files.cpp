#include "platform/files.h"

#include "base/errors.h"
#include "base/unicode.h"
#include "os/unique_fd.h"
#include "platform/locale.h"
#include "platform/messages.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halyard::platform {

namespace {

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path) {
    const std::uint32_t code = GetLastErrorCode();
    throw EInOutError(what + " \"" + path + "\". " + SysErrorMessage(code));
}

// Directory entries in the order NTFS lists a folder (Windows' FindFirstFile/FindNextFile):
// by the upper-cased UTF-16 units of the name, ordinal. Names equal in that order (possible
// here, where letter case makes two names) follow in byte order. A POSIX file system lists in
// an order of its own (ext4: hash order), and "the first file the listing yields" must be the
// same file on both.
struct DirEntry {
    std::string name;
    bool isDir;
    std::u16string key;
};

void SortAsNtfs(std::vector<DirEntry>& entries) {
    for (auto& e : entries) {
        e.key = Utf8ToUtf16(UpperCase(e.name));
    }
    std::sort(entries.begin(), entries.end(), [](const DirEntry& a, const DirEntry& b) {
        const int order = a.key.compare(b.key);
        return order != 0 ? order < 0 : a.name < b.name;
    });
}

std::vector<DirEntry> ReadDirectory(const std::string& dir) {
    const posix::UniqueDir d(::opendir(dir.c_str()));
    if (!d) {
        ThrowIo("Cannot list folder", dir);
    }
    std::vector<DirEntry> entries;
    errno = 0;
    while (dirent* e = ::readdir(d.get())) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat st {};
        const std::string full = IncludeTrailingPathDelimiter(dir) + name;
        bool isDir = false;
        if (::lstat(full.c_str(), &st) == 0) {
            isDir = S_ISDIR(st.st_mode);
        }
        entries.push_back({name, isDir, {}});
        errno = 0;
    }
    if (errno != 0) {
        ThrowIo("Cannot list folder", dir);
    }
    SortAsNtfs(entries);
    return entries;
}

void Walk(const std::string& dir, std::vector<std::string>& out) {
    for (const auto& e : ReadDirectory(dir)) {
        const std::string full = IncludeTrailingPathDelimiter(dir) + e.name;
        if (e.isDir) {
            Walk(full, out);
        } else {
            out.push_back(full);
        }
    }
}

} // namespace

bool FileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> ListFiles(const std::string& dir, std::string_view mask) {
    std::vector<std::string> out;
    for (const auto& e : ReadDirectory(dir)) {
        const std::string full = IncludeTrailingPathDelimiter(dir) + e.name;
        if (!e.isDir && !DirectoryExists(full) && MatchesMask(e.name, mask)) {
            out.push_back(full);
        }
    }
    return out;
}

std::vector<std::string> ListFilesRecursive(const std::string& dir) {
    std::vector<std::string> out;
    Walk(dir, out);
    return out;
}

void DeleteTree(const std::string& dir) {
    std::string path = dir;
    while (path.size() > 1 && IsPathDelimiter(path.back())) {
        path.pop_back();
    }
    struct stat st {};
    if (path.empty() || ::lstat(path.c_str(), &st) != 0) {
        return; // nothing there
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlink(path.c_str()) != 0) {
            ThrowIo("Cannot delete", path);
        }
        return;
    }
    posix::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd) {
        ThrowIo("Cannot delete folder", path);
    }
    posix::RemoveContentAt(fd.get(), path);
    if (::rmdir(path.c_str()) != 0) {
        ThrowIo("Cannot delete folder", path);
    }
}

bool CreateDir(const std::string& dir) {
    return ::mkdir(dir.c_str(), 0777) == 0;
}

void ForceDirectories(const std::string& dir) {
    std::string path = dir;
    while (path.size() > 1 && IsPathDelimiter(path.back())) {
        path.pop_back();
    }
    if (path.empty() || DirectoryExists(path)) {
        return;
    }
    const std::string parent = ExtractFileDir(path);
    if (!parent.empty() && parent != path) {
        ForceDirectories(parent);
    }
    if (::mkdir(path.c_str(), 0777) != 0) {
        const int err = errno; // the test below must not replace the reason
        if (!DirectoryExists(path)) {
            errno = err;
            ThrowIo("Cannot create folder", path);
        }
    }
}

void ForceDirectoriesBelow(const std::string& base, const std::string& relative) {
    std::string path = base;
    while (path.size() > 1 && IsPathDelimiter(path.back())) {
        path.pop_back();
    }
    for (const std::string& part : SplitRelativePath(relative, "/\\")) {
        path += kPathDelim;
        path += part;
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0) {
            if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode)) {
                errno = S_ISLNK(st.st_mode) ? ELOOP : ENOTDIR;
                ThrowIo("Cannot create folder", path);
            }
            continue;
        }
        if (::mkdir(path.c_str(), 0777) != 0) {
            ThrowIo("Cannot create folder", path);
        }
    }
}

std::string ProgramDirectory() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
        return "./";
    }
    return IncludeTrailingPathDelimiter(
        ExtractFileDir(std::string(buf, static_cast<std::size_t>(n))));
}

bool GetFileStamp(const std::string& path, FileStamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        return false;
    }
    stamp.size = static_cast<std::uint64_t>(st.st_size);
    stamp.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.inode = st.st_ino;
    return true;
}

} // namespace halyard::platform

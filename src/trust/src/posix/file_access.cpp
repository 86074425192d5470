// The POSIX part of the trust engine: its file access on the platform's input opener and
// descriptors.
#include "file_access.h"

#include "os/input_file.h"
#include "os/unique_fd.h"
#include "platform/messages.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace halyard::trust {

// The bridge to the OS layer of the platform: its input files, descriptors and error codes.
using namespace platform;

Outcome<std::vector<std::uint8_t>> ReadFileWithin(const std::string& path, std::uint64_t cap) {
    return ReadInputFile(path, cap);
}

PieceReader::PieceReader(const std::string& path) {
    auto file = InputFile::Open(path);
    if (!file) {
        error_ = file.error();
        return;
    }
    size_ = file->size();
    handle_ = file->release();
}

PieceReader::~PieceReader() {
    const posix::UniqueFd closing(static_cast<int>(handle_));
}

std::size_t PieceReader::readAt(std::uint64_t offset, void* buffer, std::size_t size) {
    const long n = ReadFully(static_cast<int>(handle_), offset, buffer, size);
    if (n < 0) {
        error_ = ErrnoToWin32(errno);
        return 0;
    }
    return static_cast<std::size_t>(n);
}

void DigestTrustFolderStamps(Digest& digest, const std::vector<std::string>& folders,
                             std::time_t now, bool& settled) {
    // Runs at every start of the SignTool stand-in: one descriptor per folder, names read and
    // stated relative to it, a second stat only for a link (a regular file's lstat is its stat).
    const auto addStamp = [&](const struct stat& st) {
        const std::int64_t fields[] = {static_cast<std::int64_t>(st.st_dev),
                                       static_cast<std::int64_t>(st.st_ino),
                                       static_cast<std::int64_t>(st.st_size),
                                       static_cast<std::int64_t>(st.st_mode),
                                       static_cast<std::int64_t>(st.st_mtim.tv_sec),
                                       static_cast<std::int64_t>(st.st_mtim.tv_nsec),
                                       static_cast<std::int64_t>(st.st_ctim.tv_sec),
                                       static_cast<std::int64_t>(st.st_ctim.tv_nsec)};
        digest.update(fields, sizeof fields);
        if (st.st_mtim.tv_sec + 2 > now || st.st_ctim.tv_sec + 2 > now) {
            settled = false;
        }
    };
    const auto stampAt = [&](int dirFd, const char* name) {
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            DigestField(digest, "missing");
            return;
        }
        addStamp(st);
        if (S_ISLNK(st.st_mode)) {
            struct stat target {};
            if (::fstatat(dirFd, name, &target, 0) != 0) {
                DigestField(digest, "missing");
            } else {
                addStamp(target);
            }
        }
    };
    for (const auto& folder : folders) {
        DigestField(digest, "folder");
        DigestField(digest, folder);
        const posix::UniqueDir dir = posix::OpenDirStream(
            posix::UniqueFd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
        struct stat st {};
        if (!dir || ::fstat(::dirfd(dir.get()), &st) != 0) {
            DigestField(digest, "missing");
            continue;
        }
        addStamp(st);
        std::vector<std::string> names;
        while (const dirent* entry = ::readdir(dir.get())) {
            if (IsTrustFileName(entry->d_name)) {
                names.emplace_back(entry->d_name);
            }
        }
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            DigestField(digest, name);
            stampAt(::dirfd(dir.get()), name.c_str());
        }
    }
}

} // namespace halyard::trust

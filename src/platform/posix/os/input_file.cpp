#include "os/input_file.h"

#include "platform/messages.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace halyard::platform {

Outcome<InputFile> InputFile::Open(const std::string& path, std::uint64_t cap) {
    // O_NOCTTY: a terminal named like an input file never becomes ours.
    posix::UniqueFd owned(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!owned) {
        return Outcome<InputFile>::failure(ErrnoToWin32(errno));
    }
    const int fd = owned.get();
    InputFile file(std::move(owned), 0);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return Outcome<InputFile>::failure(ErrnoToWin32(errno));
    }
    if (S_ISDIR(st.st_mode)) {
        return Outcome<InputFile>::failure(codes::kAccessDenied);
    }
    if (!S_ISREG(st.st_mode)) {
        return Outcome<InputFile>::failure(codes::kCantAccessFile);
    }
    if (static_cast<std::uint64_t>(st.st_size) > cap) {
        return Outcome<InputFile>::failure(codes::kFileTooLarge);
    }
    // Reads of a regular file block as they should; the flag only guarded the open.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0) {
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    file.size_ = static_cast<std::uint64_t>(st.st_size);
    return Outcome<InputFile>(std::move(file));
}

Outcome<std::vector<std::uint8_t>> ReadInputFile(const std::string& path, std::uint64_t cap) {
    auto file = InputFile::Open(path, cap);
    if (!file) {
        return Outcome<std::vector<std::uint8_t>>::failure(file.error());
    }
    std::vector<std::uint8_t> bytes;
    const std::uint32_t code = ReadAllWithinCap(
        file->size(), cap,
        [&file](std::uint64_t offset, void* buffer, std::size_t size) {
            return file->readAt(offset, buffer, size);
        },
        bytes);
    if (code != codes::kSuccess) {
        return Outcome<std::vector<std::uint8_t>>::failure(code);
    }
    return bytes;
}

long ReadFully(int fd, std::uint64_t offset, void* buffer, std::size_t size) {
    std::size_t done = 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (done < size) {
        const ssize_t n = ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    return static_cast<long>(done);
}

} // namespace halyard::platform

// The one way the POSIX layer opens a file it reads: an archive item, an INF, an INI file, a
// catalog, a driver file. Opening never blocks (O_NONBLOCK, so a FIFO or a device cannot stall
// the open) and only a regular file is taken, links followed: a folder is refused with
// ERROR_ACCESS_DENIED as Windows refuses it, a FIFO, socket or device with
// ERROR_CANT_ACCESS_FILE, and a file larger than the caller's cap with ERROR_FILE_TOO_LARGE.
#pragma once

#include "base/outcome.h"
#include "os/unique_fd.h"
#include "platform/filestream.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace halyard::platform {

// Reads size bytes at offset (pread, retried on EINTR), fewer only at the end of the file: the
// count, or -1 with errno set.
long ReadFully(int fd, std::uint64_t offset, void* buffer, std::size_t size);

class InputFile {
public:
    static Outcome<InputFile> Open(const std::string& path, std::uint64_t cap = kNoSizeCap);

    int fd() const { return fd_.get(); }
    // Hands the descriptor to a caller that closes it.
    int release() { return fd_.release(); }
    // The size when the file was opened.
    std::uint64_t size() const { return size_; }

    // Reads size bytes at offset, fewer only at the end of the file: the count, or -1 with errno
    // set.
    long readAt(std::uint64_t offset, void* buffer, std::size_t size) const {
        return ReadFully(fd_.get(), offset, buffer, size);
    }

private:
    InputFile(posix::UniqueFd fd, std::uint64_t size) : fd_(std::move(fd)), size_(size) {}
    posix::UniqueFd fd_;
    std::uint64_t size_ = 0;
};

// The whole input file, opened as InputFile opens it and read within the cap as ReadWholeFile
// reads: the POSIX layer's reader of files taken in whole (catalogs, trust-folder files).
Outcome<std::vector<std::uint8_t>> ReadInputFile(const std::string& path, std::uint64_t cap);

} // namespace halyard::platform

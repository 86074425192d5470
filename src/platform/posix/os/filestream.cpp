#include "platform/filestream.h"

#include "base/errors.h"
#include "os/input_file.h"
#include "os/unique_fd.h"
#include "platform/messages.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace halyard::platform {

namespace {

std::uint64_t Seek(int fd, std::int64_t offset, int origin) {
    const int whence = origin == 0 ? SEEK_SET : (origin == 1 ? SEEK_CUR : SEEK_END);
    const off_t pos = ::lseek(fd, static_cast<off_t>(offset), whence);
    if (pos < 0) {
        throw EReadError("Seek error: " + SysErrorMessage(GetLastErrorCode()));
    }
    return static_cast<std::uint64_t>(pos);
}

std::uint64_t SizeOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        return 0;
    }
    return static_cast<std::uint64_t>(st.st_size);
}

} // namespace

FileReader::FileReader(const std::string& path, std::uint64_t cap) : path_(path) {
    auto file = InputFile::Open(path, cap);
    if (!file) {
        ThrowFOpenError(path, file.error());
    }
    fd_ = file->release();
}

// The seam's classes keep the descriptor in their shared layout; it closes through UniqueFd.
FileReader::~FileReader() {
    const posix::UniqueFd closing(fd_);
}

std::size_t FileReader::read(void* buffer, std::size_t size) {
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, size);
        if (n >= 0) {
            return static_cast<std::size_t>(n);
        }
        if (errno != EINTR) {
            throw EReadError("Read error on \"" + path_ + "\". " +
                             SysErrorMessage(GetLastErrorCode()));
        }
    }
}

std::size_t FileReader::readAt(std::uint64_t offset, void* buffer, std::size_t size) {
    const long n = ReadFully(fd_, offset, buffer, size);
    if (n < 0) {
        throw EReadError("Read error on \"" + path_ + "\". " + SysErrorMessage(GetLastErrorCode()));
    }
    return static_cast<std::size_t>(n);
}

std::uint64_t FileReader::size() const {
    return SizeOf(fd_);
}

std::uint64_t FileReader::seek(std::int64_t offset, int origin) {
    return Seek(fd_, offset, origin);
}

std::uint32_t ProbeInputFile(const std::string& path, std::uint64_t cap) {
    const auto file = InputFile::Open(path, cap);
    return file ? codes::kSuccess : file.error();
}

FileWriter::FileWriter(const std::string& path) : path_(path) {
    // O_NOFOLLOW: an item never writes through a symbolic link planted in the target folder.
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd_ < 0) {
        throw EFCreateError("Cannot create file \"" + path + "\". " +
                            SysErrorMessage(GetLastErrorCode()));
    }
}

FileWriter::~FileWriter() {
    close();
}

void FileWriter::close() {
    const posix::UniqueFd closing(std::exchange(fd_, -1));
}

void FileWriter::write(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw EWriteError("Write error on \"" + path_ + "\". " +
                              SysErrorMessage(GetLastErrorCode()));
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

std::uint64_t FileWriter::seek(std::int64_t offset, int origin) {
    return Seek(fd_, offset, origin);
}

void FileWriter::setSize(std::uint64_t size) {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        throw EWriteError("Cannot set the size of \"" + path_ + "\". " +
                          SysErrorMessage(GetLastErrorCode()));
    }
}

std::uint64_t FileWriter::size() const {
    return SizeOf(fd_);
}

} // namespace halyard::platform

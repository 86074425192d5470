#include "platform/filestream.h"

#include "base/errors.h"
#include "base/outcome.h"
#include "platform/messages.h"
#include "platform/win32/input_file.h"
#include "platform/win32/wide.h"

#include <windows.h>

// The stream classes keep their handle in an int: kernel handles carry 32 significant bits on
// 64-bit Windows (HandleToLong / LongToHandle), and INVALID_HANDLE_VALUE stays -1.
namespace halyard::platform {

namespace {

HANDLE H(int fd) {
    return LongToHandle(fd);
}
int Fd(HANDLE h) {
    return HandleToLong(h);
}

std::uint64_t Seek(int fd, std::int64_t offset, int origin) {
    const DWORD method = origin == 0 ? FILE_BEGIN : (origin == 1 ? FILE_CURRENT : FILE_END);
    LARGE_INTEGER distance{};
    distance.QuadPart = offset;
    LARGE_INTEGER pos{};
    if (!::SetFilePointerEx(H(fd), distance, &pos, method)) {
        throw EReadError("Seek error: " + SysErrorMessage(::GetLastError()));
    }
    return static_cast<std::uint64_t>(pos.QuadPart);
}

std::uint64_t SizeOf(int fd) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(H(fd), &size)) {
        return 0;
    }
    return static_cast<std::uint64_t>(size.QuadPart);
}

DWORD Chunk(std::size_t size) {
    return size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
}

} // namespace

FileReader::FileReader(const std::string& path, std::uint64_t cap) : path_(path) {
    DWORD code = 0;
    const HANDLE h = win32::OpenInput(path, cap, code);
    if (h == INVALID_HANDLE_VALUE) {
        ThrowFOpenError(path, code);
    }
    fd_ = Fd(h);
    // Only files on disk are read: a device or a pipe could block or never end.
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        fd_ = -1;
        throw EFOpenError("Cannot open file \"" + path + "\". It is not a regular file");
    }
}

std::uint32_t ProbeInputFile(const std::string& path, std::uint64_t cap) {
    DWORD code = 0;
    const HANDLE h = win32::OpenInput(path, cap, code);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
    }
    return code;
}

FileReader::~FileReader() {
    if (fd_ != -1) {
        ::CloseHandle(H(fd_));
    }
}

std::size_t FileReader::read(void* buffer, std::size_t size) {
    DWORD n = 0;
    if (!::ReadFile(H(fd_), buffer, Chunk(size), &n, nullptr)) {
        throw EReadError("Read error on \"" + path_ + "\". " + SysErrorMessage(::GetLastError()));
    }
    return n;
}

std::size_t FileReader::readAt(std::uint64_t offset, void* buffer, std::size_t size) {
    const std::int64_t n = win32::ReadAt(H(fd_), offset, buffer, size);
    if (n < 0) {
        throw EReadError("Read error on \"" + path_ + "\". " + SysErrorMessage(::GetLastError()));
    }
    return static_cast<std::size_t>(n);
}

std::uint64_t FileReader::size() const {
    return SizeOf(fd_);
}

std::uint64_t FileReader::seek(std::int64_t offset, int origin) {
    return Seek(fd_, offset, origin);
}

FileWriter::FileWriter(const std::string& path) : path_(path) {
    const HANDLE h =
        ::CreateFileW(win32::Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                      nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throw EFCreateError("Cannot create file \"" + path + "\". " +
                            SysErrorMessage(::GetLastError()));
    }
    fd_ = Fd(h);
}

FileWriter::~FileWriter() {
    close();
}

void FileWriter::close() {
    if (fd_ != -1) {
        ::CloseHandle(H(fd_));
        fd_ = -1;
    }
}

void FileWriter::write(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    while (size > 0) {
        DWORD n = 0;
        if (!::WriteFile(H(fd_), p, Chunk(size), &n, nullptr) || n == 0) {
            throw EWriteError("Write error on \"" + path_ + "\". " +
                              SysErrorMessage(::GetLastError()));
        }
        p += n;
        size -= n;
    }
}

std::uint64_t FileWriter::seek(std::int64_t offset, int origin) {
    return Seek(fd_, offset, origin);
}

void FileWriter::setSize(std::uint64_t size) {
    const std::uint64_t keep = Seek(fd_, 0, 1);
    Seek(fd_, static_cast<std::int64_t>(size), 0);
    if (!::SetEndOfFile(H(fd_))) {
        throw EWriteError("Cannot set the size of \"" + path_ + "\". " +
                          SysErrorMessage(::GetLastError()));
    }
    Seek(fd_, static_cast<std::int64_t>(keep), 0);
}

std::uint64_t FileWriter::size() const {
    return SizeOf(fd_);
}

} // namespace halyard::platform

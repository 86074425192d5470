// The one way the win32 backend and the trust engine open a file they read, and read it at an
// offset.
#pragma once

#include "base/codes.h"
#include "platform/win32/wide.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <windows.h>

namespace halyard::platform::win32 {

// Opens an input file as FileReader takes it: a disk file within the cap, never a device such
// as NUL or CON (legacy device names work with any extension) or a pipe. INVALID_HANDLE_VALUE
// with the code when it is refused.
inline HANDLE OpenInput(const std::string& path, std::uint64_t cap, DWORD& code) {
    // Others may read, write or delete the file meanwhile, as Delphi's fmShareDenyNone allows.
    const HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        code = ::GetLastError();
        return h;
    }
    code = 0;
    LARGE_INTEGER size{};
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        code = codes::kCantAccessFile;
    } else if (::GetFileSizeEx(h, &size) && static_cast<std::uint64_t>(size.QuadPart) > cap) {
        code = codes::kFileTooLarge;
    }
    if (code != 0) {
        ::CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    return h;
}

// Reads size bytes at offset, fewer only at the end of the file: the count, or -1 with the
// failure left for GetLastError.
inline std::int64_t ReadAt(HANDLE h, std::uint64_t offset, void* buffer, std::size_t size) {
    std::size_t done = 0;
    auto* out = static_cast<std::uint8_t*>(buffer);
    while (done < size) {
        OVERLAPPED at{};
        const std::uint64_t pos = offset + done;
        at.Offset = static_cast<DWORD>(pos & 0xFFFFFFFFu);
        at.OffsetHigh = static_cast<DWORD>(pos >> 32);
        const std::size_t left = size - done;
        DWORD n = 0;
        if (!::ReadFile(h, out + done, left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left),
                        &n, &at)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    return static_cast<std::int64_t>(done);
}

} // namespace halyard::platform::win32

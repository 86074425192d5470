// The Windows part of the trust engine: its file access on kernel handles, with the promises of
// the POSIX part. Inputs are disk files only (a device or a pipe could block or never end), a
// folder is refused as Windows refuses it, links are followed as the POSIX part follows them.
#include "file_access.h"

#include "platform/filestream.h"
#include "platform/messages.h"
#include "platform/win32/input_file.h"
#include "platform/win32/wide.h"

#include <algorithm>
#include <windows.h>

namespace halyard::trust {

// The bridge to the win32 backend: its input files, wide paths and error codes.
using namespace platform;

namespace {

// The backend's input file with its size: code is 0 or the failure.
HANDLE OpenSized(const std::string& path, std::uint64_t cap, std::uint32_t& code,
                 std::uint64_t& size) {
    DWORD refused = 0;
    const HANDLE h = win32::OpenInput(path, cap, refused);
    code = refused;
    LARGE_INTEGER bytes{};
    if (h != INVALID_HANDLE_VALUE && !::GetFileSizeEx(h, &bytes)) {
        code = ::GetLastError();
        ::CloseHandle(h);
        return INVALID_HANDLE_VALUE;
    }
    size = static_cast<std::uint64_t>(bytes.QuadPart);
    return h;
}

std::int64_t Ticks(const LARGE_INTEGER& time) {
    return static_cast<std::int64_t>(time.QuadPart);
}

// FILETIME ticks (100 ns since 1601) to seconds since 1970.
std::time_t UnixSeconds(std::int64_t ticks) {
    return static_cast<std::time_t>((ticks - 116444736000000000LL) / 10000000LL);
}

} // namespace

Outcome<std::vector<std::uint8_t>> ReadFileWithin(const std::string& path, std::uint64_t cap) {
    std::uint32_t code = codes::kSuccess;
    std::uint64_t size = 0;
    const win32::HandleGuard file(OpenSized(path, cap, code, size));
    if (!file.valid()) {
        return Outcome<std::vector<std::uint8_t>>::failure(code);
    }
    std::vector<std::uint8_t> bytes;
    code = ReadAllWithinCap(
        size, cap,
        [&file](std::uint64_t offset, void* buffer, std::size_t count) {
            return static_cast<long>(win32::ReadAt(file.get(), offset, buffer, count));
        },
        bytes);
    if (code != codes::kSuccess) {
        return Outcome<std::vector<std::uint8_t>>::failure(code);
    }
    return bytes;
}

PieceReader::PieceReader(const std::string& path) {
    std::uint32_t code = codes::kSuccess;
    const HANDLE h = OpenSized(path, kNoSizeCap, code, size_);
    if (h == INVALID_HANDLE_VALUE) {
        error_ = code;
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
}

PieceReader::~PieceReader() {
    const win32::HandleGuard closing(reinterpret_cast<HANDLE>(handle_));
}

std::size_t PieceReader::readAt(std::uint64_t offset, void* buffer, std::size_t size) {
    if (handle_ == -1) {
        return 0;
    }
    const std::int64_t n = win32::ReadAt(reinterpret_cast<HANDLE>(handle_), offset, buffer, size);
    if (n < 0) {
        error_ = ::GetLastError();
        return 0;
    }
    return static_cast<std::size_t>(n);
}

void DigestTrustFolderStamps(Digest& digest, const std::vector<std::string>& folders,
                             std::time_t now, bool& settled) {
    // What a handle tells of its file: volume and file index (the inode's twin), size,
    // attributes, last write and change times. The change time moves on any rewrite in place.
    const auto addStamp = [&](HANDLE h) {
        BY_HANDLE_FILE_INFORMATION info{};
        FILE_BASIC_INFO basic{};
        if (!::GetFileInformationByHandle(h, &info) ||
            !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)) {
            return false;
        }
        const std::int64_t fields[] = {
            static_cast<std::int64_t>(info.dwVolumeSerialNumber),
            static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) |
                                      info.nFileIndexLow),
            static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) |
                                      info.nFileSizeLow),
            static_cast<std::int64_t>(info.dwFileAttributes),
            Ticks(basic.LastWriteTime),
            Ticks(basic.ChangeTime)};
        digest.update(fields, sizeof fields);
        if (UnixSeconds(Ticks(basic.LastWriteTime)) + 2 > now ||
            UnixSeconds(Ticks(basic.ChangeTime)) + 2 > now) {
            settled = false;
        }
        return true;
    };
    // FILE_FLAG_BACKUP_SEMANTICS opens folders too; with FILE_FLAG_OPEN_REPARSE_POINT the link
    // itself, else what it points to.
    const auto open = [](const std::wstring& path, bool link) {
        return win32::HandleGuard(::CreateFileW(
            path.c_str(), FILE_READ_ATTRIBUTES,
            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
            FILE_FLAG_BACKUP_SEMANTICS | (link ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr));
    };
    const auto stampAt = [&](const std::wstring& path) {
        const win32::HandleGuard self = open(path, true);
        if (!self.valid() || !addStamp(self.get())) {
            DigestField(digest, "missing");
            return;
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (::GetFileInformationByHandle(self.get(), &info) &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            const win32::HandleGuard target = open(path, false);
            if (!target.valid() || !addStamp(target.get())) {
                DigestField(digest, "missing");
            }
        }
    };
    for (const auto& folder : folders) {
        DigestField(digest, "folder");
        DigestField(digest, folder);
        std::wstring base = win32::Wide(folder);
        const win32::HandleGuard dir = open(base, false);
        BY_HANDLE_FILE_INFORMATION info{};
        if (!dir.valid() || !::GetFileInformationByHandle(dir.get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 || !addStamp(dir.get())) {
            DigestField(digest, "missing");
            continue;
        }
        if (!base.empty() && base.back() != L'\\' && base.back() != L'/') {
            base += L'\\';
        }
        std::vector<std::string> names;
        WIN32_FIND_DATAW found{};
        const HANDLE search = ::FindFirstFileExW((base + L"*").c_str(), FindExInfoBasic, &found,
                                                 FindExSearchNameMatch, nullptr, 0);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = win32::Narrow(found.cFileName);
                if (IsTrustFileName(name)) {
                    names.push_back(name);
                }
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
        }
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            DigestField(digest, name);
            stampAt(base + win32::Wide(name));
        }
    }
}

} // namespace halyard::trust

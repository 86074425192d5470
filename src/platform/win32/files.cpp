#include "platform/files.h"

#include "base/errors.h"
#include "platform/messages.h"
#include "platform/win32/wide.h"

#include <windows.h>

namespace halyard::platform {

namespace {

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path,
                          DWORD code = ::GetLastError()) {
    throw EInOutError(what + " \"" + path + "\". " + SysErrorMessage(code));
}

std::string WithoutTrailingDelimiters(const std::string& dir) {
    std::string path = dir;
    while (path.size() > 1 && IsPathDelimiter(path.back()) &&
           !(path.size() == 3 && path[1] == ':')) {
        path.pop_back();
    }
    return path;
}

DWORD Attributes(const std::string& path) {
    if (path.empty()) {
        return INVALID_FILE_ATTRIBUTES;
    }
    return ::GetFileAttributesW(win32::Wide(path).c_str());
}

bool IsLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}
bool IsFolder(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

struct DirEntry {
    std::string name;
    DWORD attributes;
};

// The entries of a folder that match the pattern, in the order the file system lists them.
std::vector<DirEntry> ReadDirectory(const std::string& dir, const std::string& pattern) {
    std::vector<DirEntry> entries;
    const std::wstring search = win32::Wide(IncludeTrailingPathDelimiter(dir) + pattern);
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileExW(search.c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD code = ::GetLastError();
        // No match in an existing folder is an empty listing, not a failure.
        if (code == ERROR_FILE_NOT_FOUND && DirectoryExists(dir)) {
            return entries;
        }
        ThrowIo("Cannot list folder", dir, code);
    }
    do {
        const std::wstring_view name = data.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        entries.push_back({win32::Narrow(name), data.dwFileAttributes});
    } while (::FindNextFileW(find, &data));
    const DWORD code = ::GetLastError();
    ::FindClose(find);
    if (code != ERROR_NO_MORE_FILES) {
        ThrowIo("Cannot list folder", dir, code);
    }
    return entries;
}

void Walk(const std::string& dir, std::vector<std::string>& out) {
    for (const auto& e : ReadDirectory(dir, "*")) {
        const std::string full = IncludeTrailingPathDelimiter(dir) + e.name;
        if (IsFolder(e.attributes) && !IsLink(e.attributes)) {
            Walk(full, out);
        } else {
            out.push_back(full);
        }
    }
}

// Removes one entry that is not a real folder: a file, or a link (to a file or a folder).
bool RemoveEntry(const std::string& full, DWORD attributes) {
    const std::wstring wide = win32::Wide(full);
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        ::SetFileAttributesW(wide.c_str(),
                             attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    if (IsFolder(attributes)) {
        return ::RemoveDirectoryW(wide.c_str()) != 0; // a junction or folder link, not followed
    }
    return ::DeleteFileW(wide.c_str()) != 0;
}

void DeleteContent(const std::string& dir) {
    for (const auto& e : ReadDirectory(dir, "*")) {
        const std::string full = IncludeTrailingPathDelimiter(dir) + e.name;
        if (IsFolder(e.attributes) && !IsLink(e.attributes)) {
            DeleteContent(full);
            if (!::RemoveDirectoryW(win32::Wide(full).c_str())) {
                ThrowIo("Cannot delete folder", full);
            }
        } else if (!RemoveEntry(full, e.attributes)) {
            ThrowIo("Cannot delete", full);
        }
    }
}

} // namespace

bool FileExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && !IsFolder(a);
}

bool DirectoryExists(const std::string& path) {
    const DWORD a = Attributes(path);
    return a != INVALID_FILE_ATTRIBUTES && IsFolder(a);
}

std::vector<std::string> ListFiles(const std::string& dir, std::string_view mask) {
    // The listing is filtered by our own mask rule: FindFirstFile also matches 8.3 short names
    // ("*.inf" would find "a.inf_x").
    std::vector<std::string> out;
    for (const auto& e : ReadDirectory(dir, "*")) {
        if (!IsFolder(e.attributes) && MatchesMask(e.name, mask)) {
            out.push_back(IncludeTrailingPathDelimiter(dir) + e.name);
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
    const std::string path = WithoutTrailingDelimiters(dir);
    const DWORD a = Attributes(path);
    if (a == INVALID_FILE_ATTRIBUTES) {
        return; // nothing there
    }
    if (!IsFolder(a) || IsLink(a)) {
        if (!RemoveEntry(path, a)) {
            ThrowIo("Cannot delete", path);
        }
        return;
    }
    DeleteContent(path);
    if (!::RemoveDirectoryW(win32::Wide(path).c_str())) {
        ThrowIo("Cannot delete folder", path);
    }
}

bool CreateDir(const std::string& dir) {
    return !dir.empty() && ::CreateDirectoryW(win32::Wide(dir).c_str(), nullptr) != 0;
}

void ForceDirectories(const std::string& dir) {
    const std::string path = WithoutTrailingDelimiters(dir);
    if (path.empty() || DirectoryExists(path)) {
        return;
    }
    const std::string parent = ExtractFileDir(path);
    if (!parent.empty() && parent != path) {
        ForceDirectories(parent);
    }
    if (!CreateDir(path) && !DirectoryExists(path)) {
        ThrowIo("Cannot create folder", path);
    }
}

void ForceDirectoriesBelow(const std::string& base, const std::string& relative) {
    std::string path = WithoutTrailingDelimiters(base);
    for (const std::string& part : SplitRelativePath(relative, "/\\")) {
        path += kPathDelim;
        path += part;
        const DWORD a = Attributes(path);
        if (a != INVALID_FILE_ATTRIBUTES) {
            if (IsLink(a)) {
                ThrowIo("Cannot create folder", path, ERROR_CANT_RESOLVE_FILENAME);
            }
            if (!IsFolder(a)) {
                ThrowIo("Cannot create folder", path, ERROR_ALREADY_EXISTS);
            }
            continue;
        }
        if (!CreateDir(path)) {
            ThrowIo("Cannot create folder", path);
        }
    }
}

std::string ProgramDirectory() {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
        if (n == 0) {
            return ".\\";
        }
        if (n < buf.size()) {
            buf.resize(n);
            break;
        }
        buf.resize(buf.size() * 2);
    }
    return IncludeTrailingPathDelimiter(ExtractFileDir(win32::Narrow(buf)));
}

bool GetFileStamp(const std::string& path, FileStamp& stamp) {
    win32::HandleGuard file(::CreateFileW(win32::Wide(path).c_str(), FILE_READ_ATTRIBUTES,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                          nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.valid() || !::GetFileInformationByHandle(file.get(), &info)) {
        return false;
    }
    stamp.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime;
    stamp.mtimeNs = static_cast<std::int64_t>(ticks) * 100;
    stamp.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

} // namespace halyard::platform

// Folders held by a handle opened without FILE_SHARE_DELETE: while it is open the folder cannot
// be renamed, deleted or replaced, and neither can its parents. Items are created below it one
// level at a time, refusing reparse points (links, junctions) on the way.
#include "base/errors.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/messages.h"
#include "platform/win32/wide.h"

#include <chrono>
#include <vector>
#include <windows.h>
// After windows.h.
#include <sddl.h>

namespace halyard::platform {

namespace {

[[noreturn]] void ThrowIo(const std::string& what, const std::string& path,
                          DWORD code = ::GetLastError()) {
    throw EInOutError(what + " \"" + path + "\". " + SysErrorMessage(code));
}

std::string WithoutTrailingDelimiters(std::string path) {
    while (path.size() > 1 && IsPathDelimiter(path.back()) &&
           !(path.size() == 3 && path[1] == ':')) {
        path.pop_back();
    }
    return path;
}

HANDLE H(std::intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

bool IsLink(DWORD attributes) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Opens the folder itself (never what a reparse point names) for listing and, when asked,
// deletion; others may read and write in it but not delete, rename or replace it. Asking for
// deletion fails while another run holds the folder.
HANDLE HoldFolder(const std::string& path, bool forDelete) {
    const DWORD access = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE |
                         (forDelete ? DELETE : 0);
    return ::CreateFileW(win32::Wide(path).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// A real folder, not a reparse point, behind the handle.
bool IsPlainFolder(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info{};
    return ::GetFileInformationByHandle(h, &info) &&
           (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           !IsLink(info.dwFileAttributes);
}

} // namespace

Folder::Folder(std::string path, std::intptr_t handle) : path_(std::move(path)), handle_(handle) {}

Folder::~Folder() {
    if (handle_ != -1 && handle_ != 0) {
        ::CloseHandle(H(handle_));
    }
}

std::unique_ptr<Folder> Folder::openOrCreate(const std::string& path) {
    const std::string bare = WithoutTrailingDelimiters(path);
    const std::string shown = IncludeTrailingPathDelimiter(bare);
    ForceDirectories(bare); // with its missing parents, as the items' folders would be
    const HANDLE h = HoldFolder(bare, false);
    if (h == INVALID_HANDLE_VALUE) {
        ThrowIo("Cannot create folder", shown);
    }
    // The folder object owns the handle from here on.
    std::unique_ptr<Folder> folder(new Folder(shown, reinterpret_cast<std::intptr_t>(h)));
    if (!IsPlainFolder(h)) {
        ThrowIo("Cannot create folder", shown, ERROR_CANT_RESOLVE_FILENAME);
    }
    return folder;
}

std::unique_ptr<FileWriter> Folder::createFileBelow(const std::string& relative) {
    const std::vector<std::string> parts = SplitRelativePath(relative);
    std::string shown = path_;
    if (parts.empty()) {
        throw EFCreateError("Cannot create file \"" + shown + "\". " +
                            SysErrorMessage(ERROR_INVALID_NAME));
    }
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        shown += parts[i];
        const std::wstring wide = win32::Wide(shown);
        if (!::CreateDirectoryW(wide.c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS) {
            ThrowIo("Cannot create folder", shown);
        }
        const DWORD a = ::GetFileAttributesW(wide.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            ThrowIo("Cannot create folder", shown);
        }
        if (IsLink(a)) {
            ThrowIo("Cannot create folder", shown, ERROR_CANT_RESOLVE_FILENAME);
        }
        if ((a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            ThrowIo("Cannot create folder", shown, ERROR_ALREADY_EXISTS);
        }
        shown += kPathDelim;
    }
    shown += parts.back();
    const std::wstring wide = win32::Wide(shown);
    const DWORD a = ::GetFileAttributesW(wide.c_str());
    if (a != INVALID_FILE_ATTRIBUTES && IsLink(a)) {
        throw EFCreateError("Cannot create file \"" + shown + "\". " +
                            SysErrorMessage(ERROR_CANT_RESOLVE_FILENAME));
    }
    const HANDLE h =
        ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        throw EFCreateError("Cannot create file \"" + shown + "\". " +
                            SysErrorMessage(::GetLastError()));
    }
    return std::unique_ptr<FileWriter>(new FileWriter(shown, HandleToLong(h)));
}

std::uint64_t Folder::availableBytes() const {
    ULARGE_INTEGER available{};
    const std::string& at = spaceAt_.empty() ? path_ : spaceAt_;
    if (!::GetDiskFreeSpaceExW(win32::Wide(at).c_str(), &available, nullptr, nullptr)) {
        return UINT64_MAX; // unknown: the written total still bounds the unpacking
    }
    return available.QuadPart;
}

void Folder::deleteContent() {
    // Every entry goes as DeleteTree removes it: links themselves, never what they name.
    std::vector<std::string> names;
    WIN32_FIND_DATAW data{};
    const HANDLE find = ::FindFirstFileExW(win32::Wide(path_ + "*").c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        ThrowIo("Cannot list folder", path_);
    }
    do {
        const std::wstring_view name = data.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(win32::Narrow(name));
        }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    for (const auto& name : names) {
        DeleteTree(path_ + name);
    }
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
}

namespace {

// The work folder's own access list, which every item below inherits, and none from the folder
// that holds it (a shared drop folder may let others write): its owner and the system only.
class PrivateFolderSecurity {
public:
    PrivateFolderSecurity() {
        if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"D:P(A;OICI;FA;;;OW)(A;OICI;FA;;;SY)", SDDL_REVISION_1, &descriptor_, nullptr)) {
            attributes_.nLength = sizeof attributes_;
            attributes_.lpSecurityDescriptor = descriptor_;
        }
    }
    ~PrivateFolderSecurity() { ::LocalFree(descriptor_); }
    PrivateFolderSecurity(const PrivateFolderSecurity&) = delete;
    PrivateFolderSecurity& operator=(const PrivateFolderSecurity&) = delete;

    // Null when the list could not be made: the folder then inherits as before.
    SECURITY_ATTRIBUTES* attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

private:
    PSECURITY_DESCRIPTOR descriptor_ = nullptr;
    SECURITY_ATTRIBUTES attributes_{};
};

} // namespace

WorkFolder::Made WorkFolder::create(const std::string& path) {
    PrivateFolderSecurity security;
    const std::string bare = WithoutTrailingDelimiters(path);
    const std::string shown = IncludeTrailingPathDelimiter(bare);
    const std::wstring wide = win32::Wide(bare);
    const auto refuse = [&](const std::string& why) {
        return Made{nullptr, "Cannot create folder \"" + shown + "\". " + why};
    };
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(kWorkFolderWaitSeconds);
    for (int attempt = 0; attempt < 100000; ++attempt) {
        if (::CreateDirectoryW(wide.c_str(), security.attributes())) {
            const HANDLE h = HoldFolder(bare, false);
            if (h == INVALID_HANDLE_VALUE) {
                continue; // taken away before we could hold it
            }
            if (!IsPlainFolder(h)) {
                ::CloseHandle(h);
                continue;
            }
            return Made{std::unique_ptr<WorkFolder>(new WorkFolder(
                            shown, reinterpret_cast<std::intptr_t>(h), -1, ExtractFileName(bare))),
                        {}};
        }
        if (const DWORD error = ::GetLastError(); error != ERROR_ALREADY_EXISTS) {
            // Told on the unpacking's line, as a folder the unpacking cannot make.
            return refuse(SysErrorMessage(error));
        }
        const DWORD a = ::GetFileAttributesW(wide.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) {
            continue;
        }
        if (IsLink(a) || (a & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            return refuse(IsLink(a) ? "The path is a link, not a folder; it is left as it is"
                                    : "The path is a file, not a folder; it is left as it is");
        }
        // A folder another run holds cannot be opened for deletion: wait for it to go.
        win32::HandleGuard probe(HoldFolder(bare, true));
        if (!probe.valid()) {
            if (::GetLastError() != ERROR_SHARING_VIOLATION) {
                ThrowIo("Cannot delete folder", shown);
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return refuse("It is in use by another run (waited " +
                              std::to_string(kWorkFolderWaitSeconds) + " seconds)");
            }
            ::Sleep(100);
            continue;
        }
        probe.reset();
        DeleteTree(bare); // a leftover of an earlier run
    }
    return refuse("It keeps being replaced by another program");
}

void WorkFolder::seal() {}

void WorkFolder::remove() {
    if (removed_) {
        return;
    }
    deleteContent();
    // Held until now, nothing could have replaced it; the handle has no DELETE access (others
    // would then have to share deletion to list the folder), so it goes by its path.
    ::CloseHandle(H(handle_));
    handle_ = -1;
    removed_ = true;
    if (!::RemoveDirectoryW(win32::Wide(WithoutTrailingDelimiters(path_)).c_str())) {
        ThrowIo("Cannot delete folder", path_);
    }
}

} // namespace halyard::platform

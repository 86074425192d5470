#include "platform/files.h"
#include "platform/win32/wide.h"

#include <string>
#include <windows.h>

namespace halyard::platform {

std::string ExpandFileName(const std::string& path) {
    if (path.empty()) {
        return {};
    }
    const std::wstring wide = win32::Wide(path);
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) {
        return path;
    }
    std::wstring full(size, L'\0');
    const DWORD n = ::GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
    if (n == 0 || n >= size) {
        return path;
    }
    full.resize(n);
    return win32::Narrow(full);
}

} // namespace halyard::platform

#include "platform/messages.h"

#include "platform/win32/wide.h"

#include <windows.h>

namespace halyard::platform {

std::string SystemMessageText(std::uint32_t code) {
    // The system table in the default language; inserts are left as they stand.
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ALLOCATE_BUFFER,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer != nullptr) {
        text = win32::Narrow(std::wstring_view(buffer, n));
    }
    if (buffer != nullptr) {
        ::LocalFree(buffer);
    }
    return text;
}

std::uint32_t GetLastErrorCode() {
    return ::GetLastError();
}

} // namespace halyard::platform

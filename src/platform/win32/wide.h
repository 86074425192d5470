// UTF-8 inside, UTF-16 at the Windows API: the conversions at the boundary.
#pragma once

#include "base/unicode.h"

#include <string>
#include <string_view>
#include <windows.h>

namespace halyard::platform::win32 {

inline std::wstring Wide(std::string_view text) {
    const std::u16string units = Utf8ToUtf16(text);
    return std::wstring(units.begin(), units.end());
}

inline std::string Narrow(std::wstring_view text) {
    return Utf16ToUtf8(
        std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

inline std::string Narrow(const wchar_t* text) {
    return text == nullptr ? std::string() : Narrow(std::wstring_view(text));
}

// Closes a kernel handle when it goes out of scope.
class HandleGuard {
public:
    explicit HandleGuard(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~HandleGuard() { reset(); }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
    void reset(HANDLE h = INVALID_HANDLE_VALUE) {
        if (valid()) {
            ::CloseHandle(h_);
        }
        h_ = h;
    }

private:
    HANDLE h_;
};

} // namespace halyard::platform::win32

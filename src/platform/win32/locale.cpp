#include "platform/locale.h"

#include "platform/win32/wide.h"

#include <windows.h>

namespace halyard::platform {

namespace {

std::string MapCase(std::string_view text, DWORD flags) {
    std::wstring wide = win32::Wide(text);
    if (wide.empty()) {
        return {};
    }
    // Case mapping keeps the length in UTF-16 units, so the text is mapped in place.
    const int units = static_cast<int>(wide.size());
    if (::LCMapStringW(LOCALE_USER_DEFAULT, flags, wide.c_str(), units, wide.data(), units) !=
        units) {
        return std::string(text);
    }
    return win32::Narrow(wide);
}

} // namespace

std::string UpperCase(std::string_view text) {
    return MapCase(text, LCMAP_UPPERCASE);
}
std::string LowerCase(std::string_view text) {
    return MapCase(text, LCMAP_LOWERCASE);
}

int CompareTextEnUs(std::string_view a, std::string_view b) {
    const std::wstring wa = win32::Wide(a);
    const std::wstring wb = win32::Wide(b);
    const int r = ::CompareStringW(0x0409, NORM_IGNORECASE, wa.c_str(), static_cast<int>(wa.size()),
                                   wb.c_str(), static_cast<int>(wb.size()));
    return r == 0 ? 0 : r - CSTR_EQUAL;
}

} // namespace halyard::platform

#include "platform/profile.h"

#include "platform/win32/wide.h"

#include <vector>
#include <windows.h>

// windows.h maps the name to GetPrivateProfileStringW; ours is the seam's operation.
#undef GetPrivateProfileString

namespace halyard::platform {

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& fileName,
                                    std::size_t bufferUnits) {
    if (bufferUnits == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(bufferUnits, L'\0');
    const std::wstring wSection = win32::Wide(section);
    const std::wstring wKey = win32::Wide(key);
    const std::wstring wDef = win32::Wide(def);
    const std::wstring wFile = win32::Wide(fileName);
    const DWORD n =
        ::GetPrivateProfileStringW(wSection.c_str(), wKey.c_str(), wDef.c_str(), buffer.data(),
                                   static_cast<DWORD>(bufferUnits), wFile.c_str());
    return win32::Narrow(std::wstring_view(buffer.data(), n));
}

} // namespace halyard::platform

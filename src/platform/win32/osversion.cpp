#include "platform/osversion.h"

#include <windows.h>

namespace halyard::platform {

OsVersion GetOsVersion() {
    // GetVersionExW answers 6.2 to a program without a compatibility manifest from Windows 8.1
    // on; ntdll's RtlGetVersion reports the version that is really running.
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto rtlGetVersion =
        ntdll == nullptr ? nullptr
                         : reinterpret_cast<RtlGetVersionFn>(
                               reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")));
    if (rtlGetVersion == nullptr || rtlGetVersion(&info) != 0) {
        return OsVersion{10, 0, 0, VER_PLATFORM_WIN32_NT};
    }
    return OsVersion{info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber,
                     info.dwPlatformId};
}

} // namespace halyard::platform

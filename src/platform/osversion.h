// The version of the running Windows as the platform reports it to the process. The POSIX layer
// emulates Windows 10 (10.0).
#pragma once

#include <cstdint>

namespace halyard::platform {

struct OsVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
    std::uint32_t build = 0;
    std::uint32_t platformId = 2; // VER_PLATFORM_WIN32_NT
};

OsVersion GetOsVersion();

} // namespace halyard::platform

// The system's message text for an error code (FormatMessage from the system table).
#pragma once

#include <cstdint>
#include <string>

namespace halyard::platform {

// The raw message text, or empty when the platform holds none for the code.
std::string SystemMessageText(std::uint32_t code);

// The text with trailing blanks, control characters and full stops removed.
std::string SysErrorMessage(std::uint32_t code);

// The last error code the platform left for this thread (errno mapped on POSIX).
std::uint32_t GetLastErrorCode();

#ifndef _WIN32
// The Win32 code that stands for an errno value.
std::uint32_t ErrnoToWin32(int err);
#endif

} // namespace halyard::platform

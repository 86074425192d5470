// The private-profile service (GetPrivateProfileStringW) through which INF files are read.
#pragma once

#include <cstddef>
#include <string>

namespace halyard::platform {

// The value of key in section of the file, or def when the file, section or key is absent.
// Values longer than bufferUnits - 1 UTF-16 units are cut to that length.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& def, const std::string& fileName,
                                    std::size_t bufferUnits = 2048);

} // namespace halyard::platform

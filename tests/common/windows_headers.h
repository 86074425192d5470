// Windows' own symbol/value pairs for error codes, read from the MinGW-w64 headers (winerror.h,
// winnt.h, setupapi.h): an outside source for the values and symbols of the code table.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

namespace halyard::test {

// The folder of the MinGW-w64 headers, with a trailing '/'.
std::string WindowsHeadersDir();

// Every macro of those headers whose definition is a 32-bit code (a number, a cast or typedef
// macro around one, or an OR of such terms and earlier macros); nullopt when winerror.h is not
// there. The first definition of a name counts.
std::optional<std::map<std::string, std::uint32_t>> WindowsHeaderCodes();

} // namespace halyard::test

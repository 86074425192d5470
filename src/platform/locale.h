// Locale services: case mapping by the user's default locale and the en-US case-insensitive
// comparison (CompareStringW with NORM_IGNORECASE).
#pragma once

#include <string>
#include <string_view>

namespace halyard::platform {

std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);

// Negative, zero or positive, like CompareStringW(0x0409, NORM_IGNORECASE, ...) - 2.
int CompareTextEnUs(std::string_view a, std::string_view b);

} // namespace halyard::platform

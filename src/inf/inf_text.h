// Text helpers of the INF module: UTF-8 texts measured and hashed in UTF-16 code units without
// building the UTF-16 string, and the upper-casing used for case-insensitive names.
#pragma once

#include "base/unicode.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace halyard::inf {

template <class Fn>
void ForEachUnit(std::string_view text, Fn&& fn) {
    ForEachUtf16Unit(text, std::forward<Fn>(fn));
}

// The number of UTF-16 units of a UTF-8 text.
std::size_t Utf16Length(std::string_view text);

// The longest prefix of a UTF-8 text that holds at most maxUnits UTF-16 units. A character
// whose surrogate pair would be split is left out whole.
std::string_view Utf16Prefix(std::string_view text, std::size_t maxUnits);

// Upper-casing by the user locale's rules, with a fast path for ASCII texts.
std::string UpperKey(std::string_view text);

} // namespace halyard::inf

// Supported-OS derivation: a catalog's OS declaration (from cat_file.ini) as OS codes such as
// "7_32" or "104_64", optionally widened to every newer release.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace halyard {

using TStringArray = std::vector<std::string>;

// The two code families, newest release first.
inline constexpr std::array<const char*, 11> OsList32 = {"104_32", "103_32", "102_32", "101_32",
                                                         "10_32",  "81_32",  "8_32",   "7_32",
                                                         "6_32",   "5_32",   "4_32"};
inline constexpr std::array<const char*, 10> OsList64 = {
    "104_64", "103_64", "102_64", "101_64", "10_64", "81_64", "8_64", "7_64", "6_64", "5_64"};

// The OS codes of a declaration. An empty oss reads it from cat_file.ini in workDir (first under
// InternalLogsDoNotCopyToProduction, then directly in workDir; "OS" then "OSAttr" of "General",
// then "OSAttr" of "0"). extend adds every newer release of each family after the derived codes;
// extendAll lets the old releases (XP, Vista, 7) widen too. Problems end in an empty or partial
// result and are reported through XLog only.
TStringArray PrepareSupportedOS(const std::string& oss, const std::string& workDir, bool extend,
                                bool extendAll);

} // namespace halyard

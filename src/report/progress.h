// Progress of a long package check, for a person watching a terminal: shown on standard error
// only when it is a terminal and the run has gone on for about a second; standard output never
// changes. Each call replaces the line shown before.
#pragma once

#include <cstdint>
#include <string_view>

namespace halyard {

// "<stage> <done>/<total><unit>", e.g. ShowProgress("Unpacking", 12, 200, " MB").
void ShowProgress(std::string_view stage, std::uint64_t done, std::uint64_t total,
                  std::string_view unit = {});

// Clears the progress line, if one was shown.
void EndProgress();

} // namespace halyard

// catinspect --package: the whole package check explained, every step run.
#pragma once

#include <cstdint>
#include <string>

namespace catinspect {

// "YYYY-MM-DD hh:mm:ss UTC" for seconds since 1970 (the listing and the report both show times so).
std::string UtcText(std::int64_t seconds);

// Unpacks the archive into a private temporary folder, runs every step of the package check,
// writes the report (text, or one JSON document) and removes the folder. The exit code: 0 when
// every check passes, 1 when one fails, 2 when the package cannot be read.
int InspectPackage(const std::string& argument, bool json);

} // namespace catinspect

// catinspect --package: the whole package check explained, every step run.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace catinspect {

// "YYYY-MM-DD hh:mm:ss UTC" for seconds since 1970 (the listing and the report both show times so).
std::string UtcText(std::int64_t seconds);
// "YYYY-MM-DDThh:mm:ssZ" (ISO 8601, UTC), as the JSON report writes times.
std::string IsoUtcText(std::int64_t seconds);

// Writes one line of the text report: escaped as halyard escapes its lines, ended in LF (the
// habit of the tools it is scripted with; halyard's CR LF is for its pipeline). Throws
// EWriteError when the write fails.
void Print(std::string_view text);

// Unpacks the archive into a private temporary folder, runs every step of the package check,
// writes the report (text, or one JSON document) and removes the folder. The exit code: 0 when
// every check passes, 1 when one fails, 2 when the package cannot be read.
int InspectPackage(const std::string& argument, bool json);

} // namespace catinspect

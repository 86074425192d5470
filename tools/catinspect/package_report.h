// catinspect --package: the whole package check explained, every step run.
#pragma once

#include <string>

namespace catinspect {

// Unpacks the archive into a private temporary folder, runs every step of the package check,
// writes the report (text, or one JSON document) and removes the folder. The exit code: 0 when
// every check passes, 1 when one fails, 2 when the package cannot be read.
int InspectPackage(const std::string& argument, bool json);

} // namespace catinspect

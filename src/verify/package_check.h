// The package check's own steps.
#pragma once

#include <string>

namespace halyard {

// The OS recorded for the package is among the codes its catalog declaration yields.
bool VerifyFilesWithCatOS(const std::string& workPath, const std::string& os);

namespace unit_main {
// CorrectVersion, then trailing ".0" pairs dropped; "0" becomes the empty text.
std::string CorrectVersionEx(const std::string& ver);
} // namespace unit_main

} // namespace halyard

// The package check's own steps.
#pragma once

#include <string>
#include <vector>

namespace halyard {

// The OS codes the package's catalog declaration yields (cat_file.ini in the work folder),
// widened to every newer release.
std::vector<std::string> CatalogOsCodes(const std::string& workPath);
// The recorded OS is among the codes.
bool OsAmongCodes(const std::vector<std::string>& codes, const std::string& os);

// The OS recorded for the package is among the codes its catalog declaration yields.
bool VerifyFilesWithCatOS(const std::string& workPath, const std::string& os);

namespace unit_main {
// CorrectVersion, then trailing ".0" pairs dropped; "0" becomes the empty text.
std::string CorrectVersionEx(const std::string& ver);
} // namespace unit_main

} // namespace halyard

// SignTool's second opinion on a package: every driver file against the catalog, and the
// catalog's own signature read from SignTool's verbose report.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace halyard {

// Runs a command line in a folder and returns the child's output text (GetDosOutput).
using SigntoolRunner =
    std::function<std::string(const std::string& commandLine, const std::string& work)>;

// How long one SignTool start may take: HALYARD_SIGNTOOL_TIMEOUT seconds (a whole number from 1
// to 86400), else kSigntoolTimeoutSeconds. A start past it is killed and counts as a report that
// could not be read.
inline constexpr int kSigntoolTimeoutSeconds = 60;
int SigntoolTimeoutSeconds();

// "SignTool.exe verify /kp /c "<cat>" "<file>"" for each file, in order; each report must be
// two lines, the second "Successfully verified: <file>". False after one written line. Up to
// atOnce starts run side by side (the runner is then called from several threads at once); the
// first overload runs as many as the platform allows (ConsoleProgramsAtOnce).
bool VerifyFilesWithSigntool(const std::vector<std::string>& driverFiles,
                             const std::string& catFile, const std::string& workPath);
bool VerifyFilesWithSigntool(const std::vector<std::string>& driverFiles,
                             const std::string& catFile, const std::string& workPath,
                             const SigntoolRunner& run, std::size_t atOnce = 1);

// "SignTool.exe verify /v /kp "<cat>"": the report must have 91 or 100 lines with the hardware
// publisher on line 24, an accepted time-stamp signer on line 54 (100) or 45 (91), and a clean
// summary. False after one written line.
bool VerifyCatWithSigntool(const std::string& catFile, const std::string& workPath);
bool VerifyCatWithSigntool(const std::string& catFile, const std::string& workPath,
                           const SigntoolRunner& run);

// The lines of a captured output: trimmed of blanks at both ends, then cut at CR LF, CR or LF.
std::vector<std::string> SplitSigntoolOutput(const std::string& text);

} // namespace halyard

// Which files of an unpacked package are driver files, and their catalog member tags.
#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <string>
#include <vector>

namespace halyard {

// Every file below the work folder (depth first, listing order) except the producer's
// bookkeeping at the top level, everything below InternalLogsDoNotCopyToProduction, and catalogs.
std::vector<std::string> GetDriverFiles(const std::string& path);

// One driver file checked against the catalog.
struct DriverFileCheck {
    std::string path;
    bool trusted = false;
    std::string tag;                          // empty when no tag could be computed
    std::uint32_t trustCode = codes::kNoCode; // when no trust query was made
    std::string reason;                       // in words; empty when the file passes

    // A signed member with a tag: what the package check requires of every driver file.
    bool passes() const { return trusted && !tag.empty(); }
};

// Checks one driver file: a signed member of the catalog (SHA-256 tag, then SHA-1).
DriverFileCheck CheckDriverFile(const std::string& path, const std::string& catFile);

// Checks the files in order; with stopAtFirst the list ends at the first file that does not
// pass.
std::vector<DriverFileCheck> CheckDriverFiles(const std::vector<std::string>& driverFiles,
                                              const std::string& catFile, bool stopAtFirst);

// One member tag per driver file, in order; empty after the first file that is not a signed
// member of the catalog (after a line naming that file).
std::vector<std::string> VerifyAndGetHashes(const std::vector<std::string>& driverFiles,
                                            const std::string& catFile);

// A catalog member that no driver file answers: its file name (the member's "File" attribute)
// and its tags.
struct MissingMember {
    std::string fileName;
    std::vector<std::string> tags;
};

// Explains the membership of a whole package. Members are matched to driver files by tag: a file
// that is no member takes the place of an unmatched member of its name (changed after signing);
// the unmatched members left over are missing from the package, one row per file even when
// files share a name. A file failing with the catalog's digest codes, and a changed file in a
// catalog whose own content was altered, are blamed on the catalog. Refines the reasons of
// checks in place.
std::vector<MissingMember> ExplainMembership(std::vector<DriverFileCheck>& checks,
                                             const std::string& catFile);

} // namespace halyard

// Which files of an unpacked package are driver files, and their catalog member tags.
#pragma once

#include <string>
#include <vector>

namespace halyard {

// Every file below the work folder (depth first, listing order) except the producer's
// bookkeeping at the top level, everything below InternalLogsDoNotCopyToProduction, and catalogs.
std::vector<std::string> GetDriverFiles(const std::string& path);

// One member tag per driver file, in order; empty after the first file that is not a signed
// member of the catalog (after a line naming that file).
std::vector<std::string> VerifyAndGetHashes(const std::vector<std::string>& driverFiles,
                                            const std::string& catFile);

} // namespace halyard

// The three checks the front end runs.
#pragma once

#include <string>

namespace halyard {

// The full check of a package archive (.7z). True: accepted. False: a "wrong:" line was written.
bool Verify(const std::string& archiveName);

// The INF and catalog pair check of a folder. False: failure ("wrong:" written). True with res
// true: accepted signer; true with res false: to be ignored.
bool VerifyInfAndCat(const std::string& path, bool& res);

// The OS declaration of a catalog, or empty text (after its "wrong:" line when there was one).
std::string GetOsFromCat(const std::string& catPath);

} // namespace halyard

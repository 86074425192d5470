// CryptQueryObject for a CTL file: the trust engine reads it (halyard/trust/parse.h).
#include "halyard/trust/parse.h"
#include "platform/ctl.h"

#include <vector>

namespace halyard::platform {

Outcome<CtlQueryResult> CryptQueryObjectCtl(const std::string& path) {
    const auto bytes = trust::ReadCatalogFile(path);
    if (!bytes) {
        // An oversized file is no CTL this layer reads; anything else is the file's own error.
        return Outcome<CtlQueryResult>::failure(
            bytes.error() == codes::kFileTooLarge ? codes::kCryptENoMatch : bytes.error());
    }
    return trust::QueryCtlBytes(*bytes);
}

} // namespace halyard::platform

#include "platform/catalog.h"

namespace halyard::platform {

Outcome<CatalogHandle> CryptCATOpen(const std::string&, std::uint32_t, std::uint32_t) {
    return Outcome<CatalogHandle>::failure(codes::kNotSupported);
}

} // namespace halyard::platform

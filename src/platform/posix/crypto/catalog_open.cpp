#include "crypto/catalog_parser.h"
#include "platform/catalog.h"

namespace halyard::platform {

Outcome<CatalogHandle> CryptCATOpen(const std::string& path, std::uint32_t publicVersion,
                                    std::uint32_t encodingType) {
    auto parsed = ParseCatalogFile(path);
    if (!parsed) {
        return Outcome<CatalogHandle>::failure(parsed.error());
    }
    // The parsed catalog is shared through the cache; each handle gets its own store record.
    auto store = std::make_shared<CatalogStore>(parsed.value()->store);
    store->publicVersion = publicVersion;
    store->encodingType = encodingType != 0 ? encodingType : kX509AsnEncoding | kPkcs7AsnEncoding;
    return Outcome<CatalogHandle>(CatalogHandle(std::move(store)));
}

} // namespace halyard::platform

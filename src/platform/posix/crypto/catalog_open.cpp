#include "halyard/trust/parse.h"
#include "platform/catalog.h"
#include "platform/stamped_cache.h"

#include <utility>

namespace halyard::platform {

Outcome<CatalogHandle> CryptCATOpen(const std::string& path, std::uint32_t publicVersion,
                                    std::uint32_t encodingType) {
    const std::uint32_t encoding =
        encodingType != 0 ? encodingType : kX509AsnEncoding | kPkcs7AsnEncoding;
    // Stores are read-only, so every handle opened the same way from one version of the file
    // shares one: a package check opens its catalog once per driver file, and a copy of
    // thousands of members at each open made the check quadratic in the package.
    static StampedCache<CatalogHandle, std::pair<std::uint32_t, std::uint32_t>> stores(4);
    return stores.get(path, {publicVersion, encoding}, [&]() -> Outcome<CatalogHandle> {
        auto parsed = trust::ParseCatalogFile(path);
        if (!parsed) {
            return Outcome<CatalogHandle>::failure(parsed.error());
        }
        // The parsed catalog is shared through the parse cache; the store record carries the
        // open parameters.
        auto store = std::make_shared<CatalogStore>(parsed.value()->store);
        store->publicVersion = publicVersion;
        store->encodingType = encoding;
        return Outcome<CatalogHandle>(CatalogHandle(std::move(store)));
    });
}

} // namespace halyard::platform

#include "crypto/catalog_parser.h"
#include "platform/catalog.h"

#include <array>
#include <mutex>

namespace halyard::platform {

namespace {

// A store opened from a parsed catalog with given open parameters. Stores are read-only, so
// every handle opened the same way from the same parse shares one: a package check opens its
// catalog once per driver file, and a copy of thousands of members at each open made the check
// quadratic in the package.
struct OpenedStore {
    std::weak_ptr<const ParsedCatalog> parsed;
    std::uint32_t publicVersion = 0;
    std::uint32_t encodingType = 0;
    CatalogHandle store;
};

std::mutex gOpenedMutex;
std::array<OpenedStore, 4> gOpened;
std::size_t gNextOpened = 0;

} // namespace

Outcome<CatalogHandle> CryptCATOpen(const std::string& path, std::uint32_t publicVersion,
                                    std::uint32_t encodingType) {
    auto parsed = ParseCatalogFile(path);
    if (!parsed) {
        return Outcome<CatalogHandle>::failure(parsed.error());
    }
    const std::shared_ptr<const ParsedCatalog>& catalog = parsed.value();
    const std::uint32_t encoding =
        encodingType != 0 ? encodingType : kX509AsnEncoding | kPkcs7AsnEncoding;
    const std::lock_guard lock(gOpenedMutex);
    for (const OpenedStore& opened : gOpened) {
        if (opened.store && opened.publicVersion == publicVersion &&
            opened.encodingType == encoding && opened.parsed.lock() == catalog) {
            return Outcome<CatalogHandle>(opened.store);
        }
    }
    // The parsed catalog is shared through the parse cache; the store record carries the open
    // parameters.
    auto store = std::make_shared<CatalogStore>(catalog->store);
    store->publicVersion = publicVersion;
    store->encodingType = encoding;
    gOpened[gNextOpened] = {catalog, publicVersion, encoding, store};
    gNextOpened = (gNextOpened + 1) % gOpened.size();
    return Outcome<CatalogHandle>(CatalogHandle(std::move(store)));
}

} // namespace halyard::platform

// WinVerifyTrust through a catalog and the catalog's own signature: the trust engine decides
// (halyard/trust/verify.h) with the process's trust folder and the clock, and a catalog's
// signature is judged once per version of its file in a process.
#include "halyard/trust/verify.h"
#include "platform/stamped_cache.h"
#include "platform/trust.h"

#include <ctime>

namespace halyard::platform {

namespace {

StampedCache<CatalogSignatureReport> verdictCache(8);

CatalogSignatureReport CachedSignatureReport(const std::string& path,
                                             const trust::ParsedCatalog& catalog) {
    return verdictCache.get(path, 0, [&catalog] {
        return trust::VerifyParsedCatalogSignature(catalog, trust::ProcessTrustAnchors(),
                                                   std::time(nullptr));
    });
}

} // namespace

std::uint32_t WinVerifyTrustCatalogMember(const CatalogMemberTrustRequest& request) {
    return trust::VerifyCatalogMember(request, [&](const trust::ParsedCatalog& catalog) {
        return CachedSignatureReport(request.catalogFilePath, catalog).status;
    });
}

CatalogSignatureReport VerifyCatalogSignature(const std::string& catalogPath) {
    const auto parsed = trust::ParseCatalogFile(catalogPath);
    if (!parsed) {
        CatalogSignatureReport report;
        report.status = trust::CatalogFileFailureCode(parsed.error());
        return report;
    }
    return CachedSignatureReport(catalogPath, **parsed);
}

} // namespace halyard::platform

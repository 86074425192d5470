// Trust verification through a catalog with a chosen set of roots and a chosen current time
// (the seam functions use the process's trust folder and the clock). Internal to the POSIX
// backend; tests use it for roots and revocation lists of their own.
#pragma once

#include "crypto/catalog_parser.h"
#include "crypto/trust_store.h"
#include "platform/trust.h"

#include <ctime>
#include <functional>

namespace halyard::platform {

// The catalog's signature, its signer's chain and its time stamp; not cached.
CatalogSignatureReport VerifyParsedCatalogSignature(const ParsedCatalog& catalog,
                                                    const TrustAnchors& anchors, std::time_t now);

// WinVerifyTrustCatalogMember with these roots and this time; the catalog's signature is not
// taken from the process cache.
std::uint32_t VerifyCatalogMemberWith(const CatalogMemberTrustRequest& request,
                                      const TrustAnchors& anchors, std::time_t now);

// WinVerifyTrustCatalogMember on a catalog the caller parsed (request.catalogFilePath names
// it), with the catalog's signature status given by the caller (called only once the member and
// its digest are found).
std::uint32_t
VerifyCatalogMemberIn(const ParsedCatalog& catalog, const CatalogMemberTrustRequest& request,
                      const std::function<std::uint32_t(const ParsedCatalog&)>& signatureStatus);

// Until when a signature verdict reached at `now` holds as long as the catalog and the anchors
// stay the same: forever when the signer's chain was judged at a verified time stamp's time,
// else until the first validity boundary after now of a catalog certificate, a loaded root or
// a CRL.
std::time_t SignatureVerdictStableUntil(const ParsedCatalog& catalog, const TrustAnchors& anchors,
                                        const CatalogSignatureReport& report, std::time_t now);

// The trust code of a catalog that could not be read (the code ParseCatalogFile or CryptCATOpen
// failed with). Every file error (a Win32 code: missing, unreadable, no regular file, above the
// size cap) is CRYPT_E_FILE_ERROR, as WinVerifyTrust reports it and the Setup API passes it on;
// the parser's codes for a file that is no catalog (HRESULTs) stand.
std::uint32_t CatalogFileFailureCode(std::uint32_t openError);

// How many catalog signatures this process has verified (the cache spares repeats).
std::uint64_t CatalogSignatureVerificationCount();

} // namespace halyard::platform

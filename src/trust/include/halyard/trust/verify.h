// The trust engine's verify side: the trusted roots (the POSIX stand-in for the Windows root
// store), chains built and judged to them with the Windows trust code of the outcome, the
// signatures of catalogs and their time stamps, and WinVerifyTrust's decision for a catalog member.
// Every check answers a code (0, or the code Windows reports); parsing is parse.h's.
#pragma once

#include "halyard/trust/ossl_ptr.h"
#include "halyard/trust/parse.h"
#include "platform/trust.h"

#include <cstdint>
#include <ctime>
#include <functional>
#include <span>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace halyard::trust {

// What the platform's trust services ask and report (platform/trust.h).
using platform::CatalogMemberTrustRequest;
using platform::CatalogSignatureReport;
using platform::CertificateSummary;
using platform::TrustFolder;
using platform::TrustFolderChoice;
using platform::TrustFolders;

// The roots (and CRLs) of one trust folder. Certificates are indexed by subject when the folder is
// read and parsed only when a chain needs them: a run that checks one catalog pays for the one or
// two roots it uses, not for the whole folder.
class TrustAnchors {
public:
    // Reads every .pem, .crt, .cer (PEM or DER certificates, PEM files may also hold CRLs) and
    // .crl file of the folder; unreadable files and other entries are passed over.
    explicit TrustAnchors(const std::string& folder);
    // Several folders, the first one's roots preferred: a root whose subject an earlier folder
    // already holds is passed over.
    explicit TrustAnchors(const std::vector<std::string>& folders);
    TrustAnchors(const TrustAnchors&) = delete;
    TrustAnchors& operator=(const TrustAnchors&) = delete;

    // The store, holding at least every root that may have issued one of these certificates.
    X509_STORE* storeFor(X509* leaf, const std::vector<X509*>& untrusted) const;
    bool hasCrls() const { return crlCount_ > 0; }
    // The earliest validity boundary after `now` (a loaded root's notBefore or notAfter, a CRL's
    // thisUpdate or nextUpdate): until then, checks against these anchors come out the same.
    std::time_t nextChangeAfter(std::time_t now) const;
    std::size_t certificateCount() const { return certificates_.size(); }

private:
    struct Anchor {
        std::string der;
        bool aux = false;    // a "TRUSTED CERTIFICATE" with trust settings after it
        bool loaded = false; // parsed and in the store
    };
    void read(const std::string& folder);
    void index(std::string der, bool aux);
    void addCrl(const std::string& der);
    void loadIssuersOf(X509* cert, int depth) const;

    X509StorePtr store_;
    mutable std::vector<Anchor> certificates_;
    std::unordered_multimap<unsigned long, std::size_t> bySubject_;
    std::unordered_set<unsigned long> shadowed_; // while reading: subjects of earlier folders
    std::size_t crlCount_ = 0;
};

// SHA-256 over every file TrustAnchors would read in these folders (folder, name, content, in
// name order): any root or CRL added, removed or changed gives another digest.
std::vector<std::uint8_t> TrustFoldersDigest(const std::vector<std::string>& folders);

// SHA-256 over what the file system says of those same folders and files, without reading them:
// each one's device, inode, size, mode, modification and change times (of a link and of what it
// points to). A file rewritten in place changes its change time, which no user can set back.
// `settled` is false when something changed within the last two seconds, too recently for the
// stamp to tell a later change in the same clock tick apart.
std::vector<std::uint8_t> TrustFoldersStamp(const std::vector<std::string>& folders,
                                            std::time_t now, bool& settled);

// The anchors of TrustFolder(), read once per process.
const TrustAnchors& ProcessTrustAnchors();

struct ChainResult {
    std::uint32_t status = 0;              // 0, or the Windows trust code (trust_faults.h)
    std::vector<CertificateSummary> chain; // root first, as far as it could be built
};

// Builds and checks the chain of leaf to a root of the anchors, with the untrusted certificates as
// intermediates, validity at the given time, the usage on every certificate that restricts
// usages, and revocation against the anchors' CRLs.
ChainResult VerifyChain(const TrustAnchors& anchors, X509* leaf,
                        const std::vector<X509*>& untrusted, std::time_t at, const char* usageOid);

// The certificate of the list with that issuer and serial number, or nullptr.
X509* FindCertificate(const std::vector<X509*>& certs, const X509_NAME* issuer,
                      const ASN1_INTEGER* serial);

CertificateSummary Summarize(X509* cert);

// Verifies a SignerInfo given as its stored DER over content as Windows' CryptoAPI does (legacy
// forms it accepts included): the digest algorithm it names, the messageDigest attribute against
// the content's digest and the signature over the signed attributes (or over the content when
// there are none), with the signer's public key.
bool VerifySignerInfo(std::span<const std::uint8_t> signerInfoDer, X509* signer,
                      std::span<const std::uint8_t> content);

// Catalogs: trust verification through a catalog with a chosen set of roots and a chosen
// current time (the seam's functions use the process's trust folder and the clock).
// The catalog's signature, its signer's chain and its time stamp; not cached.
CatalogSignatureReport VerifyParsedCatalogSignature(const ParsedCatalog& catalog,
                                                    const TrustAnchors& anchors, std::time_t now);

// WinVerifyTrustCatalogMember with the catalog's signature status given by the caller (called
// only once the catalog is read and the member and its digest are found).
std::uint32_t
VerifyCatalogMember(const CatalogMemberTrustRequest& request,
                    const std::function<std::uint32_t(const ParsedCatalog&)>& signatureStatus);

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

} // namespace halyard::trust

// Trust verification (WinVerifyTrust with WINTRUST_ACTION_GENERIC_VERIFY_V2 and a catalog
// record) and the signature details of a catalog for reports.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halyard::platform {

// WINTRUST_CATALOG_INFO with the fields the system sets; revocation checks the whole chain.
struct CatalogMemberTrustRequest {
    std::string catalogFilePath;
    std::string memberTag;
    std::string memberFilePath;
};

// 0 when the file is trusted as that member of the catalog, else the trust code Windows returns
// (TRUST_E_NOSIGNATURE, TRUST_E_BAD_DIGEST, CERT_E_UNTRUSTEDROOT, CERT_E_CHAINING, ...).
std::uint32_t WinVerifyTrustCatalogMember(const CatalogMemberTrustRequest& request);

// One certificate as reports show it.
struct CertificateSummary {
    std::string issuedTo; // simple display name of the subject (CN, else OU, else O, else e-mail)
    std::string issuedBy; // simple display name of the issuer
    std::int64_t notAfter = 0; // seconds since 1970-01-01 UTC
    std::string sha1Hex;       // upper-case thumbprint
};

// The catalog's own signature: status and chains, root first.
struct CatalogSignatureReport {
    std::uint32_t status = 0; // 0 when the signature and its chain are trusted
    std::vector<CertificateSummary> signingChain;
    std::optional<std::int64_t> timestamp; // seconds since 1970-01-01 UTC, when time-stamped
    std::vector<CertificateSummary> timestampChain;
};

CatalogSignatureReport VerifyCatalogSignature(const std::string& catalogPath);

// The folder of trusted roots the program ships (the POSIX stand-in for the root store):
// "trust" beside the program in a build tree, <prefix>/share/halyard/trust when installed.
// Empty on Windows, which uses the system's store.
std::string TrustFolder();

// Every folder of trusted roots that is read, the administrator's first: when both hold roots with
// the same subject, the administrator's are used and the shipped ones are passed over. Empty on
// Windows.
std::vector<std::string> TrustFolders();

// The caller's own trust folders: a full path, or several separated by ':'. When set (not empty)
// they replace the installed folders for the run, the helpers it starts included (they inherit the
// environment). A relative entry is not used: the helpers run in other folders, where it would
// name something else.
inline constexpr const char* kTrustDirVariable = "HALYARD_TRUST_DIR";

// The folders in use and where they come from, for the usage text.
struct TrustFolderChoice {
    std::vector<std::string> folders; // as TrustFolders() answers
    bool fromVariable = false;        // kTrustDirVariable named them
    std::vector<std::string> unused;  // its relative entries
};
const TrustFolderChoice& ChosenTrustFolders();

} // namespace halyard::platform

// Microsoft's root program list (authroot.stl): a signed certificate trust list whose entries
// name root certificates by their SHA-1 thumbprint and carry, as attributes, the properties
// Windows gives each root, among them the uses it is trusted for.
#pragma once

#include <cstdint>
#include <ctime>
#include <set>
#include <string>
#include <vector>

namespace halyard::trust_roots {

// The usage a list signer must be allowed (szOID_ROOT_LIST_SIGNER).
inline constexpr const char* kOidRootListSigner = "1.3.6.1.4.1.311.10.3.9";
// CERT_ENHKEY_USAGE_PROP_ID (9) as a list attribute: the uses the root is trusted for.
inline constexpr const char* kOidEnhancedKeyUsageProperty = "1.3.6.1.4.1.311.10.11.9";
inline constexpr const char* kOidCodeSigning = "1.3.6.1.5.5.7.3.3";
inline constexpr const char* kOidTimeStamping = "1.3.6.1.5.5.7.3.8";

struct RootEntry {
    std::string sha1Hex;          // upper-case hex of the entry's identifier
    bool allUses = false;         // no usage property: trusted for every use
    std::set<std::string> usages; // otherwise the usages the property names
    bool enabledForCodeSigning() const;
};

struct RootList {
    std::time_t thisUpdate = 0;
    std::vector<RootEntry> entries;
};

// Reads the list and verifies its signature: the signer's signature over the list, and the
// signer's chain, at the list's own date, to a root of rootsFolder with the root list signer
// usage. Throws std::runtime_error saying why when the file is not such a list or the signature
// does not hold.
RootList ReadVerifiedRootList(const std::string& path, const std::string& rootsFolder);

} // namespace halyard::trust_roots

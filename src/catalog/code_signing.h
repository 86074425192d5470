// Signature verification of a driver file through a catalog: the member tag, then the platform
// trust service, SHA-256 first and SHA-1 after.
#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <string>

namespace halyard {

// What IsCodeSigned found: the verdict, the member tag it used and the trust code.
struct [[nodiscard]] CodeSigningResult {
    bool trusted = false;
    // The member tag of the attempt that gave the verdict (the SHA-1 tag after a fallback);
    // empty when no tag could be computed.
    std::string tag;
    // The trust code of that attempt's trust query (0 when trusted), or kNoCode when it made
    // none (no catalog, no tag).
    std::uint32_t trustCode = codes::kNoCode;

    explicit operator bool() const { return trusted; }
};

// Whether the platform trusts the file as a member of the catalog. algorithm: CALG_SHA_256
// (falls back to CALG_SHA1 when the trust query fails) or CALG_SHA1.
CodeSigningResult IsCodeSigned(const std::string& filename, const std::string& catFile,
                               std::uint32_t alg);

// The platform's symbolic name of a trust code as the failure report gives it (for the few codes
// it names), or the code as eight upper-case hex digits.
std::string TrustResultName(std::uint32_t code);

// A trust code in a few words, for reports that explain a failure: the code's reason in the code
// table ("not a member of the catalog", "signer not trusted", ...), else "not trusted (<name>)";
// empty for 0.
std::string TrustCodeReason(std::uint32_t code);

} // namespace halyard

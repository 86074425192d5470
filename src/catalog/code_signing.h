// Signature verification of a driver file through a catalog: the member tag, then the platform
// trust service, SHA-256 first and SHA-1 after.
#pragma once

#include <cstdint>
#include <string>

namespace halyard {

// The member tag of the last IsCodeSigned call: emptied on entry, set as soon as the tag is
// known (before the trust query). Read right after the call.
extern std::string LastCodeSigningTag;

// The trust code of the last trust query IsCodeSigned made (0 when trusted), or 0xFFFFFFFF when
// the last call made none (no catalog, no tag). Read right after the call.
extern std::uint32_t LastTrustResult;

// True when the platform trusts the file as a member of the catalog. algorithm: CALG_SHA_256
// (falls back to CALG_SHA1 when the trust query fails) or CALG_SHA1.
bool IsCodeSigned(const std::string& filename, const std::string& catFile, std::uint32_t alg);

// The platform's symbolic name of a trust code as the failure report gives it, or the code as
// eight upper-case hex digits.
std::string TrustResultName(std::uint32_t code);

} // namespace halyard

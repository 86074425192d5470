// The faults a certificate chain can have and their rank: when several hold at once, the one
// ranked highest gives the Windows trust code, as WinVerifyTrust's policy ranks the chain's
// error status.
#pragma once

#include "private.h"

#include <bitset>
#include <cstdint>
#include <optional>

namespace halyard::trust {

// Highest rank first.
enum class ChainFault : unsigned {
    Signature,         // a certificate's signature is false
    UntrustedRoot,     // the self-signed top is not among the trusted roots
    Time,              // a certificate is not valid at the time of the check
    Revoked,           // revoked by a CRL of the trust folder
    RevocationFailure, // a CRL of the trust folder cannot be checked
    Usage,             // a certificate's extended key usage excludes the usage asked for
    Critical,          // an unknown critical extension
    BasicConstraints,  // CA flag, path length or key usage of an issuer
    Chaining,          // no issuer found (partial chain), or any other fault
    Distrust,          // rejected by the store
    Count
};

using ChainFaults = std::bitset<static_cast<std::size_t>(ChainFault::Count)>;

inline void Add(ChainFaults& faults, ChainFault fault) {
    faults.set(static_cast<std::size_t>(fault));
}

// The fault an OpenSSL verification error stands for; none for the errors that are not held
// against a chain (a CRL that is missing or stale: there is no network to fetch a fresh one).
std::optional<ChainFault> ChainFaultOf(int verifyError);

// The Windows trust code of the highest-ranked fault, or 0 when there is none.
std::uint32_t TrustCodeOf(const ChainFaults& faults);

} // namespace halyard::trust

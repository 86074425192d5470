// The chain checks' small helpers, shared by the engine's verification files and its tests.
#pragma once

#include "halyard/trust/verify.h"
#include "private.h"

#include <cstdint>
#include <span>
#include <vector>

namespace halyard::trust {

// Usages a chain is checked for.
inline constexpr const char* kOidCodeSigningUsage = "1.3.6.1.5.5.7.3.3";
inline constexpr const char* kOidTimeStampingUsage = "1.3.6.1.5.5.7.3.8";

// An ASN.1 time as seconds since 1970; false when it cannot be read.
bool AsnTimeToUnix(const ASN1_TIME* time, std::int64_t& out);

// A digest of the data with the algorithm an object identifier names; empty when unknown.
std::vector<std::uint8_t> DigestWith(const ASN1_OBJECT* algorithm,
                                     std::span<const std::uint8_t> data);

} // namespace halyard::trust

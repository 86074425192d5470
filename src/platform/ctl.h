// CryptQueryObject for a certificate trust list file, and the CTL's ThisUpdate.
#pragma once

#include "base/outcome.h"

#include <cstdint>
#include <string>

namespace halyard::platform {

inline constexpr std::uint32_t kCertQueryContentCtl = 2;

// FILETIME: 100-nanosecond intervals since 1601-01-01 UTC.
using FileTime = std::uint64_t;

struct CtlQueryResult {
    std::uint32_t contentType = 0; // CERT_QUERY_CONTENT_CTL for a CTL
    FileTime thisUpdate = 0;
};

// Reads the file as a CTL in DER or Base64 form; fails with the code Windows leaves
// (CRYPT_E_NO_MATCH for other content, the file error for an unreadable file).
Outcome<CtlQueryResult> CryptQueryObjectCtl(const std::string& path);

} // namespace halyard::platform

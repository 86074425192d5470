// The catalog member tag of a file: the hex text of the digest its subject interface package
// computes for catalog signing, with the catalog administrator's hash and the plain SHA-1 as
// fallbacks. The subject description is shared with the SignTool stand-in, which computes the
// same tags without the diagnostics.
#pragma once

#include "base/outcome.h"
#include "platform/sip.h"

#include <cstdint>
#include <string>

namespace halyard {

inline constexpr std::uint32_t CALG_SHA_256 = platform::kCalgSha256;
inline constexpr std::uint32_t CALG_SHA1 = platform::kCalgSha1;

// What the subject interface package hashes for a tag of algorithm alg: the file, its subject
// package (the flat one for script and installer extensions, else the one the platform
// recognises, else the flat one), the digest algorithm and the flags of catalog signing.
platform::SipSubjectInfo CatFileSubject(const std::string& fileName, std::uint32_t alg,
                                        std::uint32_t encodingType);

// The tag, or a failure after a diagnostic line (silent when the SHA-256 fallback finds no
// hash) carrying the code the platform left as its last error (0 when it left none).
// Exceptions of TryGetFileHash pass through.
Outcome<std::string> CalcCatFileTag(const std::string& catFile, const std::string& fileName,
                                    std::uint32_t alg);

} // namespace halyard

// The catalog member tag of a file: the hex text of the digest its subject interface package
// computes for catalog signing, with the catalog administrator's hash and the plain SHA-1 as
// fallbacks.
#pragma once

#include <cstdint>
#include <string>

namespace halyard {

inline constexpr std::uint32_t CALG_SHA_256 = 0x800C;
inline constexpr std::uint32_t CALG_SHA1 = 0x8004;

// True with the tag in hash; false after a diagnostic line (or silently when the SHA-256
// fallback finds no hash). Exceptions of TryGetFileHash pass through.
bool CalcCatFileTag(const std::string& catFile, const std::string& fileName, std::string& hash,
                    std::uint32_t alg);

// The same, also giving the code the platform left as its last error when the result is false.
bool CalcCatFileTag(const std::string& catFile, const std::string& fileName, std::string& hash,
                    std::uint32_t alg, std::uint32_t& lastError);

} // namespace halyard

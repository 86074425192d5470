// Digests and their text form: the fingerprint over member tags, a file's SHA-1, hex text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace halyard {

// Sorts the list (en-US, ignoring case) and returns the SHA-1 text of the sorted items joined
// by CR LF, without a line break after the last.
std::string GenerateHash(std::vector<std::string>& list);

// The SHA-1 text of a file's content; throws EFOpenError when it cannot be opened.
std::string TryGetFileHash(const std::string& path);

// Upper-case hex text of the first len bytes; empty when len is 0 or less.
std::string BytesToHex(const std::uint8_t* bytes, std::ptrdiff_t len);
std::string BytesToHex(const std::vector<std::uint8_t>& bytes);

} // namespace halyard

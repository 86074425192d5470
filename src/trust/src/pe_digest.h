// Digests of a file as the subject packages compute them: the Authenticode PE image digest and
// the flat digest, SHA-1 or SHA-256 in a streaming pass, with a small cache of the last files
// hashed so that the member tag and the trust check share one pass over each file.
// Internal to the POSIX backend (subject packages, trust verification).
#pragma once

#include "base/outcome.h"
#include "platform/hash.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace halyard::platform {

// Where the three ranges that the PE image digest leaves out lie in a file.
struct PeLayout {
    std::uint64_t fileSize = 0;
    std::uint64_t checksumOffset = 0;      // optional header + 64, 4 bytes
    std::uint64_t certDirectoryOffset = 0; // the Certificate Table entry, 8 bytes
    std::uint64_t certTableOffset = 0;     // a file offset; 0 with size 0 for an unsigned image
    std::uint64_t certTableSize = 0;
    bool hasCertTable() const { return certTableSize != 0; }
};

// Reads up to size bytes at offset; returns the count read (fewer at the end of the file).
using ReadAtFn = std::function<std::size_t(std::uint64_t offset, void* buffer, std::size_t size)>;

// The layout of a PE image, or nothing when the bytes are not one: no "MZ", no "PE\0\0" at
// e_lfanew, an optional-header magic other than 0x10B/0x20B, fewer than 5 data directories, or a
// certificate table that overlaps the headers or runs past the end of the file.
std::optional<PeLayout> ParsePeLayout(const ReadAtFn& readAt, std::uint64_t fileSize);
std::optional<PeLayout> ParsePeLayout(std::span<const std::uint8_t> image);

enum class SubjectDigestKind { PeImage, Flat };

struct FileDigests {
    std::vector<std::uint8_t> sha1;
    std::vector<std::uint8_t> sha256;
};

// Both digests of a whole in-memory image (tests, fuzzing). PeImage fails with ERROR_BAD_FORMAT
// for bytes that are not a PE image.
Outcome<FileDigests> ComputeDigestsOfBytes(std::span<const std::uint8_t> bytes,
                                           SubjectDigestKind kind);

// One digest of a file, streamed (never read whole): only the algorithm asked for is computed
// (a SHA-256 catalog never needs the SHA-1 pass). Served from the cache when the file's path and
// FileStamp match a recent computation of that kind and algorithm. Fails with the file's Win32
// code when it cannot be opened, ERROR_BAD_FORMAT when a PE digest is asked of a file that is
// not a PE image, and STATUS_IN_PAGE_ERROR when reading fails or the file shrinks while it is
// hashed.
Outcome<std::vector<std::uint8_t>> FileDigestOf(const std::string& path, SubjectDigestKind kind,
                                                DigestAlgorithm alg);

// True when the file opens and is a PE image (headers only are read). Fails with the file's code.
Outcome<bool> IsPeImageFile(const std::string& path);

// How many passes over file content the digest functions have made in this process (tests
// and benchmarks check that the cache spares the second pass).
std::uint64_t DigestPassCount();

} // namespace halyard::platform

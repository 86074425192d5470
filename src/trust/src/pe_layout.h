// The PE image's layout and digests of bytes in memory: what the subject digests of parse.h are
// made of, for the engine, its tests and its fuzzers.
#pragma once

#include "halyard/trust/parse.h"
#include "private.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

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

// Both digests of a whole in-memory image (tests, fuzzing). PeImage fails with ERROR_BAD_FORMAT
// for bytes that are not a PE image.
Outcome<FileDigests> ComputeDigestsOfBytes(std::span<const std::uint8_t> bytes,
                                           SubjectDigestKind kind);

// How many passes over file content the digest functions have made in this process (tests
// and benchmarks check that the cache spares the second pass).
std::uint64_t DigestPassCount();

} // namespace halyard::platform

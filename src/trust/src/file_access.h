// The engine's only ways into the file system, kept in one file per operating system
// (posix/file_access.cpp) so that the rest of the engine is portable. Every failure is the Win32
// code Windows would leave.
#pragma once

#include "base/outcome.h"
#include "platform/hash.h"
#include "private.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace halyard::trust {

// A whole file, opened as the platform opens its inputs (a regular file only, links followed,
// never blocking) and read within the cap (ERROR_FILE_TOO_LARGE above it).
Outcome<std::vector<std::uint8_t>> ReadFileWithin(const std::string& path, std::uint64_t cap);

// A file read in pieces at given offsets (the subject digests stream a file, never reading it
// whole), opened as ReadFileWithin opens it.
class PieceReader {
public:
    explicit PieceReader(const std::string& path);
    ~PieceReader();
    PieceReader(const PieceReader&) = delete;
    PieceReader& operator=(const PieceReader&) = delete;

    // The code of the open, or of the last read that failed; 0 while all is well.
    std::uint32_t error() const { return error_; }
    // The size when the file was opened.
    std::uint64_t size() const { return size_; }
    // Fewer bytes than asked only at the end of the file; a read error sets error().
    std::size_t readAt(std::uint64_t offset, void* buffer, std::size_t size);

private:
    std::intptr_t handle_ = -1; // descriptor (POSIX) or HANDLE (Windows)
    std::uint64_t size_ = 0;
    std::uint32_t error_ = 0;
};

// Roots and CRLs by their extension, in any letter case.
bool IsTrustFileName(const std::string& name);
// One field of a trust-folder digest, its length first.
void DigestField(platform::Digest& digest, std::string_view field);

// Feeds the digest with what the file system says of each folder and of each of its trust files
// (names in order): its identity, size, mode, modification and change times, those of a link's
// target too, without reading the files. settled turns false for anything changed within the last
// two seconds of now.
void DigestTrustFolderStamps(platform::Digest& digest, const std::vector<std::string>& folders,
                             std::time_t now, bool& settled);

} // namespace halyard::trust

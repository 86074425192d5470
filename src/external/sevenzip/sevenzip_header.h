// A look at a 7z archive's headers before the 7-Zip library reads them. The library allocates
// what the headers declare (the unpacked header, tables per item and per stream) before it
// finds out that the data is not there, so a few KiB of archive can cost it gigabytes. This
// reads the start header, the header's declared sizes and the counts of items and streams, and
// refuses an archive that would pass a bound. It finds the archive where the library finds it
// (also behind a prefix, and the library's recovery of an empty start header) so that both look
// at the same header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace halyard {

// The most bytes an archive's header may take unpacked (and packed): a header for the most
// items a package may hold, with long names and every time stamp, is a few MiB.
inline constexpr std::uint64_t kMaxHeaderBytes = std::uint64_t{16} << 20;
// The most folders and unpacked streams the header may declare, and a quarter of the packed
// streams (every stream is an item's data, and a package holds at most kMaxArchiveItems items).
inline constexpr std::uint64_t kMaxHeaderStreams = 65536;
// How far into the file the library looks for the signature.
inline constexpr std::uint64_t kSevenZipSignatureSearch = 1048576;

// Reads up to size bytes at offset into data; returns how many it read (fewer only at the end).
using ArchiveReadAt =
    std::function<std::size_t(std::uint64_t offset, void* data, std::size_t size)>;

struct SevenZipHeaderCheck {
    enum class Verdict {
        Pass,   // nothing found past a bound; the library is to read the archive
        Refuse, // reason says why
        Decode, // the header is encoded: decode headerArchive, then CheckSevenZipPlainHeader
    };
    Verdict verdict = Verdict::Pass;
    std::string reason;
    // For Decode: a small 7z archive of its own whose one item is the encoded header, and the
    // item's declared size (at most kMaxHeaderBytes).
    std::vector<std::uint8_t> headerArchive;
    std::uint64_t headerSize = 0;
};

// Looks at the archive of fileSize bytes. An archive the library would not open at all (no
// signature, a wrong version, a header that fails its CRC or ends early) passes: the library
// says what is wrong with it.
SevenZipHeaderCheck CheckSevenZipStart(std::uint64_t fileSize, const ArchiveReadAt& readAt);

// Checks a plain header (its first byte is the header property): the declared counts and the
// sizes of streams it would unpack into memory. Empty when it is within the bounds, else the
// reason of the refusal.
std::string CheckSevenZipPlainHeader(std::span<const std::uint8_t> header);

// Appends value as a 7z NUMBER (the leading one bits of the first byte count the bytes after it).
void AppendSevenZipNumber(std::vector<std::uint8_t>& out, std::uint64_t value);

// CRC-32 as 7z uses it.
std::uint32_t SevenZipCrc32(const std::uint8_t* data, std::size_t size);

} // namespace halyard

#include "file_access.h"
#include "halyard/trust/parse.h"
#include "platform/files.h"
#include "platform/hash.h"
#include "platform/stamped_cache.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <optional>

namespace halyard::trust {

namespace {

using namespace codes;

std::atomic<std::uint64_t> digestPasses{0};

std::uint32_t ReadLe32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint16_t ReadLe16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// A range of the file that the digest leaves out.
struct Gap {
    std::uint64_t offset;
    std::uint64_t size;
};

// The ranges to skip and the zero padding to append, for one kind of digest.
struct DigestPlan {
    std::array<Gap, 3> gaps{};
    std::size_t gapCount = 0;
    std::uint64_t padding = 0;
};

DigestPlan PlanFor(const PeLayout& layout) {
    DigestPlan plan;
    plan.gaps[plan.gapCount++] = {layout.checksumOffset, 4};
    plan.gaps[plan.gapCount++] = {layout.certDirectoryOffset, 8};
    if (layout.hasCertTable()) {
        // A table followed by further bytes: only the table is left out and the trailing bytes
        // are hashed, so anything appended after signing changes the digest.
        plan.gaps[plan.gapCount++] = {layout.certTableOffset, layout.certTableSize};
    } else {
        // An unsigned image is hashed as if padded with zeros to a multiple of 8, as signing
        // would pad it.
        plan.padding = (8 - layout.fileSize % 8) % 8;
    }
    return plan;
}

// Feeds [0, size) minus the gaps to each digest, reading through readAt in blocks.
bool StreamDigests(const ReadAtFn& readAt, std::uint64_t size, const DigestPlan& plan,
                   std::span<Digest* const> digests) {
    digestPasses.fetch_add(1, std::memory_order_relaxed);
    std::vector<std::uint8_t> buffer(1 << 16);
    const auto feed = [&](const std::uint8_t* data, std::size_t n) {
        for (Digest* digest : digests) {
            digest->update(data, n);
        }
    };
    std::uint64_t pos = 0;
    std::size_t gap = 0;
    while (pos < size) {
        if (gap < plan.gapCount && pos >= plan.gaps[gap].offset) {
            pos = std::max(pos, plan.gaps[gap].offset + plan.gaps[gap].size);
            ++gap;
            continue;
        }
        std::uint64_t end = size;
        if (gap < plan.gapCount) {
            end = std::min(end, plan.gaps[gap].offset);
        }
        const std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(end - pos, buffer.size()));
        const std::size_t got = readAt(pos, buffer.data(), want);
        if (got != want) {
            return false; // the file shrank or could not be read
        }
        feed(buffer.data(), got);
        pos += got;
    }
    if (plan.padding > 0) {
        const std::array<std::uint8_t, 8> zeros{};
        feed(zeros.data(), static_cast<std::size_t>(plan.padding));
    }
    return true;
}

platform::StampedCache<std::vector<std::uint8_t>, std::pair<SubjectDigestKind, DigestAlgorithm>>
    digestCache(16);

} // namespace

std::optional<PeLayout> ParsePeLayout(const ReadAtFn& readAt, std::uint64_t fileSize) {
    std::array<std::uint8_t, 64> dos{};
    if (fileSize < dos.size() || readAt(0, dos.data(), dos.size()) != dos.size()) {
        return std::nullopt;
    }
    if (dos[0] != 'M' || dos[1] != 'Z') {
        return std::nullopt;
    }
    const std::uint64_t peOffset = ReadLe32(&dos[0x3C]);
    // Signature (4), file header (20), then the optional header up to the end of the
    // Certificate Table entry of PE32+ (152).
    std::array<std::uint8_t, 24 + 152> head{};
    const std::size_t got = readAt(peOffset, head.data(), head.size());
    if (got < 24 + 2 || std::memcmp(head.data(), "PE\0\0", 4) != 0) {
        return std::nullopt;
    }
    const std::uint16_t optionalHeaderSize = ReadLe16(&head[4 + 16]);
    const std::uint8_t* opt = &head[24];
    const std::uint16_t magic = ReadLe16(opt);
    std::size_t countOffset = 0;
    std::size_t certEntry = 0;
    if (magic == 0x10B) {
        countOffset = 92;
        certEntry = 128;
    } else if (magic == 0x20B) {
        countOffset = 108;
        certEntry = 144;
    } else {
        return std::nullopt;
    }
    if (got < 24 + certEntry + 8 || optionalHeaderSize < certEntry + 8) {
        return std::nullopt;
    }
    if (ReadLe32(opt + countOffset) < 5) {
        return std::nullopt;
    }
    PeLayout layout;
    layout.fileSize = fileSize;
    const std::uint64_t optOffset = peOffset + 24;
    layout.checksumOffset = optOffset + 64;
    layout.certDirectoryOffset = optOffset + certEntry;
    if (layout.certDirectoryOffset + 8 > fileSize) {
        return std::nullopt;
    }
    const std::uint64_t tableOffset = ReadLe32(opt + certEntry);
    const std::uint64_t tableSize = ReadLe32(opt + certEntry + 4);
    if (tableOffset != 0 && tableSize != 0) {
        if (tableOffset < layout.certDirectoryOffset + 8 || tableOffset + tableSize > fileSize) {
            return std::nullopt;
        }
        layout.certTableOffset = tableOffset;
        layout.certTableSize = tableSize;
    }
    return layout;
}

std::optional<PeLayout> ParsePeLayout(std::span<const std::uint8_t> image) {
    const ReadAtFn readAt = [image](std::uint64_t offset, void* buffer, std::size_t size) {
        if (offset >= image.size()) {
            return std::size_t{0};
        }
        const std::size_t n =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, image.size() - offset));
        std::memcpy(buffer, image.data() + offset, n);
        return n;
    };
    return ParsePeLayout(readAt, image.size());
}

Outcome<FileDigests> ComputeDigestsOfBytes(std::span<const std::uint8_t> bytes,
                                           SubjectDigestKind kind) {
    DigestPlan plan;
    if (kind == SubjectDigestKind::PeImage) {
        const auto layout = ParsePeLayout(bytes);
        if (!layout) {
            return Outcome<FileDigests>::failure(kBadFormat);
        }
        plan = PlanFor(*layout);
    }
    const ReadAtFn readAt = [bytes](std::uint64_t offset, void* buffer, std::size_t size) {
        std::memcpy(buffer, bytes.data() + offset, size);
        return size;
    };
    Digest sha1(DigestAlgorithm::Sha1);
    Digest sha256(DigestAlgorithm::Sha256);
    const std::array<Digest*, 2> both = {&sha1, &sha256};
    StreamDigests(readAt, bytes.size(), plan, both);
    return FileDigests{sha1.finish(), sha256.finish()};
}

namespace {

Outcome<std::vector<std::uint8_t>> ComputeFileDigest(const std::string& path,
                                                     SubjectDigestKind kind, DigestAlgorithm alg) {
    using Result = Outcome<std::vector<std::uint8_t>>;
    PieceReader file(path);
    if (file.error() != 0) {
        return Result::failure(file.error());
    }
    const ReadAtFn readAt = [&file](std::uint64_t offset, void* buffer, std::size_t size) {
        return file.readAt(offset, buffer, size);
    };
    DigestPlan plan;
    if (kind == SubjectDigestKind::PeImage) {
        const auto layout = ParsePeLayout(readAt, file.size());
        if (!layout) {
            return Result::failure(file.error() != 0 ? file.error() : kBadFormat);
        }
        plan = PlanFor(*layout);
    }
    Digest digest(alg);
    Digest* const one[] = {&digest};
    if (!StreamDigests(readAt, file.size(), plan, one)) {
        // Windows' packages read through a mapped view, where a failing or vanished page is
        // STATUS_IN_PAGE_ERROR; a file that shrinks or fails while it is hashed reports that.
        return Result::failure(kStatusInPageError);
    }
    return digest.finish();
}

} // namespace

Outcome<std::vector<std::uint8_t>> FileDigestOf(const std::string& path, SubjectDigestKind kind,
                                                DigestAlgorithm alg) {
    return digestCache.get(path, {kind, alg}, [&] { return ComputeFileDigest(path, kind, alg); });
}

Outcome<bool> IsPeImageFile(const std::string& path) {
    PieceReader file(path);
    if (file.error() != 0) {
        return Outcome<bool>::failure(file.error());
    }
    const ReadAtFn readAt = [&file](std::uint64_t offset, void* buffer, std::size_t size) {
        return file.readAt(offset, buffer, size);
    };
    const bool pe = ParsePeLayout(readAt, file.size()).has_value();
    if (file.error() != 0) {
        return Outcome<bool>::failure(file.error());
    }
    return Outcome<bool>(pe);
}

std::uint64_t DigestPassCount() {
    return digestPasses.load(std::memory_order_relaxed);
}

} // namespace halyard::trust

#include "external/sevenzip/sevenzip_header.h"

#include "external/sevenzip/sevenzip_budget.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace halyard {

namespace {

// The header's property ids.
enum : std::uint64_t {
    kEnd = 0x00,
    kHeader = 0x01,
    kArchiveProperties = 0x02,
    kAdditionalStreamsInfo = 0x03,
    kMainStreamsInfo = 0x04,
    kFilesInfo = 0x05,
    kPackInfo = 0x06,
    kUnpackInfo = 0x07,
    kSubStreamsInfo = 0x08,
    kSize = 0x09,
    kCrc = 0x0A,
    kFolder = 0x0B,
    kCodersUnpackSize = 0x0C,
    kNumUnpackStream = 0x0D,
    kEncodedHeader = 0x17,
};

constexpr std::size_t kStartHeaderSize = 32;
constexpr std::uint8_t kSignature[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
// The library's own limits on a folder.
constexpr std::uint64_t kMaxCoders = 64;
constexpr std::uint64_t kMaxCoderStreams = 64;
// The library's recovery of an empty start header looks at this many bytes at the end.
constexpr std::size_t kRecoveryTail = 512;

// A header the library would refuse as well; the pre-check says so in the library's words.
struct Malformed {};
// A header past one of the bounds.
struct OverBound {
    std::string reason;
};

std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint64_t Le64(const std::uint8_t* p) {
    return Le32(p) | static_cast<std::uint64_t>(Le32(p + 4)) << 32;
}

void PutLe32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
}

void PutLe64(std::uint8_t* p, std::uint64_t v) {
    PutLe32(p, static_cast<std::uint32_t>(v));
    PutLe32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

std::string MiB(std::uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

[[noreturn]] void TooManyItems(std::uint64_t count, const char* what) {
    throw OverBound{"Refused archive: its header declares " + std::to_string(count) + " " + what +
                    ", more than the " + std::to_string(kMaxArchiveItems) +
                    " items a package may hold"};
}

[[noreturn]] void HeaderTooLarge(std::uint64_t bytes) {
    throw OverBound{"Refused archive: its header takes " + MiB(bytes) + ", more than the " +
                    MiB(kMaxHeaderBytes) + " a package's header may take"};
}

// Reads the header bytes the way the library does, refusing counts that the remaining bytes
// cannot back.
class HeaderReader {
public:
    explicit HeaderReader(std::span<const std::uint8_t> data) : data_(data) {}

    std::size_t pos() const { return pos_; }
    std::size_t remaining() const { return data_.size() - pos_; }

    std::uint8_t byte() {
        if (pos_ >= data_.size()) {
            throw Malformed{};
        }
        return data_[pos_++];
    }
    void skip(std::uint64_t size) {
        if (size > remaining()) {
            throw Malformed{};
        }
        pos_ += static_cast<std::size_t>(size);
    }
    std::uint64_t number() {
        const std::uint8_t first = byte();
        std::uint64_t value = 0;
        int i = 0;
        for (; i < 8 && (first & (0x80 >> i)) != 0; ++i) {
            value |= static_cast<std::uint64_t>(byte()) << (8 * i);
        }
        if (i < 8) {
            value |= static_cast<std::uint64_t>(first & ((0x80 >> i) - 1)) << (8 * i);
        }
        return value;
    }
    // A count the library keeps in 31 bits.
    std::uint64_t count() {
        const std::uint64_t value = number();
        if (value > 0x7FFFFFFF) {
            throw Malformed{};
        }
        return value;
    }
    // A count of things that take at least one byte each further on.
    std::uint64_t backedCount() {
        const std::uint64_t value = count();
        if (value > remaining()) {
            throw Malformed{};
        }
        return value;
    }
    // A property's data, skipped: its size, then its bytes.
    void skipData() { skip(number()); }
    // Skips properties until id comes; kEnd before it is an error.
    void waitFor(std::uint64_t id) {
        for (;;) {
            const std::uint64_t type = number();
            if (type == id) {
                return;
            }
            if (type == kEnd) {
                throw Malformed{};
            }
            skipData();
        }
    }
    // A digest list of count entries: defined flags, then a CRC for each defined one.
    // flags, when given, gets which entries are defined.
    void digests(std::uint64_t count, std::vector<bool>* flags = nullptr) {
        std::uint64_t defined = count;
        if (byte() == 0) {
            defined = 0;
            const std::uint64_t bytes = (count + 7) / 8;
            if (bytes > remaining()) {
                throw Malformed{};
            }
            for (std::uint64_t i = 0; i < count; ++i) {
                const bool on = ((data_[pos_ + i / 8] >> (7 - i % 8)) & 1) != 0;
                defined += on ? 1 : 0;
                if (flags != nullptr) {
                    flags->push_back(on);
                }
            }
            pos_ += static_cast<std::size_t>(bytes);
        } else if (flags != nullptr) {
            flags->assign(static_cast<std::size_t>(count), true);
        }
        if (defined > remaining() / 4) {
            throw Malformed{};
        }
        skip(defined * 4);
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

struct StreamsFacts {
    std::uint64_t packPos = 0;
    std::vector<std::uint64_t> packSizes;
    bool havePackInfo = false;
    std::size_t packInfoEnd = 0;   // offset after the pack info's end
    std::size_t unpackInfoEnd = 0; // offset after the unpack info's end (0 without one)
    std::uint64_t folders = 0;
    std::vector<bool> folderDigests; // which folders have a digest of their own
    // What decoding every folder into memory takes: per folder its largest coder output.
    std::uint64_t unpackBytes = 0;
};

void ReadPackInfo(HeaderReader& r, StreamsFacts& facts) {
    facts.packPos = r.number();
    const std::uint64_t count = r.count();
    // A folder may read up to four packed streams (BCJ2).
    if (count > 4 * kMaxHeaderStreams) {
        TooManyItems(count, "packed streams");
    }
    r.waitFor(kSize);
    if (count > r.remaining()) {
        throw Malformed{};
    }
    facts.packSizes.reserve(static_cast<std::size_t>(count));
    std::uint64_t sum = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t size = r.number();
        sum += size;
        if (sum < size) {
            throw Malformed{};
        }
        facts.packSizes.push_back(size);
    }
    for (;;) {
        const std::uint64_t type = r.number();
        if (type == kEnd) {
            break;
        }
        if (type == kCrc) {
            r.digests(count);
        } else {
            r.skipData();
        }
    }
    facts.havePackInfo = true;
}

// Returns the number of coders (each has one output) of every folder.
std::vector<std::uint64_t> ReadFolders(HeaderReader& r, std::uint64_t folders) {
    std::vector<std::uint64_t> coders;
    coders.reserve(static_cast<std::size_t>(folders));
    for (std::uint64_t f = 0; f < folders; ++f) {
        const std::uint64_t numCoders = r.count();
        if (numCoders == 0 || numCoders > kMaxCoders) {
            throw Malformed{};
        }
        std::uint64_t inStreams = 0;
        for (std::uint64_t c = 0; c < numCoders; ++c) {
            const std::uint8_t main = r.byte();
            if ((main & 0xC0) != 0 || (main & 0x0F) > 8) {
                throw Malformed{};
            }
            r.skip(main & 0x0F);
            std::uint64_t in = 1;
            if ((main & 0x10) != 0) {
                in = r.count();
                if (in > kMaxCoderStreams || r.count() != 1) {
                    throw Malformed{};
                }
            }
            inStreams += in;
            if (inStreams > kMaxCoderStreams) {
                throw Malformed{};
            }
            if ((main & 0x20) != 0) {
                r.skip(r.count());
            }
        }
        const std::uint64_t bonds = numCoders - 1;
        if (inStreams < bonds) {
            throw Malformed{};
        }
        for (std::uint64_t b = 0; b < bonds; ++b) {
            r.count();
            r.count();
        }
        const std::uint64_t packStreams = inStreams - bonds;
        if (packStreams > 1) {
            for (std::uint64_t p = 0; p < packStreams; ++p) {
                r.count();
            }
        }
        coders.push_back(numCoders);
    }
    return coders;
}

void ReadUnpackInfo(HeaderReader& r, StreamsFacts& facts) {
    r.waitFor(kFolder);
    const std::uint64_t folders = r.backedCount();
    if (folders > kMaxHeaderStreams) {
        TooManyItems(folders, "folders");
    }
    // Folders kept in another stream come from headers long out of use.
    if (r.byte() != 0) {
        throw Malformed{};
    }
    const std::vector<std::uint64_t> coders = ReadFolders(r, folders);
    r.waitFor(kCodersUnpackSize);
    for (const std::uint64_t n : coders) {
        std::uint64_t largest = 0;
        for (std::uint64_t c = 0; c < n; ++c) {
            largest = std::max(largest, r.number());
        }
        facts.unpackBytes += std::min(largest, ~std::uint64_t{0} - facts.unpackBytes);
    }
    for (;;) {
        const std::uint64_t type = r.number();
        if (type == kEnd) {
            break;
        }
        if (type == kCrc) {
            facts.folderDigests.clear();
            r.digests(folders, &facts.folderDigests);
        } else {
            r.skipData();
        }
    }
    facts.folders = folders;
}

void ReadSubStreamsInfo(HeaderReader& r, const StreamsFacts& facts) {
    std::vector<std::uint64_t> streams(static_cast<std::size_t>(facts.folders), 1);
    std::uint64_t type = 0;
    for (;;) {
        type = r.number();
        if (type == kNumUnpackStream) {
            std::uint64_t total = 0;
            for (auto& n : streams) {
                n = r.count();
                total += n;
                if (total > kMaxHeaderStreams) {
                    TooManyItems(total, "streams");
                }
            }
            continue;
        }
        if (type == kCrc || type == kSize || type == kEnd) {
            break;
        }
        r.skipData();
    }
    if (type == kSize) {
        for (const std::uint64_t n : streams) {
            for (std::uint64_t j = 1; j < n; ++j) {
                r.number();
            }
        }
        type = r.number();
    }
    // Streams get a digest here unless they are their folder's only one and the folder has its
    // own.
    std::uint64_t digests = 0;
    for (std::size_t f = 0; f < streams.size(); ++f) {
        if (streams[f] != 1 || f >= facts.folderDigests.size() || !facts.folderDigests[f]) {
            digests += streams[f];
        }
    }
    for (;;) {
        if (type == kEnd) {
            return;
        }
        if (type == kCrc) {
            r.digests(digests);
        } else {
            r.skipData();
        }
        type = r.number();
    }
}

StreamsFacts ReadStreamsInfo(HeaderReader& r) {
    StreamsFacts facts;
    std::uint64_t type = r.number();
    if (type == kPackInfo) {
        ReadPackInfo(r, facts);
        facts.packInfoEnd = r.pos();
        type = r.number();
    }
    if (type == kUnpackInfo) {
        ReadUnpackInfo(r, facts);
        facts.unpackInfoEnd = r.pos();
        type = r.number();
    }
    if (type == kSubStreamsInfo) {
        ReadSubStreamsInfo(r, facts);
        type = r.number();
    }
    if (type != kEnd) {
        throw Malformed{};
    }
    return facts;
}

void ReadPlainHeader(HeaderReader& r) {
    if (r.number() != kHeader) {
        throw Malformed{};
    }
    std::uint64_t type = r.number();
    if (type == kArchiveProperties) {
        while (r.number() != kEnd) {
            r.skipData();
        }
        type = r.number();
    }
    std::uint64_t inMemory = 0;
    if (type == kAdditionalStreamsInfo) {
        // Unpacked into memory before the rest of the header is read.
        inMemory = ReadStreamsInfo(r).unpackBytes;
        if (inMemory > kMaxHeaderBytes) {
            HeaderTooLarge(inMemory);
        }
        type = r.number();
    }
    if (type == kMainStreamsInfo) {
        ReadStreamsInfo(r);
        type = r.number();
    }
    if (type == kFilesInfo) {
        const std::uint64_t items = r.count();
        if (items > kMaxArchiveItems) {
            throw OverBound{"Refused archive: it holds " + std::to_string(items) +
                            " items, more than the " + std::to_string(kMaxArchiveItems) +
                            " a package may hold"};
        }
        while (r.number() != kEnd) {
            r.skipData();
        }
    }
}

// The library's test of a start header that is not at the file's start.
bool StartCrcMatches(const std::uint8_t* p) {
    return SevenZipCrc32(p + 12, 20) == Le32(p + 8);
}

bool IsSignature(const std::uint8_t* p) {
    return std::memcmp(p, kSignature, sizeof kSignature) == 0;
}

// The archive's start where the library finds it: at the file's start (with a start header
// that passes its CRC or is empty, as an unfinished archive leaves it), else the first
// signature with a matching start header within the search range.
bool FindStart(std::uint64_t fileSize, const ArchiveReadAt& readAt, std::uint64_t& start,
               std::array<std::uint8_t, kStartHeaderSize>& head) {
    if (fileSize < kStartHeaderSize || readAt(0, head.data(), head.size()) != kStartHeaderSize) {
        return false;
    }
    if (IsSignature(head.data())) {
        if (StartCrcMatches(head.data())) {
            start = 0;
            return true;
        }
        const bool empty = std::all_of(head.begin() + 8, head.end(), [](auto b) { return b == 0; });
        if (empty && (head[6] != 0 || head[7] != 0)) {
            start = 0;
            return true;
        }
    }
    constexpr std::size_t kChunk = 1 << 15;
    std::vector<std::uint8_t> buf(kChunk + kStartHeaderSize);
    for (std::uint64_t base = 1; base <= kSevenZipSignatureSearch && base < fileSize;
         base += kChunk) {
        const std::size_t got = readAt(base, buf.data(), buf.size());
        for (std::size_t i = 0; i < kChunk && i + kStartHeaderSize <= got; ++i) {
            if (base + i > kSevenZipSignatureSearch) {
                return false;
            }
            if (IsSignature(&buf[i]) && StartCrcMatches(&buf[i])) {
                start = base + i;
                std::memcpy(head.data(), &buf[i], kStartHeaderSize);
                return true;
            }
        }
    }
    return false;
}

SevenZipHeaderCheck Refusal(std::string reason) {
    SevenZipHeaderCheck check;
    check.verdict = SevenZipHeaderCheck::Verdict::Refuse;
    check.reason = std::move(reason);
    return check;
}

// The encoded header as an archive of one item: the same packed streams and folder, a plain
// header that names them as the one item's data.
std::vector<std::uint8_t> HeaderArchive(std::span<const std::uint8_t> encoded,
                                        const StreamsFacts& facts,
                                        std::span<const std::uint8_t> packed) {
    std::vector<std::uint8_t> header = {kHeader, kMainStreamsInfo, kPackInfo};
    AppendSevenZipNumber(header, 0);
    AppendSevenZipNumber(header, facts.packSizes.size());
    header.push_back(kSize);
    for (const std::uint64_t size : facts.packSizes) {
        AppendSevenZipNumber(header, size);
    }
    header.push_back(kEnd);
    // The unpack info as it stands (the folder, its sizes and digest); one stream per folder.
    header.insert(header.end(), encoded.begin() + static_cast<std::ptrdiff_t>(facts.packInfoEnd),
                  encoded.begin() + static_cast<std::ptrdiff_t>(facts.unpackInfoEnd));
    header.push_back(kEnd);
    header.push_back(kFilesInfo);
    AppendSevenZipNumber(header, 1);
    header.push_back(kEnd);
    header.push_back(kEnd);

    std::vector<std::uint8_t> archive(kStartHeaderSize);
    std::memcpy(archive.data(), kSignature, sizeof kSignature);
    archive[6] = 0;
    archive[7] = 4;
    PutLe64(&archive[12], packed.size());
    PutLe64(&archive[20], header.size());
    PutLe32(&archive[28], SevenZipCrc32(header.data(), header.size()));
    PutLe32(&archive[8], SevenZipCrc32(&archive[12], 20));
    archive.insert(archive.end(), packed.begin(), packed.end());
    archive.insert(archive.end(), header.begin(), header.end());
    return archive;
}

SevenZipHeaderCheck CheckEncoded(std::span<const std::uint8_t> encoded, std::uint64_t dataStart,
                                 std::uint64_t fileSize, const ArchiveReadAt& readAt) {
    HeaderReader r(encoded);
    r.byte();
    const StreamsFacts facts = ReadStreamsInfo(r);
    if (facts.unpackBytes > kMaxHeaderBytes) {
        HeaderTooLarge(facts.unpackBytes);
    }
    std::uint64_t packed = 0;
    for (const std::uint64_t size : facts.packSizes) {
        packed += size;
        if (packed > kMaxHeaderBytes) {
            HeaderTooLarge(packed);
        }
    }
    // No folder, several, or packed data outside the file: the library reads no more than
    // the bound either way and tells what is wrong.
    if (facts.folders != 1 || facts.unpackBytes == 0 || packed == 0 || !facts.havePackInfo ||
        facts.unpackInfoEnd == 0 || facts.packPos > fileSize ||
        dataStart > fileSize - facts.packPos || packed > fileSize - facts.packPos - dataStart) {
        return {};
    }
    std::vector<std::uint8_t> packedBytes(static_cast<std::size_t>(packed));
    if (readAt(dataStart + facts.packPos, packedBytes.data(), packedBytes.size()) !=
        packedBytes.size()) {
        return {};
    }
    SevenZipHeaderCheck check;
    check.verdict = SevenZipHeaderCheck::Verdict::Decode;
    check.headerSize = facts.unpackBytes;
    check.headerArchive = HeaderArchive(encoded, facts, packedBytes);
    return check;
}

} // namespace

void AppendSevenZipNumber(std::vector<std::uint8_t>& out, std::uint64_t value) {
    int extra = 0;
    while (extra < 8 && value >= (std::uint64_t{1} << (7 * (extra + 1)))) {
        ++extra;
    }
    std::uint8_t first = 0;
    for (int i = 0; i < extra; ++i) {
        first |= static_cast<std::uint8_t>(0x80 >> i);
    }
    if (extra < 8) {
        first |= static_cast<std::uint8_t>(value >> (8 * extra));
    }
    out.push_back(first);
    for (int i = 0; i < extra; ++i) {
        out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
}

std::uint32_t SevenZipCrc32(const std::uint8_t* data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[i] = c;
        }
        return t;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    }
    return crc ^ 0xFFFFFFFFu;
}

std::string CheckSevenZipPlainHeader(std::span<const std::uint8_t> header) {
    try {
        HeaderReader r(header);
        ReadPlainHeader(r);
        return {};
    } catch (const Malformed&) {
        return "The archive is damaged: headers error";
    } catch (const OverBound& e) {
        return e.reason;
    }
}

SevenZipHeaderCheck CheckSevenZipStart(std::uint64_t fileSize, const ArchiveReadAt& readAt) {
    std::uint64_t start = 0;
    std::array<std::uint8_t, kStartHeaderSize> head{};
    if (!FindStart(fileSize, readAt, start, head) || head[6] != 0) {
        return {};
    }
    const std::uint64_t dataStart = start + kStartHeaderSize;
    std::uint64_t offset = Le64(&head[12]);
    std::uint64_t size = Le64(&head[20]);
    std::uint32_t crc = Le32(&head[28]);
    std::vector<std::uint8_t> header;
    if (Le32(&head[8]) == 0 && offset == 0 && size == 0 && crc == 0) {
        // The library's recovery: a header that ends the file, found from its first bytes.
        const std::uint64_t rest = fileSize - dataStart;
        const std::size_t tail =
            static_cast<std::size_t>(std::min<std::uint64_t>(kRecoveryTail, rest));
        if (tail < 3) {
            return {};
        }
        std::vector<std::uint8_t> buf(tail);
        if (readAt(fileSize - tail, buf.data(), tail) != tail || buf[tail - 1] != 0) {
            return {};
        }
        std::size_t i = tail - 2;
        for (;; --i) {
            if ((buf[i] == kEncodedHeader && buf[i + 1] == kPackInfo) ||
                (buf[i] == kHeader && buf[i + 1] == kMainStreamsInfo)) {
                break;
            }
            if (i == 0) {
                return {};
            }
        }
        header.assign(buf.begin() + static_cast<std::ptrdiff_t>(i), buf.end());
    } else {
        if (size == 0 || offset > fileSize || size > fileSize ||
            dataStart > fileSize - offset - std::min(size, fileSize - offset) ||
            fileSize - dataStart < offset + size) {
            return {};
        }
        if (size > kMaxHeaderBytes) {
            return Refusal("Refused archive: its header takes " + MiB(size) + ", more than the " +
                           MiB(kMaxHeaderBytes) + " a package's header may take");
        }
        header.resize(static_cast<std::size_t>(size));
        if (readAt(dataStart + offset, header.data(), header.size()) != header.size() ||
            SevenZipCrc32(header.data(), header.size()) != crc) {
            return {};
        }
    }
    try {
        if (header[0] == kHeader) {
            HeaderReader r(header);
            ReadPlainHeader(r);
            return {};
        }
        if (header[0] == kEncodedHeader) {
            return CheckEncoded(header, dataStart, fileSize, readAt);
        }
        return {};
    } catch (const Malformed&) {
        return Refusal("The archive is damaged: headers error");
    } catch (const OverBound& e) {
        return Refusal(e.reason);
    }
}

} // namespace halyard

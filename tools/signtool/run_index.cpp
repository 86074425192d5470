#include "run_index.h"

#include "base/hex.h"
#include "halyard/trust/parse.h"
#include "platform/sip.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/sha.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace signtool {

namespace {

using halyard::platform::CatMember;
using halyard::platform::posix::UniqueFd;
using Mac = std::array<std::uint8_t, 32>;

// Raised whenever the layout or the meaning of a field changes.
constexpr char kMagic[16] = {'h', 'a', 'l', 'y', 'a', 'r', 'd', '-',
                             'i', 'n', 'd', 'e', 'x', ' ', '1', '\n'};
constexpr std::size_t kHeaderBody = 16 + 7 * 8 + 32 + 4 + 4 + 8 + 8 + 8;
constexpr std::size_t kHeaderSize = kHeaderBody + 32;
constexpr std::size_t kMaxDigest = 64;
constexpr std::size_t kRecordBody = 32 + 4 + kMaxDigest;
constexpr std::size_t kRecordSize = kRecordBody + 32;
// More than the largest catalog (8 MiB) could list.
constexpr std::uint64_t kMaxRecords = 1u << 20;

enum Algorithm : std::uint8_t { None = 0, Sha1 = 1, Sha256 = 2, Other = 3 };
constexpr std::uint8_t kLongDigest = 0xFF; // longer than any digest a file could match

class Writer {
public:
    template <class T>
    void put(const T& value) {
        put(&value, sizeof value);
    }
    // Grown, then copied into: GCC 12 at -O3 misreads a range insert into an empty vector as an
    // overflow (-Wstringop-overflow).
    void put(const void* data, std::size_t size) {
        const std::size_t at = bytes.size();
        bytes.resize(at + size);
        if (size != 0) {
            std::memcpy(bytes.data() + at, data, size);
        }
    }
    std::vector<std::uint8_t> bytes;
};

class Reader {
public:
    explicit Reader(const std::uint8_t* data) : p_(data) {}
    template <class T>
    T get() {
        T value{};
        std::memcpy(&value, p_, sizeof value);
        p_ += sizeof value;
        return value;
    }
    void get(void* out, std::size_t size) {
        std::memcpy(out, p_, size);
        p_ += size;
    }

private:
    const std::uint8_t* p_;
};

Mac Hmac(const RunKey& key, std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
    Mac mac{};
    // One shot over the two parts: the second is appended to a copy (the parts are small).
    std::vector<std::uint8_t> joined(a.begin(), a.end());
    joined.insert(joined.end(), b.begin(), b.end());
    unsigned int size = 0;
    if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), joined.data(), joined.size(),
             mac.data(), &size) == nullptr ||
        size != mac.size()) {
        mac.fill(0);
    }
    return mac;
}

bool SameMac(const Mac& a, const std::uint8_t* b) {
    return CRYPTO_memcmp(a.data(), b, a.size()) == 0;
}

std::array<std::uint8_t, 32> TagKey(std::string_view tag) {
    std::array<std::uint8_t, 32> key{};
    SHA256(reinterpret_cast<const unsigned char*>(tag.data()), tag.size(), key.data());
    return key;
}

std::vector<std::uint8_t> HeaderBody(const IndexHeader& header, std::uint64_t count) {
    Writer w;
    w.put(kMagic, sizeof kMagic);
    w.put(header.catalog.fields, sizeof header.catalog.fields);
    w.put(header.trust.data(), header.trust.size());
    w.put(header.version);
    w.put(header.status);
    w.put(header.from);
    w.put(header.until);
    w.put(count);
    return std::move(w.bytes);
}

std::vector<std::uint8_t> RecordBody(const std::array<std::uint8_t, 32>& tagKey,
                                     const CatMember& member) {
    using namespace halyard::platform;
    Writer w;
    w.put(tagKey.data(), tagKey.size());
    const std::string& oid = member.digestAlgorithmOid;
    w.put(static_cast<std::uint8_t>(oid.empty()         ? None
                                    : oid == kOidSha1   ? Sha1
                                    : oid == kOidSha256 ? Sha256
                                                        : Other));
    w.put(static_cast<std::uint8_t>(member.indirectDataTypeOid ==
                                    halyard::trust::kOidSpcPeImageData));
    const bool fits = member.digest.size() <= kMaxDigest;
    w.put(static_cast<std::uint8_t>(fits ? member.digest.size() : kLongDigest));
    w.put(std::uint8_t{0});
    std::uint8_t digest[kMaxDigest] = {};
    if (fits && !member.digest.empty()) {
        std::memcpy(digest, member.digest.data(), member.digest.size());
    }
    w.put(digest, sizeof digest);
    return std::move(w.bytes);
}

// Repeats a read or write (io(done) moves bytes from offset done on) until size bytes moved.
template <class Io>
bool Fully(std::size_t size, Io&& io) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = io(done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool ReadAt(int fd, std::uint64_t offset, std::uint8_t* out, std::size_t size) {
    return Fully(size, [&](std::size_t done) {
        return ::pread(fd, out + done, size - done, static_cast<off_t>(offset + done));
    });
}

bool WriteAll(int fd, const std::vector<std::uint8_t>& bytes) {
    return Fully(bytes.size(), [&](std::size_t done) {
        return ::write(fd, bytes.data() + done, bytes.size() - done);
    });
}

} // namespace

FileStamp StampOf(const struct stat& st) {
    FileStamp stamp;
    stamp.fields[0] = static_cast<std::int64_t>(st.st_dev);
    stamp.fields[1] = static_cast<std::int64_t>(st.st_ino);
    stamp.fields[2] = static_cast<std::int64_t>(st.st_size);
    stamp.fields[3] = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    stamp.fields[4] = static_cast<std::int64_t>(st.st_mtim.tv_nsec);
    stamp.fields[5] = static_cast<std::int64_t>(st.st_ctim.tv_sec);
    stamp.fields[6] = static_cast<std::int64_t>(st.st_ctim.tv_nsec);
    return stamp;
}

std::string IndexName(const FileStamp& catalog) {
    return "index-" + std::to_string(catalog.fields[0]) + "-" + std::to_string(catalog.fields[1]);
}

std::optional<RunShare> OpenRunShare() {
    const char* dir = std::getenv("HALYARD_RUN_DIR");
    const char* key = std::getenv("HALYARD_RUN_KEY");
    if (dir == nullptr || key == nullptr || dir[0] != '/') {
        return std::nullopt;
    }
    const auto bytes = halyard::BytesOfHexUpper(key);
    if (!bytes || bytes->size() != RunKey().size()) {
        return std::nullopt;
    }
    RunShare share;
    std::copy(bytes->begin(), bytes->end(), share.key.begin());
    share.folder.reset(::open(dir, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    // Only this user's processes may write there: a folder of another owner, or one that others
    // may enter, is not the run's.
    if (!share.folder || ::fstat(share.folder.get(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid() || (st.st_mode & 07777) != 0700) {
        return std::nullopt;
    }
    return share;
}

void WriteIndex(const RunShare& share, const IndexHeader& header,
                const std::vector<CatMember>& members) {
    // The first member for each exact tag, sorted by the tag's digest for the lookup.
    std::vector<std::pair<std::array<std::uint8_t, 32>, const CatMember*>> records;
    records.reserve(members.size());
    for (const CatMember& member : members) {
        records.emplace_back(TagKey(member.referenceTag), &member);
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    records.erase(std::unique(records.begin(), records.end(),
                              [](const auto& a, const auto& b) { return a.first == b.first; }),
                  records.end());
    if (records.size() > kMaxRecords) {
        return;
    }
    Writer out;
    const std::vector<std::uint8_t> body = HeaderBody(header, records.size());
    const Mac headerMac = Hmac(share.key, body, {});
    out.put(body.data(), body.size());
    out.put(headerMac.data(), headerMac.size());
    for (const auto& [tagKey, member] : records) {
        const std::vector<std::uint8_t> record = RecordBody(tagKey, *member);
        const Mac mac = Hmac(share.key, headerMac, record);
        out.put(record.data(), record.size());
        out.put(mac.data(), mac.size());
    }
    const std::string name = IndexName(header.catalog);
    const std::string temp = name + ".tmp" + std::to_string(::getpid());
    const int folder = share.folder.get();
    {
        const UniqueFd fd(::openat(folder, temp.c_str(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) {
            return;
        }
        if (!WriteAll(fd.get(), out.bytes)) {
            ::unlinkat(folder, temp.c_str(), 0);
            return;
        }
    }
    if (::renameat(folder, temp.c_str(), folder, name.c_str()) != 0) {
        ::unlinkat(folder, temp.c_str(), 0);
    }
}

std::optional<CatalogIndex> CatalogIndex::Open(const RunShare& share, const FileStamp& catalog,
                                               const std::array<std::uint8_t, 32>& trust,
                                               std::int64_t now) {
    CatalogIndex index;
    index.share_ = &share;
    // Never blocks (a pipe in its place) and never follows a link.
    index.file_.reset(::openat(share.folder.get(), IndexName(catalog).c_str(),
                               O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!index.file_ || ::fstat(index.file_.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        st.st_uid != ::geteuid()) {
        return std::nullopt;
    }
    std::uint8_t bytes[kHeaderSize];
    if (!ReadAt(index.file_.get(), 0, bytes, sizeof bytes) ||
        std::memcmp(bytes, kMagic, sizeof kMagic) != 0) {
        return std::nullopt;
    }
    const Mac mac = Hmac(share.key, std::span<const std::uint8_t>(bytes, kHeaderBody), {});
    if (!SameMac(mac, bytes + kHeaderBody)) {
        return std::nullopt;
    }
    Reader r(bytes + sizeof kMagic);
    IndexHeader& h = index.header_;
    r.get(h.catalog.fields, sizeof h.catalog.fields);
    r.get(h.trust.data(), h.trust.size());
    h.version = r.get<std::int32_t>();
    h.status = r.get<std::uint32_t>();
    h.from = r.get<std::int64_t>();
    h.until = r.get<std::int64_t>();
    index.count_ = r.get<std::uint64_t>();
    index.headerMac_ = mac;
    // The span is capped on reading too, whatever the writer put there.
    if (!(h.catalog == catalog) || h.trust != trust || now < h.from || now >= h.until ||
        h.until - h.from > kLongestVerdictSeconds || index.count_ > kMaxRecords ||
        static_cast<std::uint64_t>(st.st_size) != kHeaderSize + index.count_ * kRecordSize) {
        return std::nullopt;
    }
    return index;
}

std::optional<CatMember> CatalogIndex::find(const std::string& tag) const {
    using namespace halyard::platform;
    const auto key = TagKey(tag);
    std::uint64_t low = 0;
    std::uint64_t high = count_;
    std::uint8_t record[kRecordSize];
    while (low < high) {
        const std::uint64_t mid = low + (high - low) / 2;
        if (!ReadAt(file_.get(), kHeaderSize + mid * kRecordSize, record, sizeof record)) {
            return std::nullopt;
        }
        const int order = std::memcmp(record, key.data(), key.size());
        if (order < 0) {
            low = mid + 1;
        } else if (order > 0) {
            high = mid;
        } else {
            const Mac mac =
                Hmac(share_->key, headerMac_, std::span<const std::uint8_t>(record, kRecordBody));
            if (!SameMac(mac, record + kRecordBody)) {
                return std::nullopt;
            }
            Reader r(record + key.size());
            const auto algorithm = r.get<std::uint8_t>();
            const auto pe = r.get<std::uint8_t>();
            const auto size = r.get<std::uint8_t>();
            r.get<std::uint8_t>();
            std::uint8_t digest[kMaxDigest];
            r.get(digest, sizeof digest);
            CatMember member;
            member.referenceTag = tag;
            member.digestAlgorithmOid = algorithm == Sha1     ? kOidSha1
                                        : algorithm == Sha256 ? kOidSha256
                                        : algorithm == Other  ? "0.0"
                                                              : "";
            member.indirectDataTypeOid = pe != 0 ? halyard::trust::kOidSpcPeImageData : "";
            if (size == kLongDigest) {
                member.digest.assign(kMaxDigest + 1, 0); // matches no file's digest
            } else if (size <= kMaxDigest) {
                member.digest.assign(digest, digest + size);
            } else {
                return std::nullopt;
            }
            return member;
        }
    }
    return std::nullopt;
}

} // namespace signtool

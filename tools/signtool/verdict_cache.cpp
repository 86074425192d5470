#include "verdict_cache.h"

#include "base/hex.h"
#include "crypto/trust_store.h"
#include "os/input_file.h"
#include "platform/hash.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fcntl.h>
#include <limits>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace signtool {

namespace {

using halyard::platform::CatalogSignatureReport;
using halyard::platform::CertificateSummary;
using halyard::platform::Digest;
using halyard::platform::DigestAlgorithm;
using halyard::platform::posix::UniqueFd;

// Raised whenever the verification or the entry's layout changes: older entries then miss.
constexpr const char* kFormat = "halyard-signtool-verdict 1";
constexpr const char* kTrustFormat = "halyard-signtool-trust 1";
constexpr std::size_t kMaxEntrySize = 256 * 1024;
// Past this many entries, the older half goes (every distinct catalog adds one).
constexpr std::size_t kMaxEntries = 2048;

std::string Sha256Hex(std::string_view text) {
    Digest digest(DigestAlgorithm::Sha256);
    digest.update(text.data(), text.size());
    return halyard::HexUpper(digest.finish());
}

// Names are stored as hex so that no byte of a certificate can change the lines.
std::string TextHex(const std::string& text) {
    return halyard::HexUpper(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

std::optional<std::string> HexText(std::string_view hex) {
    const auto bytes = halyard::BytesOfHexUpper(hex);
    return bytes ? std::optional<std::string>(std::string(bytes->begin(), bytes->end()))
                 : std::nullopt;
}

template <class Int>
bool ReadInt(std::string_view text, Int& out, int base = 10) {
    if (text.empty() || text.front() == '+') {
        return false;
    }
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
    return ec == std::errc() && end == text.data() + text.size();
}

std::string FormatChain(const char* name, const std::vector<CertificateSummary>& chain) {
    std::string out = std::string(name) + ' ' + std::to_string(chain.size()) + '\n';
    for (const auto& cert : chain) {
        out += "cert " + std::to_string(cert.notAfter) + ' ' + TextHex(cert.sha1Hex) + ' ' +
               TextHex(cert.issuedTo) + ' ' + TextHex(cert.issuedBy) + '\n';
    }
    return out;
}

// Reads the entry line by line; every line must be exactly as FormatVerdict writes it.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}
    std::optional<std::string_view> next() {
        const std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view line = text_.substr(pos_, end - pos_);
        pos_ = end + 1;
        return line;
    }
    // The value after "name ", when the next line starts so.
    std::optional<std::string_view> field(std::string_view name) {
        const auto line = next();
        if (!line || line->size() <= name.size() || line->substr(0, name.size()) != name ||
            (*line)[name.size()] != ' ') {
            return std::nullopt;
        }
        return line->substr(name.size() + 1);
    }
    bool atEnd() const { return pos_ == text_.size(); }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::vector<std::string_view> Split(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t space = text.find(' ', start);
        parts.push_back(text.substr(start, space - start));
        if (space == std::string_view::npos) {
            return parts;
        }
        start = space + 1;
    }
}

bool ParseChain(Lines& lines, const char* name, std::vector<CertificateSummary>& chain) {
    constexpr std::size_t kMaxChain = 32;
    std::size_t count = 0;
    const auto header = lines.field(name);
    if (!header || !ReadInt(*header, count) || count > kMaxChain) {
        return false;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto line = lines.field("cert");
        if (!line) {
            return false;
        }
        const auto parts = Split(*line);
        CertificateSummary cert;
        if (parts.size() != 4 || !ReadInt(parts[0], cert.notAfter)) {
            return false;
        }
        const auto sha1 = HexText(parts[1]);
        const auto to = HexText(parts[2]);
        const auto by = HexText(parts[3]);
        if (!sha1 || !to || !by) {
            return false;
        }
        cert.sha1Hex = *sha1;
        cert.issuedTo = *to;
        cert.issuedBy = *by;
        chain.push_back(std::move(cert));
    }
    return true;
}

// The user's cache root: an absolute XDG_CACHE_HOME, else $HOME/.cache for an absolute HOME;
// none otherwise (the user database is not asked: this program is linked statically).
std::string CacheRoot() {
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && xdg[0] == '/') {
        return xdg;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr && home[0] == '/' ? std::string(home) + "/.cache" : std::string();
}

// A folder the user alone owns and may enter: no symbolic link, no access for others.
bool Private(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 077) == 0;
}

// Keeps the folder small: when it holds more than kMaxEntries files, the least recently written
// half is deleted (temporary files a stopped run left behind count as entries).
void Trim(int folder) {
    using halyard::platform::posix::OpenDirStream;
    const auto dir =
        OpenDirStream(UniqueFd(openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)));
    if (!dir) {
        return;
    }
    std::vector<std::pair<std::int64_t, std::string>> entries;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        struct stat st {};
        if ((name.rfind("verdict-", 0) != 0 && name.rfind("trust-", 0) != 0) ||
            fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            continue;
        }
        entries.emplace_back(static_cast<std::int64_t>(st.st_mtime), name);
    }
    if (entries.size() <= kMaxEntries) {
        return;
    }
    std::sort(entries.begin(), entries.end());
    for (std::size_t i = 0; i < entries.size() - kMaxEntries / 2; ++i) {
        unlinkat(folder, entries[i].second.c_str(), 0);
    }
}

} // namespace

std::string VerdictKey(std::span<const std::uint8_t> catalog,
                       std::span<const std::uint8_t> trustDigest) {
    Digest catalogDigest(DigestAlgorithm::Sha256);
    catalogDigest.update(catalog.data(), catalog.size());
    return Sha256Hex(std::string(kFormat) + '\n' + halyard::HexUpper(catalogDigest.finish()) +
                     '\n' + halyard::HexUpper(trustDigest) + '\n');
}

std::string FormatVerdict(const std::string& key, const CachedVerdict& verdict) {
    std::string body = std::string(kFormat) + '\n';
    body += "key " + key + '\n';
    body += "from " + std::to_string(verdict.from) + '\n';
    body += "until " + std::to_string(verdict.until) + '\n';
    body += "status " + std::to_string(verdict.report.status) + '\n';
    body += "timestamp " +
            (verdict.report.timestamp ? std::to_string(*verdict.report.timestamp) : "-") + '\n';
    body += FormatChain("signing", verdict.report.signingChain);
    body += FormatChain("timestamping", verdict.report.timestampChain);
    return body + "sum " + Sha256Hex(body) + '\n';
}

std::string FormatTrustDigest(const std::string& stamp, std::span<const std::uint8_t> digest) {
    const std::string body = std::string(kTrustFormat) + '\n' + "stamp " + stamp + '\n' +
                             "digest " + halyard::HexUpper(digest) + '\n';
    return body + "sum " + Sha256Hex(body) + '\n';
}

std::optional<std::vector<std::uint8_t>> ParseTrustDigest(const std::string& stamp,
                                                          const std::string& text) {
    const std::string body = std::string(kTrustFormat) + '\n' + "stamp " + stamp + '\n' + "digest ";
    constexpr std::size_t kDigestHex = 64;
    if (text.size() < body.size() + kDigestHex + 1 || text.compare(0, body.size(), body) != 0) {
        return std::nullopt;
    }
    const std::size_t end = body.size() + kDigestHex;
    if (text[end] != '\n' ||
        text.compare(end + 1, std::string::npos,
                     "sum " + Sha256Hex(std::string_view(text).substr(0, end + 1)) + '\n') != 0) {
        return std::nullopt;
    }
    return halyard::BytesOfHexUpper(std::string_view(text).substr(body.size(), kDigestHex));
}

std::optional<CachedVerdict> ParseVerdict(const std::string& key, const std::string& text) {
    const std::size_t sumAt = text.rfind("sum ");
    if (sumAt == std::string::npos || (sumAt > 0 && text[sumAt - 1] != '\n') ||
        text.compare(sumAt, std::string::npos, "sum " + Sha256Hex(text.substr(0, sumAt)) + '\n') !=
            0) {
        return std::nullopt;
    }
    Lines lines(std::string_view(text).substr(0, sumAt));
    CachedVerdict verdict;
    const auto format = lines.next();
    const auto entryKey = lines.field("key");
    const auto from = lines.field("from");
    const auto until = lines.field("until");
    const auto status = lines.field("status");
    const auto stamp = lines.field("timestamp");
    if (!format || *format != kFormat || !entryKey || *entryKey != key || !from ||
        !ReadInt(*from, verdict.from) || !until || !ReadInt(*until, verdict.until) || !status ||
        !ReadInt(*status, verdict.report.status) || !stamp) {
        return std::nullopt;
    }
    if (*stamp != "-") {
        std::int64_t at = 0;
        if (!ReadInt(*stamp, at)) {
            return std::nullopt;
        }
        verdict.report.timestamp = at;
    }
    if (!ParseChain(lines, "signing", verdict.report.signingChain) ||
        !ParseChain(lines, "timestamping", verdict.report.timestampChain) || !lines.atEnd()) {
        return std::nullopt;
    }
    return verdict;
}

VerdictCache::VerdictCache() {
    if (const char* off = std::getenv("HALYARD_SIGNTOOL_CACHE");
        off != nullptr && std::string(off) == "0") {
        return;
    }
    const std::string root = CacheRoot();
    if (root.empty()) {
        return;
    }
    // The root (~/.cache) may be shared by other programs; only our own folder must be private.
    mkdir(root.c_str(), 0700);
    const UniqueFd rootFd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd) {
        return;
    }
    mkdirat(rootFd.get(), "halyard", 0700);
    UniqueFd folder(
        openat(rootFd.get(), "halyard", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (folder && Private(folder.get())) {
        folder_ = std::move(folder);
    }
}

std::optional<std::string> VerdictCache::readEntry(const std::string& name) const {
    if (!folder_) {
        return std::nullopt;
    }
    const UniqueFd fd(openat(folder_.get(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
        static_cast<std::size_t>(st.st_size) > kMaxEntrySize) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    const int entry = fd.get();
    if (halyard::platform::ReadAllWithinCap(
            static_cast<std::uint64_t>(st.st_size), kMaxEntrySize,
            [entry](std::uint64_t offset, void* buffer, std::size_t size) {
                return halyard::platform::ReadFully(entry, offset, buffer, size);
            },
            bytes) != 0) {
        return std::nullopt;
    }
    return std::string(bytes.begin(), bytes.end());
}

void VerdictCache::writeEntry(const std::string& name, const std::string& text) const {
    if (!folder_) {
        return;
    }
    const std::string temp = name + ".tmp" + std::to_string(getpid());
    {
        const UniqueFd fd(openat(folder_.get(), temp.c_str(),
                                 O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!fd) {
            return;
        }
        std::size_t put = 0;
        while (put < text.size()) {
            const ssize_t n = write(fd.get(), text.data() + put, text.size() - put);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                unlinkat(folder_.get(), temp.c_str(), 0);
                return;
            }
            put += static_cast<std::size_t>(n);
        }
    }
    if (renameat(folder_.get(), temp.c_str(), folder_.get(), name.c_str()) != 0) {
        unlinkat(folder_.get(), temp.c_str(), 0);
    }
    Trim(folder_.get());
}

std::optional<CatalogSignatureReport> VerdictCache::load(const std::string& key,
                                                         std::int64_t now) const {
    const auto text = readEntry("verdict-" + key);
    if (!text) {
        return std::nullopt;
    }
    auto verdict = ParseVerdict(key, *text);
    if (!verdict || now < verdict->from || now >= verdict->until) {
        return std::nullopt;
    }
    return std::move(verdict->report);
}

void VerdictCache::store(const std::string& key, const CachedVerdict& verdict) const {
    writeEntry("verdict-" + key, FormatVerdict(key, verdict));
}

std::vector<std::uint8_t> VerdictCache::trustDigest(const std::vector<std::string>& folders,
                                                    std::time_t now) const {
    using halyard::platform::TrustFoldersDigest;
    using halyard::platform::TrustFoldersStamp;
    if (!folder_) {
        return TrustFoldersDigest(folders);
    }
    bool settled = false;
    const std::string stamp = halyard::HexUpper(TrustFoldersStamp(folders, now, settled));
    const std::string name = "trust-" + stamp;
    if (settled) {
        if (const auto text = readEntry(name)) {
            if (auto digest = ParseTrustDigest(stamp, *text)) {
                return std::move(*digest);
            }
        }
    }
    std::vector<std::uint8_t> digest = TrustFoldersDigest(folders);
    // Kept only when nothing changed while the files were read.
    bool settledAfter = false;
    if (settled && halyard::HexUpper(TrustFoldersStamp(folders, now, settledAfter)) == stamp &&
        settledAfter) {
        writeEntry(name, FormatTrustDigest(stamp, digest));
    }
    return digest;
}

} // namespace signtool

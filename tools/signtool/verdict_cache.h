// The stand-in's memory of its own verdicts on catalog signatures, kept between its starts (one
// start per checked file would otherwise verify the same catalog's signature and chain again
// every time). It only ever saves work: an entry that is missing, stale, unreadable, not owned by
// the user or not exactly as written is passed over and the signature verified again.
#pragma once

#include "os/unique_fd.h"
#include "platform/trust.h"

#include <cstdint>
#include <ctime>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace signtool {

// One verdict and the span of clock time it holds for.
struct CachedVerdict {
    halyard::platform::CatalogSignatureReport report;
    std::int64_t from = 0;  // when it was reached
    std::int64_t until = 0; // the first moment it may differ (INT64_MAX: never by the clock)
};

// What a verdict depends on: the catalog's bytes and the trust folders' content. The key names
// the entry's file.
std::string VerdictKey(std::span<const std::uint8_t> catalog,
                       std::span<const std::uint8_t> trustDigest);

// The entry's text, with its key and a checksum, and its strict reading (nullopt for anything
// that is not exactly such a text for that key).
std::string FormatVerdict(const std::string& key, const CachedVerdict& verdict);
std::optional<CachedVerdict> ParseVerdict(const std::string& key, const std::string& text);

// The memo of the trust folders' content digest, under the stamp of their metadata.
std::string FormatTrustDigest(const std::string& stamp, std::span<const std::uint8_t> digest);
std::optional<std::vector<std::uint8_t>> ParseTrustDigest(const std::string& stamp,
                                                          const std::string& text);

// The per-user cache folder: $XDG_CACHE_HOME/halyard (an absolute XDG_CACHE_HOME), else
// $HOME/.cache/halyard (an absolute HOME), created 0700. Not used (every call passes) when there
// is neither, when it is not a real folder owned by the user with no access for group or
// others, or when HALYARD_SIGNTOOL_CACHE is "0".
class VerdictCache {
public:
    VerdictCache();

    bool usable() const { return static_cast<bool>(folder_); }
    // The verdict stored under the key when it holds at `now`.
    std::optional<halyard::platform::CatalogSignatureReport> load(const std::string& key,
                                                                  std::int64_t now) const;
    // Written to a temporary file and renamed over the entry; failures are ignored.
    void store(const std::string& key, const CachedVerdict& verdict) const;
    // The SHA-256 of the trust folders' content (TrustFoldersDigest), read again only when their
    // files' metadata differ from when it was last taken, or changed too recently to tell.
    std::vector<std::uint8_t> trustDigest(const std::vector<std::string>& folders,
                                          std::time_t now) const;

private:
    std::optional<std::string> readEntry(const std::string& name) const;
    void writeEntry(const std::string& name, const std::string& text) const;

    halyard::platform::posix::UniqueFd folder_;
};

} // namespace signtool

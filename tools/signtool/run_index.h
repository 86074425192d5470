// What the stand-in's starts within one package check share: for the catalog they check against,
// its signature verdict and an index of its members (tag -> the few fields a member check
// needs), written by the first start to the run's private folder so that every later start
// reads a few hundred bytes instead of the whole catalog. Nothing is kept anywhere else: a start
// without a run folder (started by hand) works alone.
//
// An index is used only when every one of these holds; anything else is passed over and the
// catalog read and verified again:
// - the folder the run names (HALYARD_RUN_DIR) is a real folder owned by the user, mode 0700,
//   and the run's key (HALYARD_RUN_KEY) is 32 bytes of hex;
// - the index file is a regular file owned by the user (opened without following a link and
//   without blocking), and its header and the record used carry the key's HMAC-SHA256;
// - the catalog and the trust folders carry the stamps they had when the verdict was reached
//   (device, inode, size, modification and change times: the change time cannot be set back);
// - the clock is within the verdict's span, which never exceeds kLongestVerdictSeconds.
#pragma once

#include "os/unique_fd.h"
#include "platform/catalog.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace signtool {

inline constexpr std::int64_t kLongestVerdictSeconds = 600;

using RunKey = std::array<std::uint8_t, 32>;

// The run's private folder and key, from the environment; nullopt when either is missing or
// the folder cannot be trusted.
struct RunShare {
    halyard::platform::posix::UniqueFd folder;
    RunKey key{};
};
std::optional<RunShare> OpenRunShare();

// The stamp of a file or folder, from stat.
struct FileStamp {
    std::int64_t fields[7] = {}; // dev, ino, size, mtime s, mtime ns, ctime s, ctime ns
    bool operator==(const FileStamp&) const = default;
};
FileStamp StampOf(const struct stat& st);

// The index's header: what the verdict rests on, and the verdict.
struct IndexHeader {
    FileStamp catalog;
    std::array<std::uint8_t, 32> trust{}; // TrustFoldersStamp
    std::int32_t version = 0;             // the catalog's CTL version (1 or 2)
    std::uint32_t status = 0;             // the signature's trust code
    std::int64_t from = 0;                // when the verdict was reached
    std::int64_t until = 0;               // when it stops holding
};

// Writes the index of the catalog's members (its first member for each exact tag, as the
// trust query finds them) to a temporary file renamed over the entry for that catalog file;
// failures are ignored (the next start verifies again).
void WriteIndex(const RunShare& share, const IndexHeader& header,
                const std::vector<halyard::platform::CatMember>& members);

// An index read back: the header checked against the stamps and the clock.
class CatalogIndex {
public:
    static std::optional<CatalogIndex> Open(const RunShare& share, const FileStamp& catalog,
                                            const std::array<std::uint8_t, 32>& trust,
                                            std::int64_t now);
    const IndexHeader& header() const { return header_; }
    // The member with exactly this tag, rebuilt with the fields the member check reads;
    // nullopt when the index has none (or the record is not as written).
    std::optional<halyard::platform::CatMember> find(const std::string& tag) const;

private:
    CatalogIndex() = default;
    const RunShare* share_ = nullptr;
    halyard::platform::posix::UniqueFd file_;
    IndexHeader header_;
    std::array<std::uint8_t, 32> headerMac_{};
    std::uint64_t count_ = 0;
};

// The entry's name in the run folder for a catalog file.
std::string IndexName(const FileStamp& catalog);

} // namespace signtool

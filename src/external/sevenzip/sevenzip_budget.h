// The bounds of one unpacking: the items an archive may hold, the bytes it may write in all and
// the free space it must leave.
#pragma once

#include <cstdint>
#include <string>

namespace halyard {

namespace platform {
class Folder;
} // namespace platform

// The default bound of the bytes one unpacking writes, far above any real driver package; the
// environment variable HALYARD_MAX_UNPACKED_MB sets another (a whole number of MiB).
inline constexpr std::uint64_t kDefaultMaxUnpackedMB = 8192;
inline constexpr const char* kMaxUnpackedVariable = "HALYARD_MAX_UNPACKED_MB";
// The free space an unpacking leaves on the target's file system at the least.
inline constexpr std::uint64_t kFreeSpaceReserveMB = 256;
// Archives with more items are refused before anything is written: real driver packages
// hold hundreds, at most a few thousand, and each item costs memory in the pre-scan.
inline constexpr std::uint32_t kMaxArchiveItems = 65536;

// The bound in force: HALYARD_MAX_UNPACKED_MB when it holds a positive whole number, else the
// default.
std::uint64_t MaxUnpackedBytes();

// Throws ESevenZipException for an archive of more than kMaxArchiveItems items.
void CheckArchiveItemCount(std::uint32_t count);

// The bounds of one unpacking into a folder: the bytes written in all (counted as they are
// written, whatever sizes the archive claims), and the free space that must stay on the
// folder's file system (looked at every kCheckEvery bytes). Breaking one throws
// ESevenZipException.
class SevenZipUnpackBudget {
public:
    static constexpr std::uint64_t kCheckEvery = 8u << 20;

    SevenZipUnpackBudget(platform::Folder& folder, std::uint64_t limit, std::uint64_t reserve);
    // The total the library announces before it starts: refused at once when it already
    // passes a bound.
    void announce(std::uint64_t total);
    // The item whose bytes come next, for the messages.
    void startItem(std::string item);
    // Before bytes are written.
    void charge(std::uint64_t bytes);

private:
    [[noreturn]] void overLimit(const std::string& what) const;
    [[noreturn]] void overReserve(const std::string& what) const;

    platform::Folder& folder_;
    std::uint64_t limit_;
    std::uint64_t reserve_;
    std::uint64_t written_ = 0;
    std::uint64_t nextCheck_ = 0;
    std::string item_;
};

} // namespace halyard

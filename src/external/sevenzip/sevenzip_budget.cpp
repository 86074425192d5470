#include "external/sevenzip/sevenzip_budget.h"

#include "base/errors.h"
#include "platform/files.h"

#include <cstdlib>
#include <utility>

namespace halyard {

std::uint64_t MaxUnpackedBytes() {
    std::uint64_t mb = kDefaultMaxUnpackedMB;
    if (const char* text = std::getenv(kMaxUnpackedVariable)) {
        const std::string value = text;
        // A positive whole number of MiB that does not overflow in bytes; else the default.
        if (!value.empty() && value.size() <= 12 &&
            value.find_first_not_of("0123456789") == std::string::npos && std::stoull(value) > 0) {
            mb = std::stoull(value);
        }
    }
    return mb << 20;
}

void CheckArchiveItemCount(std::uint32_t count) {
    if (count > kMaxArchiveItems) {
        throw ESevenZipException("Refused archive: it holds " + std::to_string(count) +
                                 " items, more than the " + std::to_string(kMaxArchiveItems) +
                                 " a package may hold");
    }
}

SevenZipUnpackBudget::SevenZipUnpackBudget(platform::Folder& folder, std::uint64_t limit,
                                           std::uint64_t reserve)
    : folder_(folder), limit_(limit), reserve_(reserve) {}

void SevenZipUnpackBudget::overLimit(const std::string& what) const {
    throw ESevenZipException(what + " passes the limit of " + std::to_string(limit_ >> 20) +
                             " MiB unpacked (" + kMaxUnpackedVariable + ")");
}

void SevenZipUnpackBudget::overReserve(const std::string& what) const {
    throw ESevenZipException(what + " would leave less than " + std::to_string(reserve_ >> 20) +
                             " MiB free on the file system of \"" + folder_.spacePath() + "\"");
}

void SevenZipUnpackBudget::announce(std::uint64_t total) {
    const std::string what =
        "The archive's content of " + std::to_string((total + (1u << 20) - 1) >> 20) + " MiB";
    if (total > limit_) {
        overLimit(what);
    }
    const std::uint64_t available = folder_.availableBytes();
    if (available < reserve_ || available - reserve_ < total) {
        overReserve(what);
    }
}

void SevenZipUnpackBudget::startItem(std::string item) {
    item_ = std::move(item);
}

void SevenZipUnpackBudget::charge(std::uint64_t bytes) {
    if (bytes > limit_ - written_) {
        overLimit("Item \"" + item_ + "\": the unpacked size");
    }
    written_ += bytes;
    if (written_ >= nextCheck_) {
        const std::uint64_t available = folder_.availableBytes();
        if (available < reserve_ || available - reserve_ < bytes + kCheckEvery) {
            overReserve("Item \"" + item_ + "\": unpacking it");
        }
        nextCheck_ = written_ + kCheckEvery;
    }
}

} // namespace halyard

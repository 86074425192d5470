#include "external/sevenzip/sevenzip_stream.h"

#include "external/sevenzip/sevenzip_budget.h"
#include "external/sevenzip/sevenzip_gate.h"
#include "platform/filestream.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace halyard {

using namespace sevenzip;

namespace {

// Origins 0, 1 and 2 count from the start, the current position and the end.
template <class File>
HRESULT SeekFile(File& file, std::int64_t offset, std::uint32_t origin,
                 std::uint64_t* newPosition) {
    if (origin > 2) {
        return kInvalidArg;
    }
    const std::uint64_t pos = file.seek(offset, static_cast<int>(origin));
    if (newPosition != nullptr) {
        *newPosition = pos;
    }
    return kOk;
}

} // namespace

SevenZipFileInStream::SevenZipFileInStream(std::unique_ptr<platform::FileReader> file,
                                           std::shared_ptr<SevenZipCallGate> gate)
    : file_(std::move(file)), gate_(std::move(gate)) {}

SevenZipFileInStream::~SevenZipFileInStream() = default;

HRESULT SevenZipFileInStream::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) {
    if (processedSize != nullptr) {
        *processedSize = 0;
    }
    return gate_->guarded(gate_->enter(), [&] {
        const std::size_t n = file_->read(data, size);
        if (processedSize != nullptr) {
            *processedSize = static_cast<std::uint32_t>(n);
        }
        return kOk;
    });
}

HRESULT SevenZipFileInStream::Seek(std::int64_t offset, std::uint32_t origin,
                                   std::uint64_t* newPosition) {
    return gate_->guarded(gate_->enter(),
                          [&] { return SeekFile(*file_, offset, origin, newPosition); });
}

HRESULT SevenZipFileInStream::GetSize(std::uint64_t* size) {
    return gate_->guarded(gate_->enter(), [&] {
        if (size != nullptr) {
            *size = file_->size();
        }
        return kOk;
    });
}

SevenZipFileOutStream::SevenZipFileOutStream(std::unique_ptr<platform::FileWriter> file,
                                             std::shared_ptr<SevenZipCallGate> gate,
                                             std::shared_ptr<SevenZipUnpackBudget> budget)
    : owned_(std::move(file)), file_(*owned_), gate_(std::move(gate)), budget_(std::move(budget)) {}

SevenZipFileOutStream::SevenZipFileOutStream(platform::FileWriter& file,
                                             std::shared_ptr<SevenZipCallGate> gate)
    : file_(file), gate_(std::move(gate)) {}

SevenZipFileOutStream::~SevenZipFileOutStream() = default;

HRESULT SevenZipFileOutStream::Write(const void* data, std::uint32_t size,
                                     std::uint32_t* processedSize) {
    if (processedSize != nullptr) {
        *processedSize = 0;
    }
    return gate_->guarded(gate_->enter(), [&] {
        if (budget_) {
            budget_->charge(size);
        }
        file_.write(data, size);
        if (processedSize != nullptr) {
            *processedSize = size;
        }
        return kOk;
    });
}

HRESULT SevenZipFileOutStream::Seek(std::int64_t offset, std::uint32_t origin,
                                    std::uint64_t* newPosition) {
    return gate_->guarded(gate_->enter(),
                          [&] { return SeekFile(file_, offset, origin, newPosition); });
}

HRESULT SevenZipFileOutStream::SetSize(std::uint64_t newSize) {
    return gate_->guarded(gate_->enter(), [&] {
        const std::uint64_t current = file_.size();
        if (budget_ && newSize > current) {
            budget_->charge(newSize - current);
        }
        file_.setSize(newSize);
        return kOk;
    });
}

HRESULT SevenZipFileOutStream::GetSize(std::uint64_t* size) {
    return gate_->guarded(gate_->enter(), [&] {
        if (size != nullptr) {
            *size = file_.size();
        }
        return kOk;
    });
}

HRESULT SevenZipFileOutStream::Flush() {
    return kOk;
}

HRESULT SevenZipMemoryInStream::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) {
    std::uint32_t n = 0;
    if (pos_ < bytes_.size()) {
        n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, bytes_.size() - pos_));
        std::memcpy(data, bytes_.data() + pos_, n);
        pos_ += n;
    }
    if (processedSize != nullptr) {
        *processedSize = n;
    }
    return kOk;
}

HRESULT SevenZipMemoryInStream::Seek(std::int64_t offset, std::uint32_t origin,
                                     std::uint64_t* newPosition) {
    const std::int64_t base = origin == 0   ? 0
                              : origin == 1 ? static_cast<std::int64_t>(pos_)
                              : origin == 2 ? static_cast<std::int64_t>(bytes_.size())
                                            : -1;
    // Compared without negating or adding, which could overflow for offsets near the extremes.
    if (base < 0 || (offset < 0 && offset < -base) ||
        (offset > 0 && offset > std::numeric_limits<std::int64_t>::max() - base)) {
        return kInvalidArg;
    }
    pos_ = static_cast<std::uint64_t>(base + offset);
    if (newPosition != nullptr) {
        *newPosition = pos_;
    }
    return kOk;
}

HRESULT SevenZipMemoryInStream::GetSize(std::uint64_t* size) {
    if (size != nullptr) {
        *size = bytes_.size();
    }
    return kOk;
}

HRESULT SevenZipMemoryOutStream::Write(const void* data, std::uint32_t size,
                                       std::uint32_t* processedSize) {
    if (processedSize != nullptr) {
        *processedSize = 0;
    }
    // More than the header declared: the decoder is not to be believed any further.
    if (size > cap_ - bytes_.size()) {
        return kFail;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    bytes_.insert(bytes_.end(), bytes, bytes + size);
    if (processedSize != nullptr) {
        *processedSize = size;
    }
    return kOk;
}

} // namespace halyard

// The streams the library reads and writes: the archive file, an item's output file (owned, or
// lent by the caller of a single-item extraction), and byte buffers in memory. Calls into the
// file streams go through the archive's call gate; the output files charge the unpacking budget.
#pragma once

#include "external/sevenzip/sevenzip_com.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace halyard {

namespace platform {
class FileReader;
class FileWriter;
} // namespace platform

class SevenZipCallGate;
class SevenZipUnpackBudget;

// The archive file, read by the library. Owns the file: it is closed when the library and the
// binding have released the stream.
class SevenZipFileInStream final
    : public sevenzip::ComObject<SevenZipFileInStream, sevenzip::IInStream,
                                 sevenzip::IStreamGetSize> {
public:
    SevenZipFileInStream(std::unique_ptr<platform::FileReader> file,
                         std::shared_ptr<SevenZipCallGate> gate);

    sevenzip::HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) override;
    sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t origin,
                           std::uint64_t* newPosition) override;
    sevenzip::HRESULT GetSize(std::uint64_t* size) override;

private:
    using Base =
        sevenzip::ComObject<SevenZipFileInStream, sevenzip::IInStream, sevenzip::IStreamGetSize>;
    friend Base;
    ~SevenZipFileInStream();

    std::unique_ptr<platform::FileReader> file_;
    std::shared_ptr<SevenZipCallGate> gate_;
};

// An item's output file. With a budget, every byte written or added by SetSize is charged to it
// first.
class SevenZipFileOutStream final
    : public sevenzip::ComObject<SevenZipFileOutStream, sevenzip::IOutStream,
                                 sevenzip::IStreamGetSize, sevenzip::IOutStreamFlush> {
public:
    // Owns the file: it is closed when the library releases the stream.
    SevenZipFileOutStream(std::unique_ptr<platform::FileWriter> file,
                          std::shared_ptr<SevenZipCallGate> gate,
                          std::shared_ptr<SevenZipUnpackBudget> budget);
    // Writes into the caller's file, which outlives the stream.
    SevenZipFileOutStream(platform::FileWriter& file, std::shared_ptr<SevenZipCallGate> gate);

    sevenzip::HRESULT Write(const void* data, std::uint32_t size,
                            std::uint32_t* processedSize) override;
    sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t origin,
                           std::uint64_t* newPosition) override;
    sevenzip::HRESULT SetSize(std::uint64_t newSize) override;
    sevenzip::HRESULT GetSize(std::uint64_t* size) override;
    sevenzip::HRESULT Flush() override;

private:
    using Base = sevenzip::ComObject<SevenZipFileOutStream, sevenzip::IOutStream,
                                     sevenzip::IStreamGetSize, sevenzip::IOutStreamFlush>;
    friend Base;
    ~SevenZipFileOutStream();

    std::unique_ptr<platform::FileWriter> owned_; // null when the file is lent
    platform::FileWriter& file_;
    std::shared_ptr<SevenZipCallGate> gate_;
    std::shared_ptr<SevenZipUnpackBudget> budget_;
};

// An archive held in memory, read by the library.
class SevenZipMemoryInStream final
    : public sevenzip::ComObject<SevenZipMemoryInStream, sevenzip::IInStream,
                                 sevenzip::IStreamGetSize> {
public:
    explicit SevenZipMemoryInStream(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}

    sevenzip::HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) override;
    sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t origin,
                           std::uint64_t* newPosition) override;
    sevenzip::HRESULT GetSize(std::uint64_t* size) override;

private:
    using Base =
        sevenzip::ComObject<SevenZipMemoryInStream, sevenzip::IInStream, sevenzip::IStreamGetSize>;
    friend Base;
    ~SevenZipMemoryInStream() = default;

    std::vector<std::uint8_t> bytes_;
    std::uint64_t pos_ = 0;
};

// The bytes of one item, kept in memory up to a cap: a write past it fails.
class SevenZipMemoryOutStream final
    : public sevenzip::ComObject<SevenZipMemoryOutStream, sevenzip::ISequentialOutStream> {
public:
    explicit SevenZipMemoryOutStream(std::uint64_t cap) : cap_(cap) {
        bytes_.reserve(static_cast<std::size_t>(cap)); // the size declared, within the bound
    }

    sevenzip::HRESULT Write(const void* data, std::uint32_t size,
                            std::uint32_t* processedSize) override;

    std::vector<std::uint8_t>& bytes() { return bytes_; }

private:
    using Base = sevenzip::ComObject<SevenZipMemoryOutStream, sevenzip::ISequentialOutStream>;
    friend Base;
    ~SevenZipMemoryOutStream() = default;

    std::vector<std::uint8_t> bytes_;
    std::uint64_t cap_;
};

} // namespace halyard

#include "external/sevenzip/sevenzip.h"

#include "base/errors.h"
#include "base/unicode.h"
#include "external/sevenzip/sevenzip_header.h"
#include "external/sevenzip/sevenzip_path.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/messages.h"
#include "platform/module.h"
#include "report/output.h"
#include "report/progress.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace halyard {

using namespace sevenzip;

namespace {

std::atomic<std::uint64_t> gCallbacksOffThread{0};
std::atomic<bool> gSingleThreadedHandler{false};

// FILE_ATTRIBUTE_REPARSE_POINT, and the flag that puts a POSIX mode in the high 16 bits.
constexpr std::uint32_t kAttribReparsePoint = 0x400;
constexpr std::uint32_t kAttribUnixExtension = 0x8000;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixTypeLink = 0120000;

// How the library may decode. It decodes multi-block LZMA2 on as many threads as it may
// use, and only where the blocks of all threads fit the memory it is given; archives with
// larger blocks are decoded on one thread, as they would be without this setting. The filter
// chain (BCJ and the like) stays on the decoding thread ("mtf" off): more threads, no speed.
constexpr std::uint32_t kMaxDecoderThreads = 4;
constexpr std::uint64_t kDecoderMemoryBytes = std::uint64_t{48} << 20;

// The 7z signature at the start of an archive.
constexpr std::uint8_t kSignature7z[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

// kpidErrorFlags: what the handler found wrong with the archive itself.
constexpr std::uint32_t kErrorFlagIsNotArc = 1u << 0;
constexpr std::pair<std::uint32_t, const char*> kErrorFlagTexts[] = {
    {1u << 1, "headers error"},
    {1u << 2, "encrypted headers error"},
    {1u << 3, "the start of the archive is missing"},
    {1u << 4, "the start of the archive is not confirmed"},
    {1u << 5, "unexpected end of the archive"},
    {1u << 6, "data after the end of the archive"},
    {1u << 7, "unsupported method"},
    {1u << 8, "unsupported feature"},
    {1u << 9, "data error"},
    {1u << 10, "CRC error"},
};

[[noreturn]] void ThrowCode(HRESULT hr) {
    throw ESevenZipException(platform::SysErrorMessage(static_cast<std::uint32_t>(hr)));
}

std::uint32_t DecoderThreads() {
    if (gSingleThreadedHandler) {
        return 1;
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : std::min<std::uint32_t>(cores, kMaxDecoderThreads);
}

// Sets the decoding threads and the memory the decoder may take for them (see above). A handler
// without these settings decodes as it likes; the calls are taken one at a time either way.
HALYARD_FOREIGN_CALL void ConfigureDecoding(IInArchive& handler) {
    ComPtr<ISetProperties> settings;
    if (handler.QueryInterface(IID_ISetProperties, reinterpret_cast<void**>(settings.put())) !=
            kOk ||
        !settings) {
        return;
    }
    const wchar_t* names[] = {L"mt", L"mtf", L"memuse"};
    PROPVARIANT values[3]{};
    values[0].vt = VT_UI4;
    values[0].ulVal = DecoderThreads();
    values[1].vt = VT_BOOL;
    values[1].boolVal = 0;
    values[2].vt = VT_UI8;
    values[2].uhVal = kDecoderMemoryBytes;
    settings->SetProperties(names, values, 3);
}

// The library's strings hold UTF-16 code units in wchar_t cells.
std::string WideToUtf8(const wchar_t* text) {
    std::u16string units;
    if (text != nullptr) {
        for (const wchar_t* p = text; *p != 0; ++p) {
            const auto c = static_cast<std::uint32_t>(*p);
            if (c > 0xFFFF && c <= 0x10FFFF) {
                units.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
                units.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
            } else {
                units.push_back(static_cast<char16_t>(c > 0xFFFF ? 0xFFFD : c));
            }
        }
    }
    return Utf16ToUtf8(units);
}

std::wstring Utf8ToWide(const std::string& text) {
    std::wstring out;
    for (char16_t unit : Utf8ToUtf16(text)) {
        out.push_back(static_cast<wchar_t>(unit));
    }
    return out;
}

std::string OperationResultText(OperationResult result, bool encrypted) {
    switch (result) {
    case OperationResult::Ok:
        break;
    case OperationResult::UnsupportedMethod:
        return "unsupported compression method";
    case OperationResult::DataError:
        return encrypted ? "the item is encrypted and no password is offered" : "data error";
    case OperationResult::CrcError:
        return "CRC error";
    case OperationResult::Unavailable:
        return "data unavailable";
    case OperationResult::UnexpectedEnd:
        return "unexpected end of data";
    case OperationResult::DataAfterEnd:
        return "data after the end of the item";
    case OperationResult::IsNotArc:
        return "not an archive";
    case OperationResult::HeadersError:
        return "headers error";
    case OperationResult::WrongPassword:
        return encrypted ? "the item is encrypted and no password is offered" : "wrong password";
    }
    return "error " + std::to_string(static_cast<std::int32_t>(result));
}

// MAXCHECK: the largest start offset of the archive signature the library is to search.
constexpr std::uint64_t kMaxCheckStartPosition = 1048576;

// {022CF785-3ECE-46EF-9755-291FA84CC6C9}
constexpr GUID IID_I7zInArchive{
    0x022CF785, 0x3ECE, 0x46EF, {0x97, 0x55, 0x29, 0x1F, 0xA8, 0x4C, 0xC6, 0xC9}};

// What the calls from the library into one archive object and its streams share.
// - One call at a time: the library decodes on threads of its own and may call from any of
//   them (the writer in Write, the reader in Read, progress from whichever thread), so every
//   call holds the gate for its whole length. It is recursive so that a call made on the way
//   through another on the same thread cannot wait for itself.
// - The first error raised inside a call. An exception must never unwind into the library: the
//   callback keeps it, answers with a failure code, and the binding raises it again once the
//   library call has returned.
class T7zCallGate {
public:
    [[nodiscard]] std::unique_lock<std::recursive_mutex> enter() {
        return std::unique_lock<std::recursive_mutex>(calls_);
    }
    void keep(std::exception_ptr error);
    // Raises the kept error, if any, and forgets it.
    void raise();

private:
    std::recursive_mutex calls_;
    std::mutex mutex_;
    std::exception_ptr first_;
};

enum class TStreamOwnership { soReference, soOwned };

// Adapts a file stream to the library's stream interfaces.
class T7zStream final : public sevenzip::IInStream,
                        public sevenzip::IStreamGetSize,
                        public sevenzip::IOutStream,
                        public sevenzip::IOutStreamFlush {
public:
    T7zStream(platform::FileReader* stream, TStreamOwnership ownership,
              std::shared_ptr<T7zCallGate> gate);
    T7zStream(platform::FileWriter* stream, TStreamOwnership ownership,
              std::shared_ptr<T7zCallGate> gate, std::shared_ptr<T7zUnpackBudget> budget = nullptr);
    T7zStream(const T7zStream&) = delete;
    T7zStream& operator=(const T7zStream&) = delete;

    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** out) override;
    sevenzip::ULONG AddRef() override;
    sevenzip::ULONG Release() override;
    sevenzip::HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) override;
    sevenzip::HRESULT Write(const void* data, std::uint32_t size,
                            std::uint32_t* processedSize) override;
    sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t origin,
                           std::uint64_t* newPosition) override;
    sevenzip::HRESULT SetSize(std::uint64_t newSize) override;
    sevenzip::HRESULT GetSize(std::uint64_t* size) override;
    sevenzip::HRESULT Flush() override;

private:
    ~T7zStream();
    template <class Fn>
    sevenzip::HRESULT Guarded(Fn&& fn);

    std::atomic<sevenzip::ULONG> FRefCount{0};
    platform::FileReader* FReader = nullptr;
    platform::FileWriter* FWriter = nullptr;
    TStreamOwnership FOwnership;
    std::shared_ptr<T7zCallGate> FGate;
    std::shared_ptr<T7zUnpackBudget> FBudget;
};

// A stream in memory: an archive to read, or the bytes of one item, up to a cap, to keep.
class T7zMemoryStream final : public sevenzip::IInStream,
                              public sevenzip::IStreamGetSize,
                              public sevenzip::ISequentialOutStream {
public:
    // For reading the bytes.
    explicit T7zMemoryStream(std::vector<std::uint8_t> bytes) : FBytes(std::move(bytes)) {}
    // For writing at most cap bytes.
    explicit T7zMemoryStream(std::uint64_t cap) : FWritable(true), FCap(cap) {
        FBytes.reserve(static_cast<std::size_t>(cap)); // the size declared, within the bound
    }
    T7zMemoryStream(const T7zMemoryStream&) = delete;
    T7zMemoryStream& operator=(const T7zMemoryStream&) = delete;

    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** out) override;
    sevenzip::ULONG AddRef() override { return ++FRefCount; }
    sevenzip::ULONG Release() override;
    sevenzip::HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) override;
    sevenzip::HRESULT Write(const void* data, std::uint32_t size,
                            std::uint32_t* processedSize) override;
    sevenzip::HRESULT Seek(std::int64_t offset, std::uint32_t origin,
                           std::uint64_t* newPosition) override;
    sevenzip::HRESULT GetSize(std::uint64_t* size) override;

    std::vector<std::uint8_t>& bytes() { return FBytes; }

private:
    ~T7zMemoryStream() = default;

    std::atomic<sevenzip::ULONG> FRefCount{0};
    std::vector<std::uint8_t> FBytes;
    std::uint64_t FPos = 0;
    bool FWritable = false;
    std::uint64_t FCap = 0;
};

// One loaded library.
class T7zPlugin {
public:
    explicit T7zPlugin(const std::string& library);
    ~T7zPlugin();
    T7zPlugin(const T7zPlugin&) = delete;
    T7zPlugin& operator=(const T7zPlugin&) = delete;

protected:
    void* FHandle = nullptr;
    sevenzip::CreateObjectFunc FCreateObject = nullptr;
};

// A format library: the library must also offer "GetHandlerProperty" and use the interface
// layout this binding speaks (GetModuleProp's interface type 0).
class T7zArchive : public T7zPlugin {
public:
    explicit T7zArchive(const std::string& library);

protected:
    sevenzip::GetHandlerPropertyFunc FGetHandlerProperty = nullptr;
    sevenzip::VariantClearFunc FVariantClear = nullptr;
    sevenzip::SysAllocStringFunc FSysAllocString = nullptr;
    sevenzip::GUID FClassId{};
};

class T7zInArchive final : public I7zInArchive,
                           public sevenzip::IArchiveOpenCallback,
                           public sevenzip::IArchiveExtractCallback,
                           public sevenzip::IArchiveOpenVolumeCallback,
                           public sevenzip::IArchiveOpenSetSubArchiveName,
                           public sevenzip::ICryptoGetTextPassword,
                           public T7zArchive {
public:
    T7zInArchive(const std::string& library, const sevenzip::GUID& classid);

    // IUnknown
    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** out) override;
    sevenzip::ULONG AddRef() override;
    sevenzip::ULONG Release() override;

    // I7zInArchive
    void OpenFile(const std::string& filename) override;
    std::uint32_t GetNumberOfItems() override;
    std::string GetItemPath(std::uint32_t index) override;
    std::uint64_t GetItemSize(std::uint32_t index) override;
    bool GetItemIsFolder(std::uint32_t index) override;
    void ExtractItem(std::uint32_t item, platform::FileWriter& stream, bool test) override;
    void ExtractTo(const std::string& path) override;
    void SetPassword(const std::string& password) override;

    // Extracts every item into a folder held open (see ExtractTo).
    void ExtractToFolder(platform::Folder& folder);
    // Opens an archive held in memory.
    void OpenBytes(std::vector<std::uint8_t> bytes);
    // The item's bytes, refused when they would pass cap.
    std::vector<std::uint8_t> ExtractItemBytes(std::uint32_t item, std::uint64_t cap);

    // IArchiveOpenCallback
    sevenzip::HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) override;
    sevenzip::HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) override;
    // IProgress
    sevenzip::HRESULT SetTotal(std::uint64_t total) override;
    sevenzip::HRESULT SetCompleted(const std::uint64_t* completeValue) override;
    // IArchiveExtractCallback
    sevenzip::HRESULT GetStream(std::uint32_t index, sevenzip::ISequentialOutStream** outStream,
                                std::int32_t askExtractMode) override;
    sevenzip::HRESULT PrepareOperation(std::int32_t askExtractMode) override;
    sevenzip::HRESULT SetOperationResult(std::int32_t opRes) override;
    // IArchiveOpenVolumeCallback
    sevenzip::HRESULT GetProperty(sevenzip::PROPID propID, sevenzip::PROPVARIANT* value) override;
    sevenzip::HRESULT GetStream(const wchar_t* name, sevenzip::IInStream** inStream) override;
    // IArchiveOpenSetSubArchiveName
    sevenzip::HRESULT SetSubArchiveName(const wchar_t* name) override;
    // ICryptoGetTextPassword
    sevenzip::HRESULT CryptoGetTextPassword(sevenzip::BSTR* password) override;

private:
    ~T7zInArchive();
    sevenzip::IInArchive* Handler();
    void OpenWith(sevenzip::IInStream* stream);
    void RunExtract(const std::uint32_t* items, std::uint32_t count, bool test);
    std::string ReadStringProperty(std::uint32_t index, sevenzip::PROPID propID);
    bool ReadBoolProperty(std::uint32_t index, sevenzip::PROPID propID);
    std::uint64_t ReadNumberProperty(std::uint32_t index, sevenzip::PROPID propID);
    void CheckIndex(std::uint32_t index);
    sevenzip::HRESULT FolderStream(std::uint32_t index, sevenzip::ISequentialOutStream** outStream);
    // Refuses, before anything is written, an archive whose items are ambiguous on Windows or
    // would leave the target folder (CheckArchiveItemPaths).
    void CheckItemPaths();
    // Refuses an archive whose headers would make the library take more memory than any
    // package needs (CheckSevenZipStart), before the library reads them.
    void CheckHeaders(platform::FileReader& reader);
    // The message for an Open that failed with hr: what the handler found, not just the code.
    std::string OpenFailureText(sevenzip::HRESULT hr, sevenzip::IInStream* stream);
    // Notes the calling thread (for the test count) and holds the gate for one call.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> Enter() const;
    template <class Fn>
    sevenzip::HRESULT Guarded(Fn&& fn);

    std::atomic<sevenzip::ULONG> FRefCount{0};
    std::thread::id FThread;
    std::shared_ptr<T7zCallGate> FGate;
    std::string FLibrary;

    sevenzip::ComPtr<sevenzip::IInArchive> FInArchive;
    sevenzip::ComPtr<sevenzip::ISequentialOutStream> FStream;
    bool FPasswordIsDefined = false;
    std::string FPassword;
    // The folder an extraction to a folder writes into, and its bounds; null otherwise.
    platform::Folder* FExtractFolder = nullptr;
    std::shared_ptr<T7zUnpackBudget> FBudget;
    // The unpacking's total as the library announced it, for the progress line.
    std::uint64_t FProgressTotal = 0;

    // The item the library is working on, for its per-item result.
    bool FHaveCurrentItem = false;
    std::uint32_t FCurrentItem = 0;
    // Whether the library asked for a password since Open began (encrypted headers).
    bool FPasswordAsked = false;
};

} // namespace

// ---------------------------------------------------------------------------------------------

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

T7zUnpackBudget::T7zUnpackBudget(platform::Folder& folder, std::uint64_t limit,
                                 std::uint64_t reserve)
    : folder_(folder), limit_(limit), reserve_(reserve) {}

void T7zUnpackBudget::overLimit(const std::string& what) const {
    throw ESevenZipException(what + " passes the limit of " + std::to_string(limit_ >> 20) +
                             " MiB unpacked (" + kMaxUnpackedVariable + ")");
}

void T7zUnpackBudget::overReserve(const std::string& what) const {
    throw ESevenZipException(what + " would leave less than " + std::to_string(reserve_ >> 20) +
                             " MiB free on the file system of \"" + folder_.spacePath() + "\"");
}

void T7zUnpackBudget::announce(std::uint64_t total) {
    const std::string what =
        "The archive's content of " + std::to_string((total + (1u << 20) - 1) >> 20) + " MiB";
    if (total > limit_) {
        overLimit(what);
    }
    const std::uint64_t available = folder_.AvailableBytes();
    if (available < reserve_ || available - reserve_ < total) {
        overReserve(what);
    }
}

void T7zUnpackBudget::startItem(std::string item) {
    item_ = std::move(item);
}

void T7zUnpackBudget::charge(std::uint64_t bytes) {
    if (bytes > limit_ - written_) {
        overLimit("Item \"" + item_ + "\": the unpacked size");
    }
    written_ += bytes;
    if (written_ >= nextCheck_) {
        const std::uint64_t available = folder_.AvailableBytes();
        if (available < reserve_ || available - reserve_ < bytes + kCheckEvery) {
            overReserve("Item \"" + item_ + "\": unpacking it");
        }
        nextCheck_ = written_ + kCheckEvery;
    }
}

// ---------------------------------------------------------------------------------------------

void T7zCallGate::keep(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!first_) {
        first_ = std::move(error);
    }
}

void T7zCallGate::raise() {
    std::exception_ptr error;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        error = std::exchange(first_, nullptr);
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

// ---------------------------------------------------------------------------------------------

T7zStream::T7zStream(platform::FileReader* stream, TStreamOwnership ownership,
                     std::shared_ptr<T7zCallGate> gate)
    : FReader(stream), FOwnership(ownership), FGate(std::move(gate)) {}

T7zStream::T7zStream(platform::FileWriter* stream, TStreamOwnership ownership,
                     std::shared_ptr<T7zCallGate> gate, std::shared_ptr<T7zUnpackBudget> budget)
    : FWriter(stream), FOwnership(ownership), FGate(std::move(gate)), FBudget(std::move(budget)) {}

T7zStream::~T7zStream() {
    if (FOwnership == TStreamOwnership::soOwned) {
        delete FReader;
        delete FWriter;
    }
}

template <class Fn>
HRESULT T7zStream::Guarded(Fn&& fn) {
    const std::unique_lock<std::recursive_mutex> entered =
        FGate ? FGate->enter() : std::unique_lock<std::recursive_mutex>();
    try {
        return fn();
    } catch (...) {
        if (FGate) {
            FGate->keep(std::current_exception());
        }
        return kFail;
    }
}

HRESULT T7zStream::QueryInterface(const GUID& iid, void** out) {
    if (out == nullptr) {
        return kInvalidArg;
    }
    *out = nullptr;
    if (iid == IID_IUnknown) {
        *out = static_cast<IInStream*>(this);
    } else if (FReader != nullptr && (iid == IID_ISequentialInStream || iid == IID_IInStream)) {
        *out = static_cast<IInStream*>(this);
    } else if (iid == IID_IStreamGetSize) {
        *out = static_cast<IStreamGetSize*>(this);
    } else if (FWriter != nullptr && (iid == IID_ISequentialOutStream || iid == IID_IOutStream)) {
        *out = static_cast<IOutStream*>(this);
    } else if (FWriter != nullptr && iid == IID_IOutStreamFlush) {
        *out = static_cast<IOutStreamFlush*>(this);
    } else {
        return kNoInterface;
    }
    AddRef();
    return kOk;
}

ULONG T7zStream::AddRef() {
    return ++FRefCount;
}

ULONG T7zStream::Release() {
    const ULONG count = --FRefCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

HRESULT T7zStream::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) {
    if (processedSize != nullptr) {
        *processedSize = 0;
    }
    return Guarded([&] {
        if (FReader == nullptr) {
            return kNotImpl;
        }
        const std::size_t n = FReader->read(data, size);
        if (processedSize != nullptr) {
            *processedSize = static_cast<std::uint32_t>(n);
        }
        return kOk;
    });
}

HRESULT T7zStream::Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) {
    if (processedSize != nullptr) {
        *processedSize = 0;
    }
    return Guarded([&] {
        if (FWriter == nullptr) {
            return kNotImpl;
        }
        if (FBudget) {
            FBudget->charge(size);
        }
        FWriter->write(data, size);
        if (processedSize != nullptr) {
            *processedSize = size;
        }
        return kOk;
    });
}

HRESULT T7zStream::Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* newPosition) {
    return Guarded([&] {
        if (origin > 2) {
            return kInvalidArg;
        }
        const int from = static_cast<int>(origin);
        const std::uint64_t pos =
            FReader != nullptr ? FReader->seek(offset, from) : FWriter->seek(offset, from);
        if (newPosition != nullptr) {
            *newPosition = pos;
        }
        return kOk;
    });
}

HRESULT T7zStream::SetSize(std::uint64_t newSize) {
    return Guarded([&] {
        if (FWriter == nullptr) {
            return kNotImpl;
        }
        const std::uint64_t current = FWriter->size();
        if (FBudget && newSize > current) {
            FBudget->charge(newSize - current);
        }
        FWriter->setSize(newSize);
        return kOk;
    });
}

HRESULT T7zStream::GetSize(std::uint64_t* size) {
    return Guarded([&] {
        if (size != nullptr) {
            *size = FReader != nullptr ? FReader->size() : FWriter->size();
        }
        return kOk;
    });
}

HRESULT T7zStream::Flush() {
    return kOk;
}

// ---------------------------------------------------------------------------------------------

HRESULT T7zMemoryStream::QueryInterface(const GUID& iid, void** out) {
    if (out == nullptr) {
        return kInvalidArg;
    }
    *out = nullptr;
    if (iid == IID_IUnknown) {
        *out = static_cast<IInStream*>(this);
    } else if (!FWritable && (iid == IID_ISequentialInStream || iid == IID_IInStream)) {
        *out = static_cast<IInStream*>(this);
    } else if (!FWritable && iid == IID_IStreamGetSize) {
        *out = static_cast<IStreamGetSize*>(this);
    } else if (FWritable && iid == IID_ISequentialOutStream) {
        *out = static_cast<ISequentialOutStream*>(this);
    } else {
        return kNoInterface;
    }
    AddRef();
    return kOk;
}

ULONG T7zMemoryStream::Release() {
    const ULONG count = --FRefCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

HRESULT T7zMemoryStream::Read(void* data, std::uint32_t size, std::uint32_t* processedSize) {
    std::uint32_t n = 0;
    if (!FWritable && FPos < FBytes.size()) {
        n = static_cast<std::uint32_t>(std::min<std::uint64_t>(size, FBytes.size() - FPos));
        std::memcpy(data, FBytes.data() + FPos, n);
        FPos += n;
    }
    if (processedSize != nullptr) {
        *processedSize = n;
    }
    return FWritable ? kNotImpl : kOk;
}

HRESULT T7zMemoryStream::Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) {
    if (processedSize != nullptr) {
        *processedSize = 0;
    }
    if (!FWritable) {
        return kNotImpl;
    }
    // More than the header declared: the decoder is not to be believed any further.
    if (size > FCap - FBytes.size()) {
        return kFail;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    FBytes.insert(FBytes.end(), bytes, bytes + size);
    if (processedSize != nullptr) {
        *processedSize = size;
    }
    return kOk;
}

HRESULT T7zMemoryStream::Seek(std::int64_t offset, std::uint32_t origin,
                              std::uint64_t* newPosition) {
    const std::int64_t base = origin == 0   ? 0
                              : origin == 1 ? static_cast<std::int64_t>(FPos)
                              : origin == 2 ? static_cast<std::int64_t>(FBytes.size())
                                            : -1;
    if (FWritable || base < 0 || (offset < 0 && -offset > base)) {
        return kInvalidArg;
    }
    FPos = static_cast<std::uint64_t>(base + offset);
    if (newPosition != nullptr) {
        *newPosition = FPos;
    }
    return kOk;
}

HRESULT T7zMemoryStream::GetSize(std::uint64_t* size) {
    if (size != nullptr) {
        *size = FBytes.size();
    }
    return kOk;
}

// ---------------------------------------------------------------------------------------------

T7zPlugin::T7zPlugin(const std::string& library) {
    FHandle = platform::LoadModuleLibrary(library);
    if (FHandle == nullptr) {
        throw ESevenZipException("Error loading library " + library);
    }
    FCreateObject =
        reinterpret_cast<CreateObjectFunc>(platform::GetModuleSymbol(FHandle, "CreateObject"));
    if (FCreateObject == nullptr) {
        platform::FreeModuleLibrary(FHandle);
        throw ESevenZipException(library + " is not a 7z library");
    }
}

T7zPlugin::~T7zPlugin() {
    platform::FreeModuleLibrary(FHandle);
}

T7zArchive::T7zArchive(const std::string& library) : T7zPlugin(library) {
    const auto symbol = [this](const char* name) {
        return platform::GetModuleSymbol(FHandle, name);
    };
    FGetHandlerProperty = reinterpret_cast<GetHandlerPropertyFunc>(symbol("GetHandlerProperty"));
    std::string refusal;
    if (FGetHandlerProperty == nullptr) {
        refusal = library + " is not a Format library";
    } else {
        // Older builds put a virtual destructor into IUnknown (two more slots in every table):
        // calling them through this layout would jump to the wrong functions.
        const auto getModuleProp = reinterpret_cast<GetModulePropFunc>(symbol("GetModuleProp"));
#ifdef _WIN32
        // 7z.dll leaves property and string memory to OLE: PropVariantClear and SysAllocString
        // of the system, loaded for the rest of the run like any system library.
        static const platform::ModuleHandle ole32 = platform::LoadModuleLibrary("ole32.dll");
        static const platform::ModuleHandle oleAut32 = platform::LoadModuleLibrary("oleaut32.dll");
        FVariantClear = reinterpret_cast<VariantClearFunc>(
            platform::GetModuleSymbol(ole32, "PropVariantClear"));
        FSysAllocString = reinterpret_cast<SysAllocStringFunc>(
            platform::GetModuleSymbol(oleAut32, "SysAllocString"));
        // Windows builds never had the virtual destructor; older releases lack GetModuleProp
        // and are fine.
        const bool needModuleProp = false;
#else
        FVariantClear = reinterpret_cast<VariantClearFunc>(symbol("VariantClear"));
        FSysAllocString = reinterpret_cast<SysAllocStringFunc>(symbol("SysAllocString"));
        const bool needModuleProp = true;
#endif
        PROPVARIANT type{};
        if (getModuleProp == nullptr) {
            if (needModuleProp) {
                refusal = library + " is an incompatible 7-Zip library: it has no GetModuleProp";
            }
        } else if (getModuleProp(kModulePropInterfaceType, &type) != kOk || type.vt != VT_UI4 ||
                   type.ulVal != 0) {
            refusal = library + " is an incompatible 7-Zip library: interface type " +
                      (type.vt == VT_UI4 ? std::to_string(type.ulVal) : std::string("unknown"));
        }
        if (refusal.empty() && (FVariantClear == nullptr || FSysAllocString == nullptr)) {
            refusal = library + " is an incompatible 7-Zip library: it has no VariantClear";
        }
    }
    if (!refusal.empty()) {
        throw ESevenZipException(refusal); // the library is freed by T7zPlugin's destructor
    }
}

// ---------------------------------------------------------------------------------------------

T7zInArchive::T7zInArchive(const std::string& library, const GUID& classid)
    : T7zArchive(library), FThread(std::this_thread::get_id()),
      FGate(std::make_shared<T7zCallGate>()), FLibrary(library) {
    FClassId = classid;
}

T7zInArchive::~T7zInArchive() {
    // The handler goes before the library it lives in; the streams it holds go with it.
    FStream.reset();
    FInArchive.reset();
}

std::uint64_t SevenZipCallbacksOffThread() {
    return gCallbacksOffThread.load();
}

void SetSevenZipSingleThreadedHandler(bool on) {
    gSingleThreadedHandler = on;
}

std::unique_lock<std::recursive_mutex> T7zInArchive::Enter() const {
    if (std::this_thread::get_id() != FThread) {
        ++gCallbacksOffThread;
    }
    return FGate->enter();
}

template <class Fn>
HRESULT T7zInArchive::Guarded(Fn&& fn) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    try {
        return fn();
    } catch (...) {
        FGate->keep(std::current_exception());
        return kFail;
    }
}

HRESULT T7zInArchive::QueryInterface(const GUID& iid, void** out) {
    if (out == nullptr) {
        return kInvalidArg;
    }
    *out = nullptr;
    if (iid == IID_IUnknown || iid == IID_I7zInArchive) {
        *out = static_cast<I7zInArchive*>(this);
    } else if (iid == IID_IArchiveOpenCallback) {
        *out = static_cast<IArchiveOpenCallback*>(this);
    } else if (iid == IID_IArchiveExtractCallback || iid == IID_IProgress) {
        *out = static_cast<IArchiveExtractCallback*>(this);
    } else if (iid == IID_IArchiveOpenVolumeCallback) {
        *out = static_cast<IArchiveOpenVolumeCallback*>(this);
    } else if (iid == IID_IArchiveOpenSetSubArchiveName) {
        *out = static_cast<IArchiveOpenSetSubArchiveName*>(this);
    } else if (iid == IID_ICryptoGetTextPassword) {
        *out = static_cast<ICryptoGetTextPassword*>(this);
    } else {
        return kNoInterface;
    }
    AddRef();
    return kOk;
}

ULONG T7zInArchive::AddRef() {
    return ++FRefCount;
}

ULONG T7zInArchive::Release() {
    const ULONG count = --FRefCount;
    if (count == 0) {
        delete this;
    }
    return count;
}

HALYARD_FOREIGN_CALL IInArchive* T7zInArchive::Handler() {
    if (!FInArchive) {
        const HRESULT hr =
            FCreateObject(&FClassId, &IID_IInArchive, reinterpret_cast<void**>(FInArchive.put()));
        if (hr < 0 || !FInArchive) {
            FInArchive.reset();
            ThrowCode(hr < 0 ? hr : kFail);
        }
        ConfigureDecoding(*FInArchive.get());
    }
    return FInArchive.get();
}

HALYARD_FOREIGN_CALL void T7zInArchive::OpenWith(IInStream* stream) {
    const std::uint64_t maxCheck = kMaxCheckStartPosition;
    IInArchive* handler = Handler();
    FPasswordAsked = false;
    const HRESULT hr = handler->Open(stream, &maxCheck, static_cast<IArchiveOpenCallback*>(this));
    FGate->raise();
    if (hr != kOk) {
        throw ESevenZipException(OpenFailureText(hr, stream));
    }
}

HALYARD_FOREIGN_CALL std::string T7zInArchive::OpenFailureText(HRESULT hr, IInStream* stream) {
    if (hr < 0) {
        return platform::SysErrorMessage(static_cast<std::uint32_t>(hr));
    }
    // The handler keeps what it found for a failed Open in its error flags.
    PROPVARIANT value{};
    Handler()->GetArchiveProperty(kpidErrorFlags, &value);
    const std::uint32_t flags = value.vt == VT_UI4 ? value.ulVal : 0;
    FVariantClear(&value);
    if (FPasswordAsked) {
        return FPasswordIsDefined
                   ? "The archive's headers are encrypted and the password does not open them"
                   : "The archive's headers are encrypted and no password is offered";
    }
    if ((flags & kErrorFlagIsNotArc) != 0) {
        // A start header that fails its CRC reads as no archive at all.
        std::uint8_t head[sizeof kSignature7z] = {};
        std::uint32_t read = 0;
        const bool signature =
            stream->Seek(0, 0, nullptr) == kOk && stream->Read(head, sizeof head, &read) == kOk &&
            read == sizeof head && std::memcmp(head, kSignature7z, sizeof head) == 0;
        FGate->raise();
        return signature ? "The archive is damaged: its start header is corrupt"
                         : "Not a 7z archive";
    }
    std::string causes;
    for (const auto& [flag, text] : kErrorFlagTexts) {
        if ((flags & flag) != 0) {
            causes += (causes.empty() ? "" : ", ") + std::string(text);
        }
    }
    if (causes.empty()) {
        return platform::SysErrorMessage(static_cast<std::uint32_t>(hr));
    }
    return "The archive is damaged: " + causes;
}

void T7zInArchive::OpenFile(const std::string& filename) {
    auto reader = std::make_unique<platform::FileReader>(filename);
    CheckHeaders(*reader);
    reader->seek(0, 0);
    const auto stream = MakeComObject<T7zStream>(reader.get(), TStreamOwnership::soOwned, FGate);
    reader.release();
    OpenWith(stream.get());
}

void T7zInArchive::OpenBytes(std::vector<std::uint8_t> bytes) {
    const auto stream = MakeComObject<T7zMemoryStream>(std::move(bytes));
    OpenWith(stream.get());
}

std::vector<std::uint8_t> T7zInArchive::ExtractItemBytes(std::uint32_t item, std::uint64_t cap) {
    CheckIndex(item);
    const auto sink = MakeComObject<T7zMemoryStream>(cap);
    FStream = ComPtr<ISequentialOutStream>(ComPtr<T7zMemoryStream>(sink).detach());
    struct Reset {
        T7zInArchive* self;
        ~Reset() { self->FStream.reset(); }
    } reset{this};
    RunExtract(&item, 1, false);
    return std::move(sink->bytes());
}

void T7zInArchive::CheckHeaders(platform::FileReader& reader) {
    const SevenZipHeaderCheck check =
        CheckSevenZipStart(reader.size(), [&](std::uint64_t offset, void* data, std::size_t size) {
            return reader.readAt(offset, data, size);
        });
    if (check.verdict == SevenZipHeaderCheck::Verdict::Refuse) {
        throw ESevenZipException(check.reason);
    }
    if (check.verdict != SevenZipHeaderCheck::Verdict::Decode) {
        return;
    }
    // The header is packed: the library unpacks it on its own, as the one item of a small
    // archive, into at most the size it declares, and the plain header is looked at in turn.
    std::vector<std::uint8_t> header;
    try {
        ComPtr<T7zInArchive> inner = MakeComObject<T7zInArchive>(FLibrary, FClassId);
        if (FPasswordIsDefined) {
            inner->SetPassword(FPassword);
        }
        inner->OpenBytes(check.headerArchive);
        if (inner->GetNumberOfItems() != 1) {
            return;
        }
        header = inner->ExtractItemBytes(0, check.headerSize);
    } catch (const std::exception&) {
        // Damaged or encrypted: the library finds the same when it opens the archive, having
        // unpacked no more than the bound.
        return;
    }
    if (header.empty() || header.size() != check.headerSize) {
        return;
    }
    const std::string refusal = CheckSevenZipPlainHeader(header);
    if (!refusal.empty() && refusal.starts_with("Refused")) {
        throw ESevenZipException(refusal);
    }
}

void T7zInArchive::CheckIndex(std::uint32_t index) {
    // The handler does not check the index itself.
    if (index >= GetNumberOfItems()) {
        throw ESevenZipException("Item index " + std::to_string(index) + " out of range");
    }
}

HALYARD_FOREIGN_CALL std::uint32_t T7zInArchive::GetNumberOfItems() {
    std::uint32_t count = 0;
    const HRESULT hr = Handler()->GetNumberOfItems(&count);
    if (hr != kOk) {
        ThrowCode(hr);
    }
    return count;
}

HALYARD_FOREIGN_CALL std::string T7zInArchive::ReadStringProperty(std::uint32_t index,
                                                                  PROPID propID) {
    PROPVARIANT value{};
    Handler()->GetProperty(index, propID, &value);
    std::string text = value.vt == VT_BSTR ? WideToUtf8(value.bstrVal) : std::string();
    FVariantClear(&value);
    return text;
}

HALYARD_FOREIGN_CALL bool T7zInArchive::ReadBoolProperty(std::uint32_t index, PROPID propID) {
    PROPVARIANT value{};
    Handler()->GetProperty(index, propID, &value);
    const bool on = value.vt == VT_BOOL && value.boolVal != 0;
    FVariantClear(&value);
    return on;
}

HALYARD_FOREIGN_CALL std::uint64_t T7zInArchive::ReadNumberProperty(std::uint32_t index,
                                                                    PROPID propID) {
    PROPVARIANT value{};
    Handler()->GetProperty(index, propID, &value);
    std::uint64_t number = 0;
    if (value.vt == VT_UI8) {
        number = value.uhVal;
    } else if (value.vt == VT_UI4) {
        number = value.ulVal;
    }
    FVariantClear(&value);
    return number;
}

std::string T7zInArchive::GetItemPath(std::uint32_t index) {
    CheckIndex(index);
    return ReadStringProperty(index, kpidPath);
}

std::uint64_t T7zInArchive::GetItemSize(std::uint32_t index) {
    CheckIndex(index);
    return ReadNumberProperty(index, kpidSize);
}

bool T7zInArchive::GetItemIsFolder(std::uint32_t index) {
    CheckIndex(index);
    return ReadBoolProperty(index, kpidIsFolder);
}

HALYARD_FOREIGN_CALL void T7zInArchive::RunExtract(const std::uint32_t* items, std::uint32_t count,
                                                   bool test) {
    FHaveCurrentItem = false;
    const HRESULT hr =
        Handler()->Extract(items, count, test ? 1 : 0, static_cast<IArchiveExtractCallback*>(this));
    FHaveCurrentItem = false;
    FGate->raise();
    if (hr != kOk && hr != kAbort) {
        ThrowCode(hr);
    }
}

void T7zInArchive::ExtractItem(std::uint32_t item, platform::FileWriter& stream, bool test) {
    CheckIndex(item);
    FStream = ComPtr<ISequentialOutStream>(
        MakeComObject<T7zStream>(&stream, TStreamOwnership::soReference, FGate).detach());
    struct Reset {
        T7zInArchive* self;
        ~Reset() { self->FStream.reset(); }
    } reset{this};
    RunExtract(&item, 1, test);
}

void T7zInArchive::ExtractTo(const std::string& path) {
    const std::unique_ptr<platform::Folder> folder = platform::Folder::OpenOrCreate(path);
    ExtractToFolder(*folder);
}

void T7zInArchive::ExtractToFolder(platform::Folder& folder) {
    // Nothing is written for an archive whose items would clash on Windows.
    CheckItemPaths();
    FExtractFolder = &folder;
    FBudget =
        std::make_shared<T7zUnpackBudget>(folder, MaxUnpackedBytes(), kFreeSpaceReserveMB << 20);
    struct Reset {
        T7zInArchive* self;
        ~Reset() {
            self->FExtractFolder = nullptr;
            self->FBudget.reset();
        }
    } reset{this};
    RunExtract(nullptr, 0xFFFFFFFF, false);
}

void T7zInArchive::SetPassword(const std::string& password) {
    FPassword = password;
    FPasswordIsDefined = true;
}

HRESULT T7zInArchive::SetTotal(const std::uint64_t* /*files*/, const std::uint64_t* /*bytes*/) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    return kOk;
}

HRESULT T7zInArchive::SetCompleted(const std::uint64_t* /*files*/, const std::uint64_t* /*bytes*/) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    return kOk;
}

constexpr std::uint64_t kMiB = 1024 * 1024;

HRESULT T7zInArchive::SetTotal(std::uint64_t total) {
    return Guarded([&] {
        if (FBudget) {
            FBudget->announce(total);
        }
        FProgressTotal = total;
        ShowProgress("Unpacking", 0, total / kMiB, " MiB");
        return kOk;
    });
}

HRESULT T7zInArchive::SetCompleted(const std::uint64_t* completeValue) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    if (completeValue != nullptr) {
        ShowProgress("Unpacking", *completeValue / kMiB, FProgressTotal / kMiB, " MiB");
    }
    return kOk;
}

HRESULT T7zInArchive::FolderStream(std::uint32_t index, ISequentialOutStream** outStream) {
    const std::string path = ReadStringProperty(index, kpidPath);
    if (ReadBoolProperty(index, kpidIsFolder) || ReadBoolProperty(index, kpidIsAnti)) {
        return kOk; // folders come into being with their files; nothing is ever deleted
    }
    const ArchiveItemPathCheck check = CheckArchiveItemPath(path);
    if (!check.ok) {
        throw ESevenZipException("Refused item \"" + path + "\": " + check.reason);
    }
    const auto attrib = static_cast<std::uint32_t>(ReadNumberProperty(index, kpidAttrib));
    const bool link =
        (attrib & kAttribReparsePoint) != 0 ||
        ((attrib & kAttribUnixExtension) != 0 && ((attrib >> 16) & kUnixTypeMask) == kUnixTypeLink);
    if (link) {
        throw ESevenZipException("Refused item \"" + path +
                                 "\": symbolic links and reparse points are not extracted");
    }
    // Created relative to the held folder, level by level, never through a link.
    std::unique_ptr<platform::FileWriter> writer = FExtractFolder->CreateFileBelow(check.relative);
    FBudget->startItem(path);
    auto stream = MakeComObject<T7zStream>(writer.get(), TStreamOwnership::soOwned, FGate, FBudget);
    writer.release();
    *outStream = static_cast<IOutStream*>(stream.detach());
    return kOk;
}

void T7zInArchive::CheckItemPaths() {
    const std::uint32_t count = GetNumberOfItems();
    if (count > kMaxArchiveItems) {
        throw ESevenZipException("Refused archive: it holds " + std::to_string(count) +
                                 " items, more than the " + std::to_string(kMaxArchiveItems) +
                                 " a package may hold");
    }
    std::vector<ArchiveItemEntry> items(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        items[i].path = ReadStringProperty(i, kpidPath);
        // Anti-items delete on extraction; this binding writes nothing for them.
        items[i].folder = ReadBoolProperty(i, kpidIsFolder) || ReadBoolProperty(i, kpidIsAnti);
    }
    const ArchiveItemsCheck check = CheckArchiveItemPaths(items);
    if (!check.ok) {
        throw ESevenZipException("Refused item \"" + items[check.item].path +
                                 "\": " + check.reason);
    }
}

HRESULT T7zInArchive::GetStream(std::uint32_t index, ISequentialOutStream** outStream,
                                std::int32_t askExtractMode) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    if (outStream != nullptr) {
        *outStream = nullptr;
    }
    try {
        FHaveCurrentItem = true;
        FCurrentItem = index;
        if (askExtractMode != kExtract || outStream == nullptr) {
            return kOk;
        }
        if (FExtractFolder != nullptr) {
            return FolderStream(index, outStream);
        }
        if (FStream) {
            *outStream = ComPtr<ISequentialOutStream>(FStream).detach();
            return kOk;
        }
        return kOk;
    } catch (...) {
        // A refused item stops the whole extraction: its error is raised once the library
        // returns.
        FGate->keep(std::current_exception());
        return kAbort;
    }
}

HRESULT T7zInArchive::PrepareOperation(std::int32_t /*askExtractMode*/) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    return kOk;
}

HRESULT T7zInArchive::SetOperationResult(std::int32_t opRes) {
    return Guarded([&] {
        const auto result = static_cast<OperationResult>(opRes);
        if (result != OperationResult::Ok) {
            std::string item = "?";
            bool encrypted = false;
            if (FHaveCurrentItem) {
                item = ReadStringProperty(FCurrentItem, kpidPath);
                encrypted = ReadBoolProperty(FCurrentItem, kpidEncrypted);
            }
            FGate->keep(std::make_exception_ptr(ESevenZipException(
                "Item \"" + item +
                "\" was not extracted correctly: " + OperationResultText(result, encrypted))));
        }
        return kOk;
    });
}

HRESULT T7zInArchive::GetProperty(PROPID /*propID*/, PROPVARIANT* value) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    if (value != nullptr) {
        std::memset(static_cast<void*>(value), 0, sizeof *value);
    }
    return kOk;
}

HRESULT T7zInArchive::GetStream(const wchar_t* /*name*/, IInStream** inStream) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    if (inStream != nullptr) {
        *inStream = nullptr;
    }
    return kOk;
}

HRESULT T7zInArchive::SetSubArchiveName(const wchar_t* /*name*/) {
    const std::unique_lock<std::recursive_mutex> entered = Enter();
    return kOk;
}

HRESULT T7zInArchive::CryptoGetTextPassword(BSTR* password) {
    if (password != nullptr) {
        *password = nullptr;
    }
    return Guarded([&] {
        FPasswordAsked = true;
        if (!FPasswordIsDefined) {
            return kFalse;
        }
        if (password != nullptr) {
            // The library frees the text with its own allocator.
            *password = FSysAllocString(Utf8ToWide(FPassword).c_str());
        }
        return kOk;
    });
}

// ---------------------------------------------------------------------------------------------

namespace {

// A new archive object whose reference the caller owns.
ComPtr<T7zInArchive> NewInArchive(const GUID& classid, const std::string& library) {
    return MakeComObject<T7zInArchive>(library, classid);
}

} // namespace

I7zInArchivePtr CreateInArchive(const GUID& classid, const std::string& library) {
    ComPtr<T7zInArchive> archive = NewInArchive(classid, library);
    return I7zInArchivePtr(static_cast<I7zInArchive*>(archive.detach()));
}

namespace {

// Opens the archive, then unpacks it as extract says; any error is told on one line.
template <class Extract>
bool UnZipWith(const std::string& fileName, Extract&& extract) {
    try {
        ComPtr<T7zInArchive> archive = NewInArchive(CLSID_CFormat7z, kSevenZipLibrary);
        archive->OpenFile(fileName);
        extract(*archive.get());
        return true;
    } catch (const std::exception& e) {
        WriteLine(std::string("UnZipFile: ") + e.what());
        return false;
    }
}

} // namespace

bool UnZipFile(const std::string& fileName, const std::string& extractPath) {
    return UnZipWith(fileName, [&](T7zInArchive& archive) { archive.ExtractTo(extractPath); });
}

bool UnZipFile(const std::string& fileName, platform::Folder& folder) {
    return UnZipWith(fileName, [&](T7zInArchive& archive) { archive.ExtractToFolder(folder); });
}

} // namespace halyard

// The binding to the 7-Zip library ("7z.dll", on POSIX the library 7z.so): it loads the library,
// creates its archive handler and answers the handler's calls (the archive's input stream, the
// open and extract callbacks, the items' output streams). Every object is reference-counted in
// the COM manner. The library calls back on the calling thread only: the handler is told to run
// single-threaded before it opens an archive.
#pragma once

#include "external/sevenzip/sevenzip_abi.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace halyard {

namespace platform {
class FileReader;
class FileWriter;
class Folder;
} // namespace platform

// The library name the program loads.
inline constexpr const char* kSevenZipLibrary = "7z.dll";

// MAXCHECK: the largest start offset of the archive signature the library is to search.
inline constexpr std::uint64_t kMaxCheckStartPosition = 1048576;

// {022CF785-3ECE-46EF-9755-291FA84CC6C9}
inline constexpr sevenzip::GUID IID_I7zInArchive{
    0x022CF785, 0x3ECE, 0x46EF, {0x97, 0x55, 0x29, 0x1F, 0xA8, 0x4C, 0xC6, 0xC9}};

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

using T7zPasswordCallback = sevenzip::HRESULT (*)(void* sender, std::string& password);
using T7zGetStreamCallBack = sevenzip::HRESULT (*)(void* sender, std::uint32_t index,
                                                   sevenzip::ISequentialOutStream** outStream);
using T7zProgressCallback = sevenzip::HRESULT (*)(void* sender, bool total, std::uint64_t value);

// One archive opened for reading. The operations throw our error types (ESevenZipException,
// EFOpenError, EFCreateError, EInOutError, ...) on failure.
class I7zInArchive : public sevenzip::IUnknown {
public:
    virtual void OpenFile(const std::string& filename) = 0;
    virtual void OpenStream(sevenzip::IInStream* stream) = 0;
    virtual void Close() = 0;
    virtual std::uint32_t GetNumberOfItems() = 0;
    virtual std::string GetItemPath(std::uint32_t index) = 0;
    virtual std::string GetItemName(std::uint32_t index) = 0;
    virtual std::uint64_t GetItemSize(std::uint32_t index) = 0;
    virtual bool GetItemIsFolder(std::uint32_t index) = 0;
    virtual sevenzip::IInArchive* GetInArchive() = 0;
    virtual void ExtractItem(std::uint32_t item, platform::FileWriter& stream, bool test) = 0;
    virtual void ExtractItems(const std::uint32_t* items, std::uint32_t count, bool test,
                              void* sender, T7zGetStreamCallBack callback) = 0;
    virtual void ExtractAll(bool test, void* sender, T7zGetStreamCallBack callback) = 0;
    virtual void ExtractTo(const std::string& path) = 0;
    virtual void SetPasswordCallback(void* sender, T7zPasswordCallback callback) = 0;
    virtual void SetPassword(const std::string& password) = 0;
    virtual void SetProgressCallback(void* sender, T7zProgressCallback callback) = 0;
    virtual void SetClassId(const sevenzip::GUID& classid) = 0;
    virtual sevenzip::GUID GetClassId() = 0;
    // Extracts every item into a folder held open (see ExtractTo), within the bounds of
    // MaxUnpackedBytes and kFreeSpaceReserveMB.
    virtual void ExtractToFolder(platform::Folder& folder) = 0;

protected:
    ~I7zInArchive() = default;
};

using I7zInArchivePtr = sevenzip::ComPtr<I7zInArchive>;

// The first error raised inside a call from the library. An exception must never unwind into
// the library: the callback keeps it, answers with a failure code, and the binding raises it
// again once the library call has returned.
class T7zCallbackErrors {
public:
    void keep(std::exception_ptr error);
    // Raises the kept error, if any, and forgets it.
    void raise();

private:
    std::mutex mutex_;
    std::exception_ptr first_;
};

enum class TStreamOwnership { soReference, soOwned };

// The bounds of one unpacking into a folder: the bytes written in all (counted as they are
// written, whatever sizes the archive claims), and the free space that must stay on the
// folder's file system (looked at every kCheckEvery bytes). Breaking one throws
// ESevenZipException.
class T7zUnpackBudget {
public:
    static constexpr std::uint64_t kCheckEvery = 8u << 20;

    T7zUnpackBudget(platform::Folder& folder, std::uint64_t limit, std::uint64_t reserve);
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

// Adapts a file stream to the library's stream interfaces.
class T7zStream final : public sevenzip::IInStream,
                        public sevenzip::IStreamGetSize,
                        public sevenzip::IOutStream,
                        public sevenzip::IOutStreamFlush {
public:
    T7zStream(platform::FileReader* stream, TStreamOwnership ownership,
              std::shared_ptr<T7zCallbackErrors> errors);
    T7zStream(platform::FileWriter* stream, TStreamOwnership ownership,
              std::shared_ptr<T7zCallbackErrors> errors,
              std::shared_ptr<T7zUnpackBudget> budget = nullptr);
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
    std::shared_ptr<T7zCallbackErrors> FErrors;
    std::shared_ptr<T7zUnpackBudget> FBudget;
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
    std::string FLibraryName;
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
    explicit T7zInArchive(const std::string& library);

    // IUnknown
    sevenzip::HRESULT QueryInterface(const sevenzip::GUID& iid, void** out) override;
    sevenzip::ULONG AddRef() override;
    sevenzip::ULONG Release() override;

    // I7zInArchive
    void OpenFile(const std::string& filename) override;
    void OpenStream(sevenzip::IInStream* stream) override;
    void Close() override;
    std::uint32_t GetNumberOfItems() override;
    std::string GetItemPath(std::uint32_t index) override;
    std::string GetItemName(std::uint32_t index) override;
    std::uint64_t GetItemSize(std::uint32_t index) override;
    bool GetItemIsFolder(std::uint32_t index) override;
    sevenzip::IInArchive* GetInArchive() override;
    void ExtractItem(std::uint32_t item, platform::FileWriter& stream, bool test) override;
    void ExtractItems(const std::uint32_t* items, std::uint32_t count, bool test, void* sender,
                      T7zGetStreamCallBack callback) override;
    void ExtractAll(bool test, void* sender, T7zGetStreamCallBack callback) override;
    void ExtractTo(const std::string& path) override;
    void SetPasswordCallback(void* sender, T7zPasswordCallback callback) override;
    void SetPassword(const std::string& password) override;
    void SetProgressCallback(void* sender, T7zProgressCallback callback) override;
    void SetClassId(const sevenzip::GUID& classid) override;
    sevenzip::GUID GetClassId() override;
    void ExtractToFolder(platform::Folder& folder) override;

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

    // How many calls from the library, in this process, arrived on a thread other than the
    // one that created the archive object (for tests of the single-thread setting).
    static std::uint64_t CallbacksOffThread();
    // Tests only: whether the handler is told to run single-threaded (default true).
    static void SetSingleThreadedHandler(bool on);

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
    // The message for an Open that failed with hr: what the handler found, not just the code.
    std::string OpenFailureText(sevenzip::HRESULT hr, sevenzip::IInStream* stream);
    void NoteThread() const;
    template <class Fn>
    sevenzip::HRESULT Guarded(Fn&& fn);

    std::atomic<sevenzip::ULONG> FRefCount{0};
    std::thread::id FThread;
    std::shared_ptr<T7zCallbackErrors> FErrors;

    sevenzip::ComPtr<sevenzip::IInArchive> FInArchive;
    T7zPasswordCallback FPasswordCallback = nullptr;
    void* FPasswordSender = nullptr;
    T7zProgressCallback FProgressCallback = nullptr;
    void* FProgressSender = nullptr;
    sevenzip::ComPtr<sevenzip::ISequentialOutStream> FStream;
    bool FPasswordIsDefined = false;
    std::string FPassword;
    bool FSubArchiveMode = false;
    std::string FSubArchiveName;
    T7zGetStreamCallBack FExtractCallBack = nullptr;
    void* FExtractSender = nullptr;
    std::string FExtractPath;
    // The folder an extraction to a folder writes into, and its bounds; null otherwise.
    platform::Folder* FExtractFolder = nullptr;
    std::shared_ptr<T7zUnpackBudget> FBudget;

    // The item the library is working on, for its per-item result.
    bool FHaveCurrentItem = false;
    std::uint32_t FCurrentItem = 0;
    // Whether the library asked for a password since Open began (encrypted headers).
    bool FPasswordAsked = false;
};

// Loads the library (by default "7z.dll") and returns a new, unopened archive object of the
// format classid. Throws ESevenZipException when the library cannot be used.
I7zInArchivePtr CreateInArchive(const sevenzip::GUID& classid,
                                const std::string& library = kSevenZipLibrary);

// Unpacks a 7z archive into a folder. False after an error, which has been written as one
// "UnZipFile: " line: also for an item that would leave the folder or is a symbolic link, and
// for an item the library could not extract correctly (damaged data, missing password, ...).
// The folder is opened (made when missing) after the archive has been opened.
bool UnZipFile(const std::string& fileName, const std::string& extractPath);
// The same into a folder the caller holds.
bool UnZipFile(const std::string& fileName, platform::Folder& folder);

} // namespace halyard

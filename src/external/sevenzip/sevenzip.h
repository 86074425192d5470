// The binding to the 7-Zip library ("7z.dll", on POSIX the library 7z.so): it loads the library,
// creates its archive handler and answers the handler's calls (the archive's input stream, the
// open and extract callbacks, the items' output streams). Every object is reference-counted in
// the COM manner. The library may decode on threads of its own (within a fixed memory budget)
// and call back from them; the binding takes its calls one at a time.
#pragma once

#include "external/sevenzip/sevenzip_abi.h"

#include <cstdint>
#include <string>

namespace halyard {

namespace platform {
class FileWriter;
class Folder;
} // namespace platform

// The library name the program loads.
inline constexpr const char* kSevenZipLibrary = "7z.dll";

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

// One archive opened for reading. The operations throw our error types (ESevenZipException,
// EFOpenError, EFCreateError, EInOutError, ...) on failure.
class I7zInArchive : public sevenzip::IUnknown {
public:
    virtual void OpenFile(const std::string& filename) = 0;
    virtual std::uint32_t GetNumberOfItems() = 0;
    virtual std::string GetItemPath(std::uint32_t index) = 0;
    virtual std::uint64_t GetItemSize(std::uint32_t index) = 0;
    virtual bool GetItemIsFolder(std::uint32_t index) = 0;
    virtual void ExtractItem(std::uint32_t item, platform::FileWriter& stream, bool test) = 0;
    // Extracts every item into the folder (made when missing), within the bounds of
    // MaxUnpackedBytes and kFreeSpaceReserveMB.
    virtual void ExtractTo(const std::string& path) = 0;
    virtual void SetPassword(const std::string& password) = 0;

protected:
    ~I7zInArchive() = default;
};

using I7zInArchivePtr = sevenzip::ComPtr<I7zInArchive>;

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

// Loads the library (by default "7z.dll") and returns a new, unopened archive object of the
// format classid. Throws ESevenZipException when the library cannot be used.
I7zInArchivePtr CreateInArchive(const sevenzip::GUID& classid,
                                const std::string& library = kSevenZipLibrary);

// How many calls from the library, in this process, arrived on a thread other than the one that
// created the archive object. The library decodes on threads of its own where the archive and
// the memory allow it; the binding takes those calls one at a time.
std::uint64_t SevenZipCallbacksOffThread();
// Tests only: whether the library is told to decode on the calling thread alone (default false).
void SetSevenZipSingleThreadedHandler(bool on);

// Unpacks a 7z archive into a folder. False after an error, which has been written as one
// "UnZipFile: " line: also for an item that would leave the folder or is a symbolic link, and
// for an item the library could not extract correctly (damaged data, missing password, ...).
// The folder is opened (made when missing) after the archive has been opened.
bool UnZipFile(const std::string& fileName, const std::string& extractPath);
// The same into a folder the caller holds.
bool UnZipFile(const std::string& fileName, platform::Folder& folder);

} // namespace halyard

// The binding to the 7-Zip library ("7z.dll", on POSIX the library 7z.so): what its callers use.
// UnZipFile unpacks a package archive into a folder; CreateInArchive gives one archive object
// for reading through the I7zInArchive operations. The library's objects and ours are
// reference-counted in the COM manner; the library may decode on threads of its own (within a
// fixed memory budget) and call back from them, and the binding takes its calls one at a time.
#pragma once

#include "external/sevenzip/sevenzip_com.h"

#include <cstdint>
#include <memory>
#include <string>

namespace halyard {

namespace platform {
class FileReader;
class FileWriter;
class Folder;
} // namespace platform

// The library name the program loads.
inline constexpr const char* kSevenZipLibrary = "7z.dll";

// One archive opened for reading. The operations throw our error types (ESevenZipException,
// EFOpenError, EFCreateError, EInOutError, ...) on failure.
class I7zInArchive : public sevenzip::IUnknown {
public:
    // {022CF785-3ECE-46EF-9755-291FA84CC6C9}
    static constexpr sevenzip::GUID kIid{
        0x022CF785, 0x3ECE, 0x46EF, {0x97, 0x55, 0x29, 0x1F, 0xA8, 0x4C, 0xC6, 0xC9}};
    using Base = sevenzip::IUnknown;

    virtual void OpenFile(const std::string& filename) = 0;
    // Opens the archive from a file already open; the archive object owns it from here on.
    virtual void openStream(std::unique_ptr<platform::FileReader> stream) = 0;
    virtual std::uint32_t GetNumberOfItems() = 0;
    virtual std::string GetItemPath(std::uint32_t index) = 0;
    virtual std::uint64_t GetItemSize(std::uint32_t index) = 0;
    virtual bool GetItemIsFolder(std::uint32_t index) = 0;
    virtual void ExtractItem(std::uint32_t item, platform::FileWriter& stream, bool test) = 0;
    // Extracts every item into the folder (made when missing), within the bounds of the
    // unpacking (sevenzip_budget.h).
    virtual void ExtractTo(const std::string& path) = 0;
    virtual void SetPassword(const std::string& password) = 0;

protected:
    ~I7zInArchive() = default;
};

using I7zInArchivePtr = sevenzip::ComPtr<I7zInArchive>;

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
// The same from the archive file the caller opened: its path is not opened again.
bool UnZipFile(std::unique_ptr<platform::FileReader> archive, platform::Folder& folder);

} // namespace halyard

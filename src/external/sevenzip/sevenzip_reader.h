// One archive read through the library: it opens the archive (after the header pre-check),
// answers the item queries, and extracts items to a folder, to a caller's file or into memory,
// answering the library's open and extract callbacks. Item paths are checked before anything is
// written, and the unpacking keeps within its budget.
#pragma once

#include "external/sevenzip/sevenzip.h"
#include "external/sevenzip/sevenzip_library.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace halyard {

class SevenZipCallGate;
class SevenZipUnpackBudget;

class T7zInArchive final
    : public sevenzip::ComObject<
          T7zInArchive, I7zInArchive, sevenzip::IArchiveOpenCallback,
          sevenzip::IArchiveExtractCallback, sevenzip::IArchiveOpenVolumeCallback,
          sevenzip::IArchiveOpenSetSubArchiveName, sevenzip::ICryptoGetTextPassword> {
public:
    explicit T7zInArchive(std::shared_ptr<const T7zArchive> library);

    // I7zInArchive
    void OpenFile(const std::string& filename) override;
    void openStream(std::unique_ptr<platform::FileReader> stream) override;
    std::uint32_t GetNumberOfItems() override;
    std::string GetItemPath(std::uint32_t index) override;
    std::uint64_t GetItemSize(std::uint32_t index) override;
    bool GetItemIsFolder(std::uint32_t index) override;
    void ExtractItem(std::uint32_t item, platform::FileWriter& stream, bool test) override;
    void ExtractTo(const std::string& path) override;
    void SetPassword(const std::string& password) override;

    // Extracts every item into a folder held open (see ExtractTo).
    void extractToFolder(platform::Folder& folder);
    // Opens an archive held in memory.
    void openBytes(std::vector<std::uint8_t> bytes);
    // The item's bytes, refused when they would pass cap.
    std::vector<std::uint8_t> extractItemBytes(std::uint32_t item, std::uint64_t cap);

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
    using Base =
        sevenzip::ComObject<T7zInArchive, I7zInArchive, sevenzip::IArchiveOpenCallback,
                            sevenzip::IArchiveExtractCallback, sevenzip::IArchiveOpenVolumeCallback,
                            sevenzip::IArchiveOpenSetSubArchiveName,
                            sevenzip::ICryptoGetTextPassword>;
    friend Base;
    ~T7zInArchive();

    sevenzip::IInArchive* handler();
    void openWith(sevenzip::IInStream* stream);
    // Extracts with the target in FStream (or the folder target), dropping it afterwards.
    void runExtract(const std::uint32_t* items, std::uint32_t count, bool test);
    std::string readStringProperty(std::uint32_t index, sevenzip::PROPID propID);
    bool readBoolProperty(std::uint32_t index, sevenzip::PROPID propID);
    std::uint64_t readNumberProperty(std::uint32_t index, sevenzip::PROPID propID);
    void checkIndex(std::uint32_t index);
    sevenzip::HRESULT folderStream(std::uint32_t index, sevenzip::ISequentialOutStream** outStream);
    // Refuses, before anything is written, an archive whose items are ambiguous on Windows or
    // would leave the target folder (CheckArchiveItemPaths).
    void checkItemPaths();
    // Refuses an archive whose headers would make the library take more memory than any
    // package needs (CheckSevenZipStart), before the library reads them.
    void checkHeaders(platform::FileReader& reader);
    // The message for an Open that failed with hr: what the handler found, not just the code.
    std::string openFailureText(sevenzip::HRESULT hr, sevenzip::IInStream* stream);
    // Holds the gate for one callback; an error fn raises is kept for after the library call.
    template <class Fn>
    sevenzip::HRESULT guarded(Fn&& fn);

    // The library goes after everything below: the handler and the streams live in it.
    std::shared_ptr<const T7zArchive> library_;
    std::shared_ptr<SevenZipCallGate> gate_;

    sevenzip::ComPtr<sevenzip::IInArchive> FInArchive;
    // The target of a single-item extraction.
    sevenzip::ComPtr<sevenzip::ISequentialOutStream> FStream;
    bool FPasswordIsDefined = false;
    std::string FPassword;
    // The folder an extraction to a folder writes into, and its bounds; null otherwise.
    platform::Folder* extractFolder_ = nullptr;
    std::shared_ptr<SevenZipUnpackBudget> budget_;
    // The unpacking's total as the library announced it, for the progress line.
    std::uint64_t progressTotal_ = 0;

    // The item the library is working on, for its per-item result.
    bool haveCurrentItem_ = false;
    std::uint32_t currentItem_ = 0;
    // Whether the library asked for a password since Open began (encrypted headers).
    bool passwordAsked_ = false;
};

} // namespace halyard

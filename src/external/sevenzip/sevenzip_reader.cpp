#include "external/sevenzip/sevenzip_reader.h"

#include "base/errors.h"
#include "base/unicode.h"
#include "external/sevenzip/sevenzip_budget.h"
#include "external/sevenzip/sevenzip_gate.h"
#include "external/sevenzip/sevenzip_header.h"
#include "external/sevenzip/sevenzip_path.h"
#include "external/sevenzip/sevenzip_stream.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/messages.h"
#include "report/progress.h"

#include <cstring>
#include <utility>

namespace halyard {

using namespace sevenzip;

namespace {

// FILE_ATTRIBUTE_REPARSE_POINT, and the flag that puts a POSIX mode in the high 16 bits.
constexpr std::uint32_t kAttribReparsePoint = 0x400;
constexpr std::uint32_t kAttribUnixExtension = 0x8000;
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixTypeLink = 0120000;

// The 7z signature at the start of an archive.
constexpr std::uint8_t kSignature7z[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};

// MAXCHECK: the largest start offset of the archive signature the library is to search.
constexpr std::uint64_t kMaxCheckStartPosition = 1048576;

constexpr std::uint64_t kMiB = 1024 * 1024;

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

// Holds a target of the archive object for the length of one extraction.
template <class T>
class Lent {
public:
    Lent(T& slot, T value) : slot_(slot) { slot_ = std::move(value); }
    ~Lent() { slot_ = T(); }
    Lent(const Lent&) = delete;
    Lent& operator=(const Lent&) = delete;

private:
    T& slot_;
};

} // namespace

T7zInArchive::T7zInArchive(std::shared_ptr<const T7zArchive> library)
    : library_(std::move(library)), gate_(std::make_shared<SevenZipCallGate>()) {}

T7zInArchive::~T7zInArchive() {
    // The handler goes before the library it lives in; the streams it holds go with it.
    FStream.reset();
    FInArchive.reset();
}

template <class Fn>
HRESULT T7zInArchive::guarded(Fn&& fn) {
    return gate_->guarded(gate_->enterCallback(), std::forward<Fn>(fn));
}

IInArchive* T7zInArchive::handler() {
    if (!FInArchive) {
        FInArchive = library_->createHandler();
    }
    return FInArchive.get();
}

// ---------------------------------------------------------------------------------------------
// Opening

void T7zInArchive::OpenFile(const std::string& filename) {
    openStream(std::make_unique<platform::FileReader>(filename));
}

void T7zInArchive::openStream(std::unique_ptr<platform::FileReader> stream) {
    checkHeaders(*stream);
    stream->seek(0, 0);
    const auto archive = MakeComObject<SevenZipFileInStream>(std::move(stream), gate_);
    openWith(archive.get());
}

void T7zInArchive::openBytes(std::vector<std::uint8_t> bytes) {
    const auto archive = MakeComObject<SevenZipMemoryInStream>(std::move(bytes));
    openWith(archive.get());
}

HALYARD_FOREIGN_CALL void T7zInArchive::openWith(IInStream* stream) {
    const std::uint64_t maxCheck = kMaxCheckStartPosition;
    IInArchive* inArchive = handler();
    passwordAsked_ = false;
    const HRESULT hr = inArchive->Open(stream, &maxCheck, static_cast<IArchiveOpenCallback*>(this));
    gate_->raise();
    if (hr != kOk) {
        throw ESevenZipException(openFailureText(hr, stream));
    }
}

HALYARD_FOREIGN_CALL std::string T7zInArchive::openFailureText(HRESULT hr, IInStream* stream) {
    if (hr < 0) {
        return platform::SysErrorMessage(static_cast<std::uint32_t>(hr));
    }
    // The handler keeps what it found for a failed Open in its error flags.
    std::uint32_t flags = 0;
    {
        PropVariant value = library_->variant();
        handler()->GetArchiveProperty(kpidErrorFlags, value.put());
        flags = value->vt == VT_UI4 ? value->ulVal : 0;
    }
    if (passwordAsked_) {
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
        gate_->raise();
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

void T7zInArchive::checkHeaders(platform::FileReader& reader) {
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
        const ComPtr<T7zInArchive> inner = MakeComObject<T7zInArchive>(library_);
        if (FPasswordIsDefined) {
            inner->SetPassword(FPassword);
        }
        inner->openBytes(check.headerArchive);
        if (inner->GetNumberOfItems() != 1) {
            return;
        }
        header = inner->extractItemBytes(0, check.headerSize);
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

void T7zInArchive::SetPassword(const std::string& password) {
    FPassword = password;
    FPasswordIsDefined = true;
}

// ---------------------------------------------------------------------------------------------
// Listing

void T7zInArchive::checkIndex(std::uint32_t index) {
    // The handler does not check the index itself.
    if (index >= GetNumberOfItems()) {
        throw ESevenZipException("Item index " + std::to_string(index) + " out of range");
    }
}

HALYARD_FOREIGN_CALL std::uint32_t T7zInArchive::GetNumberOfItems() {
    std::uint32_t count = 0;
    const HRESULT hr = handler()->GetNumberOfItems(&count);
    if (hr != kOk) {
        ThrowSevenZipCode(hr);
    }
    return count;
}

// A property's own result is not looked at: an absent one reads as empty, false or 0.
HALYARD_FOREIGN_CALL std::string T7zInArchive::readStringProperty(std::uint32_t index,
                                                                  PROPID propID) {
    PropVariant value = library_->variant();
    handler()->GetProperty(index, propID, value.put());
    return value->vt == VT_BSTR ? WideToUtf8(value->bstrVal) : std::string();
}

HALYARD_FOREIGN_CALL bool T7zInArchive::readBoolProperty(std::uint32_t index, PROPID propID) {
    PropVariant value = library_->variant();
    handler()->GetProperty(index, propID, value.put());
    return value->vt == VT_BOOL && value->boolVal != 0;
}

HALYARD_FOREIGN_CALL std::uint64_t T7zInArchive::readNumberProperty(std::uint32_t index,
                                                                    PROPID propID) {
    PropVariant value = library_->variant();
    handler()->GetProperty(index, propID, value.put());
    if (value->vt == VT_UI8) {
        return value->uhVal;
    }
    return value->vt == VT_UI4 ? value->ulVal : 0;
}

std::string T7zInArchive::GetItemPath(std::uint32_t index) {
    checkIndex(index);
    return readStringProperty(index, kpidPath);
}

std::uint64_t T7zInArchive::GetItemSize(std::uint32_t index) {
    checkIndex(index);
    return readNumberProperty(index, kpidSize);
}

bool T7zInArchive::GetItemIsFolder(std::uint32_t index) {
    checkIndex(index);
    return readBoolProperty(index, kpidIsFolder);
}

void T7zInArchive::checkItemPaths() {
    const std::uint32_t count = GetNumberOfItems();
    CheckArchiveItemCount(count);
    std::vector<ArchiveItemEntry> items(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        items[i].path = readStringProperty(i, kpidPath);
        // Anti-items delete on extraction; this binding writes nothing for them.
        items[i].folder = readBoolProperty(i, kpidIsFolder) || readBoolProperty(i, kpidIsAnti);
    }
    const ArchiveItemsCheck check = CheckArchiveItemPaths(items);
    if (!check.ok) {
        throw ESevenZipException("Refused item \"" + items[check.item].path +
                                 "\": " + check.reason);
    }
}

// ---------------------------------------------------------------------------------------------
// Extracting

HALYARD_FOREIGN_CALL void T7zInArchive::runExtract(const std::uint32_t* items, std::uint32_t count,
                                                   bool test) {
    haveCurrentItem_ = false;
    const HRESULT hr =
        handler()->Extract(items, count, test ? 1 : 0, static_cast<IArchiveExtractCallback*>(this));
    haveCurrentItem_ = false;
    gate_->raise();
    if (hr != kOk && hr != kAbort) {
        ThrowSevenZipCode(hr);
    }
}

void T7zInArchive::ExtractItem(std::uint32_t item, platform::FileWriter& stream, bool test) {
    checkIndex(item);
    const Lent<ComPtr<ISequentialOutStream>> target(
        FStream, MakeComObject<SevenZipFileOutStream>(stream, gate_));
    runExtract(&item, 1, test);
}

std::vector<std::uint8_t> T7zInArchive::extractItemBytes(std::uint32_t item, std::uint64_t cap) {
    checkIndex(item);
    const auto sink = MakeComObject<SevenZipMemoryOutStream>(cap);
    const Lent<ComPtr<ISequentialOutStream>> target(FStream, ComPtr<ISequentialOutStream>(sink));
    runExtract(&item, 1, false);
    return std::move(sink->bytes());
}

void T7zInArchive::ExtractTo(const std::string& path) {
    const std::unique_ptr<platform::Folder> folder = platform::Folder::openOrCreate(path);
    extractToFolder(*folder);
}

void T7zInArchive::extractToFolder(platform::Folder& folder) {
    // Nothing is written for an archive whose items would clash on Windows.
    checkItemPaths();
    const Lent<platform::Folder*> target(extractFolder_, &folder);
    const Lent<std::shared_ptr<SevenZipUnpackBudget>> budget(
        budget_, std::make_shared<SevenZipUnpackBudget>(folder, MaxUnpackedBytes(),
                                                        kFreeSpaceReserveMB << 20));
    runExtract(nullptr, 0xFFFFFFFF, false);
}

HRESULT T7zInArchive::folderStream(std::uint32_t index, ISequentialOutStream** outStream) {
    const std::string path = readStringProperty(index, kpidPath);
    if (readBoolProperty(index, kpidIsFolder) || readBoolProperty(index, kpidIsAnti)) {
        return kOk; // folders come into being with their files; nothing is ever deleted
    }
    const ArchiveItemPathCheck check = CheckArchiveItemPath(path);
    if (!check.ok) {
        throw ESevenZipException("Refused item \"" + path + "\": " + check.reason);
    }
    const auto attrib = static_cast<std::uint32_t>(readNumberProperty(index, kpidAttrib));
    const bool link =
        (attrib & kAttribReparsePoint) != 0 ||
        ((attrib & kAttribUnixExtension) != 0 && ((attrib >> 16) & kUnixTypeMask) == kUnixTypeLink);
    if (link) {
        throw ESevenZipException("Refused item \"" + path +
                                 "\": symbolic links and reparse points are not extracted");
    }
    // Created relative to the held folder, level by level, never through a link.
    std::unique_ptr<platform::FileWriter> file = extractFolder_->createFileBelow(check.relative);
    budget_->startItem(path);
    ComPtr<IOutStream> stream =
        MakeComObject<SevenZipFileOutStream>(std::move(file), gate_, budget_);
    *outStream = stream.detach();
    return kOk;
}

// ---------------------------------------------------------------------------------------------
// The library's calls

HRESULT T7zInArchive::SetTotal(const std::uint64_t* /*files*/, const std::uint64_t* /*bytes*/) {
    const SevenZipCallGate::Entry entered = gate_->enterCallback();
    return kOk;
}

HRESULT T7zInArchive::SetCompleted(const std::uint64_t* /*files*/, const std::uint64_t* /*bytes*/) {
    const SevenZipCallGate::Entry entered = gate_->enterCallback();
    return kOk;
}

HRESULT T7zInArchive::SetTotal(std::uint64_t total) {
    return guarded([&] {
        if (budget_) {
            budget_->announce(total);
        }
        progressTotal_ = total;
        ShowProgress("Unpacking", 0, total / kMiB, " MiB");
        return kOk;
    });
}

HRESULT T7zInArchive::SetCompleted(const std::uint64_t* completeValue) {
    const SevenZipCallGate::Entry entered = gate_->enterCallback();
    if (completeValue != nullptr) {
        ShowProgress("Unpacking", *completeValue / kMiB, progressTotal_ / kMiB, " MiB");
    }
    return kOk;
}

HRESULT T7zInArchive::GetStream(std::uint32_t index, ISequentialOutStream** outStream,
                                std::int32_t askExtractMode) {
    const SevenZipCallGate::Entry entered = gate_->enterCallback();
    if (outStream != nullptr) {
        *outStream = nullptr;
    }
    try {
        haveCurrentItem_ = true;
        currentItem_ = index;
        if (askExtractMode != kExtract || outStream == nullptr) {
            return kOk;
        }
        if (extractFolder_ != nullptr) {
            return folderStream(index, outStream);
        }
        if (FStream) {
            *outStream = ComPtr<ISequentialOutStream>(FStream).detach();
        }
        return kOk;
    } catch (...) {
        // A refused item stops the whole extraction: its error is raised once the library
        // returns.
        gate_->keep(std::current_exception());
        return kAbort;
    }
}

HRESULT T7zInArchive::PrepareOperation(std::int32_t /*askExtractMode*/) {
    const SevenZipCallGate::Entry entered = gate_->enterCallback();
    return kOk;
}

HRESULT T7zInArchive::SetOperationResult(std::int32_t opRes) {
    return guarded([&] {
        const auto result = static_cast<OperationResult>(opRes);
        if (result != OperationResult::Ok) {
            std::string item = "?";
            bool encrypted = false;
            if (haveCurrentItem_) {
                item = readStringProperty(currentItem_, kpidPath);
                encrypted = readBoolProperty(currentItem_, kpidEncrypted);
            }
            gate_->keep(std::make_exception_ptr(ESevenZipException(
                "Item \"" + item +
                "\" was not extracted correctly: " + OperationResultText(result, encrypted))));
        }
        return kOk;
    });
}

HRESULT T7zInArchive::GetProperty(PROPID /*propID*/, PROPVARIANT* value) {
    const SevenZipCallGate::Entry entered = gate_->enterCallback();
    if (value != nullptr) {
        std::memset(static_cast<void*>(value), 0, sizeof *value);
    }
    return kOk;
}

HRESULT T7zInArchive::GetStream(const wchar_t* /*name*/, IInStream** inStream) {
    const SevenZipCallGate::Entry entered = gate_->enterCallback();
    if (inStream != nullptr) {
        *inStream = nullptr;
    }
    return kOk;
}

HRESULT T7zInArchive::SetSubArchiveName(const wchar_t* /*name*/) {
    const SevenZipCallGate::Entry entered = gate_->enterCallback();
    return kOk;
}

HRESULT T7zInArchive::CryptoGetTextPassword(BSTR* password) {
    if (password != nullptr) {
        *password = nullptr;
    }
    return guarded([&] {
        passwordAsked_ = true;
        if (!FPasswordIsDefined) {
            return kFalse;
        }
        if (password != nullptr) {
            // The library frees the text with its own allocator.
            *password = library_->allocString(Utf8ToWide(FPassword));
        }
        return kOk;
    });
}

} // namespace halyard

// The 7-Zip library's binary interface as its Linux build publishes it: COM-style interfaces
// whose IUnknown has exactly three slots (interface type 0), wchar_t-based strings and the
// PROPVARIANT layout of Windows. On Windows the same declarations describe 7z.dll (wchar_t is a
// UTF-16 unit there, BSTR the system's).
#pragma once

#include "base/outcome.h"

#include <cstdint>

// Calls into the library's objects go through our declarations of its interfaces, so the
// sanitizer's dynamic type check cannot know the objects' real types: it is off for those calls.
#if defined(__GNUC__) || defined(__clang__)
#define HALYARD_FOREIGN_CALL __attribute__((no_sanitize("vptr")))
#else
#define HALYARD_FOREIGN_CALL
#endif

#if defined(_WIN32) && !defined(_WIN64)
// 32-bit Windows calls 7z.dll's exports and interfaces with __stdcall, which these declarations
// do not spell out; on 64-bit Windows there is one calling convention.
#error "The 7-Zip binding supports 64-bit Windows only"
#endif

namespace halyard::sevenzip {

using HRESULT = std::int32_t;
using ULONG = std::uint32_t;
using PROPID = std::uint32_t;
using VARTYPE = std::uint16_t;
using BSTR = wchar_t*;

inline constexpr HRESULT kOk = static_cast<HRESULT>(codes::kSuccess);
inline constexpr HRESULT kFalse = static_cast<HRESULT>(codes::kSFalse);
inline constexpr HRESULT kNotImpl = static_cast<HRESULT>(codes::kENotImpl);
inline constexpr HRESULT kNoInterface = static_cast<HRESULT>(codes::kENoInterface);
inline constexpr HRESULT kAbort = static_cast<HRESULT>(codes::kEAbort);
inline constexpr HRESULT kFail = static_cast<HRESULT>(codes::kEFail);
inline constexpr HRESULT kInvalidArg = static_cast<HRESULT>(codes::kEInvalidArg);

inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_UI4 = 19;
inline constexpr VARTYPE VT_UI8 = 21;

struct GUID {
    std::uint32_t Data1;
    std::uint16_t Data2;
    std::uint16_t Data3;
    std::uint8_t Data4[8];
};

inline bool operator==(const GUID& a, const GUID& b) {
    if (a.Data1 != b.Data1 || a.Data2 != b.Data2 || a.Data3 != b.Data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.Data4[i] != b.Data4[i]) {
            return false;
        }
    }
    return true;
}

// {23170F69-40C1-278A-0000-00gg00ss0000}: the identifiers of the library's interfaces.
constexpr GUID SevenZipIid(std::uint8_t group, std::uint8_t sub) {
    return GUID{0x23170F69, 0x40C1, 0x278A, {0x00, 0x00, 0x00, group, 0x00, sub, 0x00, 0x00}};
}

inline constexpr GUID IID_IUnknown{
    0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
inline constexpr GUID IID_IProgress = SevenZipIid(0x00, 0x05);
inline constexpr GUID IID_ISequentialInStream = SevenZipIid(0x03, 0x01);
inline constexpr GUID IID_ISequentialOutStream = SevenZipIid(0x03, 0x02);
inline constexpr GUID IID_IInStream = SevenZipIid(0x03, 0x03);
inline constexpr GUID IID_IOutStream = SevenZipIid(0x03, 0x04);
inline constexpr GUID IID_IStreamGetSize = SevenZipIid(0x03, 0x06);
inline constexpr GUID IID_IOutStreamFlush = SevenZipIid(0x03, 0x07);
inline constexpr GUID IID_ICryptoGetTextPassword = SevenZipIid(0x05, 0x10);
inline constexpr GUID IID_ISetProperties = SevenZipIid(0x06, 0x03);
inline constexpr GUID IID_IArchiveOpenCallback = SevenZipIid(0x06, 0x10);
inline constexpr GUID IID_IArchiveExtractCallback = SevenZipIid(0x06, 0x20);
inline constexpr GUID IID_IArchiveOpenVolumeCallback = SevenZipIid(0x06, 0x30);
inline constexpr GUID IID_IArchiveOpenSetSubArchiveName = SevenZipIid(0x06, 0x50);
inline constexpr GUID IID_IInArchive = SevenZipIid(0x06, 0x60);

// The 7z format handler.
inline constexpr GUID CLSID_CFormat7z{
    0x23170F69, 0x40C1, 0x278A, {0x10, 0x00, 0x00, 0x01, 0x10, 0x07, 0x00, 0x00}};

struct PROPVARIANT {
    VARTYPE vt;
    std::uint16_t wReserved1;
    std::uint16_t wReserved2;
    std::uint16_t wReserved3;
    union {
        std::int16_t boolVal;
        std::uint32_t ulVal;
        std::uint64_t uhVal;
        BSTR bstrVal;
#ifdef _WIN32
        // The SDK's union also holds counted arrays and BLOBs (a count and a pointer): 16 bytes
        // on 64-bit Windows. 7z.dll copies whole records into ours, so the size must match.
        struct {
            std::uint32_t cbSize;
            std::uint8_t* pBlobData;
        } blob;
#endif
    };
};
#ifdef _WIN32
static_assert(sizeof(PROPVARIANT) == 8 + 2 * sizeof(void*));
#else
static_assert(sizeof(PROPVARIANT) == 16);
#endif

// Property ids.
inline constexpr PROPID kpidPath = 3;
inline constexpr PROPID kpidName = 4;
inline constexpr PROPID kpidIsFolder = 6;
inline constexpr PROPID kpidSize = 7;
inline constexpr PROPID kpidAttrib = 9;
inline constexpr PROPID kpidEncrypted = 15;
inline constexpr PROPID kpidIsAnti = 21;
inline constexpr PROPID kpidErrorFlags = 71;

// NAskMode.
inline constexpr std::int32_t kExtract = 0;
inline constexpr std::int32_t kTest = 1;
inline constexpr std::int32_t kSkip = 2;

// NOperationResult: what the library reports for each item once it has been extracted.
enum class OperationResult : std::int32_t {
    Ok = 0,
    UnsupportedMethod = 1,
    DataError = 2,
    CrcError = 3,
    Unavailable = 4,
    UnexpectedEnd = 5,
    DataAfterEnd = 6,
    IsNotArc = 7,
    HeadersError = 8,
    WrongPassword = 9,
};

// The module property telling the interface type: 0 means no virtual destructor in IUnknown.
inline constexpr PROPID kModulePropInterfaceType = 0;

// The interfaces are called by the library through their virtual tables; the destructors are
// protected and not virtual, so that the tables hold exactly the interface's slots. Each names
// its identifier and the interface it extends (Base), from which our objects answer
// QueryInterface (sevenzip_com.h).
class IUnknown {
public:
    static constexpr GUID kIid = IID_IUnknown;

    virtual HRESULT QueryInterface(const GUID& iid, void** out) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

class ISequentialInStream : public IUnknown {
public:
    static constexpr GUID kIid = IID_ISequentialInStream;
    using Base = IUnknown;

    virtual HRESULT Read(void* data, std::uint32_t size, std::uint32_t* processedSize) = 0;

protected:
    ~ISequentialInStream() = default;
};

class IInStream : public ISequentialInStream {
public:
    static constexpr GUID kIid = IID_IInStream;
    using Base = ISequentialInStream;

    virtual HRESULT Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* newPosition) = 0;

protected:
    ~IInStream() = default;
};

class IStreamGetSize : public IUnknown {
public:
    static constexpr GUID kIid = IID_IStreamGetSize;
    using Base = IUnknown;

    virtual HRESULT GetSize(std::uint64_t* size) = 0;

protected:
    ~IStreamGetSize() = default;
};

class ISequentialOutStream : public IUnknown {
public:
    static constexpr GUID kIid = IID_ISequentialOutStream;
    using Base = IUnknown;

    virtual HRESULT Write(const void* data, std::uint32_t size, std::uint32_t* processedSize) = 0;

protected:
    ~ISequentialOutStream() = default;
};

class IOutStream : public ISequentialOutStream {
public:
    static constexpr GUID kIid = IID_IOutStream;
    using Base = ISequentialOutStream;

    virtual HRESULT Seek(std::int64_t offset, std::uint32_t origin, std::uint64_t* newPosition) = 0;
    virtual HRESULT SetSize(std::uint64_t newSize) = 0;

protected:
    ~IOutStream() = default;
};

class IOutStreamFlush : public IUnknown {
public:
    static constexpr GUID kIid = IID_IOutStreamFlush;
    using Base = IUnknown;

    virtual HRESULT Flush() = 0;

protected:
    ~IOutStreamFlush() = default;
};

class IProgress : public IUnknown {
public:
    static constexpr GUID kIid = IID_IProgress;
    using Base = IUnknown;

    virtual HRESULT SetTotal(std::uint64_t total) = 0;
    virtual HRESULT SetCompleted(const std::uint64_t* completeValue) = 0;

protected:
    ~IProgress() = default;
};

class IArchiveOpenCallback : public IUnknown {
public:
    static constexpr GUID kIid = IID_IArchiveOpenCallback;
    using Base = IUnknown;

    virtual HRESULT SetTotal(const std::uint64_t* files, const std::uint64_t* bytes) = 0;
    virtual HRESULT SetCompleted(const std::uint64_t* files, const std::uint64_t* bytes) = 0;

protected:
    ~IArchiveOpenCallback() = default;
};

class IArchiveExtractCallback : public IProgress {
public:
    static constexpr GUID kIid = IID_IArchiveExtractCallback;
    using Base = IProgress;

    virtual HRESULT GetStream(std::uint32_t index, ISequentialOutStream** outStream,
                              std::int32_t askExtractMode) = 0;
    virtual HRESULT PrepareOperation(std::int32_t askExtractMode) = 0;
    virtual HRESULT SetOperationResult(std::int32_t opRes) = 0;

protected:
    ~IArchiveExtractCallback() = default;
};

class IArchiveOpenVolumeCallback : public IUnknown {
public:
    static constexpr GUID kIid = IID_IArchiveOpenVolumeCallback;
    using Base = IUnknown;

    virtual HRESULT GetProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT GetStream(const wchar_t* name, IInStream** inStream) = 0;

protected:
    ~IArchiveOpenVolumeCallback() = default;
};

class IArchiveOpenSetSubArchiveName : public IUnknown {
public:
    static constexpr GUID kIid = IID_IArchiveOpenSetSubArchiveName;
    using Base = IUnknown;

    virtual HRESULT SetSubArchiveName(const wchar_t* name) = 0;

protected:
    ~IArchiveOpenSetSubArchiveName() = default;
};

class ICryptoGetTextPassword : public IUnknown {
public:
    static constexpr GUID kIid = IID_ICryptoGetTextPassword;
    using Base = IUnknown;

    virtual HRESULT CryptoGetTextPassword(BSTR* password) = 0;

protected:
    ~ICryptoGetTextPassword() = default;
};

class ISetProperties : public IUnknown {
public:
    static constexpr GUID kIid = IID_ISetProperties;
    using Base = IUnknown;

    virtual HRESULT SetProperties(const wchar_t* const* names, const PROPVARIANT* values,
                                  std::uint32_t numProps) = 0;

protected:
    ~ISetProperties() = default;
};

class IInArchive : public IUnknown {
public:
    static constexpr GUID kIid = IID_IInArchive;
    using Base = IUnknown;

    virtual HRESULT Open(IInStream* stream, const std::uint64_t* maxCheckStartPosition,
                         IArchiveOpenCallback* openCallback) = 0;
    virtual HRESULT Close() = 0;
    virtual HRESULT GetNumberOfItems(std::uint32_t* numItems) = 0;
    virtual HRESULT GetProperty(std::uint32_t index, PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT Extract(const std::uint32_t* indices, std::uint32_t numItems,
                            std::int32_t testMode, IArchiveExtractCallback* extractCallback) = 0;
    virtual HRESULT GetArchiveProperty(PROPID propID, PROPVARIANT* value) = 0;
    virtual HRESULT GetNumberOfProperties(std::uint32_t* numProps) = 0;
    virtual HRESULT GetPropertyInfo(std::uint32_t index, BSTR* name, PROPID* propID,
                                    VARTYPE* varType) = 0;
    virtual HRESULT GetNumberOfArchiveProperties(std::uint32_t* numProps) = 0;
    virtual HRESULT GetArchivePropertyInfo(std::uint32_t index, BSTR* name, PROPID* propID,
                                           VARTYPE* varType) = 0;

protected:
    ~IInArchive() = default;
};

// Exports of the library.
using CreateObjectFunc = HRESULT (*)(const GUID* clsid, const GUID* iid, void** outObject);
using GetHandlerPropertyFunc = HRESULT (*)(PROPID propID, PROPVARIANT* value);
using GetModulePropFunc = HRESULT (*)(PROPID propID, PROPVARIANT* value);
using VariantClearFunc = HRESULT (*)(PROPVARIANT* value);
using SysAllocStringFunc = BSTR (*)(const wchar_t* text);

} // namespace halyard::sevenzip

// The loaded 7-Zip library: its module handle and the exports the binding calls. It lives as
// long as the last archive object made from it, and goes after their handlers.
#pragma once

#include "external/sevenzip/sevenzip_com.h"

#include <memory>
#include <string>

namespace halyard {

// Throws ESevenZipException with the system's text for a failure code of the library.
[[noreturn]] void ThrowSevenZipCode(sevenzip::HRESULT hr);

// One loaded library and its "CreateObject". Throws ESevenZipException when the library does not
// load or lacks the export.
class T7zPlugin {
public:
    explicit T7zPlugin(const std::string& library);
    T7zPlugin(const T7zPlugin&) = delete;
    T7zPlugin& operator=(const T7zPlugin&) = delete;

protected:
    void* symbol(const char* name) const;

    struct ModuleRelease {
        void operator()(void* module) const;
    };
    std::unique_ptr<void, ModuleRelease> FHandle;
    sevenzip::CreateObjectFunc FCreateObject = nullptr;
};

// A format library: one that also offers "GetHandlerProperty" (not called), speaks the interface
// layout of this binding (GetModuleProp's interface type 0) and frees and allocates the strings it
// hands over. Throws ESevenZipException for any other library.
class T7zArchive : public T7zPlugin {
public:
    T7zArchive(const std::string& library, const sevenzip::GUID& classid);

    // A new handler of the format (IInArchive), told how it may decode; throws
    // ESevenZipException when the library makes none.
    sevenzip::ComPtr<sevenzip::IInArchive> createHandler() const;
    // A guard for a value the library fills.
    sevenzip::PropVariant variant() const { return sevenzip::PropVariant(variantClear_); }
    // A string the library frees with its own allocator.
    sevenzip::BSTR allocString(const std::wstring& text) const;
    const sevenzip::GUID& classId() const { return FClassId; }

private:
    sevenzip::VariantClearFunc variantClear_ = nullptr;
    sevenzip::SysAllocStringFunc sysAllocString_ = nullptr;
    sevenzip::GUID FClassId{};
};

// Tests only: whether handlers are told to decode on the calling thread alone (default false).
void SetSevenZipSingleThreadedHandler(bool on);

} // namespace halyard

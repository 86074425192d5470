#include "external/sevenzip/sevenzip_library.h"

#include "base/errors.h"
#include "platform/messages.h"
#include "platform/module.h"

#include <algorithm>
#include <atomic>
#include <thread>

namespace halyard {

using namespace sevenzip;

namespace {

std::atomic<bool> gSingleThreadedHandler{false};

// How the library may decode. It decodes multi-block LZMA2 on as many threads as it may
// use, and only where the blocks of all threads fit the memory it is given; archives with
// larger blocks are decoded on one thread, as they would be without this setting. The filter
// chain (BCJ and the like) stays on the decoding thread ("mtf" off): more threads, no speed.
constexpr std::uint32_t kMaxDecoderThreads = 4;
constexpr std::uint64_t kDecoderMemoryBytes = std::uint64_t{48} << 20;

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
    if (handler.QueryInterface(IID_ISetProperties, settings.putVoid()) != kOk || !settings) {
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

} // namespace

void SetSevenZipSingleThreadedHandler(bool on) {
    gSingleThreadedHandler = on;
}

void ThrowSevenZipCode(HRESULT hr) {
    throw ESevenZipException(platform::SysErrorMessage(static_cast<std::uint32_t>(hr)));
}

void T7zPlugin::ModuleRelease::operator()(void* module) const {
    platform::FreeModuleLibrary(module);
}

T7zPlugin::T7zPlugin(const std::string& library) : FHandle(platform::LoadModuleLibrary(library)) {
    if (!FHandle) {
        throw ESevenZipException("Error loading library " + library);
    }
    FCreateObject = reinterpret_cast<CreateObjectFunc>(symbol("CreateObject"));
    if (FCreateObject == nullptr) {
        throw ESevenZipException(library + " is not a 7z library");
    }
}

void* T7zPlugin::symbol(const char* name) const {
    return platform::GetModuleSymbol(FHandle.get(), name);
}

T7zArchive::T7zArchive(const std::string& library, const GUID& classid)
    : T7zPlugin(library), FClassId(classid) {
    if (symbol("GetHandlerProperty") == nullptr) {
        throw ESevenZipException(library + " is not a Format library");
    }
    // Older builds put a virtual destructor into IUnknown (two more slots in every table):
    // calling them through this layout would jump to the wrong functions.
    const auto getModuleProp = reinterpret_cast<GetModulePropFunc>(symbol("GetModuleProp"));
#ifdef _WIN32
    // 7z.dll leaves property and string memory to OLE: PropVariantClear and SysAllocString
    // of the system, loaded for the rest of the run like any system library.
    static const platform::ModuleHandle ole32 = platform::LoadModuleLibrary("ole32.dll");
    static const platform::ModuleHandle oleAut32 = platform::LoadModuleLibrary("oleaut32.dll");
    variantClear_ =
        reinterpret_cast<VariantClearFunc>(platform::GetModuleSymbol(ole32, "PropVariantClear"));
    sysAllocString_ =
        reinterpret_cast<SysAllocStringFunc>(platform::GetModuleSymbol(oleAut32, "SysAllocString"));
    // Windows builds never had the virtual destructor; older releases lack GetModuleProp
    // and are fine.
    const bool needModuleProp = false;
#else
    variantClear_ = reinterpret_cast<VariantClearFunc>(symbol("VariantClear"));
    sysAllocString_ = reinterpret_cast<SysAllocStringFunc>(symbol("SysAllocString"));
    const bool needModuleProp = true;
#endif
    if (getModuleProp == nullptr) {
        if (needModuleProp) {
            throw ESevenZipException(library +
                                     " is an incompatible 7-Zip library: it has no GetModuleProp");
        }
    } else {
        PropVariant type = variant();
        if (getModuleProp(kModulePropInterfaceType, type.put()) != kOk || type->vt != VT_UI4 ||
            type->ulVal != 0) {
            throw ESevenZipException(
                library + " is an incompatible 7-Zip library: interface type " +
                (type->vt == VT_UI4 ? std::to_string(type->ulVal) : std::string("unknown")));
        }
    }
    if (variantClear_ == nullptr || sysAllocString_ == nullptr) {
        throw ESevenZipException(library + " is an incompatible 7-Zip library: it has no "
                                           "VariantClear");
    }
}

HALYARD_FOREIGN_CALL ComPtr<IInArchive> T7zArchive::createHandler() const {
    ComPtr<IInArchive> handler;
    const HRESULT hr = FCreateObject(&FClassId, &IID_IInArchive, handler.putVoid());
    if (hr < 0 || !handler) {
        handler.reset();
        ThrowSevenZipCode(hr < 0 ? hr : kFail);
    }
    ConfigureDecoding(*handler.get());
    return handler;
}

BSTR T7zArchive::allocString(const std::wstring& text) const {
    return sysAllocString_(text.c_str());
}

} // namespace halyard

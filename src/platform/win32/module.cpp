#include "platform/module.h"

#include "platform/win32/wide.h"

#include <windows.h>

namespace halyard::platform {

std::string ResolveModulePath(const std::string& name) {
    // Windows looks the name up itself (the program's folder, the system folders, PATH).
    return name;
}

ModuleHandle LoadModuleLibrary(const std::string& name, std::uint32_t* error) {
    HMODULE module = ::LoadLibraryW(win32::Wide(name).c_str());
    if (module == nullptr && error != nullptr) {
        *error = ::GetLastError();
    }
    return reinterpret_cast<ModuleHandle>(module);
}

void* GetModuleSymbol(ModuleHandle module, const char* name) {
    if (module == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeModuleLibrary(ModuleHandle module) {
    if (module != nullptr) {
        ::FreeLibrary(static_cast<HMODULE>(module));
    }
}

} // namespace halyard::platform

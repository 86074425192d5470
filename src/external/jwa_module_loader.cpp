#include "external/jwa_module_loader.h"

namespace halyard {

bool LoadModule(TModuleHandle& Module, const std::string& FileName) {
    if (Module == nullptr) {
        Module = platform::LoadModuleLibrary(FileName);
    }
    return Module != nullptr;
}

void UnloadModule(TModuleHandle& Module) {
    if (Module != nullptr) {
        platform::FreeModuleLibrary(Module);
    }
    Module = nullptr;
}

void* GetModuleSymbolEx(TModuleHandle Module, const char* SymbolName, bool& Accu) {
    void* result = Module == nullptr ? nullptr : platform::GetModuleSymbol(Module, SymbolName);
    Accu = Accu && result != nullptr;
    return result;
}

} // namespace halyard

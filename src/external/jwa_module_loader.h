// Three small operations over a module handle, used by the run-time bindings.
#pragma once

#include "platform/module.h"

#include <string>

namespace halyard {

using TModuleHandle = platform::ModuleHandle;

// Loads FileName into Module unless Module is already set. True when Module is set afterwards.
bool LoadModule(TModuleHandle& Module, const std::string& FileName);

// Frees Module when it is set; Module is null afterwards in any case.
void UnloadModule(TModuleHandle& Module);

// The export SymbolName of Module, or null (also when Module is null). Accu stays true only while
// every lookup finds its symbol, so one missing export makes it false for good.
void* GetModuleSymbolEx(TModuleHandle Module, const char* SymbolName, bool& Accu);

} // namespace halyard

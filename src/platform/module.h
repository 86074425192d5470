// Module loading (LoadLibraryW, GetProcAddress, FreeLibrary). On POSIX a Windows module name
// maps to the platform's library: "7z.dll" to the 7-Zip library 7z.so, "SetupApi.dll" to our
// Setup API library; other names are loaded as given.
#pragma once

#include <cstdint>
#include <string>

namespace halyard::platform {

using ModuleHandle = void*;

// Null on failure; the error code is then in *error when given.
ModuleHandle LoadModuleLibrary(const std::string& name, std::uint32_t* error = nullptr);
void* GetModuleSymbol(ModuleHandle module, const char* name);
void FreeModuleLibrary(ModuleHandle module);

// The candidate files tried for a module name, in order (for messages and tests).
std::string ResolveModulePath(const std::string& name);

} // namespace halyard::platform

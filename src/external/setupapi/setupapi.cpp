#include "external/setupapi/setupapi.h"

#include <array>

namespace halyard {

TModuleHandle SetupApiLib = nullptr;
std::int32_t SetupApiLoadCount = 0;

#define HALYARD_SETUPAPI_PAIR(Name, Kind)                                                          \
    HALYARD_SETUPAPI_TYPE(Name##A) Name##A = nullptr;                                              \
    HALYARD_SETUPAPI_TYPE(Name##W) Name##W = nullptr;                                              \
    HALYARD_SETUPAPI_TYPE(Name##W) Name = nullptr;
#define HALYARD_SETUPAPI_SINGLE(Name, Kind) HALYARD_SETUPAPI_TYPE(Name) Name = nullptr;
#define HALYARD_SETUPAPI_ALIAS(Old, New) HALYARD_SETUPAPI_TYPE(New) Old = nullptr;
#define HALYARD_SETUPAPI_ALIAS_PAIR(Old, New)                                                      \
    HALYARD_SETUPAPI_TYPE(New##A) Old##A = nullptr;                                                \
    HALYARD_SETUPAPI_TYPE(New##W) Old##W = nullptr;                                                \
    HALYARD_SETUPAPI_TYPE(New##W) Old = nullptr;
#include "platform/setupapi_entries.inc"
#undef HALYARD_SETUPAPI_PAIR
#undef HALYARD_SETUPAPI_SINGLE
#undef HALYARD_SETUPAPI_ALIAS
#undef HALYARD_SETUPAPI_ALIAS_PAIR

namespace {

#ifndef _WIN32
setupapi::TGetLastError libraryGetLastError = nullptr;
#endif

template <class Fn>
void Bind(Fn& variable, const char* exportName, bool& result) {
    variable = reinterpret_cast<Fn>(GetModuleSymbolEx(SetupApiLib, exportName, result));
}

void BindTable(bool& result) {
#define HALYARD_SETUPAPI_PAIR(Name, Kind)                                                          \
    Bind(Name##A, #Name "A", result);                                                              \
    Bind(Name##W, #Name "W", result);                                                              \
    Bind(Name, #Name "W", result);
#define HALYARD_SETUPAPI_SINGLE(Name, Kind) Bind(Name, #Name, result);
#define HALYARD_SETUPAPI_ALIAS(Old, New) Bind(Old, #New, result);
#define HALYARD_SETUPAPI_ALIAS_PAIR(Old, New)                                                      \
    Bind(Old##A, #New "A", result);                                                                \
    Bind(Old##W, #New "W", result);                                                                \
    Bind(Old, #New "W", result);
#include "platform/setupapi_entries.inc"
#undef HALYARD_SETUPAPI_PAIR
#undef HALYARD_SETUPAPI_SINGLE
#undef HALYARD_SETUPAPI_ALIAS
#undef HALYARD_SETUPAPI_ALIAS_PAIR
#ifndef _WIN32
    Bind(libraryGetLastError, setupapi::kGetLastErrorExport, result);
#endif
}

void ClearTable() {
#define HALYARD_SETUPAPI_PAIR(Name, Kind)                                                          \
    Name##A = nullptr;                                                                             \
    Name##W = nullptr;                                                                             \
    Name = nullptr;
#define HALYARD_SETUPAPI_SINGLE(Name, Kind) Name = nullptr;
#define HALYARD_SETUPAPI_ALIAS(Old, New) Old = nullptr;
#define HALYARD_SETUPAPI_ALIAS_PAIR(Old, New)                                                      \
    Old##A = nullptr;                                                                              \
    Old##W = nullptr;                                                                              \
    Old = nullptr;
#include "platform/setupapi_entries.inc"
#undef HALYARD_SETUPAPI_PAIR
#undef HALYARD_SETUPAPI_SINGLE
#undef HALYARD_SETUPAPI_ALIAS
#undef HALYARD_SETUPAPI_ALIAS_PAIR
#ifndef _WIN32
    libraryGetLastError = nullptr;
#endif
}

template <class Fn>
const void* Address(Fn fn) {
    return reinterpret_cast<const void*>(fn);
}

#define HALYARD_SETUPAPI_ENTRY_INFO(Var, Export)                                                   \
    SetupApiEntryInfo{#Var, #Export, []() { return Address(Var); }},
#define HALYARD_SETUPAPI_PAIR(Name, Kind)                                                          \
    HALYARD_SETUPAPI_ENTRY_INFO(Name##A, Name##A)                                                  \
    HALYARD_SETUPAPI_ENTRY_INFO(Name##W, Name##W)                                                  \
    HALYARD_SETUPAPI_ENTRY_INFO(Name, Name##W)
#define HALYARD_SETUPAPI_SINGLE(Name, Kind) HALYARD_SETUPAPI_ENTRY_INFO(Name, Name)
#define HALYARD_SETUPAPI_ALIAS(Old, New) HALYARD_SETUPAPI_ENTRY_INFO(Old, New)
#define HALYARD_SETUPAPI_ALIAS_PAIR(Old, New)                                                      \
    HALYARD_SETUPAPI_ENTRY_INFO(Old##A, New##A)                                                    \
    HALYARD_SETUPAPI_ENTRY_INFO(Old##W, New##W)                                                    \
    HALYARD_SETUPAPI_ENTRY_INFO(Old, New##W)
const SetupApiEntryInfo kEntries[] = {
#include "platform/setupapi_entries.inc"
};
#undef HALYARD_SETUPAPI_PAIR
#undef HALYARD_SETUPAPI_SINGLE
#undef HALYARD_SETUPAPI_ALIAS
#undef HALYARD_SETUPAPI_ALIAS_PAIR
#undef HALYARD_SETUPAPI_ENTRY_INFO

} // namespace

bool LoadSetupApiFrom(const std::string& fileName) {
    ++SetupApiLoadCount;
    if (SetupApiLoadCount > 1) {
        return true;
    }
    bool result = LoadModule(SetupApiLib, fileName);
    if (result) {
        BindTable(result);
        if (result) {
            return true;
        }
    }
    UnloadSetupApi();
    return false;
}

bool LoadSetupApi() {
    return LoadSetupApiFrom("SetupApi.dll");
}

void UnloadSetupApi() {
    // An unmatched call must not drive the count below zero: the next load would then bind the
    // table while the count says nobody uses it.
    if (SetupApiLoadCount > 0) {
        --SetupApiLoadCount;
    }
    if (SetupApiLoadCount > 0) {
        return;
    }
    UnloadModule(SetupApiLib);
    ClearTable();
}

std::uint32_t SetupApiGetLastError() {
#ifdef _WIN32
    return ::GetLastError();
#else
    return libraryGetLastError == nullptr ? 0 : libraryGetLastError();
#endif
}

std::span<const SetupApiEntryInfo> SetupApiEntries() {
    return kEntries;
}

} // namespace halyard

// The Setup API binding: SetupApi.dll is loaded when first needed and its entry points are looked
// up by name into a table of function pointers, all or nothing, with a load count.
#pragma once

#include "external/jwa_module_loader.h"
#include "platform/setupapi_types.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// The type of the variable bound to an export: the SDK's declaration on Windows; on POSIX the
// declared type of the entries the program calls and one plain pointer type for the rest.
#ifdef _WIN32
#define HALYARD_SETUPAPI_TYPE(Export) decltype(&::Export)
#else
#define HALYARD_SETUPAPI_TYPE(Export) ::halyard::setupapi::entry_types::Export
#endif

namespace halyard {

#ifndef _WIN32
namespace setupapi::entry_types {
using SetupApiProc = void (*)();
namespace plain {
#define HALYARD_SETUPAPI_PAIR(Name, Kind)                                                          \
    using Name##A = SetupApiProc;                                                                  \
    using Name##W = SetupApiProc;
#define HALYARD_SETUPAPI_SINGLE(Name, Kind) using Name = SetupApiProc;
#define HALYARD_SETUPAPI_ALIAS(Old, New)
#define HALYARD_SETUPAPI_ALIAS_PAIR(Old, New)
#include "platform/setupapi_entries.inc"
#undef HALYARD_SETUPAPI_PAIR
#undef HALYARD_SETUPAPI_SINGLE
#undef HALYARD_SETUPAPI_ALIAS
#undef HALYARD_SETUPAPI_ALIAS_PAIR
} // namespace plain
// A name declared here hides the plain one of the same name, on purpose.
using namespace plain;
#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wshadow"
#endif
using SetupVerifyInfFileW = TSetupVerifyInfFileW;
using SetupVerifyInfFileA = TSetupVerifyInfFileA;
#if defined(__clang__)
#pragma clang diagnostic pop
#endif
} // namespace setupapi::entry_types
#endif

// The module handle of SetupApi.dll; null while it is not loaded.
extern TModuleHandle SetupApiLib;
// LoadSetupApi calls not yet matched by UnloadSetupApi.
extern std::int32_t SetupApiLoadCount;

// The entry table: one variable per Setup API entry point, null while not bound.
#define HALYARD_SETUPAPI_PAIR(Name, Kind)                                                          \
    extern HALYARD_SETUPAPI_TYPE(Name##A) Name##A;                                                 \
    extern HALYARD_SETUPAPI_TYPE(Name##W) Name##W;                                                 \
    extern HALYARD_SETUPAPI_TYPE(Name##W) Name;
#define HALYARD_SETUPAPI_SINGLE(Name, Kind) extern HALYARD_SETUPAPI_TYPE(Name) Name;
#define HALYARD_SETUPAPI_ALIAS(Old, New) extern HALYARD_SETUPAPI_TYPE(New) Old;
#define HALYARD_SETUPAPI_ALIAS_PAIR(Old, New)                                                      \
    extern HALYARD_SETUPAPI_TYPE(New##A) Old##A;                                                   \
    extern HALYARD_SETUPAPI_TYPE(New##W) Old##W;                                                   \
    extern HALYARD_SETUPAPI_TYPE(New##W) Old;
#include "platform/setupapi_entries.inc"
#undef HALYARD_SETUPAPI_PAIR
#undef HALYARD_SETUPAPI_SINGLE
#undef HALYARD_SETUPAPI_ALIAS
#undef HALYARD_SETUPAPI_ALIAS_PAIR

// Makes the table usable: true when every entry is bound. A further call only counts a use.
// On failure nothing stays loaded and every entry is null.
bool LoadSetupApi();
// Gives up one use of the binding; the last one frees the library and clears the table.
void UnloadSetupApi();

// LoadSetupApi with another library file in place of SetupApi.dll (the tests' doubles). The
// program itself always loads SetupApi.dll.
bool LoadSetupApiFrom(const std::string& fileName);

// One use of the binding for a scope: loaded when made, given up when it goes.
class ScopedSetupApi {
public:
    ScopedSetupApi() : loaded_(LoadSetupApi()) {}
    ~ScopedSetupApi() {
        if (loaded_) {
            UnloadSetupApi();
        }
    }
    ScopedSetupApi(const ScopedSetupApi&) = delete;
    ScopedSetupApi& operator=(const ScopedSetupApi&) = delete;
    explicit operator bool() const { return loaded_; }

private:
    bool loaded_;
};

// The thread's last error after a Setup API call: GetLastError on Windows; on POSIX the code the
// library recorded for this thread (it keeps its own, read through its
// HalyardSetupApiGetLastError export, which LoadSetupApi binds with the table).
std::uint32_t SetupApiGetLastError();

// The table for inspection (tests): each variable's name, its export and its current value.
struct SetupApiEntryInfo {
    const char* variable;
    const char* exportName;
    const void* (*value)();
};
std::span<const SetupApiEntryInfo> SetupApiEntries();

} // namespace halyard

// The exports of a POSIX Setup API library, generated from the entry list: every function that
// the library does not implement fails with ERROR_CALL_NOT_IMPLEMENTED, answering as its type
// reports failure. Include in exactly one translation unit of a library, after defining
// HALYARD_SETUPAPI_STUB_VERIFY_INF_FILE_W(Name) as nothing (the library implements it) or as
// HALYARD_SETUPAPI_STUB_Bool(Name).
//
// The stubs take no parameters: every caller of these entries passes its arguments in registers
// or on a stack it cleans itself, and the stubs read none of them.
#pragma once

#include "base/outcome.h"
#include "platform/setupapi_types.h"

#include <cstdint>

#define HALYARD_SETUPAPI_EXPORT extern "C" __attribute__((visibility("default")))

namespace halyard::setupapi_posix {

// The last error of the library's calls, per thread, as SetLastError keeps it on Windows. In
// static TLS (the loader keeps room for a loaded library's few bytes): no lazily allocated
// block per thread, which LeakSanitizer's heap scan misreads.
inline thread_local setupapi::DWORD tLastError __attribute__((tls_model("initial-exec"))) = 0;

inline void SetLastError(setupapi::DWORD code) {
    tLastError = code;
}

inline constexpr setupapi::DWORD kPromptCancel = 1; // DPROMPT_CANCEL

} // namespace halyard::setupapi_posix

HALYARD_SETUPAPI_EXPORT halyard::setupapi::DWORD HalyardSetupApiGetLastError() {
    return halyard::setupapi_posix::tLastError;
}

#define HALYARD_SETUPAPI_STUB_FAIL()                                                               \
    halyard::setupapi_posix::SetLastError(halyard::codes::kCallNotImplemented)
#define HALYARD_SETUPAPI_STUB_Bool(Name)                                                           \
    HALYARD_SETUPAPI_EXPORT halyard::setupapi::BOOL Name() {                                       \
        HALYARD_SETUPAPI_STUB_FAIL();                                                              \
        return 0;                                                                                  \
    }
#define HALYARD_SETUPAPI_STUB_Handle(Name)                                                         \
    HALYARD_SETUPAPI_EXPORT void* Name() {                                                         \
        HALYARD_SETUPAPI_STUB_FAIL();                                                              \
        return reinterpret_cast<void*>(static_cast<std::intptr_t>(-1));                            \
    }
#define HALYARD_SETUPAPI_STUB_Null(Name)                                                           \
    HALYARD_SETUPAPI_EXPORT void* Name() {                                                         \
        HALYARD_SETUPAPI_STUB_FAIL();                                                              \
        return nullptr;                                                                            \
    }
#define HALYARD_SETUPAPI_STUB_Zero(Name)                                                           \
    HALYARD_SETUPAPI_EXPORT halyard::setupapi::DWORD Name() {                                      \
        HALYARD_SETUPAPI_STUB_FAIL();                                                              \
        return 0;                                                                                  \
    }
#define HALYARD_SETUPAPI_STUB_MinusOne(Name)                                                       \
    HALYARD_SETUPAPI_EXPORT std::int32_t Name() {                                                  \
        HALYARD_SETUPAPI_STUB_FAIL();                                                              \
        return -1;                                                                                 \
    }
#define HALYARD_SETUPAPI_STUB_ErrorCode(Name)                                                      \
    HALYARD_SETUPAPI_EXPORT halyard::setupapi::DWORD Name() {                                      \
        HALYARD_SETUPAPI_STUB_FAIL();                                                              \
        return halyard::codes::kCallNotImplemented;                                                \
    }
#define HALYARD_SETUPAPI_STUB_Cancel(Name)                                                         \
    HALYARD_SETUPAPI_EXPORT halyard::setupapi::DWORD Name() {                                      \
        HALYARD_SETUPAPI_STUB_FAIL();                                                              \
        return halyard::setupapi_posix::kPromptCancel;                                             \
    }
#define HALYARD_SETUPAPI_STUB_Void(Name)                                                           \
    HALYARD_SETUPAPI_EXPORT void Name() {                                                          \
        HALYARD_SETUPAPI_STUB_FAIL();                                                              \
    }

#define HALYARD_SETUPAPI_STUB_A_Bool HALYARD_SETUPAPI_STUB_Bool
#define HALYARD_SETUPAPI_STUB_A_Handle HALYARD_SETUPAPI_STUB_Handle
#define HALYARD_SETUPAPI_STUB_A_Null HALYARD_SETUPAPI_STUB_Null
#define HALYARD_SETUPAPI_STUB_A_Zero HALYARD_SETUPAPI_STUB_Zero
#define HALYARD_SETUPAPI_STUB_A_MinusOne HALYARD_SETUPAPI_STUB_MinusOne
#define HALYARD_SETUPAPI_STUB_A_ErrorCode HALYARD_SETUPAPI_STUB_ErrorCode
#define HALYARD_SETUPAPI_STUB_A_Cancel HALYARD_SETUPAPI_STUB_Cancel
#define HALYARD_SETUPAPI_STUB_A_Void HALYARD_SETUPAPI_STUB_Void
#define HALYARD_SETUPAPI_STUB_A_VerifyInfFile HALYARD_SETUPAPI_STUB_Bool
#define HALYARD_SETUPAPI_STUB_W_Bool HALYARD_SETUPAPI_STUB_Bool
#define HALYARD_SETUPAPI_STUB_W_Handle HALYARD_SETUPAPI_STUB_Handle
#define HALYARD_SETUPAPI_STUB_W_Null HALYARD_SETUPAPI_STUB_Null
#define HALYARD_SETUPAPI_STUB_W_Zero HALYARD_SETUPAPI_STUB_Zero
#define HALYARD_SETUPAPI_STUB_W_MinusOne HALYARD_SETUPAPI_STUB_MinusOne
#define HALYARD_SETUPAPI_STUB_W_ErrorCode HALYARD_SETUPAPI_STUB_ErrorCode
#define HALYARD_SETUPAPI_STUB_W_Cancel HALYARD_SETUPAPI_STUB_Cancel
#define HALYARD_SETUPAPI_STUB_W_Void HALYARD_SETUPAPI_STUB_Void
#define HALYARD_SETUPAPI_STUB_W_VerifyInfFile HALYARD_SETUPAPI_STUB_VERIFY_INF_FILE_W

#define HALYARD_SETUPAPI_PAIR(Name, Kind)                                                          \
    HALYARD_SETUPAPI_STUB_A_##Kind(Name##A) HALYARD_SETUPAPI_STUB_W_##Kind(Name##W)
#define HALYARD_SETUPAPI_SINGLE(Name, Kind) HALYARD_SETUPAPI_STUB_##Kind(Name)
#define HALYARD_SETUPAPI_ALIAS(Old, New)
#define HALYARD_SETUPAPI_ALIAS_PAIR(Old, New)
#include "platform/setupapi_entries.inc"
#undef HALYARD_SETUPAPI_PAIR
#undef HALYARD_SETUPAPI_SINGLE
#undef HALYARD_SETUPAPI_ALIAS
#undef HALYARD_SETUPAPI_ALIAS_PAIR

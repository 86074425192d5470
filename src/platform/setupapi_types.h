// The Setup API's types that cross the library boundary. On Windows they are the SDK's; on POSIX
// our own with the same layout. Windows' WCHAR is a 16-bit unit, so the wide texts are char16_t
// here (wchar_t has 4 bytes on Linux).
#pragma once

#include <cstdint>

#ifdef _WIN32
// The order matters: the SDK's setupapi.h needs windows.h, and its name macros go right after.
// clang-format off
#include <windows.h>
#include <setupapi.h>
#include "platform/setupapi_sdk_names.h"
// clang-format on
#endif

namespace halyard::setupapi {

#ifdef _WIN32
using ::BOOL;
using ::DWORD;
using ::SP_ALTPLATFORM_INFO_V1;
using ::SP_ALTPLATFORM_INFO_V2;
using ::WORD;
using WideChar = ::WCHAR;
#if defined(__MINGW32__)
// MinGW-w64's SDK has the first signer record under its plain name and lacks the second.
using SP_INF_SIGNER_INFO_V1_W = ::SP_INF_SIGNER_INFO_W;
struct SP_INF_SIGNER_INFO_V2_W {
    DWORD cbSize;
    WCHAR CatalogFile[MAX_PATH];
    WCHAR DigitalSigner[MAX_PATH];
    WCHAR DigitalSignerVersion[MAX_PATH];
    DWORD SignerScore;
};
static_assert(sizeof(SP_INF_SIGNER_INFO_V1_W) == 1564);
static_assert(sizeof(SP_INF_SIGNER_INFO_V2_W) == 1568);
#else
using ::SP_INF_SIGNER_INFO_V1_W;
using ::SP_INF_SIGNER_INFO_V2_W;
#endif
#else
using BOOL = std::int32_t;
using DWORD = std::uint32_t;
using WORD = std::uint16_t;
using WideChar = char16_t;

inline constexpr int kMaxPath = 260;

struct SP_ALTPLATFORM_INFO_V1 {
    DWORD cbSize;
    DWORD Platform;
    DWORD MajorVersion;
    DWORD MinorVersion;
    WORD ProcessorArchitecture;
    WORD Reserved;
};

struct SP_ALTPLATFORM_INFO_V2 {
    DWORD cbSize;
    DWORD Platform;
    DWORD MajorVersion;
    DWORD MinorVersion;
    WORD ProcessorArchitecture;
    WORD Flags;
    DWORD FirstValidatedMajorVersion;
    DWORD FirstValidatedMinorVersion;
};

struct SP_INF_SIGNER_INFO_V1_W {
    DWORD cbSize;
    WideChar CatalogFile[kMaxPath];
    WideChar DigitalSigner[kMaxPath];
    WideChar DigitalSignerVersion[kMaxPath];
};

struct SP_INF_SIGNER_INFO_V2_W {
    DWORD cbSize;
    WideChar CatalogFile[kMaxPath];
    WideChar DigitalSigner[kMaxPath];
    WideChar DigitalSignerVersion[kMaxPath];
    DWORD SignerScore;
};

// The sizes Windows gives these records; the layouts here match them.
static_assert(sizeof(SP_ALTPLATFORM_INFO_V1) == 20);
static_assert(sizeof(SP_ALTPLATFORM_INFO_V2) == 28);
static_assert(sizeof(SP_INF_SIGNER_INFO_V1_W) == 1564);
static_assert(sizeof(SP_INF_SIGNER_INFO_V2_W) == 1568);
#endif

inline constexpr DWORD kVerPlatformWin32Windows = 1;
inline constexpr DWORD kVerPlatformWin32Nt = 2;
inline constexpr WORD kProcessorArchitectureIntel = 0;
inline constexpr WORD kProcessorArchitectureArm = 5;
inline constexpr WORD kProcessorArchitectureIa64 = 6;
inline constexpr WORD kProcessorArchitectureAmd64 = 9;
inline constexpr WORD kProcessorArchitectureArm64 = 12;

// SignerScore values of the second signer record version.
inline constexpr DWORD kSignerScoreInbox = 0x0D000003;
inline constexpr DWORD kSignerScoreWhql = 0x0D000005;
inline constexpr DWORD kSignerScoreAuthenticode = 0x0F000000;
inline constexpr DWORD kSignerScoreUnsigned = 0x80000000;

// SetupVerifyInfFileW as the SDK declares it (WINAPI is the only convention on 64-bit targets).
using TSetupVerifyInfFileW = BOOL (*)(const WideChar* InfName,
                                      SP_ALTPLATFORM_INFO_V2* AltPlatformInfo,
                                      SP_INF_SIGNER_INFO_V1_W* InfSignerInfo);
// The ANSI form; its signer record holds 8-bit texts, which the program never uses.
using TSetupVerifyInfFileA = BOOL (*)(const char* InfName, SP_ALTPLATFORM_INFO_V2* AltPlatformInfo,
                                      void* InfSignerInfo);

// The library's last error on POSIX: the thread's code as SetLastError left it in the library.
// Exported by every POSIX Setup API library (ours and the test doubles) beside the Windows names.
inline constexpr const char* kGetLastErrorExport = "HalyardSetupApiGetLastError";
using TGetLastError = DWORD (*)();

} // namespace halyard::setupapi

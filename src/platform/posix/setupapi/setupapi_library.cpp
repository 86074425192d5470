// The POSIX Setup API library (libsetupapi.so), loaded by the binding in place of SetupApi.dll.
// SetupVerifyInfFileW is implemented on our catalog and trust layer; every other export fails
// with ERROR_CALL_NOT_IMPLEMENTED. Wide texts are UTF-16 (Windows' WCHAR), never wchar_t. The
// caller reads the thread's last error through HalyardSetupApiGetLastError.
#include "base/errors.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "platform/posix/setupapi/verify_inf_file.h"

#include <cstring>
#include <new>
#include <string>

#define HALYARD_SETUPAPI_STUB_VERIFY_INF_FILE_W(Name)
#include "platform/posix/setupapi/stub_exports.h"

namespace halyard::setupapi_posix {

namespace {

using codes::kGenFailure;
using codes::kInvalidParameter;
using codes::kInvalidUserBuffer;
using codes::kNotEnoughMemory;

// Copies a text into a fixed field, cut to leave room for the terminating zero.
void CopyField(setupapi::WideChar (&field)[setupapi::kMaxPath], const std::string& text) {
    const std::u16string units = Utf8ToUtf16(text);
    const std::size_t n = std::min<std::size_t>(units.size(), setupapi::kMaxPath - 1);
    std::memcpy(field, units.data(), n * sizeof(char16_t));
    field[n] = 0;
}

std::string WideToUtf8(const setupapi::WideChar* text) {
    std::size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    return Utf16ToUtf8(std::u16string_view(text, n));
}

setupapi::BOOL VerifyInf(const setupapi::WideChar* infName,
                         setupapi::SP_ALTPLATFORM_INFO_V2* altPlatformInfo,
                         setupapi::SP_INF_SIGNER_INFO_V1_W* infSignerInfo) {
    if (infName == nullptr || infSignerInfo == nullptr) {
        SetLastError(kInvalidParameter);
        return 0;
    }
    const auto signerSize = infSignerInfo->cbSize;
    if (signerSize != sizeof(setupapi::SP_INF_SIGNER_INFO_V1_W) &&
        signerSize != sizeof(setupapi::SP_INF_SIGNER_INFO_V2_W)) {
        SetLastError(kInvalidUserBuffer);
        return 0;
    }
    TargetPlatform target = RunningPlatform();
    if (altPlatformInfo != nullptr) {
        const auto altSize = altPlatformInfo->cbSize;
        if (altSize != sizeof(setupapi::SP_ALTPLATFORM_INFO_V1) &&
            altSize != sizeof(setupapi::SP_ALTPLATFORM_INFO_V2)) {
            SetLastError(kInvalidUserBuffer);
            return 0;
        }
        target = AlternatePlatform(*altPlatformInfo,
                                   altSize == sizeof(setupapi::SP_ALTPLATFORM_INFO_V2));
    }

    const InfVerification result = VerifyInfFile(WideToUtf8(infName), target);
    CopyField(infSignerInfo->CatalogFile, result.catalogFile);
    CopyField(infSignerInfo->DigitalSigner, result.digitalSigner);
    CopyField(infSignerInfo->DigitalSignerVersion, result.signerVersion);
    if (signerSize == sizeof(setupapi::SP_INF_SIGNER_INFO_V2_W)) {
        reinterpret_cast<setupapi::SP_INF_SIGNER_INFO_V2_W*>(infSignerInfo)->SignerScore =
            result.signerScore;
    }
    SetLastError(result.code);
    return result.code == 0 ? 1 : 0;
}

} // namespace

} // namespace halyard::setupapi_posix

HALYARD_SETUPAPI_EXPORT halyard::setupapi::BOOL
SetupVerifyInfFileW(const halyard::setupapi::WideChar* InfName,
                    halyard::setupapi::SP_ALTPLATFORM_INFO_V2* AltPlatformInfo,
                    halyard::setupapi::SP_INF_SIGNER_INFO_V1_W* InfSignerInfo) {
    using namespace halyard::setupapi_posix;
    // Nothing may unwind into the caller: an unexpected failure becomes a last-error code.
    try {
        return VerifyInf(InfName, AltPlatformInfo, InfSignerInfo);
    } catch (const std::bad_alloc&) {
        SetLastError(kNotEnoughMemory);
    } catch (...) {
        SetLastError(kGenFailure);
    }
    return 0;
}

#include "catalog/code_signing.h"

#include "base/hex.h"
#include "base/unicode.h"
#include "catalog/cat_file_tag.h"
#include "platform/trust.h"
#include "report/diagnostics.h"

namespace halyard {

std::string LastCodeSigningTag;
std::uint32_t LastTrustResult = platform::codes::kNoCode;

namespace {

using namespace platform::codes;

constexpr const char* kFunc = "IsCodeSigned";

} // namespace

std::string TrustResultName(std::uint32_t code) {
    switch (code) {
    case kTrustESubjectNotTrusted:
        return "TRUST_E_SUBJECT_NOT_TRUSTED";
    case kTrustEProviderUnknown:
        return "TRUST_E_PROVIDER_UNKNOWN";
    case kTrustEActionUnknown:
        return "TRUST_E_ACTION_UNKNOWN";
    case kTrustESubjectFormUnknown:
        return "TRUST_E_SUBJECT_FORM_UNKNOWN";
    case kTrustENoSignature:
        return "TRUST_E_NOSIGNATURE";
    case kTrustENoSignerCert:
        return "TRUST_E_NO_SIGNER_CERT";
    case kCertEChaining:
        return "CERT_E_CHAINING";
    case kCryptEFileError:
        return "CRYPT_E_FILE_ERROR";
    default:
        return Hex8(code);
    }
}

bool IsCodeSigned(const std::string& filename, const std::string& catFile, std::uint32_t alg) {
    LastCodeSigningTag.clear();
    LastTrustResult = kNoCode;

    if (catFile.empty()) {
        CollectError(kFunc, "No cat file", filename, kNoCode);
        return false;
    }

    std::string tag;
    std::uint32_t lastError = 0;
    if (!CalcCatFileTag(catFile, filename, tag, alg, lastError)) {
        CollectError(kFunc, "CalcCatFileTag fail: " + filename, catFile, lastError);
        return false;
    }
    LastCodeSigningTag = tag;

    // WINTRUST_CATALOG_INFO: catalog, member tag and member file; the trust query runs without
    // user interface and checks revocation of the whole chain.
    platform::CatalogMemberTrustRequest request;
    request.catalogFilePath = catFile;
    request.memberTag = tag;
    request.memberFilePath = filename;
    const std::uint32_t result = platform::WinVerifyTrustCatalogMember(request);
    LastTrustResult = result;
    if (result == 0) {
        return true;
    }
    if (alg == CALG_SHA_256) {
        return IsCodeSigned(filename, catFile, CALG_SHA1);
    }
    // WinVerifyTrust leaves its result as the thread's last error.
    CollectError(kFunc, "WinVerifyTrust fail: " + filename, TrustResultName(result), result);
    return false;
}

} // namespace halyard

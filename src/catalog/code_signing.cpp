#include "catalog/code_signing.h"

#include "base/hex.h"
#include "base/unicode.h"
#include "catalog/cat_file_tag.h"
#include "platform/trust.h"
#include "report/diagnostics.h"

namespace halyard {

namespace {

using namespace codes;

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

std::string TrustCodeReason(std::uint32_t code) {
    switch (code) {
    case 0:
        return {};
    case kTrustENoSignature:
        return "not a member of the catalog";
    case kTrustEBadDigest:
    case kCryptEHashValue:
        return "changed after signing";
    case kCertEUntrustedRoot:
    case kCertEChaining:
    case kCertEUntrustedTestRoot:
    case kCertEUntrustedCa:
    case kCertEIssuerChaining:
    case kTrustESubjectNotTrusted:
    case kTrustEExplicitDistrust:
        return "signer not trusted";
    case kCertEExpired:
    case kCertEValidityPeriodNesting:
        return "signer's certificate expired";
    case kCertERevoked:
    case kCryptERevoked:
        return "signer's certificate revoked";
    case kCertEWrongUsage:
    case kCertEPurpose:
    case kCertERole:
        return "signer's certificate not valid for this use";
    case kTrustECertSignature:
    case kNteBadSignature:
    case kTrustENoSignerCert:
    case kCryptENoSigner:
    case kTrustEFail:
        return "catalog signature not valid";
    case kTrustETimeStamp:
    case kTrustECounterSigner:
        return "time stamp not valid";
    case kCryptEFileError:
    case kTrustESubjectFormUnknown:
        return "file cannot be read";
    case kNoCode:
        return "no trust query made";
    default:
        return "not trusted (" + TrustResultName(code) + ")";
    }
}

CodeSigningResult IsCodeSigned(const std::string& filename, const std::string& catFile,
                               std::uint32_t alg) {
    CodeSigningResult result;
    if (catFile.empty()) {
        CollectError(kFunc, "No cat file", filename, kNoCode);
        return result;
    }

    const auto calculated = CalcCatFileTag(catFile, filename, alg);
    if (!calculated) {
        CollectError(kFunc, "CalcCatFileTag fail: " + filename, catFile, calculated.error());
        return result;
    }
    const std::string& tag = *calculated;
    result.tag = tag;

    // WINTRUST_CATALOG_INFO: catalog, member tag and member file; the trust query runs without
    // user interface and checks revocation of the whole chain.
    platform::CatalogMemberTrustRequest request;
    request.catalogFilePath = catFile;
    request.memberTag = tag;
    request.memberFilePath = filename;
    result.trustCode = platform::WinVerifyTrustCatalogMember(request);
    if (result.trustCode == 0) {
        result.trusted = true;
        return result;
    }
    if (alg == CALG_SHA_256) {
        return IsCodeSigned(filename, catFile, CALG_SHA1);
    }
    // WinVerifyTrust leaves its result as the thread's last error.
    CollectError(kFunc, "WinVerifyTrust fail: " + filename, TrustResultName(result.trustCode),
                 result.trustCode);
    return result;
}

} // namespace halyard

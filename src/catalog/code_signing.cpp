#include "catalog/code_signing.h"

#include "base/codes.h"
#include "base/hex.h"
#include "base/unicode.h"
#include "catalog/cat_file_tag.h"
#include "platform/trust.h"
#include "report/diagnostics.h"

namespace halyard {

namespace {

using namespace codes;

constexpr const char* kFunc = "IsCodeSigned";

// The trust results the failure report names; it gives the others as hex digits.
constexpr std::uint32_t kNamedTrustResults[] = {
    kTrustESubjectNotTrusted, kTrustEProviderUnknown,
    kTrustEActionUnknown,     kTrustESubjectFormUnknown,
    kTrustENoSignature,       kTrustENoSignerCert,
    kCertEChaining,           kCryptEFileError,
};

} // namespace

std::string TrustResultName(std::uint32_t code) {
    const std::string_view symbol = SymbolAmong(code, kNamedTrustResults);
    return symbol.empty() ? Hex8(code) : std::string(symbol);
}

std::string TrustCodeReason(std::uint32_t code) {
    if (code == kSuccess) {
        return {};
    }
    const std::string_view reason = ReasonOfCode(code);
    return reason.empty() ? "not trusted (" + TrustResultName(code) + ")" : std::string(reason);
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

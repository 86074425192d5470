#include "base/hex.h"
#include "base/outcome.h"
#include "base/unicode.h"
#include "external/setupapi/setupapi.h"
#include "platform/files.h"
#include "platform/filestream.h"
#include "platform/locale.h"
#include "platform/signing_policy.h"
#include "report/diagnostics.h"
#include "report/output.h"
#include "verify/checks.h"

#include <cstdint>
#include <string>
#include <utility>

namespace halyard {

namespace {

std::string FieldText(const setupapi::WideChar* field) {
    std::size_t n = 0;
    while (n < 260 && field[n] != 0) {
        ++n;
    }
    return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(field), n));
}

} // namespace

bool VerifyInfAndCat(const std::string& path, bool& res) {
    res = false;
    // The INF and the catalog are taken by their full paths, whatever folder the caller is in.
    const std::string folder = platform::ExpandFileName(path);
    const auto infs = platform::ListFiles(folder, "*.inf");
    if (infs.size() != 1) {
        WriteLine("wrong:no single inf file: " + path);
        return false;
    }
    const std::string infPath = infs.front();
    const auto cats = platform::ListFiles(folder, "*.cat");
    if (cats.size() != 1) {
        WriteLine("wrong:no single cat file: " + path);
        return false;
    }
    const std::string catPath = cats.front();
    // The Setup API's answer for a file it cannot read says little: name the cause first.
    const std::pair<const std::string*, std::uint64_t> inputs[] = {
        {&infPath, platform::kMaxInfFileSize}, {&catPath, platform::kNoSizeCap}};
    bool causeWritten = false;
    for (const auto& [input, cap] : inputs) {
        if (const std::uint32_t refused = platform::ProbeInputFile(*input, cap)) {
            CollectError("VerifyInfAndCat", "Cannot read", *input, refused);
            causeWritten = true;
        }
    }

    setupapi::SP_INF_SIGNER_INFO_V1_W infSignerInfo{};
    infSignerInfo.cbSize = sizeof(infSignerInfo);
    const ScopedSetupApi setupApi;
    if (!setupApi) {
        WriteLine("wrong:LoadSetupApi failed");
        return false;
    }

    const std::u16string infName = Utf8ToUtf16(infPath);
    const auto* wideInfName = reinterpret_cast<const setupapi::WideChar*>(infName.c_str());
    bool ok = SetupVerifyInfFile(wideInfName, nullptr, &infSignerInfo) != 0;
    if (!ok) {
        const std::uint32_t first = SetupApiGetLastError();
        if (first == codes::kCryptEFileError || first == codes::kErrorNoCatalogForOemInf) {
            setupapi::SP_ALTPLATFORM_INFO_V2 altPlatformInfo{};
            altPlatformInfo.cbSize = sizeof(altPlatformInfo);
            altPlatformInfo.Platform = setupapi::kVerPlatformWin32Nt;
            altPlatformInfo.ProcessorArchitecture = setupapi::kProcessorArchitectureAmd64;
            ok = SetupVerifyInfFile(wideInfName, &altPlatformInfo, &infSignerInfo) != 0;
        }
    }

    // The Authenticode answers go on to the signer test, which names the code with the signer.
    std::uint32_t signerCode = codes::kNoCode;
    if (!ok) {
        const std::uint32_t err = SetupApiGetLastError();
        // "ignore" and "Unknown error" would otherwise leave the reason unsaid.
        const auto writeCause = [&] {
            if (!causeWritten) {
                CollectError("VerifyInfAndCat", "SetupVerifyInfFile fail", infPath, err);
            }
        };
        switch (err) {
        case codes::kErrorAuthenticodeTrustedPublisher:
        case codes::kErrorAuthenticodeTrustNotEstablished:
            signerCode = err;
            break;
        case codes::kPathNotFound:
            WriteLine("wrong:NotFound");
            return false;
        case codes::kNotFound:
        case codes::kErrorNoCatalogForOemInf:
            WriteLine("wrong:NoCatalog");
            return false;
        case codes::kCertEUntrustedRoot:
        case codes::kCertEChaining:
        case codes::kErrorSignatureOsattributeMismatch:
            writeCause();
            return true;
        default:
            writeCause();
            WriteLine("wrong:Unknown error " + Hex8(err));
            return false;
        }
    }

    const std::string catalogFile = FieldText(infSignerInfo.CatalogFile);
    // The Setup API names the catalog by its full path, folded as the listing's path is.
    if (platform::LowerCase(platform::ExpandFileName(catalogFile)) !=
        platform::LowerCase(catPath)) {
        WriteLine("wrong:DifferentCatalog");
        return false;
    }

    const std::string signer = FieldText(infSignerInfo.DigitalSigner);
    res = platform::IsDriverPolicySigner(signer);
    if (!res) {
        CollectError("VerifyInfAndCat",
                     "Not the accepted signer: " + (signer.empty() ? "(none)" : signer), catPath,
                     signerCode);
    }
    return true;
}

} // namespace halyard

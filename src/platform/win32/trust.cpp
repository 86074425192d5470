#include "platform/trust.h"

#include "base/calendar.h"
#include "base/hex.h"
#include "platform/win32/wide.h"

#include <cstddef>
#include <softpub.h>
#include <wincrypt.h>
#include <windows.h>
#include <wintrust.h>

namespace halyard::platform {

namespace {

GUID GenericVerifyV2() {
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    return action;
}

std::int64_t UnixSeconds(const FILETIME& t) {
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    return FileTimeToUnixSeconds(ticks);
}

std::string DisplayName(PCCERT_CONTEXT cert, DWORD flags) {
    const DWORD n =
        ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, nullptr, 0);
    if (n <= 1) {
        return {};
    }
    std::wstring name(n, L'\0');
    ::CertGetNameStringW(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name.data(), n);
    name.resize(n - 1);
    return win32::Narrow(name);
}

std::string Thumbprint(PCCERT_CONTEXT cert) {
    BYTE hash[20] = {};
    DWORD size = sizeof hash;
    if (!::CertGetCertificateContextProperty(cert, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
        return {};
    }
    return HexUpper(std::span<const std::uint8_t>(hash, size));
}

// The signer's chain as the provider built it (signer first), turned root first.
std::vector<CertificateSummary> Chain(const CRYPT_PROVIDER_SGNR& signer) {
    std::vector<CertificateSummary> chain;
    for (DWORD i = signer.csCertChain; i > 0; --i) {
        PCCERT_CONTEXT cert = signer.pasCertChain[i - 1].pCert;
        if (cert == nullptr) {
            continue;
        }
        CertificateSummary s;
        s.issuedTo = DisplayName(cert, 0);
        s.issuedBy = DisplayName(cert, CERT_NAME_ISSUER_FLAG);
        s.notAfter = UnixSeconds(cert->pCertInfo->NotAfter);
        s.sha1Hex = Thumbprint(cert);
        chain.push_back(std::move(s));
    }
    return chain;
}

} // namespace

std::uint32_t WinVerifyTrustCatalogMember(const CatalogMemberTrustRequest& request) {
    const std::wstring catalog = win32::Wide(request.catalogFilePath);
    const std::wstring tag = win32::Wide(request.memberTag);
    const std::wstring file = win32::Wide(request.memberFilePath);

    WINTRUST_CATALOG_INFO info{};
    // The record without the catalog administrator handle.
    info.cbStruct = offsetof(WINTRUST_CATALOG_INFO, hCatAdmin);
    info.pcwszCatalogFilePath = catalog.c_str();
    info.pcwszMemberTag = tag.c_str();
    info.pcwszMemberFilePath = file.c_str();

    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_CATALOG;
    data.pCatalog = &info;
    data.dwStateAction = WTD_STATEACTION_IGNORE;
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN;

    GUID action = GenericVerifyV2();
    return static_cast<std::uint32_t>(
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data));
}

CatalogSignatureReport VerifyCatalogSignature(const std::string& catalogPath) {
    const std::wstring path = win32::Wide(catalogPath);
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path.c_str();

    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_WHOLECHAIN;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY; // keep the provider data for the chains
    data.dwProvFlags = WTD_REVOCATION_CHECK_CHAIN;

    GUID action = GenericVerifyV2();
    const HWND window = static_cast<HWND>(INVALID_HANDLE_VALUE);
    CatalogSignatureReport report;
    report.status = static_cast<std::uint32_t>(::WinVerifyTrust(window, &action, &data));
    if (data.hWVTStateData != nullptr) {
        if (CRYPT_PROVIDER_DATA* provider = ::WTHelperProvDataFromStateData(data.hWVTStateData)) {
            if (CRYPT_PROVIDER_SGNR* signer =
                    ::WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0)) {
                report.signingChain = Chain(*signer);
                if (signer->csCounterSigners > 0 && signer->pasCounterSigners != nullptr) {
                    const CRYPT_PROVIDER_SGNR& stamp = signer->pasCounterSigners[0];
                    // The provider verifies the signer as of the counter-signature's time.
                    report.timestamp = UnixSeconds(stamp.sftVerifyAsOf);
                    report.timestampChain = Chain(stamp);
                }
            }
        }
    }
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    ::WinVerifyTrust(window, &action, &data);
    return report;
}

std::string TrustFolder() {
    return {};
}

std::vector<std::string> TrustFolders() {
    return {};
}

const TrustFolderChoice& ChosenTrustFolders() {
    static const TrustFolderChoice none;
    return none;
}

} // namespace halyard::platform

#include "platform/ctl.h"

#include "platform/win32/wide.h"

#include <wincrypt.h>
#include <windows.h>

namespace halyard::platform {

Outcome<CtlQueryResult> CryptQueryObjectCtl(const std::string& path) {
    const std::wstring wide = win32::Wide(path);
    DWORD encoding = 0;
    DWORD contentType = 0;
    DWORD formatType = 0;
    HCERTSTORE store = nullptr;
    HCRYPTMSG message = nullptr;
    const void* context = nullptr;
    if (!::CryptQueryObject(CERT_QUERY_OBJECT_FILE, wide.c_str(), CERT_QUERY_CONTENT_FLAG_CTL,
                            CERT_QUERY_FORMAT_FLAG_BINARY | CERT_QUERY_FORMAT_FLAG_BASE64_ENCODED,
                            0, &encoding, &contentType, &formatType, &store, &message, &context)) {
        return Outcome<CtlQueryResult>::failure(::GetLastError());
    }
    CtlQueryResult result;
    result.contentType = contentType;
    const auto* ctl = static_cast<PCCTL_CONTEXT>(context);
    if (ctl != nullptr && ctl->pCtlInfo != nullptr) {
        const FILETIME& t = ctl->pCtlInfo->ThisUpdate;
        result.thisUpdate = (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    }
    if (ctl != nullptr) {
        ::CertFreeCTLContext(ctl);
    }
    if (message != nullptr) {
        ::CryptMsgClose(message);
    }
    if (store != nullptr) {
        ::CertCloseStore(store, 0);
    }
    return Outcome<CtlQueryResult>(result);
}

} // namespace halyard::platform

#include "platform/catalog.h"
#include "platform/win32/wide.h"

#include <mscat.h>
#include <wincrypt.h>
#include <windows.h>

namespace halyard::platform {

namespace {

CatAttribute ToAttribute(const CRYPTCATATTRIBUTE& a) {
    CatAttribute out;
    out.referenceTag = win32::Narrow(a.pwszReferenceTag);
    out.attrTypeAndAction = a.dwAttrTypeAndAction;
    if (a.pbValue != nullptr && a.cbValue > 0) {
        out.value.assign(a.pbValue, a.pbValue + a.cbValue);
    }
    return out;
}

std::string Oid(const char* oid) {
    return oid == nullptr ? std::string() : std::string(oid);
}

// Closes the catalog handle on every way out.
struct CatalogGuard {
    HANDLE h;
    ~CatalogGuard() { ::CryptCATClose(h); }
};

} // namespace

Outcome<CatalogHandle> CryptCATOpen(const std::string& path, std::uint32_t publicVersion,
                                    std::uint32_t encodingType) {
    if (encodingType == 0) {
        encodingType = kX509AsnEncoding | kPkcs7AsnEncoding;
    }
    std::wstring wide = win32::Wide(path);
    // Open flags 0 mean "open always": CryptCATOpen would create a missing catalog file.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return Outcome<CatalogHandle>::failure(::GetLastError());
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return Outcome<CatalogHandle>::failure(ERROR_ACCESS_DENIED);
    }
    const HANDLE h = ::CryptCATOpen(wide.data(), 0, 0, publicVersion, encodingType);
    if (h == INVALID_HANDLE_VALUE || h == nullptr) {
        const DWORD code = ::GetLastError();
        return Outcome<CatalogHandle>::failure(code != 0 ? code : ERROR_FILE_NOT_FOUND);
    }
    CatalogGuard guard{h};
    // The store is read whole here, so that the lists outlive the handle.
    auto store = std::make_shared<CatalogStore>();
    store->path = path;
    store->publicVersion = publicVersion;
    store->encodingType = encodingType;
    for (CRYPTCATATTRIBUTE* a = ::CryptCATEnumerateCatAttr(h, nullptr); a != nullptr;
         a = ::CryptCATEnumerateCatAttr(h, a)) {
        store->catalogAttributes.push_back(ToAttribute(*a));
    }
    for (CRYPTCATMEMBER* m = ::CryptCATEnumerateMember(h, nullptr); m != nullptr;
         m = ::CryptCATEnumerateMember(h, m)) {
        CatMember member;
        member.referenceTag = win32::Narrow(m->pwszReferenceTag);
        if (const SIP_INDIRECT_DATA* data = m->pIndirectData) {
            member.indirectDataTypeOid = Oid(data->Data.pszObjId);
            member.digestAlgorithmOid = Oid(data->DigestAlgorithm.pszObjId);
            if (data->Digest.pbData != nullptr) {
                member.digest.assign(data->Digest.pbData,
                                     data->Digest.pbData + data->Digest.cbData);
            }
        }
        for (CRYPTCATATTRIBUTE* a = ::CryptCATEnumerateAttr(h, m, nullptr); a != nullptr;
             a = ::CryptCATEnumerateAttr(h, m, a)) {
            member.attributes.push_back(ToAttribute(*a));
        }
        store->members.push_back(std::move(member));
    }
    return Outcome<CatalogHandle>(CatalogHandle(std::move(store)));
}

} // namespace halyard::platform

#include "platform/sip.h"

#include "platform/win32/wide.h"

#include <cstring>
#include <mscat.h>
#include <mssip.h>
#include <wincrypt.h>
#include <windows.h>

namespace halyard::platform {

namespace {

GUID ToGuid(const Guid& g) {
    GUID out{};
    out.Data1 = g.data1;
    out.Data2 = g.data2;
    out.Data3 = g.data3;
    std::memcpy(out.Data4, g.data4.data(), sizeof out.Data4);
    return out;
}

Guid FromGuid(const GUID& g) {
    Guid out;
    out.data1 = g.Data1;
    out.data2 = g.Data2;
    out.data3 = g.Data3;
    std::memcpy(out.data4.data(), g.Data4, sizeof g.Data4);
    return out;
}

HANDLE OpenShared(const std::wstring& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

// One call of the package's pfCreate with a SIP_SUBJECTINFO built from ours; the file is opened
// here and handed over by handle.
struct IndirectDataCall {
    GUID subjectType{};
    std::wstring fileName;
    std::string oid;
    win32::HandleGuard file;
    SIP_SUBJECTINFO info{};
    SIP_DISPATCH_INFO dispatch{};

    DWORD prepare(const Guid& type, const SipSubjectInfo& subject) {
        subjectType = ToGuid(type);
        fileName = win32::Wide(subject.fileName);
        oid = subject.digestAlgorithmOid;
        file.reset(OpenShared(fileName));
        if (!file.valid()) {
            return ::GetLastError();
        }
        dispatch.cbSize = sizeof dispatch;
        if (!::CryptSIPLoad(&subjectType, 0, &dispatch) || dispatch.pfCreate == nullptr) {
            return ::GetLastError();
        }
        info.cbSize = sizeof info;
        info.pgSubjectType = &subjectType;
        info.hFile = file.get();
        info.pwsFileName = fileName.c_str();
        info.DigestAlgorithm.pszObjId = oid.data();
        info.dwFlags = subject.flags;
        info.dwEncodingType = subject.encodingType;
        return ERROR_SUCCESS;
    }
};

DWORD FailureCode() {
    const DWORD code = ::GetLastError();
    return code != 0 ? code : static_cast<DWORD>(TRUST_E_SUBJECT_FORM_UNKNOWN);
}

} // namespace

Outcome<Guid> CryptSIPRetrieveSubjectGuid(const std::string& path) {
    GUID guid{};
    if (!::CryptSIPRetrieveSubjectGuid(win32::Wide(path).c_str(), nullptr, &guid)) {
        return Outcome<Guid>::failure(FailureCode());
    }
    return Outcome<Guid>(FromGuid(guid));
}

Outcome<SipDispatch> CryptSIPLoad(const Guid& subjectType) {
    GUID guid = ToGuid(subjectType);
    SIP_DISPATCH_INFO dispatch{};
    dispatch.cbSize = sizeof dispatch;
    if (!::CryptSIPLoad(&guid, 0, &dispatch) || dispatch.pfCreate == nullptr) {
        return Outcome<SipDispatch>::failure(FailureCode());
    }
    return Outcome<SipDispatch>(SipDispatch(subjectType));
}

Outcome<std::uint32_t> SipDispatch::createIndirectDataSize(const SipSubjectInfo& subject) const {
    IndirectDataCall call;
    if (const DWORD code = call.prepare(subjectType_, subject); code != ERROR_SUCCESS) {
        return Outcome<std::uint32_t>::failure(code);
    }
    DWORD size = 0;
    if (!call.dispatch.pfCreate(&call.info, &size, nullptr)) {
        return Outcome<std::uint32_t>::failure(FailureCode());
    }
    return Outcome<std::uint32_t>(size);
}

Outcome<std::vector<std::uint8_t>>
SipDispatch::createIndirectDataDigest(const SipSubjectInfo& subject) const {
    using Result = Outcome<std::vector<std::uint8_t>>;
    IndirectDataCall call;
    if (const DWORD code = call.prepare(subjectType_, subject); code != ERROR_SUCCESS) {
        return Result::failure(code);
    }
    DWORD size = 0;
    if (!call.dispatch.pfCreate(&call.info, &size, nullptr)) {
        return Result::failure(FailureCode());
    }
    // SIP_INDIRECT_DATA and the data it points into share one buffer, aligned for the record.
    std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t) +
                                      1);
    auto* data = reinterpret_cast<SIP_INDIRECT_DATA*>(buffer.data());
    if (!call.dispatch.pfCreate(&call.info, &size, data)) {
        return Result::failure(FailureCode());
    }
    std::vector<std::uint8_t> digest;
    if (data->Digest.pbData != nullptr) {
        digest.assign(data->Digest.pbData, data->Digest.pbData + data->Digest.cbData);
    }
    return Result(std::move(digest));
}

Outcome<std::vector<std::uint8_t>> CryptCATAdminCalcHashFromFile(const std::string& path) {
    using Result = Outcome<std::vector<std::uint8_t>>;
    win32::HandleGuard file(OpenShared(win32::Wide(path)));
    if (!file.valid()) {
        return Result::failure(::GetLastError());
    }
    DWORD size = 0;
    if (!::CryptCATAdminCalcHashFromFileHandle(file.get(), &size, nullptr, 0) &&
        ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
        return Result::failure(::GetLastError());
    }
    std::vector<std::uint8_t> hash(size);
    if (!::CryptCATAdminCalcHashFromFileHandle(file.get(), &size, hash.data(), 0)) {
        return Result::failure(::GetLastError());
    }
    hash.resize(size);
    return Result(std::move(hash));
}

std::string CertAlgIdToOID(std::uint32_t algId) {
    const char* oid = ::CertAlgIdToOID(algId);
    return oid == nullptr ? std::string() : std::string(oid);
}

} // namespace halyard::platform

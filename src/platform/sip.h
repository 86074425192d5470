// Subject interface packages (CryptSIPRetrieveSubjectGuid, CryptSIPLoad and its pfCreate), the
// catalog administrator's file hash and CertAlgIdToOID.
#pragma once

#include "base/outcome.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace halyard::platform {

struct Guid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};
    bool operator==(const Guid&) const = default;
};

// {C689AAB8-8E78-11D0-8C47-00C04FC295EE}
inline constexpr Guid kSubjectPeImage{
    0xC689AAB8, 0x8E78, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// {C689AABA-8E78-11D0-8C47-00C04FC295EE}
inline constexpr Guid kSubjectCabinet{
    0xC689AABA, 0x8E78, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// {DE351A43-8E59-11D0-8C47-00C04FC295EE}
inline constexpr Guid kSubjectCatalog{
    0xDE351A43, 0x8E59, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};
// CRYPT_SUBJTYPE_FLAT_IMAGE {DE351A42-8E59-11D0-8C47-00C04FC295EE}
inline constexpr Guid kSubjectFlatImage{
    0xDE351A42, 0x8E59, 0x11D0, {0x8C, 0x47, 0x00, 0xC0, 0x4F, 0xC2, 0x95, 0xEE}};

inline constexpr std::uint32_t kCalgSha1 = 0x8004;
inline constexpr std::uint32_t kCalgSha256 = 0x800C;
inline constexpr const char* kOidSha1 = "1.3.14.3.2.26";
inline constexpr const char* kOidSha256RsaEncryption = "1.2.840.113549.1.1.11";
inline constexpr const char* kOidSha256 = "2.16.840.1.101.3.4.2.1";

inline constexpr std::uint32_t kSpcIncPeImportAddrTableFlag = 0x20;
inline constexpr std::uint32_t kSpcIncPeResourcesFlag = 0x80;
inline constexpr std::uint32_t kMssipFlagsProhibitResizeOnCreate = 0x00010000;

// Which subject package a file belongs to; fails (ERROR_INVALID_PARAMETER for fewer than 4
// bytes, TRUST_E_SUBJECT_FORM_UNKNOWN for unknown content, the file error otherwise).
Outcome<Guid> CryptSIPRetrieveSubjectGuid(const std::string& path);

// SIP_SUBJECTINFO, the fields the system sets.
struct SipSubjectInfo {
    Guid subjectType;
    std::string fileName;
    std::string digestAlgorithmOid; // "1.2.840.113549.1.1.11" or CertAlgIdToOID's text
    std::uint32_t flags = 0;
    std::uint32_t encodingType = 0;
};

// SIP_DISPATCH_INFO; only pfCreate (CryptSIPCreateIndirectData) is offered.
class SipDispatch {
public:
    explicit SipDispatch(Guid subjectType) : subjectType_(subjectType) {}
    // The size query (no buffer): the byte count of the indirect data, or the failure code
    // (NTE_BAD_ALGID for an algorithm the package cannot hash, ERROR_BAD_FORMAT, ...).
    Outcome<std::uint32_t> createIndirectDataSize(const SipSubjectInfo& subject) const;
    // The second call: the indirect data's digest bytes.
    Outcome<std::vector<std::uint8_t>>
    createIndirectDataDigest(const SipSubjectInfo& subject) const;
    const Guid& subjectType() const { return subjectType_; }

private:
    Guid subjectType_;
};

Outcome<SipDispatch> CryptSIPLoad(const Guid& subjectType);

// CryptCATAdminCalcHashFromFileHandle: SHA-1, the Authenticode digest for PE files and the
// plain content hash otherwise. Fails with the file's error code.
Outcome<std::vector<std::uint8_t>> CryptCATAdminCalcHashFromFile(const std::string& path);

// CertAlgIdToOID: "1.3.14.3.2.26" for CALG_SHA1, "2.16.840.1.101.3.4.2.1" for CALG_SHA_256,
// empty for an identifier it does not know.
std::string CertAlgIdToOID(std::uint32_t algId);

} // namespace halyard::platform

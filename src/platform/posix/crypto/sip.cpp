// The subject interface packages: the trust engine detects a file's package and computes its
// digests (halyard/trust/parse.h); here the packages are named by their GUIDs.
#include "platform/sip.h"

#include "halyard/trust/parse.h"

#include <optional>

namespace halyard::platform {

namespace {

using namespace codes;

std::optional<trust::SubjectPackage> PackageOf(const Guid& guid) {
    if (guid == kSubjectPeImage) {
        return trust::SubjectPackage::PeImage;
    }
    if (guid == kSubjectFlatImage) {
        return trust::SubjectPackage::Flat;
    }
    if (guid == kSubjectCatalog) {
        return trust::SubjectPackage::Catalog;
    }
    if (guid == kSubjectCabinet) {
        return trust::SubjectPackage::Cabinet;
    }
    return std::nullopt;
}

} // namespace

Outcome<Guid> CryptSIPRetrieveSubjectGuid(const std::string& path) {
    const auto package = trust::DetectSubjectPackage(path);
    if (!package) {
        return Outcome<Guid>::failure(package.error());
    }
    switch (*package) {
    case trust::SubjectPackage::PeImage:
        return kSubjectPeImage;
    case trust::SubjectPackage::Cabinet:
        return kSubjectCabinet;
    case trust::SubjectPackage::Catalog:
        return kSubjectCatalog;
    case trust::SubjectPackage::Flat:
        break;
    }
    return kSubjectFlatImage;
}

Outcome<SipDispatch> CryptSIPLoad(const Guid& subjectType) {
    if (!PackageOf(subjectType)) {
        return Outcome<SipDispatch>::failure(kTrustESubjectFormUnknown);
    }
    return SipDispatch(subjectType);
}

// A dispatch made for a GUID of no package is served as the flat package.
Outcome<std::uint32_t> SipDispatch::createIndirectDataSize(const SipSubjectInfo& subject) const {
    return trust::SubjectIndirectDataSize(
        PackageOf(subjectType_).value_or(trust::SubjectPackage::Flat), subject);
}

Outcome<std::vector<std::uint8_t>>
SipDispatch::createIndirectDataDigest(const SipSubjectInfo& subject) const {
    return trust::SubjectIndirectDataDigest(
        PackageOf(subjectType_).value_or(trust::SubjectPackage::Flat), subject);
}

Outcome<std::vector<std::uint8_t>> CryptCATAdminCalcHashFromFile(const std::string& path) {
    using Result = Outcome<std::vector<std::uint8_t>>;
    const auto pe = trust::IsPeImageFile(path);
    if (!pe) {
        return Result::failure(pe.error());
    }
    return trust::FileDigestOf(
        path, *pe ? trust::SubjectDigestKind::PeImage : trust::SubjectDigestKind::Flat,
        DigestAlgorithm::Sha1);
}

std::string CertAlgIdToOID(std::uint32_t algId) {
    switch (algId) {
    case kCalgSha1:
        return kOidSha1;
    case kCalgSha256:
        return kOidSha256;
    case 0x8003: // CALG_MD5
        return "1.2.840.113549.2.5";
    case 0x800D: // CALG_SHA_384
        return "2.16.840.1.101.3.4.2.2";
    case 0x800E: // CALG_SHA_512
        return "2.16.840.1.101.3.4.2.3";
    default:
        return {};
    }
}

} // namespace halyard::platform

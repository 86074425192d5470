// The subject interface packages, as the trust engine knows them.
//
// Detection follows CryptSIPRetrieveSubjectGuid: "MZ" with valid PE headers is the PE image
// package, "MSCF" the cabinet package, a DER SEQUENCE whose length fits the file (or an indefinite
// length, or a file above 0xFFFF bytes) the catalog package; anything else has no package and
// the caller takes the flat type. An "MZ" file whose headers are not a PE image is not claimed by
// the PE package, so it is hashed flat rather than refused.
//
// What each package can digest (an algorithm it cannot do answers NTE_BAD_ALGID, as Windows'
// packages do for algorithms they lack):
//   PE image   SHA-1, SHA-256: the Authenticode image digest
//   flat       SHA-1, SHA-256: the whole content
//   catalog    SHA-1, SHA-256: the whole content, as the flat package
//   cabinet    none: the cabinet digest is not implemented here, so every algorithm is refused
// The size query reads the headers only; the digest call streams the file, and both SHA-1 and
// SHA-256 are kept from that one pass for the trust check (see parse.h).
#include "file_access.h"
#include "halyard/trust/parse.h"
#include "platform/sip.h"

#include <array>
#include <cstring>

namespace halyard::trust {

namespace {

using namespace codes;

enum class SipAlgorithm { Sha1, Sha256, Unknown };

SipAlgorithm AlgorithmOf(const std::string& oid) {
    if (oid == kOidSha1 || oid == "1.2.840.113549.1.1.5") {
        return SipAlgorithm::Sha1;
    }
    if (oid == kOidSha256 || oid == kOidSha256RsaEncryption) {
        return SipAlgorithm::Sha256;
    }
    return SipAlgorithm::Unknown;
}

// The first bytes of a file, its size, or the file's error.
struct FileHead {
    std::uint32_t error = 0;
    std::uint64_t size = 0;
    std::array<std::uint8_t, 8> bytes{};
    std::size_t count = 0;
};

FileHead ReadHead(const std::string& path) {
    FileHead head;
    PieceReader file(path);
    if (file.error() != 0) {
        head.error = file.error();
        return head;
    }
    head.size = file.size();
    head.count = file.readAt(0, head.bytes.data(), head.bytes.size());
    head.error = file.error();
    return head;
}

// A DER SEQUENCE whose encoded length matches the file, or that cannot be judged by length.
bool LooksLikeCatalog(const FileHead& head) {
    if (head.bytes[0] != 0x30) {
        return false;
    }
    if (head.size > 0xFFFF) {
        return true;
    }
    const std::uint8_t first = head.bytes[1];
    if (first == 0x80) {
        return true; // indefinite length
    }
    std::uint64_t total = 0;
    if (first < 0x80) {
        total = 2 + first;
    } else {
        const std::size_t count = first & 0x7F;
        if (count > 4 || 2 + count > head.count) {
            return false;
        }
        std::uint64_t length = 0;
        for (std::size_t i = 0; i < count; ++i) {
            length = length << 8 | head.bytes[2 + i];
        }
        total = 2 + count + length;
    }
    return total == head.size;
}

// The byte count of a SIP_INDIRECT_DATA record with its digest and the encoded data that the
// package would attach: a fixed part, the two object identifiers and the digest.
std::uint32_t IndirectDataSize(const std::string& oid, std::size_t digestSize,
                               SubjectPackage package) {
    const std::size_t typeOidSize = std::strlen("1.3.6.1.4.1.311.2.1.15") + 1;
    const std::size_t valueSize = package == SubjectPackage::PeImage ? 48 : 16;
    return static_cast<std::uint32_t>(32 + oid.size() + 1 + typeOidSize + valueSize + digestSize);
}

// Checks that the package can serve the request without reading the file's content.
std::uint32_t CheckRequest(SubjectPackage package, const SipSubjectInfo& subject,
                           SipAlgorithm& algorithm) {
    if (subject.fileName.empty()) {
        return kInvalidParameter;
    }
    algorithm = AlgorithmOf(subject.digestAlgorithmOid);
    if (package == SubjectPackage::Cabinet || algorithm == SipAlgorithm::Unknown) {
        return kNteBadAlgid;
    }
    if (package == SubjectPackage::PeImage) {
        const auto pe = IsPeImageFile(subject.fileName);
        if (!pe) {
            return pe.error();
        }
        return *pe ? 0 : kBadFormat;
    }
    const FileHead head = ReadHead(subject.fileName);
    return head.error;
}

} // namespace

Outcome<SubjectPackage> DetectSubjectPackage(const std::string& path) {
    const FileHead head = ReadHead(path);
    if (head.error != 0) {
        return Outcome<SubjectPackage>::failure(head.error);
    }
    if (head.count < 4) {
        return Outcome<SubjectPackage>::failure(kInvalidParameter);
    }
    if (head.bytes[0] == 'M' && head.bytes[1] == 'Z') {
        const auto pe = IsPeImageFile(path);
        if (!pe) {
            return Outcome<SubjectPackage>::failure(pe.error());
        }
        if (*pe) {
            return SubjectPackage::PeImage;
        }
    }
    if (std::memcmp(head.bytes.data(), "MSCF", 4) == 0) {
        return SubjectPackage::Cabinet;
    }
    if (LooksLikeCatalog(head)) {
        return SubjectPackage::Catalog;
    }
    return Outcome<SubjectPackage>::failure(kTrustESubjectFormUnknown);
}

Outcome<std::uint32_t> SubjectIndirectDataSize(SubjectPackage package,
                                               const SipSubjectInfo& subject) {
    SipAlgorithm algorithm = SipAlgorithm::Unknown;
    if (const std::uint32_t error = CheckRequest(package, subject, algorithm); error != 0) {
        return Outcome<std::uint32_t>::failure(error);
    }
    const std::size_t digestSize = algorithm == SipAlgorithm::Sha1 ? 20 : 32;
    return Outcome<std::uint32_t>(
        IndirectDataSize(subject.digestAlgorithmOid, digestSize, package));
}

Outcome<std::vector<std::uint8_t>> SubjectIndirectDataDigest(SubjectPackage package,
                                                             const SipSubjectInfo& subject) {
    using Result = Outcome<std::vector<std::uint8_t>>;
    const SipAlgorithm algorithm = AlgorithmOf(subject.digestAlgorithmOid);
    if (subject.fileName.empty()) {
        return Result::failure(kInvalidParameter);
    }
    if (package == SubjectPackage::Cabinet || algorithm == SipAlgorithm::Unknown) {
        return Result::failure(kNteBadAlgid);
    }
    const auto kind =
        package == SubjectPackage::PeImage ? SubjectDigestKind::PeImage : SubjectDigestKind::Flat;
    return FileDigestOf(subject.fileName, kind,
                        algorithm == SipAlgorithm::Sha1 ? DigestAlgorithm::Sha1
                                                        : DigestAlgorithm::Sha256);
}

} // namespace halyard::trust

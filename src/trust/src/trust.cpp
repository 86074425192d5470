// WinVerifyTrust for a catalog member, on OpenSSL.
//
// The checks run in the order of the Windows providers: the catalog is opened, the member is
// found by its tag and the member file's digest compared (object provider), then the catalog's
// signature is verified (signature provider), then the signer's chain (certificate provider and
// policy). The first failing step gives the result.
//
// Every outcome and its Windows code:
//
//   outcome                                                    code
//   ---------------------------------------------------------  ----------------------------------
//   trusted                                                    0
//   empty catalog path or member tag                           ERROR_INVALID_PARAMETER 0x57
//   catalog missing or unreadable (any file error)             CRYPT_E_FILE_ERROR 0x80092003
//     (CatalogFileFailureCode, shared with the Setup API)
//   catalog not a catalog (the parser's code)                  CRYPT_E_ASN1_BADTAG 0x8009310B,
//                                                              CRYPT_E_INVALID_MSG_TYPE, ...
//   no member with that tag                                    TRUST_E_NOSIGNATURE 0x800B0100
//   member file missing or unreadable                          CRYPT_E_FILE_ERROR 0x80092003
//   member without indirect data, other than a v2 entry whose  TRUST_E_NOSIGNATURE 0x800B0100
//     tag is the digest itself (the SHA-1 shadow entries)
//   member's digest algorithm neither SHA-1 nor SHA-256        NTE_BAD_ALGID 0x80090008
//   member's digest differs from the file's (or a PE-image     TRUST_E_BAD_DIGEST 0x80096010
//     member is no longer a PE image)
//   catalog without signer (unsigned)                          TRUST_E_NOSIGNATURE 0x800B0100
//   signer certificate not in the catalog                      TRUST_E_NO_SIGNER_CERT 0x80096002
//   SignerInfo unreadable, digest algorithm unknown, CTL       TRUST_E_BAD_DIGEST 0x80096010
//     digest differs from messageDigest, signature false
//   a fault of the signer's chain (when several hold, the      the fault's code in the ordered
//     highest-ranked one: trust_faults.h)                      table of trust_faults.cpp
//                                                              (TRUST_E_CERT_SIGNATURE ...
//                                                              TRUST_E_EXPLICIT_DISTRUST)
//
// Signatures (the catalog's and the time stamps') are checked as Crypt32 checks them, legacy
// forms included (trust_signature.h).
// A time stamp that does not verify (bad signature or imprint, or its own chain failing at its
// own time) is not an error by itself: the signer's chain is then judged at the current time.
// Revocation is checked only against CRLs in the trust folder; there is no network.
#include "base/unicode.h"
#include "chain_helpers.h"
#include "halyard/trust/parse.h"
#include "halyard/trust/verify.h"
#include "platform/files.h"
#include "platform/sip.h"
#include "trust_signature.h"
#include "trust_timestamp.h"

#include <algorithm>
#include <atomic>
#include <limits>
#include <optional>

namespace halyard::trust {

namespace {

using namespace codes;

struct CertificateSet {
    std::vector<X509Ptr> owned;
    std::vector<X509*> pointers;
};

CertificateSet ReadCertificates(const ParsedCatalog& catalog) {
    CertificateSet set;
    for (const ByteSpan& span : catalog.certificates) {
        const auto bytes = catalog.bytes(span);
        const unsigned char* p = bytes.data();
        X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(bytes.size())));
        if (cert) {
            set.pointers.push_back(cert.get());
            set.owned.push_back(std::move(cert));
        }
    }
    return set;
}

std::vector<std::uint8_t> HexBytes(const std::string& hex) {
    std::vector<std::uint8_t> out;
    auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
    }
    return out;
}

// 0 when the file's digest is the member's, else the trust code.
std::uint32_t CompareMemberDigest(const ParsedCatalog& catalog, const CatMember& member,
                                  const std::string& filePath) {
    std::string algorithm = member.digestAlgorithmOid;
    std::vector<std::uint8_t> expected = member.digest;
    std::optional<SubjectDigestKind> kind;
    if (algorithm.empty() && expected.empty()) {
        // A v2 entry without indirect data (the SHA-1 "shadow" of a SHA-256 member): its tag is
        // the digest, computed by the file's own subject package.
        if (catalog.version != 2 ||
            (member.referenceTag.size() != 40 && member.referenceTag.size() != 64)) {
            return kTrustENoSignature;
        }
        algorithm = member.referenceTag.size() == 40 ? kOidSha1 : kOidSha256;
        expected = HexBytes(member.referenceTag);
        const auto pe = IsPeImageFile(filePath);
        if (!pe) {
            return kCryptEFileError;
        }
        kind = *pe ? SubjectDigestKind::PeImage : SubjectDigestKind::Flat;
    } else {
        kind = member.indirectDataTypeOid == kOidSpcPeImageData ? SubjectDigestKind::PeImage
                                                                : SubjectDigestKind::Flat;
    }
    const bool sha1 = algorithm == kOidSha1;
    const bool sha256 = algorithm == kOidSha256;
    if (!sha1 && !sha256) {
        return kNteBadAlgid;
    }
    const auto digest =
        FileDigestOf(filePath, *kind, sha1 ? DigestAlgorithm::Sha1 : DigestAlgorithm::Sha256);
    if (!digest) {
        return digest.error() == kBadFormat ? kTrustEBadDigest : kCryptEFileError;
    }
    return *digest == expected ? 0 : kTrustEBadDigest;
}

// The object provider's step: the member with the tag, whose digest is the file's.
Outcome<const CatMember*> CheckMember(const ParsedCatalog& catalog, const std::string& tag,
                                      const std::string& filePath) {
    const CatMember* member = FindCatalogMember(catalog.store, tag);
    if (member == nullptr) {
        return Outcome<const CatMember*>::failure(kTrustENoSignature);
    }
    if (const std::uint32_t digest = CompareMemberDigest(catalog, *member, filePath); digest != 0) {
        return Outcome<const CatMember*>::failure(digest);
    }
    return member;
}

std::atomic<std::uint64_t> verificationCount{0};

template <class SignatureCheck>
std::uint32_t VerifyMember(const CatalogMemberTrustRequest& request, SignatureCheck&& signature) {
    if (request.catalogFilePath.empty() || request.memberTag.empty()) {
        return kInvalidParameter;
    }
    const auto parsed = ParseCatalogFile(request.catalogFilePath);
    if (!parsed) {
        return CatalogFileFailureCode(parsed.error());
    }
    const ParsedCatalog& catalog = **parsed;
    if (const auto member = CheckMember(catalog, request.memberTag, request.memberFilePath);
        !member) {
        return member.error();
    }
    return signature(catalog);
}

} // namespace

std::uint32_t CatalogFileFailureCode(std::uint32_t openError) {
    // Win32 codes are the file's own errors; the parser's format errors are HRESULTs.
    return openError < 0x10000 ? kCryptEFileError : openError;
}

std::uint64_t CatalogSignatureVerificationCount() {
    return verificationCount.load(std::memory_order_relaxed);
}

CatalogSignatureReport VerifyParsedCatalogSignature(const ParsedCatalog& catalog,
                                                    const TrustAnchors& anchors, std::time_t now) {
    verificationCount.fetch_add(1, std::memory_order_relaxed);
    CatalogSignatureReport report;
    if (catalog.signerInfos.empty()) {
        report.status = kTrustENoSignature;
        return report;
    }
    const CertificateSet certs = ReadCertificates(catalog);
    const ParsedSignerInfo& parsedSigner = catalog.signerInfos.front();
    const auto signerDer = catalog.bytes(parsedSigner.der);
    const unsigned char* p = signerDer.data();
    SignerInfoPtr signerInfo(
        d2i_PKCS7_SIGNER_INFO(nullptr, &p, static_cast<long>(signerDer.size())));
    if (!signerInfo || signerInfo->issuer_and_serial == nullptr) {
        report.status = kTrustEBadDigest;
        return report;
    }
    X509* signer = FindCertificate(certs.pointers, signerInfo->issuer_and_serial->issuer,
                                   signerInfo->issuer_and_serial->serial);
    if (signer == nullptr) {
        report.status = kTrustENoSignerCert;
        return report;
    }
    if (!VerifySignerInfo(signerDer, signer, catalog.bytes(catalog.ctlContent))) {
        report.status = kTrustEBadDigest;
        report.signingChain.push_back(Summarize(signer));
        return report;
    }

    // The time stamps cover the signature value.
    const std::span<const std::uint8_t> signatureValue(
        ASN1_STRING_get0_data(signerInfo->enc_digest),
        static_cast<std::size_t>(ASN1_STRING_length(signerInfo->enc_digest)));
    TimestampVerdict stamp;
    if (!parsedSigner.rfc3161TimeStamp.empty()) {
        stamp = VerifyRfc3161Token(catalog.bytes(parsedSigner.rfc3161TimeStamp), signatureValue,
                                   certs.pointers, anchors);
    }
    if (!stamp.verified && !parsedSigner.legacyCounterSignature.empty()) {
        stamp = VerifyCounterSignature(catalog.bytes(parsedSigner.legacyCounterSignature),
                                       signatureValue, certs.pointers, anchors);
    }
    std::time_t at = now;
    if (stamp.verified) {
        at = static_cast<std::time_t>(*stamp.time);
        report.timestamp = stamp.time;
        report.timestampChain = stamp.chain;
    }
    ChainResult chain = VerifyChain(anchors, signer, certs.pointers, at, kOidCodeSigningUsage);
    report.status = chain.status;
    report.signingChain = std::move(chain.chain);
    return report;
}

std::uint32_t
VerifyCatalogMember(const CatalogMemberTrustRequest& request,
                    const std::function<std::uint32_t(const ParsedCatalog&)>& signatureStatus) {
    return VerifyMember(request, signatureStatus);
}

std::uint32_t VerifyCatalogMemberWith(const CatalogMemberTrustRequest& request,
                                      const TrustAnchors& anchors, std::time_t now) {
    return VerifyMember(request, [&](const ParsedCatalog& catalog) {
        return VerifyParsedCatalogSignature(catalog, anchors, now).status;
    });
}

std::uint32_t
VerifyCatalogMemberIn(const ParsedCatalog& catalog, const CatalogMemberTrustRequest& request,
                      const std::function<std::uint32_t(const ParsedCatalog&)>& signatureStatus) {
    if (request.catalogFilePath.empty() || request.memberTag.empty()) {
        return kInvalidParameter;
    }
    if (const auto member = CheckMember(catalog, request.memberTag, request.memberFilePath);
        !member) {
        return member.error();
    }
    return signatureStatus(catalog);
}

std::time_t SignatureVerdictStableUntil(const ParsedCatalog& catalog, const TrustAnchors& anchors,
                                        const CatalogSignatureReport& report, std::time_t now) {
    if (report.timestamp) {
        return std::numeric_limits<std::time_t>::max();
    }
    std::time_t until = anchors.nextChangeAfter(now);
    const CertificateSet certs = ReadCertificates(catalog);
    for (X509* cert : certs.pointers) {
        for (const ASN1_TIME* time : {X509_get0_notBefore(cert), X509_get0_notAfter(cert)}) {
            std::int64_t at = 0;
            if (AsnTimeToUnix(time, at) && at > now) {
                until = std::min(until, static_cast<std::time_t>(at));
            }
        }
    }
    return until;
}

} // namespace halyard::trust

// Time stamps of a catalog's signature: the legacy countersignature (unsigned attribute
// 1.2.840.113549.1.9.6, a SignerInfo over the signature value) and the RFC 3161 token (unsigned
// attribute 1.3.6.1.4.1.311.3.3.1, a SignedData over a TSTInfo whose message imprint is the
// digest of the signature value).
#pragma once

#include "halyard/trust/verify.h"
#include "private.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace halyard::trust {

struct TimestampVerdict {
    bool verified = false;                 // signature, imprint and chain all hold
    std::optional<std::int64_t> time;      // the stated time (seconds since 1970), when readable
    std::vector<CertificateSummary> chain; // the time-stamp signer's chain, root first
};

// Checks a legacy countersignature (the SignerInfo's DER) over signatureValue; its signer is
// looked up in certs, and its chain is checked at the stated signing time for time stamping.
TimestampVerdict VerifyCounterSignature(std::span<const std::uint8_t> counterSignature,
                                        std::span<const std::uint8_t> signatureValue,
                                        const std::vector<X509*>& certs,
                                        const TrustAnchors& anchors);

// Checks an RFC 3161 token (a ContentInfo's DER) over signatureValue. The token is read with the
// CMS parser, which accepts the non-certificate choices Microsoft's tokens carry in their
// certificate set; its own certificates and certs serve as intermediates. A signature that
// OpenSSL's CMS verifier refuses is checked again as Windows checks it (trust_signature.h).
TimestampVerdict VerifyRfc3161Token(std::span<const std::uint8_t> token,
                                    std::span<const std::uint8_t> signatureValue,
                                    const std::vector<X509*>& certs, const TrustAnchors& anchors);

} // namespace halyard::trust

#include "trust_faults.h"

#include "base/outcome.h"

#include <array>
#include <openssl/x509_vfy.h>

namespace halyard::trust {

namespace {

using namespace codes;

struct FaultRow {
    ChainFault fault;
    std::uint32_t code;
    std::array<int, 4> errors; // OpenSSL's verification errors for it (0 ends the list)
};

// The one ranking, highest first; an OpenSSL error not listed here, nor among the ignored ones
// below, counts as a chaining fault.
constexpr FaultRow kFaults[] = {
    {ChainFault::Signature,
     kTrustECertSignature,
     {X509_V_ERR_CERT_SIGNATURE_FAILURE, X509_V_ERR_UNABLE_TO_DECRYPT_CERT_SIGNATURE,
      X509_V_ERR_UNABLE_TO_DECODE_ISSUER_PUBLIC_KEY}},
    {ChainFault::UntrustedRoot,
     kCertEUntrustedRoot,
     {X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN}},
    {ChainFault::Time,
     kCertEExpired,
     {X509_V_ERR_CERT_HAS_EXPIRED, X509_V_ERR_CERT_NOT_YET_VALID,
      X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD, X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD}},
    {ChainFault::Revoked, kCertERevoked, {X509_V_ERR_CERT_REVOKED}},
    {ChainFault::RevocationFailure,
     kCertERevocationFailure,
     {X509_V_ERR_CRL_SIGNATURE_FAILURE, X509_V_ERR_UNABLE_TO_DECRYPT_CRL_SIGNATURE,
      X509_V_ERR_ERROR_IN_CRL_LAST_UPDATE_FIELD, X509_V_ERR_ERROR_IN_CRL_NEXT_UPDATE_FIELD}},
    {ChainFault::Usage, kCertEWrongUsage, {X509_V_ERR_INVALID_PURPOSE}},
    {ChainFault::Critical,
     kCertECritical,
     {X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION, X509_V_ERR_UNHANDLED_CRITICAL_CRL_EXTENSION}},
    {ChainFault::BasicConstraints,
     kTrustEBasicConstraints,
     {X509_V_ERR_INVALID_CA, X509_V_ERR_INVALID_NON_CA, X509_V_ERR_PATH_LENGTH_EXCEEDED,
      X509_V_ERR_KEYUSAGE_NO_CERTSIGN}},
    {ChainFault::Chaining,
     kCertEChaining,
     {X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY,
      X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE}},
    {ChainFault::Distrust, kTrustEExplicitDistrust, {X509_V_ERR_CERT_REJECTED}},
};

constexpr bool RanksFollowTheEnum() {
    std::size_t i = 0;
    for (const FaultRow& row : kFaults) {
        if (static_cast<std::size_t>(row.fault) != i++) {
            return false;
        }
    }
    return i == static_cast<std::size_t>(ChainFault::Count);
}
static_assert(RanksFollowTheEnum(), "one row per fault, in rank order");

// Only CRLs present in the trust folder are consulted: a certificate without one, or with a
// stale one, is not held against the chain.
constexpr int kIgnored[] = {X509_V_ERR_UNABLE_TO_GET_CRL, X509_V_ERR_UNABLE_TO_GET_CRL_ISSUER,
                            X509_V_ERR_CRL_HAS_EXPIRED, X509_V_ERR_CRL_NOT_YET_VALID,
                            X509_V_ERR_DIFFERENT_CRL_SCOPE};

} // namespace

std::optional<ChainFault> ChainFaultOf(int verifyError) {
    for (const int ignored : kIgnored) {
        if (verifyError == ignored) {
            return std::nullopt;
        }
    }
    for (const FaultRow& row : kFaults) {
        for (const int error : row.errors) {
            if (error != 0 && error == verifyError) {
                return row.fault;
            }
        }
    }
    return ChainFault::Chaining;
}

std::uint32_t TrustCodeOf(const ChainFaults& faults) {
    for (const FaultRow& row : kFaults) {
        if (faults.test(static_cast<std::size_t>(row.fault))) {
            return row.code;
        }
    }
    return 0;
}

} // namespace halyard::trust

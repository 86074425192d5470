// The signature of one SignerInfo, checked as Windows' CryptoAPI checks it. Two legacy forms that
// OpenSSL's PKCS7/CMS verifiers refuse are accepted, because Windows accepts them and signing
// services produced them for years:
//   - an RSA PKCS#1 v1.5 block that holds the bare digest instead of the DigestInfo (the old
//     VeriSign/Symantec time-stamp service signed so);
//   - signed attributes that the signer did not sort as DER requires: the signature is checked
//     over the attributes as the file stores them, then over their sorted DER encoding.
// Nothing else is relaxed: the padding, the signature's length and the digest algorithm the
// signer names are checked as strictly as OpenSSL does.
#pragma once

#include "private.h"

#include <cstdint>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <span>

namespace halyard::trust {

// Verifies a signature value over data with the key: for an RSA key the recovered PKCS#1 v1.5
// block must hold the DigestInfo of data's digest, or else the bare digest; other keys are
// checked by OpenSSL as they are.
bool VerifySignatureValue(EVP_PKEY* key, const EVP_MD* md, std::span<const std::uint8_t> data,
                          std::span<const std::uint8_t> signature);

// The first SignerInfo of a SignedData ContentInfo, as stored (tag and length included); empty
// when the bytes are not such a structure or it has no signer.
std::span<const std::uint8_t> FirstSignerInfo(std::span<const std::uint8_t> contentInfo);

} // namespace halyard::trust

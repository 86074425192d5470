#include "trust_signature.h"

#include "der.h"
#include "halyard/trust/ossl_ptr.h"
#include "halyard/trust/verify.h"

#include <cstring>
#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/rsa.h>
#include <optional>
#include <vector>

namespace halyard::trust {

namespace {

using Bytes = std::vector<std::uint8_t>;

// Where the fields the signature check reads lie in a SignerInfo's DER.
struct SignerInfoFields {
    std::span<const std::uint8_t> digestAlgorithm;  // the AlgorithmIdentifier, whole
    std::span<const std::uint8_t> signedAttributes; // the [0] IMPLICIT SET, whole; empty if none
    std::span<const std::uint8_t> signature;        // the OCTET STRING's contents
};

// SignerInfo ::= SEQUENCE { version, sid (issuerAndSerialNumber or [0] subjectKeyIdentifier),
// digestAlgorithm, signedAttrs [0] IMPLICIT OPTIONAL, signatureAlgorithm, signature, ... }
std::optional<SignerInfoFields> LocateFields(std::span<const std::uint8_t> der) {
    der::Cursor top(der);
    der::Element info;
    if (!top.expect(der::kUniversal, der::kTagSequence, info)) {
        return std::nullopt;
    }
    der::Cursor fields(der, info);
    der::Element e;
    SignerInfoFields out;
    if (!fields.expect(der::kUniversal, der::kTagInteger, e) || !fields.next(e) ||
        !fields.expect(der::kUniversal, der::kTagSequence, e)) {
        return std::nullopt;
    }
    out.digestAlgorithm = der::Whole(der, e);
    if (fields.peek(e) && e.is(der::kContext, 0)) {
        if (!e.constructed || !fields.next(e)) {
            return std::nullopt;
        }
        out.signedAttributes = der::Whole(der, e);
    }
    if (!fields.expect(der::kUniversal, der::kTagSequence, e) ||
        !fields.expect(der::kUniversal, der::kTagOctetString, e)) {
        return std::nullopt;
    }
    out.signature = der::Contents(der, e);
    return out;
}

Bytes DigestBytes(const EVP_MD* md, std::span<const std::uint8_t> data) {
    Bytes out(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out.data(), &length, md, nullptr) != 1) {
        return {};
    }
    out.resize(length);
    return out;
}

// DigestInfo ::= SEQUENCE { AlgorithmIdentifier (the digest's, NULL parameters), OCTET STRING },
// the encoding OpenSSL's own RSA verification expects.
Bytes DigestInfo(const EVP_MD* md, const Bytes& digest) {
    const X509SigPtr sig(X509_SIG_new());
    if (!sig) {
        return {};
    }
    X509_ALGOR* algorithm = nullptr;
    ASN1_OCTET_STRING* octets = nullptr;
    X509_SIG_getm(sig.get(), &algorithm, &octets);
    if (X509_ALGOR_set0(algorithm, OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr) != 1 ||
        ASN1_OCTET_STRING_set(octets, digest.data(), static_cast<int>(digest.size())) != 1) {
        return {};
    }
    unsigned char* encoded = nullptr;
    const int length = i2d_X509_SIG(sig.get(), &encoded);
    const OpenSslBytesPtr owner(encoded);
    if (length <= 0) {
        return {};
    }
    return Bytes(encoded, encoded + length);
}

// The payload of an RSA signature after the PKCS#1 v1.5 type 1 padding (00 01 FF..FF 00, at
// least eight FF), recovered with the public key; empty when the padding does not hold.
Bytes RecoverPkcs1Payload(EVP_PKEY* key, std::span<const std::uint8_t> signature) {
    const EvpKeyCtxPtr ctx(EVP_PKEY_CTX_new(key, nullptr));
    std::size_t length = 0;
    if (!ctx || EVP_PKEY_verify_recover_init(ctx.get()) != 1 ||
        EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx.get(), nullptr, &length, signature.data(), signature.size()) !=
            1) {
        ERR_clear_error();
        return {};
    }
    Bytes out(length);
    if (EVP_PKEY_verify_recover(ctx.get(), out.data(), &length, signature.data(),
                                signature.size()) != 1) {
        ERR_clear_error();
        return {};
    }
    out.resize(length);
    return out;
}

// The attributes' sorted DER encoding (SET OF as DER orders it); empty when it cannot be made.
Bytes SortedEncoding(STACK_OF(X509_ATTRIBUTE) * attributes) {
    unsigned char* encoded = nullptr;
    const int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(attributes), &encoded,
                                     ASN1_ITEM_rptr(PKCS7_ATTR_SIGN));
    const OpenSslBytesPtr owner(encoded);
    if (length <= 0) {
        return {};
    }
    return Bytes(encoded, encoded + length);
}

} // namespace

bool VerifySignatureValue(EVP_PKEY* key, const EVP_MD* md, std::span<const std::uint8_t> data,
                          std::span<const std::uint8_t> signature) {
    if (key == nullptr || md == nullptr) {
        return false;
    }
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_RSA) {
        const EvpMdCtxPtr ctx(EVP_MD_CTX_new());
        const bool ok = ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) == 1 &&
                        EVP_DigestVerify(ctx.get(), signature.data(), signature.size(), data.data(),
                                         data.size()) == 1;
        ERR_clear_error();
        return ok;
    }
    // As OpenSSL's own check: the value is exactly as long as the modulus.
    if (signature.size() != static_cast<std::size_t>(EVP_PKEY_get_size(key))) {
        return false;
    }
    const Bytes digest = DigestBytes(md, data);
    const Bytes payload = RecoverPkcs1Payload(key, signature);
    if (digest.empty() || payload.empty()) {
        return false;
    }
    return payload == DigestInfo(md, digest) || payload == digest;
}

bool VerifySignerInfo(std::span<const std::uint8_t> signerInfoDer, X509* signer,
                      std::span<const std::uint8_t> content) {
    const std::optional<SignerInfoFields> fields = LocateFields(signerInfoDer);
    EVP_PKEY* key = signer != nullptr ? X509_get0_pubkey(signer) : nullptr;
    if (!fields || key == nullptr) {
        return false;
    }
    const unsigned char* p = fields->digestAlgorithm.data();
    const X509AlgorPtr algorithm(
        d2i_X509_ALGOR(nullptr, &p, static_cast<long>(fields->digestAlgorithm.size())));
    const EVP_MD* md = algorithm ? EVP_get_digestbyobj(algorithm->algorithm) : nullptr;
    if (md == nullptr) {
        ERR_clear_error();
        return false;
    }
    if (fields->signedAttributes.empty()) {
        return VerifySignatureValue(key, md, content, fields->signature);
    }

    // The signature covers the attributes as a SET OF: the stored [0] re-tagged.
    Bytes stored(fields->signedAttributes.begin(), fields->signedAttributes.end());
    stored[0] = 0x31;
    const unsigned char* q = stored.data();
    const AttributeStackPtr attributes(reinterpret_cast<STACK_OF(X509_ATTRIBUTE)*>(ASN1_item_d2i(
        nullptr, &q, static_cast<long>(stored.size()), ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY))));
    const auto* messageDigest =
        attributes
            ? static_cast<const ASN1_OCTET_STRING*>(X509at_get0_data_by_OBJ(
                  attributes.get(), OBJ_nid2obj(NID_pkcs9_messageDigest), -1, V_ASN1_OCTET_STRING))
            : nullptr;
    const Bytes digest = DigestBytes(md, content);
    if (messageDigest == nullptr || digest.empty() ||
        static_cast<std::size_t>(ASN1_STRING_length(messageDigest)) != digest.size() ||
        std::memcmp(ASN1_STRING_get0_data(messageDigest), digest.data(), digest.size()) != 0) {
        ERR_clear_error();
        return false;
    }
    // The order the file holds first; then the order DER prescribes, which a signer may have
    // signed while storing another.
    if (VerifySignatureValue(key, md, stored, fields->signature)) {
        return true;
    }
    const Bytes sorted = SortedEncoding(attributes.get());
    return !sorted.empty() && sorted != stored &&
           VerifySignatureValue(key, md, sorted, fields->signature);
}

std::span<const std::uint8_t> FirstSignerInfo(std::span<const std::uint8_t> contentInfo) {
    der::Cursor top(contentInfo);
    der::Element e;
    if (!top.expect(der::kUniversal, der::kTagSequence, e)) {
        return {};
    }
    der::Cursor outer(contentInfo, e);
    if (!outer.expect(der::kUniversal, der::kTagOid, e) ||
        der::OidText(contentInfo, e) != "1.2.840.113549.1.7.2" ||
        !outer.expect(der::kContext, 0, e)) {
        return {};
    }
    der::Cursor explicitContent(contentInfo, e);
    if (!explicitContent.expect(der::kUniversal, der::kTagSequence, e)) {
        return {};
    }
    // SignedData: version, digestAlgorithms, encapContentInfo, [0] certificates, [1] CRLs,
    // signerInfos.
    der::Cursor signedData(contentInfo, e);
    if (!signedData.expect(der::kUniversal, der::kTagInteger, e) ||
        !signedData.expect(der::kUniversal, der::kTagSet, e) ||
        !signedData.expect(der::kUniversal, der::kTagSequence, e)) {
        return {};
    }
    while (signedData.next(e)) {
        if (e.is(der::kUniversal, der::kTagSet) && e.constructed) {
            der::Cursor signers(contentInfo, e);
            der::Element first;
            return signers.expect(der::kUniversal, der::kTagSequence, first)
                       ? der::Whole(contentInfo, first)
                       : std::span<const std::uint8_t>();
        }
        if (!e.is(der::kContext, 0) && !e.is(der::kContext, 1)) {
            return {};
        }
    }
    return {};
}

} // namespace halyard::trust

#include "trust_timestamp.h"

#include "chain_helpers.h"
#include "trust_signature.h"

#include <cstring>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/ts.h>

namespace halyard::trust {

namespace {

bool SameBytes(const ASN1_OCTET_STRING* a, const std::vector<std::uint8_t>& b) {
    return a != nullptr && !b.empty() &&
           static_cast<std::size_t>(ASN1_STRING_length(a)) == b.size() &&
           std::memcmp(ASN1_STRING_get0_data(a), b.data(), b.size()) == 0;
}

std::span<const std::uint8_t> ContentOf(const ASN1_OCTET_STRING* octets) {
    return {ASN1_STRING_get0_data(octets), static_cast<std::size_t>(ASN1_STRING_length(octets))};
}

// The token's first signer checked as Windows checks it, for the legacy forms CMS_verify refuses
// (see trust_signature.h); its certificate is looked up among the token's and the catalog's.
bool VerifyFirstSignerAsWindows(CMS_ContentInfo* cms, std::span<const std::uint8_t> token,
                                STACK_OF(X509) * certs, std::span<const std::uint8_t> content) {
    ERR_clear_error();
    STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms);
    if (signerInfos == nullptr || sk_CMS_SignerInfo_num(signerInfos) < 1) {
        return false;
    }
    CMS_set1_signers_certs(cms, certs, 0);
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(sk_CMS_SignerInfo_value(signerInfos, 0), nullptr, &signer, nullptr,
                             nullptr);
    ERR_clear_error();
    return signer != nullptr && VerifySignerInfo(FirstSignerInfo(token), signer, content);
}

} // namespace

TimestampVerdict VerifyCounterSignature(std::span<const std::uint8_t> counterSignature,
                                        std::span<const std::uint8_t> signatureValue,
                                        const std::vector<X509*>& certs,
                                        const TrustAnchors& anchors) {
    TimestampVerdict verdict;
    const unsigned char* p = counterSignature.data();
    SignerInfoPtr signerInfo(
        d2i_PKCS7_SIGNER_INFO(nullptr, &p, static_cast<long>(counterSignature.size())));
    if (!signerInfo || signerInfo->issuer_and_serial == nullptr) {
        return verdict;
    }
    const ASN1_TYPE* signingTime =
        PKCS7_get_signed_attribute(signerInfo.get(), NID_pkcs9_signingTime);
    if (signingTime != nullptr &&
        (signingTime->type == V_ASN1_UTCTIME || signingTime->type == V_ASN1_GENERALIZEDTIME)) {
        std::int64_t time = 0;
        if (AsnTimeToUnix(signingTime->value.asn1_string, time)) {
            verdict.time = time;
        }
    }
    X509* signer = FindCertificate(certs, signerInfo->issuer_and_serial->issuer,
                                   signerInfo->issuer_and_serial->serial);
    if (signer == nullptr || !verdict.time ||
        !VerifySignerInfo(counterSignature, signer, signatureValue)) {
        return verdict;
    }
    const ChainResult chain = VerifyChain(
        anchors, signer, certs, static_cast<std::time_t>(*verdict.time), kOidTimeStampingUsage);
    verdict.chain = chain.chain;
    verdict.verified = chain.status == 0;
    return verdict;
}

TimestampVerdict VerifyRfc3161Token(std::span<const std::uint8_t> token,
                                    std::span<const std::uint8_t> signatureValue,
                                    const std::vector<X509*>& certs, const TrustAnchors& anchors) {
    TimestampVerdict verdict;
    const unsigned char* p = token.data();
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(token.size())));
    if (!cms || OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed ||
        OBJ_obj2nid(CMS_get0_eContentType(cms.get())) != NID_id_smime_ct_TSTInfo) {
        return verdict;
    }
    const X509StackPtr extra(sk_X509_new_null());
    for (X509* cert : certs) {
        X509_up_ref(cert);
        sk_X509_push(extra.get(), cert);
    }
    ASN1_OCTET_STRING** encapsulated = CMS_get0_content(cms.get());
    if (encapsulated == nullptr || *encapsulated == nullptr) {
        return verdict;
    }
    const BioPtr content(BIO_new(BIO_s_mem()));
    // The signer's chain is checked below, at the token's own time.
    const bool signatureOk =
        CMS_verify(cms.get(), extra.get(), nullptr, nullptr, content.get(),
                   CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) == 1 ||
        VerifyFirstSignerAsWindows(cms.get(), token, extra.get(), ContentOf(*encapsulated));
    const unsigned char* q = ASN1_STRING_get0_data(*encapsulated);
    const TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &q, ASN1_STRING_length(*encapsulated)));
    if (!info) {
        return verdict;
    }
    std::int64_t time = 0;
    if (AsnTimeToUnix(TS_TST_INFO_get_time(info.get()), time)) {
        verdict.time = time;
    }
    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
    const X509_ALGOR* algorithm = imprint != nullptr ? TS_MSG_IMPRINT_get_algo(imprint) : nullptr;
    if (!signatureOk || !verdict.time || algorithm == nullptr ||
        !SameBytes(TS_MSG_IMPRINT_get_msg(imprint),
                   DigestWith(algorithm->algorithm, signatureValue))) {
        return verdict;
    }
    // The stack is new; its certificates belong to the token.
    const X509ListPtr signers(CMS_get0_signers(cms.get()));
    X509* signer =
        signers && sk_X509_num(signers.get()) > 0 ? sk_X509_value(signers.get(), 0) : nullptr;
    if (signer == nullptr) {
        return verdict;
    }
    const X509StackPtr own(CMS_get1_certs(cms.get()));
    std::vector<X509*> intermediates(certs);
    for (int i = 0; own && i < sk_X509_num(own.get()); ++i) {
        intermediates.push_back(sk_X509_value(own.get(), i));
    }
    const ChainResult chain =
        VerifyChain(anchors, signer, intermediates, static_cast<std::time_t>(*verdict.time),
                    kOidTimeStampingUsage);
    verdict.chain = chain.chain;
    verdict.verified = chain.status == 0;
    return verdict;
}

} // namespace halyard::trust

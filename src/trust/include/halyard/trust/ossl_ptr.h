// Ownership of OpenSSL objects: one owning pointer per type, each freed by OpenSSL's own free
// function, so that no code of the backend frees an object by hand. Stacks come in two kinds:
// one that owns its elements (freed with them) and one that only lists elements owned elsewhere.
// Shared by the engine, its callers and the tools that build test fixtures.
#pragma once

#include <memory>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

namespace halyard::trust {

template <class T, void (*Free)(T*)>
struct OsslDeleter {
    void operator()(T* p) const noexcept { Free(p); }
};

template <class T, void (*Free)(T*)>
using OsslPtr = std::unique_ptr<T, OsslDeleter<T, Free>>;

// Free functions that OpenSSL spells as macros or as inline functions of its stack templates.
inline void FreeOpenSslBytes(unsigned char* p) {
    OPENSSL_free(p);
}
inline void FreeOpenSslText(char* p) {
    OPENSSL_free(p);
}
inline void FreeX509Stack(STACK_OF(X509) * p) {
    sk_X509_pop_free(p, X509_free);
}
inline void FreeX509List(STACK_OF(X509) * p) {
    sk_X509_free(p);
}
inline void FreeAttributeStack(STACK_OF(X509_ATTRIBUTE) * p) {
    sk_X509_ATTRIBUTE_pop_free(p, X509_ATTRIBUTE_free);
}

using X509Ptr = OsslPtr<X509, X509_free>;
using X509CrlPtr = OsslPtr<X509_CRL, X509_CRL_free>;
using X509NamePtr = OsslPtr<X509_NAME, X509_NAME_free>;
using X509StorePtr = OsslPtr<X509_STORE, X509_STORE_free>;
using X509StoreCtxPtr = OsslPtr<X509_STORE_CTX, X509_STORE_CTX_free>;
using X509AlgorPtr = OsslPtr<X509_ALGOR, X509_ALGOR_free>;
using X509SigPtr = OsslPtr<X509_SIG, X509_SIG_free>;
using ExtendedKeyUsagePtr = OsslPtr<EXTENDED_KEY_USAGE, EXTENDED_KEY_USAGE_free>;
using SignerInfoPtr = OsslPtr<PKCS7_SIGNER_INFO, PKCS7_SIGNER_INFO_free>;
using CmsPtr = OsslPtr<CMS_ContentInfo, CMS_ContentInfo_free>;
using TstInfoPtr = OsslPtr<TS_TST_INFO, TS_TST_INFO_free>;
using EvpKeyPtr = OsslPtr<EVP_PKEY, EVP_PKEY_free>;
using EvpKeyCtxPtr = OsslPtr<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using EvpMdCtxPtr = OsslPtr<EVP_MD_CTX, EVP_MD_CTX_free>;
using BioPtr = OsslPtr<BIO, BIO_free_all>;
using Asn1ObjectPtr = OsslPtr<ASN1_OBJECT, ASN1_OBJECT_free>;
using Asn1TimePtr = OsslPtr<ASN1_TIME, ASN1_TIME_free>;
using OpenSslBytesPtr = OsslPtr<unsigned char, FreeOpenSslBytes>;
using OpenSslTextPtr = OsslPtr<char, FreeOpenSslText>;
// A stack that owns its certificates.
using X509StackPtr = OsslPtr<STACK_OF(X509), FreeX509Stack>;
// A stack that lists certificates owned elsewhere.
using X509ListPtr = OsslPtr<STACK_OF(X509), FreeX509List>;
using AttributeStackPtr = OsslPtr<STACK_OF(X509_ATTRIBUTE), FreeAttributeStack>;

} // namespace halyard::trust

// Owning handles for OpenSSL objects, so every early return frees what it allocated.
#pragma once

#include <memory>

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/ts.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace tessarin::ossl {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};

inline void freeX509Stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
inline void freeX509StackShallow(STACK_OF(X509) * s) { sk_X509_free(s); }
inline void freeBio(BIO* b) { BIO_free_all(b); }

using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using X509StorePtr = std::unique_ptr<X509_STORE, Deleter<X509_STORE, X509_STORE_free>>;
using X509StoreCtxPtr = std::unique_ptr<X509_STORE_CTX, Deleter<X509_STORE_CTX, X509_STORE_CTX_free>>;
using X509StackPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeX509Stack>>;
using X509StackRefPtr = std::unique_ptr<STACK_OF(X509), Deleter<STACK_OF(X509), freeX509StackShallow>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, freeBio>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Deleter<CMS_ContentInfo, CMS_ContentInfo_free>>;
using TstInfoPtr = std::unique_ptr<TS_TST_INFO, Deleter<TS_TST_INFO, TS_TST_INFO_free>>;
using AsnObjectPtr = std::unique_ptr<ASN1_OBJECT, Deleter<ASN1_OBJECT, ASN1_OBJECT_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;

// An OID from its dotted form (numerical only: never looked up by name).
inline AsnObjectPtr oid(const char* dotted) { return AsnObjectPtr(OBJ_txt2obj(dotted, 1)); }

}  // namespace tessarin::ossl

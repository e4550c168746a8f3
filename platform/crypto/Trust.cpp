// Certificate facts and chain verification with OpenSSL, against a fixed set of anchors only.
#include "crypto/Trust.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <openssl/err.h>

#include "crypto/CertificateDer.h"
#include "crypto/OpenSslHandles.h"

namespace tessarin {
namespace {

using namespace ossl;

std::string nameEntry(const X509_NAME* name, int nid) {
    if (!name) return {};
    int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0) return {};
    ASN1_STRING* data = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
    unsigned char* utf8 = nullptr;
    int n = ASN1_STRING_to_UTF8(&utf8, data);
    if (n < 0) return {};
    std::string out(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(n));
    OPENSSL_free(utf8);
    return out;
}

std::time_t asnTime(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return 0;
    return timegm(&tm);
}

std::string sha256Hex(X509* cert) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (X509_digest(cert, EVP_sha256(), md, &n) != 1) return {};
    std::string out;
    char buf[3];
    for (unsigned int i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", md[i]);
        out += buf;
    }
    return out;
}

bool hasExtension(X509* cert, const char* dotted) {
    auto obj = oid(dotted);
    return obj && X509_get_ext_by_OBJ(cert, obj.get(), -1) >= 0;
}

bool isAppleRootFingerprint(const std::string& fingerprint) {
    static const std::vector<std::string> fingerprints = [] {
        std::vector<std::string> out;
        for (const auto& der : TrustAnchors::appleRoots().rootsDer)
            if (auto root = certificateFromDer(der)) out.push_back(sha256Hex(root.get()));
        return out;
    }();
    return std::find(fingerprints.begin(), fingerprints.end(), fingerprint) != fingerprints.end();
}

CertificateKind kindOf(X509* cert, const std::string& fingerprint, const std::string& commonName) {
    if (isAppleRootFingerprint(fingerprint)) return CertificateKind::AppleRoot;
    struct Marker {
        const char* oid;
        CertificateKind kind;
    };
    static constexpr Marker markers[] = {
        {"1.2.840.113635.100.6.1.13", CertificateKind::DeveloperIDApplication},
        {"1.2.840.113635.100.6.1.14", CertificateKind::DeveloperIDInstaller},
        {"1.2.840.113635.100.6.1.9", CertificateKind::MacAppStoreApplication},
        {"1.2.840.113635.100.6.1.10", CertificateKind::MacAppStoreInstaller},
        {"1.2.840.113635.100.6.1.12", CertificateKind::AppleDevelopment},
        {"1.2.840.113635.100.6.1.2", CertificateKind::AppleDevelopment},
        {"1.2.840.113635.100.6.2.6", CertificateKind::DeveloperIDIntermediate},
        {"1.2.840.113635.100.6.2.1", CertificateKind::WWDRIntermediate},
    };
    for (const auto& m : markers)
        if (hasExtension(cert, m.oid)) return m.kind;
    // Apple's own code carries a leaf named "Software Signing" issued by one of Apple's authorities.
    if (commonName == "Software Signing" && nameEntry(X509_get_issuer_name(cert), NID_organizationName) == "Apple Inc.")
        return CertificateKind::AppleSoftwareSigning;
    return CertificateKind::Unknown;
}

CertificateInfo describe(X509* cert) {
    CertificateInfo info;
    info.der = certificateDer(cert);
    const X509_NAME* subject = X509_get_subject_name(cert);
    info.commonName = nameEntry(subject, NID_commonName);
    info.organizationalUnit = nameEntry(subject, NID_organizationalUnitName);
    info.organization = nameEntry(subject, NID_organizationName);
    info.notBefore = asnTime(X509_get0_notBefore(cert));
    info.notAfter = asnTime(X509_get0_notAfter(cert));
    info.sha256Fingerprint = sha256Hex(cert);
    info.kind = kindOf(cert, info.sha256Fingerprint, info.commonName);
    return info;
}

// Apple marks its own policy extensions critical; OpenSSL does not know them. Only those are
// forgiven: any other unknown critical extension still fails the chain.
bool onlyAppleCriticalExtensionsUnhandled(X509* cert) {
    static const std::string appleArc = "1.2.840.113635.";
    for (int i = 0; i < X509_get_ext_count(cert); ++i) {
        X509_EXTENSION* ext = X509_get_ext(cert, i);
        if (!X509_EXTENSION_get_critical(ext) || X509_supported_extension(ext)) continue;
        char text[128];
        OBJ_obj2txt(text, sizeof text, X509_EXTENSION_get_object(ext), 1);
        if (std::string(text).rfind(appleArc, 0) != 0) return false;
    }
    return true;
}

int verifyCallback(int ok, X509_STORE_CTX* ctx) {
    if (ok) return ok;
    if (X509_STORE_CTX_get_error(ctx) == X509_V_ERR_UNHANDLED_CRITICAL_EXTENSION) {
        X509* cert = X509_STORE_CTX_get_current_cert(ctx);
        if (cert && onlyAppleCriticalExtensionsUnhandled(cert)) return 1;
    }
    return ok;
}

// Leaf first, then each certificate's issuer among the rest, as far as the set reaches.
std::vector<X509*> orderFromLeaf(const std::vector<X509Ptr>& certs) {
    std::vector<X509*> ordered;
    if (certs.empty()) return ordered;
    std::vector<bool> used(certs.size(), false);
    ordered.push_back(certs[0].get());
    used[0] = true;
    for (;;) {
        X509* current = ordered.back();
        if (X509_check_issued(current, current) == X509_V_OK) break;  // self-issued: the top
        bool found = false;
        for (std::size_t i = 0; i < certs.size(); ++i) {
            if (used[i] || X509_check_issued(certs[i].get(), current) != X509_V_OK) continue;
            used[i] = true;
            ordered.push_back(certs[i].get());
            found = true;
            break;
        }
        if (!found) break;
    }
    return ordered;
}

bool isDateError(int error) { return error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID; }

// One pass of OpenSSL's verification: at `atTime`, or with no dates checked at all. The context
// holds the outcome (its error, and the chain it built); null when it could not be set up.
X509StoreCtxPtr verifyOnce(X509_STORE* store, X509* leaf, STACK_OF(X509) * untrusted,
                           std::optional<std::time_t> atTime) {
    X509StoreCtxPtr ctx(X509_STORE_CTX_new());
    if (!ctx || X509_STORE_CTX_init(ctx.get(), store, leaf, untrusted) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    X509_VERIFY_PARAM* param = X509_STORE_CTX_get0_param(ctx.get());
    // A set time (X509_V_FLAG_USE_CHECK_TIME) would win over X509_V_FLAG_NO_CHECK_TIME: one or the other.
    if (atTime)
        X509_VERIFY_PARAM_set_time(param, *atTime);
    else
        X509_VERIFY_PARAM_set_flags(param, X509_V_FLAG_NO_CHECK_TIME);
    X509_VERIFY_PARAM_clear_flags(param, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL);
    X509_STORE_CTX_set_verify_cb(ctx.get(), verifyCallback);
    if (X509_verify_cert(ctx.get()) == 1)
        X509_STORE_CTX_set_error(ctx.get(), X509_V_OK);
    else if (X509_STORE_CTX_get_error(ctx.get()) == X509_V_OK)
        X509_STORE_CTX_set_error(ctx.get(), X509_V_ERR_UNSPECIFIED);
    ERR_clear_error();
    return ctx;
}

}  // namespace

Result<CertificateInfo> describeCertificate(const Bytes& der) {
    auto cert = certificateFromDer(der);
    if (!cert) return fail("the certificate is not valid DER");
    return describe(cert.get());
}

ChainVerdict verifyChain(const std::vector<Bytes>& certificatesDer, const TrustAnchors& anchors, std::time_t atTime,
                         ExpiryRule rule) {
    ChainVerdict verdict;
    std::vector<X509Ptr> certs;
    for (const auto& der : certificatesDer) {
        auto cert = certificateFromDer(der);
        if (!cert) {
            verdict.failure = "a certificate in the signature is not valid DER";
            return verdict;
        }
        certs.push_back(std::move(cert));
    }
    if (certs.empty()) {
        verdict.failure = "the signature carries no certificates";
        return verdict;
    }
    for (X509* c : orderFromLeaf(certs)) verdict.chain.push_back(describe(c));

    X509StorePtr store(X509_STORE_new());
    X509StackRefPtr untrusted(sk_X509_new_null());
    if (!store || !untrusted) {
        verdict.failure = "out of memory while checking the certificate chain";
        return verdict;
    }
    for (const auto& der : anchors.rootsDer) {
        auto root = certificateFromDer(der);
        if (root) X509_STORE_add_cert(store.get(), root.get());  // the store takes its own reference
    }
    for (std::size_t i = 1; i < certs.size(); ++i) sk_X509_push(untrusted.get(), certs[i].get());

    X509StoreCtxPtr ctx = verifyOnce(store.get(), certs[0].get(), untrusted.get(), atTime);
    if (ctx && X509_STORE_CTX_get_error(ctx.get()) != X509_V_OK && rule == ExpiryRule::Tolerated &&
        isDateError(X509_STORE_CTX_get_error(ctx.get()))) {
        // The whole chain is checked again without dates: any other fault still fails it.
        ctx = verifyOnce(store.get(), certs[0].get(), untrusted.get(), std::nullopt);
        verdict.expiryTolerated = ctx && X509_STORE_CTX_get_error(ctx.get()) == X509_V_OK;
    }
    if (!ctx) {
        verdict.failure = "the certificate chain could not be checked";
    } else if (int error = X509_STORE_CTX_get_error(ctx.get()); error == X509_V_OK) {
        verdict.trusted = true;
        verdict.chain.clear();
        STACK_OF(X509)* built = X509_STORE_CTX_get0_chain(ctx.get());
        for (int i = 0; i < sk_X509_num(built); ++i) verdict.chain.push_back(describe(sk_X509_value(built, i)));
    } else {
        int depth = X509_STORE_CTX_get_error_depth(ctx.get());
        verdict.failure = std::string("the certificate chain is not trusted: ") + X509_verify_cert_error_string(error) +
                          " (certificate " + std::to_string(depth + 1) + " of the chain)";
    }
    ERR_clear_error();
    return verdict;
}

}  // namespace tessarin

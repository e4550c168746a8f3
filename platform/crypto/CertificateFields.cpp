// Reads the requirement-facing facts of a certificate with OpenSSL; OIDs are always taken in
// numerical form, never by name.
#include "crypto/CertificateFields.h"

#include <openssl/err.h>
#include <openssl/sha.h>

#include "crypto/OpenSslHandles.h"

namespace tessarin {
namespace {

std::string dotted(const ASN1_OBJECT* obj) {
    char text[256];
    int n = OBJ_obj2txt(text, sizeof text, obj, 1);
    if (n <= 0 || n >= static_cast<int>(sizeof text)) return {};
    return std::string(text, static_cast<std::size_t>(n));
}

std::string utf8(const ASN1_STRING* s) {
    unsigned char* out = nullptr;
    int n = ASN1_STRING_to_UTF8(&out, s);
    if (n < 0) return {};
    std::string text(reinterpret_cast<char*>(out), static_cast<std::size_t>(n));
    OPENSSL_free(out);
    return text;
}

const char* shortNameOf(int nid) {
    switch (nid) {
    case NID_countryName: return "C";
    case NID_commonName: return "CN";
    case NID_description: return "D";
    case NID_localityName: return "L";
    case NID_organizationName: return "O";
    case NID_organizationalUnitName: return "OU";
    case NID_stateOrProvinceName: return "ST";
    case NID_streetAddress: return "STREET";
    default: return nullptr;
    }
}

}  // namespace

Result<CertificateFields> certificateFields(const Bytes& der) {
    const unsigned char* p = der.data();
    ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert || p != der.data() + der.size()) {
        ERR_clear_error();
        return fail("the certificate is not valid DER");
    }
    CertificateFields f;
    f.der = der;
    f.sha1.resize(SHA_DIGEST_LENGTH);
    SHA1(der.data(), der.size(), f.sha1.data());
    f.sha256.resize(SHA256_DIGEST_LENGTH);
    SHA256(der.data(), der.size(), f.sha256.data());

    const X509_NAME* subject = X509_get_subject_name(cert.get());
    for (int i = 0; subject && i < X509_NAME_entry_count(subject); ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(subject, i);
        const int nid = OBJ_obj2nid(X509_NAME_ENTRY_get_object(e));
        if (nid == NID_pkcs9_emailAddress)
            f.emails.push_back(utf8(X509_NAME_ENTRY_get_data(e)));
        else if (const char* name = shortNameOf(nid))
            f.subject.emplace_back(name, utf8(X509_NAME_ENTRY_get_data(e)));
    }
    for (int i = 0; i < X509_get_ext_count(cert.get()); ++i)
        f.extensionOids.push_back(dotted(X509_EXTENSION_get_object(X509_get_ext(cert.get(), i))));

    if (auto* policies = static_cast<CERTIFICATEPOLICIES*>(
            X509_get_ext_d2i(cert.get(), NID_certificate_policies, nullptr, nullptr))) {
        for (int i = 0; i < sk_POLICYINFO_num(policies); ++i)
            f.policyOids.push_back(dotted(sk_POLICYINFO_value(policies, i)->policyid));
        CERTIFICATEPOLICIES_free(policies);
    }
    if (auto* names =
            static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert.get(), NID_subject_alt_name, nullptr, nullptr))) {
        for (int i = 0; i < sk_GENERAL_NAME_num(names); ++i) {
            const GENERAL_NAME* name = sk_GENERAL_NAME_value(names, i);
            if (name->type == GEN_EMAIL) f.emails.push_back(utf8(name->d.rfc822Name));
        }
        GENERAL_NAMES_free(names);
    }
    ERR_clear_error();
    return f;
}

}  // namespace tessarin

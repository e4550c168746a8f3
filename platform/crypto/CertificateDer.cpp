// DER encoding and decoding of certificates through OpenSSL's i2d/d2i pair.
#include "crypto/CertificateDer.h"

#include <openssl/err.h>

namespace tessarin {

Bytes certificateDer(const X509* cert) {
    const int n = cert ? i2d_X509(cert, nullptr) : 0;
    if (n <= 0) return {};
    Bytes out(static_cast<std::size_t>(n));
    unsigned char* p = out.data();
    if (i2d_X509(cert, &p) != n) return {};
    return out;
}

ossl::X509Ptr certificateFromDer(const Bytes& der) {
    const unsigned char* p = der.data();
    ossl::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (cert && p != der.data() + der.size()) cert.reset();  // trailing bytes: not one certificate
    ERR_clear_error();
    return cert;
}

}  // namespace tessarin

// The anchors the shipped tools trust: Apple Root CA, compiled in from platform/anchors/AppleRootCA.pem.
#include <openssl/err.h>
#include <openssl/pem.h>

#include "crypto/CertificateDer.h"
#include "crypto/OpenSslHandles.h"
#include "crypto/Trust.h"

namespace tessarin {

extern const char kAppleRootCaPem[];

const TrustAnchors& TrustAnchors::appleRoots() {
    static const TrustAnchors anchors = [] {
        TrustAnchors a;
        ossl::BioPtr bio(BIO_new_mem_buf(kAppleRootCaPem, -1));
        ossl::X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
        ERR_clear_error();
        if (cert) {
            if (Bytes der = certificateDer(cert.get()); !der.empty()) a.rootsDer.push_back(std::move(der));
        }
        return a;
    }();
    return anchors;
}

}  // namespace tessarin

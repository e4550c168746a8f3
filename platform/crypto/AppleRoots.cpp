// The anchors the shipped tools trust, compiled in from platform/crypto/anchors/: Apple Root CA for
// code and packages, Apple Root CA - G3 for notarization tickets.
#include <openssl/err.h>
#include <openssl/pem.h>

#include "crypto/CertificateDer.h"
#include "crypto/OpenSslHandles.h"
#include "crypto/Trust.h"

namespace tessarin {

extern const char kAppleRootCaPem[];
extern const char kAppleRootCaG3Pem[];

namespace {

std::vector<Bytes> derOfPem(const char* pem) {
    std::vector<Bytes> out;
    ossl::BioPtr bio(BIO_new_mem_buf(pem, -1));
    ossl::X509Ptr cert(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    if (!cert) return out;
    if (Bytes der = certificateDer(cert.get()); !der.empty()) out.push_back(std::move(der));
    return out;
}

}  // namespace

const TicketAnchors& TicketAnchors::apple() {
    static const TicketAnchors anchors{derOfPem(kAppleRootCaG3Pem)};
    return anchors;
}

const TrustAnchors& TrustAnchors::appleRoots() {
    static const TrustAnchors anchors{derOfPem(kAppleRootCaPem), TicketAnchors::apple()};
    return anchors;
}

}  // namespace tessarin

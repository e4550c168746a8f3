// DER encoding of X.509 certificates: the one place that turns an OpenSSL certificate into bytes
// and bytes back into exactly one certificate.
#pragma once

#include "base/Bytes.h"
#include "crypto/OpenSslHandles.h"

namespace tessarin {

// The certificate's DER; empty when OpenSSL cannot encode it.
Bytes certificateDer(const X509* cert);

// The certificate the bytes hold; null unless they are one whole certificate with nothing after it.
// Leaves OpenSSL's error queue clear.
ossl::X509Ptr certificateFromDer(const Bytes& der);

}  // namespace tessarin

// Reads the account creation extension with OpenSSL; the only check of our own is that the date is
// written in the one form Apple writes, since OpenSSL's own parser also takes looser forms.
#include "crypto/AccountCreation.h"

#include <openssl/asn1.h>
#include <openssl/err.h>

#include <string>
#include <string_view>

#include "crypto/CertificateDer.h"

namespace tessarin {
namespace {

constexpr const char* kAccountCreationOid = "1.2.840.113635.100.6.1.33";

using AsnTypePtr = std::unique_ptr<ASN1_TYPE, ossl::Deleter<ASN1_TYPE, ASN1_TYPE_free>>;
using AsnTimePtr = std::unique_ptr<ASN1_TIME, ossl::Deleter<ASN1_TIME, ASN1_TIME_free>>;

// YYYYMMDDHHMMSSZ only: ASN1_TIME_set_string_X509 refuses fractions, offsets, missing seconds and
// impossible dates, and the length keeps out the two-digit years it would take as UTCTime.
std::optional<std::time_t> generalizedTime(const ASN1_STRING* value) {
    const std::string text(reinterpret_cast<const char*>(ASN1_STRING_get0_data(value)),
                           static_cast<std::size_t>(ASN1_STRING_length(value)));
    if (text.size() != 15 || text.find('\0') != std::string::npos) return std::nullopt;
    AsnTimePtr time(ASN1_TIME_new());
    std::tm tm{};
    if (!time || ASN1_TIME_set_string_X509(time.get(), text.c_str()) != 1 || ASN1_TIME_to_tm(time.get(), &tm) != 1)
        return std::nullopt;
    return timegm(&tm);
}

Result<std::optional<std::time_t>> readAccountCreation(const X509* leaf) {
    const ossl::AsnObjectPtr oid = ossl::oid(kAccountCreationOid);
    if (!oid) return fail("the account creation OID cannot be made");
    const int at = X509_get_ext_by_OBJ(leaf, oid.get(), -1);
    if (at < 0) return std::optional<std::time_t>{};
    if (X509_get_ext_by_OBJ(leaf, oid.get(), at) >= 0) return fail("the account creation date appears twice");

    const ASN1_OCTET_STRING* data = X509_EXTENSION_get_data(X509_get_ext(leaf, at));
    const unsigned char* p = ASN1_STRING_get0_data(data);
    const unsigned char* end = p + ASN1_STRING_length(data);
    AsnTypePtr value(d2i_ASN1_TYPE(nullptr, &p, end - p));
    if (!value || p != end) return fail("the account creation date is not one DER value");
    // Apple's leaves, and Apple's reader of them, hold the date as GeneralizedTime text in a
    // UTF8String; Apple refuses any other tag, so a date in another form counts as unreadable.
    if (ASN1_TYPE_get(value.get()) != V_ASN1_UTF8STRING) return fail("the account creation date is not a UTF8String");
    auto when = generalizedTime(value->value.utf8string);
    if (!when) return fail("the account creation date is not a GeneralizedTime of the form YYYYMMDDHHMMSSZ");
    return std::optional<std::time_t>(*when);
}

}  // namespace

Result<std::optional<std::time_t>> developerAccountCreation(const Bytes& leafDer) {
    const ossl::X509Ptr leaf = certificateFromDer(leafDer);
    if (!leaf) return fail("the leaf is not one DER certificate");
    auto created = readAccountCreation(leaf.get());
    ERR_clear_error();
    return created;
}

}  // namespace tessarin

// Detached CMS verification: the signature over content and attributes, the RFC 3161 timestamp that
// fixes the time the chain is judged at, and Apple's signed list of CDHashes.
#include "crypto/Cms.h"

#include <climits>
#include <cstring>

#include <openssl/err.h>

#include "base/Bytes.h"
#include "crypto/CertificateDer.h"
#include "crypto/OpenSslHandles.h"
#include "plist/Plist.h"

namespace tessarin {
namespace {

using namespace ossl;

constexpr const char* kAppleCdhashesOid = "1.2.840.113635.100.9.1";
constexpr const char* kTimestampTokenOid = "1.2.840.113549.1.9.16.2.14";

std::optional<std::time_t> toTime(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || ASN1_TIME_to_tm(t, &tm) != 1) return std::nullopt;
    return timegm(&tm);
}

CmsPtr parseCms(const unsigned char* data, std::size_t size) {
    const unsigned char* p = data;
    CmsPtr cms(d2i_CMS_ContentInfo(nullptr, &p, static_cast<long>(size)));
    if (cms && OBJ_obj2nid(CMS_get0_type(cms.get())) != NID_pkcs7_signed) cms.reset();
    return cms;
}

// The signer's certificate first, then the rest of the set: the order verifyChain expects.
std::vector<Bytes> signerChainDer(CMS_ContentInfo* cms, X509* signer) {
    std::vector<Bytes> ders;
    if (signer) ders.push_back(certificateDer(signer));
    X509StackPtr certs(CMS_get1_certs(cms));
    for (int i = 0; certs && i < sk_X509_num(certs.get()); ++i) {
        X509* c = sk_X509_value(certs.get(), i);
        if (signer && X509_cmp(c, signer) == 0) continue;
        ders.push_back(certificateDer(c));
    }
    return ders;
}

ASN1_TYPE* signedAttribute(CMS_SignerInfo* si, const char* dotted) {
    auto obj = oid(dotted);
    int index = obj ? CMS_signed_get_attr_by_OBJ(si, obj.get(), -1) : -1;
    if (index < 0) return nullptr;
    return X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, index), 0);
}

std::vector<Bytes> cdhashesFrom(CMS_SignerInfo* si) {
    std::vector<Bytes> out;
    ASN1_TYPE* value = signedAttribute(si, kAppleCdhashesOid);
    if (!value || value->type != V_ASN1_OCTET_STRING) return out;
    const ASN1_OCTET_STRING* s = value->value.octet_string;
    auto plist = parsePlist(ByteSpan(reinterpret_cast<const std::byte*>(ASN1_STRING_get0_data(s)),
                                     static_cast<std::size_t>(ASN1_STRING_length(s))),
                            kSmallPlistLimits);
    if (!plist || !plist->dict()) return out;
    const PlistValue* list = plist->find("cdhashes");
    if (!list || !list->array()) return out;
    for (const auto& item : *list->array())
        if (const PlistData* d = item.data()) out.push_back(d->bytes);
    return out;
}

std::optional<std::time_t> signingTimeFrom(CMS_SignerInfo* si) {
    int index = CMS_signed_get_attr_by_NID(si, NID_pkcs9_signingTime, -1);
    if (index < 0) return std::nullopt;
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_signed_get_attr(si, index), 0);
    if (!value) return std::nullopt;
    if (value->type == V_ASN1_UTCTIME) return toTime(value->value.utctime);
    if (value->type == V_ASN1_GENERALIZEDTIME) return toTime(value->value.generalizedtime);
    return std::nullopt;
}

// The time an RFC 3161 token proves, when the token is signed by a timestamp authority (its only
// extended key usage is timeStamping) whose chain reaches the anchors, and its message imprint is the
// hash of the signer's signature value. Nothing otherwise.
std::optional<std::time_t> verifiedTimestamp(CMS_SignerInfo* si, const TrustAnchors& anchors) {
    auto obj = oid(kTimestampTokenOid);
    int index = obj ? CMS_unsigned_get_attr_by_OBJ(si, obj.get(), -1) : -1;
    if (index < 0) return std::nullopt;
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(CMS_unsigned_get_attr(si, index), 0);
    if (!value || value->type != V_ASN1_SEQUENCE) return std::nullopt;
    const ASN1_STRING* seq = value->value.sequence;
    CmsPtr token = parseCms(ASN1_STRING_get0_data(seq), static_cast<std::size_t>(ASN1_STRING_length(seq)));
    if (!token || OBJ_obj2nid(CMS_get0_eContentType(token.get())) != NID_id_smime_ct_TSTInfo) return std::nullopt;

    BioPtr out(BIO_new(BIO_s_mem()));
    if (!out ||
        CMS_verify(token.get(), nullptr, nullptr, nullptr, out.get(), CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) != 1)
        return std::nullopt;
    char* data = nullptr;
    long length = BIO_get_mem_data(out.get(), &data);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(data);
    TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &p, length));
    if (!info) return std::nullopt;

    TS_MSG_IMPRINT* imprint = TS_TST_INFO_get_msg_imprint(info.get());
    const EVP_MD* md = EVP_get_digestbyobj(TS_MSG_IMPRINT_get_algo(imprint)->algorithm);
    ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(si);
    ASN1_OCTET_STRING* expected = TS_MSG_IMPRINT_get_msg(imprint);
    if (!md || !signature || !expected) return std::nullopt;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(ASN1_STRING_get0_data(signature), static_cast<std::size_t>(ASN1_STRING_length(signature)), digest,
                   &digestLength, md, nullptr) != 1)
        return std::nullopt;
    if (static_cast<unsigned int>(ASN1_STRING_length(expected)) != digestLength ||
        std::memcmp(ASN1_STRING_get0_data(expected), digest, digestLength) != 0)
        return std::nullopt;

    auto when = toTime(TS_TST_INFO_get_time(info.get()));
    if (!when) return std::nullopt;
    X509StackRefPtr signers(CMS_get0_signers(token.get()));
    X509* tsa = signers && sk_X509_num(signers.get()) > 0 ? sk_X509_value(signers.get(), 0) : nullptr;
    // Only a timestamp authority may say when a chain is judged: any other certificate under the same
    // root (a developer's own, say) could otherwise date its signatures back into its validity.
    if (!tsa || !(X509_get_extension_flags(tsa) & EXFLAG_XKUSAGE) || X509_get_extended_key_usage(tsa) != XKU_TIMESTAMP)
        return std::nullopt;
    if (!verifyChain(signerChainDer(token.get(), tsa), anchors, *when).trusted) return std::nullopt;
    return when;
}

}  // namespace

CmsVerdict verifyDetachedCms(ByteSpan cmsDer, ByteSpan content, const TrustAnchors& anchors) {
    CmsVerdict verdict;
    CmsPtr cms = parseCms(reinterpret_cast<const unsigned char*>(cmsDer.data()), cmsDer.size());
    if (!cms) {
        ERR_clear_error();
        verdict.failure = "the CMS signature is not valid SignedData";
        return verdict;
    }
    STACK_OF(CMS_SignerInfo)* signerInfos = CMS_get0_SignerInfos(cms.get());
    if (!signerInfos || sk_CMS_SignerInfo_num(signerInfos) != 1) {
        ERR_clear_error();
        verdict.failure = "the CMS signature does not have exactly one signer";
        return verdict;
    }
    verdict.parsed = true;
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signerInfos, 0);
    CMS_set1_signers_certs(cms.get(), nullptr, 0);  // matches the signer to its certificate in the set
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, &signer, nullptr, nullptr);

    static const std::byte kNothing{};
    BioPtr contentBio(
        content.size() <= static_cast<std::size_t>(INT_MAX)
            ? BIO_new_mem_buf(content.empty() ? &kNothing : content.data(), static_cast<int>(content.size()))
            : nullptr);
    // Given a memory BIO, OpenSSL 3.0's CMS_verify reads it through a copy that it leaks when the
    // signature's content cannot be set up; a null filter on top keeps it reading ours directly.
    if (BIO* filter = contentBio ? BIO_new(BIO_f_null()) : nullptr)
        contentBio.reset(BIO_push(filter, contentBio.release()));
    if (!signer) {
        verdict.failure = "the CMS signature does not carry its signer's certificate";
    } else if (contentBio && CMS_verify(cms.get(), nullptr, nullptr, contentBio.get(), nullptr,
                                        CMS_BINARY | CMS_DETACHED | CMS_NO_SIGNER_CERT_VERIFY) == 1) {
        verdict.signatureValid = true;
    } else {
        verdict.failure = "the CMS signature does not match the signed content";
    }
    ERR_clear_error();

    verdict.signingTime = signingTimeFrom(si);
    verdict.signedCdhashes = cdhashesFrom(si);
    verdict.timestampTime = verifiedTimestamp(si, anchors);
    ERR_clear_error();

    // Judged now, for want of a proven time, a certificate that has since expired is no fault.
    const std::vector<Bytes> chainDer = signerChainDer(cms.get(), signer);
    verdict.chain = verdict.timestampTime ? verifyChain(chainDer, anchors, *verdict.timestampTime)
                                          : verifyChain(chainDer, anchors, std::time(nullptr), ExpiryRule::Tolerated);
    if (verdict.failure.empty() && !verdict.chain.trusted) verdict.failure = verdict.chain.failure;
    return verdict;
}

CmsVerdict verifyAttachedCms(ByteSpan cmsDer, const TrustAnchors& anchors, Bytes* content) {
    CmsVerdict verdict;
    CmsPtr cms = parseCms(reinterpret_cast<const unsigned char*>(cmsDer.data()), cmsDer.size());
    STACK_OF(CMS_SignerInfo)* signerInfos = cms ? CMS_get0_SignerInfos(cms.get()) : nullptr;
    if (!cms || CMS_is_detached(cms.get())) {
        ERR_clear_error();
        verdict.failure = "the signature is not SignedData that carries its content";
        return verdict;
    }
    if (!signerInfos || sk_CMS_SignerInfo_num(signerInfos) != 1) {
        ERR_clear_error();
        verdict.failure = "the signature does not have exactly one signer";
        return verdict;
    }
    verdict.parsed = true;
    CMS_SignerInfo* si = sk_CMS_SignerInfo_value(signerInfos, 0);
    CMS_set1_signers_certs(cms.get(), nullptr, 0);
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, &signer, nullptr, nullptr);
    BioPtr out(BIO_new(BIO_s_mem()));
    if (!signer) {
        verdict.failure = "the signature does not carry its signer's certificate";
    } else if (out && CMS_verify(cms.get(), nullptr, nullptr, nullptr, out.get(),
                                 CMS_BINARY | CMS_NO_SIGNER_CERT_VERIFY) == 1) {
        verdict.signatureValid = true;
        if (content) {
            char* data = nullptr;
            long length = BIO_get_mem_data(out.get(), &data);
            if (data && length > 0) {
                const auto* begin = reinterpret_cast<const std::uint8_t*>(data);
                content->assign(begin, begin + length);
            }
        }
    } else {
        verdict.failure = "the signature does not match the content it carries";
    }
    ERR_clear_error();
    verdict.signingTime = signingTimeFrom(si);
    // No proven time here either: a certificate that has since expired is no fault (a receipt
    // outlives its signer's certificate), anything else is.
    verdict.chain = verifyChain(signerChainDer(cms.get(), signer), anchors, std::time(nullptr), ExpiryRule::Tolerated);
    if (verdict.failure.empty() && !verdict.chain.trusted) verdict.failure = verdict.chain.failure;
    return verdict;
}

}  // namespace tessarin

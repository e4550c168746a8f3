// Detached CMS verification: the signature over content and attributes, the RFC 3161 timestamp that
// fixes the time the chain is judged at, and Apple's signed list of CDHashes.
#include "crypto/Cms.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <openssl/err.h>

#include "base/Bytes.h"
#include "base/Der.h"
#include "crypto/CertificateDer.h"
#include "crypto/OpenSslHandles.h"
#include "plist/Plist.h"

namespace tessarin {
namespace {

using namespace ossl;

constexpr const char* kAppleCdhashesOid = "1.2.840.113635.100.9.1";
constexpr const char* kTimestampTokenOid = "1.2.840.113549.1.9.16.2.14";
constexpr std::uint8_t kDerSet = 0x31;

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

// The signer's certificate first, then the rest of the set and any offered beside it: the order
// verifyChain expects. Only the signer leads; the others can at most supply its issuers.
std::vector<Bytes> signerChainDer(CMS_ContentInfo* cms, X509* signer, const std::vector<Bytes>& more = {}) {
    std::vector<Bytes> ders;
    if (signer) ders.push_back(certificateDer(signer));
    auto add = [&ders](Bytes der) {
        if (std::find(ders.begin(), ders.end(), der) == ders.end()) ders.push_back(std::move(der));
    };
    X509StackPtr certs(CMS_get1_certs(cms));
    for (int i = 0; certs && i < sk_X509_num(certs.get()); ++i) add(certificateDer(sk_X509_value(certs.get(), i)));
    for (const Bytes& der : more) add(der);
    return ders;
}

// The only SignerInfo's signed attributes exactly as they stand in the signature, read from the DER
// itself: OpenSSL keeps only their decoded form. Nothing when the layout cannot be followed; an empty
// span when the signer has none.
std::optional<ByteSpan> encodedSignedAttributes(ByteSpan der) {
    const ByteReader r(der);
    auto contentInfo = readBerElement(r, 0);
    if (!contentInfo || contentInfo->tag != DER_SEQUENCE) return std::nullopt;
    auto outer = readBerChildren(r, *contentInfo, 2);
    if (!outer || outer->size() != 2 || (*outer)[1].tag != 0xA0) return std::nullopt;
    auto explicitContent = readBerChildren(r, (*outer)[1], 1);
    if (!explicitContent || explicitContent->size() != 1 || explicitContent->front().tag != DER_SEQUENCE)
        return std::nullopt;
    // version, digestAlgorithms, encapContentInfo, [0] certificates, [1] crls, signerInfos
    auto signedData = readBerChildren(r, explicitContent->front(), 6);
    if (!signedData || signedData->size() < 4 || signedData->back().tag != kDerSet) return std::nullopt;
    auto signerInfos = readBerChildren(r, signedData->back(), 1);
    if (!signerInfos || signerInfos->size() != 1 || signerInfos->front().tag != DER_SEQUENCE) return std::nullopt;
    // version, sid, digestAlgorithm, [0] signedAttrs, signatureAlgorithm, signature, [1] unsignedAttrs
    auto signerInfo = readBerChildren(r, signerInfos->front(), 7);
    if (!signerInfo || signerInfo->size() < 5) return std::nullopt;
    const DerElement& fourth = (*signerInfo)[3];
    if (fourth.tag != 0xA0) return ByteSpan{};
    return r.bytes(fourth.offset, fourth.end() - fourth.offset);
}

bool isSupportedSignatureAlgorithm(const X509_ALGOR* algorithm) {
    switch (OBJ_obj2nid(algorithm->algorithm)) {
    case NID_rsaEncryption:
    case NID_sha1WithRSAEncryption:
    case NID_sha256WithRSAEncryption:
    case NID_sha384WithRSAEncryption:
    case NID_sha512WithRSAEncryption:
    case NID_X9_62_id_ecPublicKey:
    case NID_ecdsa_with_SHA1:
    case NID_ecdsa_with_SHA256:
    case NID_ecdsa_with_SHA384:
    case NID_ecdsa_with_SHA512: return true;
    default: return false;  // RSA-PSS and the rest: no signer of Apple's formats uses them
    }
}

bool digestOf(const EVP_MD* md, ByteSpan data, Bytes& out) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.empty() ? "" : static_cast<const void*>(data.data()), data.size(), digest, &length, md,
                   nullptr) != 1)
        return false;
    out.assign(digest, digest + length);
    return true;
}

bool signatureHolds(X509* signer, const EVP_MD* md, ByteSpan signedBytes, const ASN1_OCTET_STRING* signature) {
    EVP_PKEY* key = X509_get0_pubkey(signer);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!key || !ctx || !signature || EVP_DigestVerifyInit(ctx.get(), nullptr, md, nullptr, key) != 1) return false;
    return EVP_DigestVerify(ctx.get(), ASN1_STRING_get0_data(signature),
                            static_cast<std::size_t>(ASN1_STRING_length(signature)),
                            reinterpret_cast<const unsigned char*>(signedBytes.data()), signedBytes.size()) == 1;
}

// Checks the one signer's signature as it was made: over its signed attributes as encoded in `der`
// (the [0] read as the SET it stands for), whose message digest must be that of `content`; or, with
// no attributes, over the content itself. OpenSSL's own check signs a DER re-encoding of the
// attributes, which Apple's codesign did not always write in DER order. Empty when it holds, else
// why not.
std::string signerSignatureFailure(CMS_ContentInfo* cms, CMS_SignerInfo* si, X509* signer, ByteSpan der,
                                   ByteSpan content) {
    X509_ALGOR* digestAlgorithm = nullptr;
    X509_ALGOR* signatureAlgorithm = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, nullptr, &digestAlgorithm, &signatureAlgorithm);
    const EVP_MD* md = digestAlgorithm ? EVP_get_digestbyobj(digestAlgorithm->algorithm) : nullptr;
    if (!md || !signatureAlgorithm || !isSupportedSignatureAlgorithm(signatureAlgorithm))
        return "the signature's algorithm is not supported";
    Bytes contentDigest;
    if (!digestOf(md, content, contentDigest)) return "the signed content could not be hashed";
    const ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(si);

    if (CMS_signed_get_attr_count(si) <= 0) {
        if (!signatureHolds(signer, md, content, signature)) return "the signature does not match the signed content";
        return {};
    }
    // -3: the attribute must appear once, with one value.
    const auto* messageDigest = static_cast<const ASN1_OCTET_STRING*>(
        CMS_signed_get0_data_by_OBJ(si, OBJ_nid2obj(NID_pkcs9_messageDigest), -3, V_ASN1_OCTET_STRING));
    if (!messageDigest || static_cast<std::size_t>(ASN1_STRING_length(messageDigest)) != contentDigest.size() ||
        std::memcmp(ASN1_STRING_get0_data(messageDigest), contentDigest.data(), contentDigest.size()) != 0)
        return "the signature does not match the signed content";
    if (CMS_signed_get_attr_by_NID(si, NID_pkcs9_contentType, -1) >= 0) {
        const auto* type = static_cast<const ASN1_OBJECT*>(
            CMS_signed_get0_data_by_OBJ(si, OBJ_nid2obj(NID_pkcs9_contentType), -3, V_ASN1_OBJECT));
        if (!type || OBJ_cmp(type, CMS_get0_eContentType(cms)) != 0)
            return "the signature's content type does not match its content";
    }
    auto attributes = encodedSignedAttributes(der);
    if (!attributes || attributes->empty()) return "the signature's signed attributes cannot be read";
    Bytes asSet = toBytes(*attributes);
    asSet[0] = kDerSet;
    if (!signatureHolds(signer, md, asByteSpan(asSet), signature))
        return "the signature does not match the signed content";
    return {};
}

// The content SignedData carries inside itself, as OpenSSL gathered it (a constructed OCTET STRING's
// pieces joined); nothing when it carries none.
std::optional<ByteSpan> embeddedContent(CMS_ContentInfo* cms) {
    ASN1_OCTET_STRING** content = CMS_get0_content(cms);
    if (!content || !*content) return std::nullopt;
    return ByteSpan(reinterpret_cast<const std::byte*>(ASN1_STRING_get0_data(*content)),
                    static_cast<std::size_t>(ASN1_STRING_length(*content)));
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
    const ASN1_STRING* seq = value->value.sequence;  // kept as encoded
    const ByteSpan tokenDer(reinterpret_cast<const std::byte*>(ASN1_STRING_get0_data(seq)),
                            static_cast<std::size_t>(ASN1_STRING_length(seq)));
    CmsPtr token = parseCms(ASN1_STRING_get0_data(seq), tokenDer.size());
    if (!token || OBJ_obj2nid(CMS_get0_eContentType(token.get())) != NID_id_smime_ct_TSTInfo) return std::nullopt;
    STACK_OF(CMS_SignerInfo)* tokenSigners = CMS_get0_SignerInfos(token.get());
    if (!tokenSigners || sk_CMS_SignerInfo_num(tokenSigners) != 1) return std::nullopt;
    CMS_SignerInfo* tokenSigner = sk_CMS_SignerInfo_value(tokenSigners, 0);
    CMS_set1_signers_certs(token.get(), nullptr, 0);
    X509* tsa = nullptr;
    CMS_SignerInfo_get0_algs(tokenSigner, nullptr, &tsa, nullptr, nullptr);
    auto tstInfo = embeddedContent(token.get());
    if (!tsa || !tstInfo || !signerSignatureFailure(token.get(), tokenSigner, tsa, tokenDer, *tstInfo).empty())
        return std::nullopt;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(tstInfo->data());
    TstInfoPtr info(d2i_TS_TST_INFO(nullptr, &p, static_cast<long>(tstInfo->size())));
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
    // Only a timestamp authority may say when a chain is judged: any other certificate under the same
    // root (a developer's own, say) could otherwise date its signatures back into its validity.
    if (!(X509_get_extension_flags(tsa) & EXFLAG_XKUSAGE) || X509_get_extended_key_usage(tsa) != XKU_TIMESTAMP)
        return std::nullopt;
    if (!verifyChain(signerChainDer(token.get(), tsa), anchors, *when).trusted) return std::nullopt;
    return when;
}

}  // namespace

CmsVerdict verifyDetachedCms(ByteSpan cmsDer, ByteSpan content, const TrustAnchors& anchors,
                             const std::vector<Bytes>& moreCertificates) {
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
    // The signer is the certificate its SignerInfo identifies, found in the signature's own set or
    // among those offered beside it; no other certificate can stand in for it.
    X509StackPtr offered(sk_X509_new_null());
    for (const Bytes& der : moreCertificates)
        if (auto cert = certificateFromDer(der); cert && offered && sk_X509_push(offered.get(), cert.get()) > 0)
            cert.release();
    CMS_set1_signers_certs(cms.get(), offered.get(), 0);
    X509* signer = nullptr;
    CMS_SignerInfo_get0_algs(si, nullptr, &signer, nullptr, nullptr);

    if (!signer) {
        verdict.failure = "the CMS signature does not carry its signer's certificate";
    } else if (std::string why = signerSignatureFailure(cms.get(), si, signer, cmsDer, content); why.empty()) {
        verdict.signatureValid = true;
        verdict.signerCertificate = certificateDer(signer);
    } else {
        verdict.failure = "the CMS signature does not match the signed content";
    }
    ERR_clear_error();

    verdict.signingTime = signingTimeFrom(si);
    verdict.signedCdhashes = cdhashesFrom(si);
    verdict.timestampTime = verifiedTimestamp(si, anchors);
    ERR_clear_error();

    // Judged now, for want of a proven time, a certificate that has since expired is no fault.
    verdict.signerChain = signerChainDer(cms.get(), signer, moreCertificates);
    verdict.chain = verdict.timestampTime
                        ? verifyChain(verdict.signerChain, anchors, *verdict.timestampTime)
                        : verifyChain(verdict.signerChain, anchors, std::time(nullptr), ExpiryRule::Tolerated);
    if (verdict.failure.empty() && !verdict.chain.trusted) verdict.failure = verdict.chain.failure;
    return verdict;
}

CmsVerdict verifyAttachedCms(ByteSpan cmsDer, const TrustAnchors& anchors, Bytes* content) {
    CmsVerdict verdict;
    CmsPtr cms = parseCms(reinterpret_cast<const unsigned char*>(cmsDer.data()), cmsDer.size());
    STACK_OF(CMS_SignerInfo)* signerInfos = cms ? CMS_get0_SignerInfos(cms.get()) : nullptr;
    std::optional<ByteSpan> carried = cms ? embeddedContent(cms.get()) : std::nullopt;
    if (!cms || !carried) {
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
    if (!signer) {
        verdict.failure = "the signature does not carry its signer's certificate";
    } else if (signerSignatureFailure(cms.get(), si, signer, cmsDer, *carried).empty()) {
        verdict.signatureValid = true;
        verdict.signerCertificate = certificateDer(signer);
        if (content) *content = toBytes(*carried);
    } else {
        verdict.failure = "the signature does not match the content it carries";
    }
    ERR_clear_error();
    verdict.signingTime = signingTimeFrom(si);
    // No proven time here either: a certificate that has since expired is no fault (a receipt
    // outlives its signer's certificate), anything else is.
    verdict.signerChain = signerChainDer(cms.get(), signer);
    verdict.chain = verifyChain(verdict.signerChain, anchors, std::time(nullptr), ExpiryRule::Tolerated);
    if (verdict.failure.empty() && !verdict.chain.trusted) verdict.failure = verdict.chain.failure;
    return verdict;
}

}  // namespace tessarin

// Builds the test chains with OpenSSL: self-signed root, an intermediate and leaves with Apple's
// marker extensions, a timestamp authority; signs CMS the way Apple's signatures are laid out.
#include "SigningChain.h"

#include <stdexcept>

#include <openssl/err.h>

#include <algorithm>

#include "base/Der.h"
#include "crypto/CertificateDer.h"
#include "crypto/OpenSslHandles.h"

namespace tessarin::test {
namespace {

using namespace ossl;

constexpr std::time_t kDay = 24 * 60 * 60;
constexpr std::time_t kYear = 365 * kDay;

[[noreturn]] void fault(const char* what) {
    ERR_clear_error();
    throw std::runtime_error(std::string("SigningChain: ") + what);
}

X509Ptr parseCert(const Bytes& der) {
    const unsigned char* p = der.data();
    X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
    if (!cert) fault("bad certificate");
    return cert;
}

PkeyPtr parseKey(const Bytes& der) {
    const unsigned char* p = der.data();
    PkeyPtr key(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(der.size())));
    if (!key) fault("bad key");
    return key;
}

struct Subject {
    std::string commonName;
    std::string organizationalUnit;
    std::string organization;
};

void addNameEntry(X509_NAME* name, const char* field, const std::string& value) {
    if (value.empty()) return;
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                               -1, 0);
}

void addConfExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
    if (!ext) fault("bad extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// The DER of an OpenSSL object by its i2d function.
template <class Object, class Encoder>
Bytes encoded(Object* object, Encoder i2d) {
    const int n = i2d(object, nullptr);
    if (n <= 0) fault("cannot encode");
    Bytes out(static_cast<std::size_t>(n));
    unsigned char* p = out.data();
    i2d(object, &p);
    return out;
}

// Which of `candidates` issued `leaf`; none for a self-signed leaf.
const TestIdentity* issuerOf(const TestIdentity& leaf, std::initializer_list<const TestIdentity*> candidates) {
    X509Ptr cert = parseCert(leaf.certificateDer);
    for (const TestIdentity* c : candidates)
        if (X509_check_issued(parseCert(c->certificateDer).get(), cert.get()) == X509_V_OK) return c;
    return nullptr;
}

// A CMS SignedData by `signer` carrying `certificates`, open for attributes until finishCms.
std::pair<CmsPtr, CMS_SignerInfo*> startCms(const TestIdentity& signer,
                                            const std::vector<const TestIdentity*>& certificates, unsigned flags) {
    X509Ptr cert = parseCert(signer.certificateDer);
    PkeyPtr key = parseKey(signer.privateKeyDer);
    CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags | CMS_PARTIAL));
    CMS_SignerInfo* si =
        cms ? CMS_add1_signer(cms.get(), cert.get(), key.get(), EVP_sha256(), flags | CMS_PARTIAL) : nullptr;
    if (!si) fault("cannot add signer");
    for (const TestIdentity* c : certificates) CMS_add1_cert(cms.get(), parseCert(c->certificateDer).get());
    return {std::move(cms), si};
}

void finishCms(CMS_ContentInfo* cms, const Bytes& content, unsigned flags) {
    static const std::uint8_t kEmpty = 0;
    BioPtr data(BIO_new_mem_buf(content.empty() ? &kEmpty : content.data(), static_cast<int>(content.size())));
    if (CMS_final(cms, data.get(), nullptr, flags) != 1) fault("cannot sign CMS");
}

// A certificate for `subject` issued by `issuer` (none: self-signed) with a fresh key unless one is
// given. `marker`: the Apple OID marking its kind, critical on leaves as Apple's are; `eku` e.g.
// "critical,codeSigning"; `extensions`: OID and DER value as written, not critical.
TestIdentity makeIdentity(const Subject& subject, const TestIdentity* issuer, std::time_t notBefore,
                          std::time_t notAfter, bool ca, const std::string& marker = "", const std::string& eku = "",
                          const std::vector<std::pair<std::string, Bytes>>& extensions = {},
                          const Bytes* privateKeyDer = nullptr) {
    static long serial = 1;
    PkeyPtr key(privateKeyDer ? parseKey(*privateKeyDer) : PkeyPtr(EVP_EC_gen("P-256")));
    if (!key) fault("no EC key");
    X509Ptr cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial++);
    ASN1_TIME_set(X509_getm_notBefore(cert.get()), notBefore);
    ASN1_TIME_set(X509_getm_notAfter(cert.get()), notAfter);
    X509_NAME* name = X509_get_subject_name(cert.get());
    addNameEntry(name, "C", "US");
    addNameEntry(name, "O", subject.organization);
    addNameEntry(name, "OU", subject.organizationalUnit);
    addNameEntry(name, "CN", subject.commonName);
    X509_set_pubkey(cert.get(), key.get());

    X509Ptr issuerCert;
    PkeyPtr issuerKey;
    if (issuer) {
        issuerCert = parseCert(issuer->certificateDer);
        issuerKey = parseKey(issuer->privateKeyDer);
        X509_set_issuer_name(cert.get(), X509_get_subject_name(issuerCert.get()));
    } else {
        X509_set_issuer_name(cert.get(), name);
    }
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuerCert ? issuerCert.get() : cert.get(), cert.get(), nullptr, nullptr, 0);
    addConfExtension(cert.get(), &ctx, NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    addConfExtension(cert.get(), &ctx, NID_key_usage,
                     ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    addConfExtension(cert.get(), &ctx, NID_subject_key_identifier, "hash");
    if (issuer) addConfExtension(cert.get(), &ctx, NID_authority_key_identifier, "keyid:always");
    if (!eku.empty()) addConfExtension(cert.get(), &ctx, NID_ext_key_usage, eku);
    auto addExtension = [&](const std::string& dotted, const Bytes& der, bool critical) {
        std::unique_ptr<ASN1_OCTET_STRING, Deleter<ASN1_OCTET_STRING, ASN1_OCTET_STRING_free>> value(
            ASN1_OCTET_STRING_new());
        ASN1_OCTET_STRING_set(value.get(), der.data(), static_cast<int>(der.size()));
        X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, oid(dotted.c_str()).get(), critical, value.get());
        if (!ext) fault("bad extension value");
        X509_add_ext(cert.get(), ext, -1);
        X509_EXTENSION_free(ext);
    };
    // Apple's marker extensions hold a DER NULL.
    if (!marker.empty()) addExtension(marker, {0x05, 0x00}, !ca);
    for (const auto& [dotted, der] : extensions) addExtension(dotted, der, false);
    if (X509_sign(cert.get(), issuerKey ? issuerKey.get() : key.get(), EVP_sha256()) <= 0) fault("cannot sign");

    return {certificateDer(cert.get()), encoded(key.get(), i2d_PrivateKey)};
}

void addAttribute(CMS_SignerInfo* si, bool isSigned, const char* dotted, int type, const Bytes& bytes) {
    auto obj = oid(dotted);
    int ok = isSigned
                 ? CMS_signed_add1_attr_by_OBJ(si, obj.get(), type, bytes.data(), static_cast<int>(bytes.size()))
                 : CMS_unsigned_add1_attr_by_OBJ(si, obj.get(), type, bytes.data(), static_cast<int>(bytes.size()));
    if (!ok) fault("cannot add attribute");
}

// Apple's CDHashes2 values, SEQUENCE { digest algorithm, hash }: SHA-1's first, as DER sorts them.
const Bytes kSha1HashValue = [] {
    Bytes v{0x30, 0x1d, 0x06, 0x05, 0x2b, 0x0e, 0x03, 0x02, 0x1a, 0x04, 0x14};
    v.resize(v.size() + 20, 0x5a);
    return v;
}();
const Bytes kSha256HashValue = [] {
    Bytes v{0x30, 0x2d, 0x06, 0x09, 0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01, 0x04, 0x20};
    v.resize(v.size() + 32, 0xa5);
    return v;
}();

void addCdhashes2(CMS_SignerInfo* si) {
    auto obj = oid("1.2.840.113635.100.9.2");
    X509_ATTRIBUTE* attribute = X509_ATTRIBUTE_create_by_OBJ(nullptr, obj.get(), V_ASN1_SEQUENCE,
                                                             kSha256HashValue.data(), int(kSha256HashValue.size()));
    if (!attribute ||
        !X509_ATTRIBUTE_set1_data(attribute, V_ASN1_SEQUENCE, kSha1HashValue.data(), int(kSha1HashValue.size())) ||
        !CMS_signed_add1_attr(si, attribute)) {
        X509_ATTRIBUTE_free(attribute);
        fault("cannot add CDHashes2");
    }
    X509_ATTRIBUTE_free(attribute);
}

// Rewrites the CDHashes2 values of a signature OpenSSL wrote in DER order into the order given, and
// signs the attributes again exactly as they now stand.
Bytes withCdhashes2OutOfOrder(Bytes der, EVP_PKEY* key) {
    Bytes sorted = kSha1HashValue, unsorted = kSha256HashValue;
    sorted.insert(sorted.end(), kSha256HashValue.begin(), kSha256HashValue.end());
    unsorted.insert(unsorted.end(), kSha1HashValue.begin(), kSha1HashValue.end());
    auto at = std::search(der.begin(), der.end(), sorted.begin(), sorted.end());
    if (at == der.end()) fault("CDHashes2 values not found");
    std::copy(unsorted.begin(), unsorted.end(), at);

    const ByteReader r(asByteSpan(der));
    auto signerInfo = [&]() -> std::optional<std::vector<DerElement>> {
        auto ci = readBerElement(r, 0);
        auto outer = ci ? readBerChildren(r, *ci, 2) : std::nullopt;
        auto sd = outer ? readBerChildren(r, (*outer)[1], 1) : std::nullopt;
        auto fields = sd ? readBerChildren(r, sd->front(), 6) : std::nullopt;
        auto infos = fields ? readBerChildren(r, fields->back(), 1) : std::nullopt;
        return infos ? readBerChildren(r, infos->front(), 7) : std::nullopt;
    }();
    if (!signerInfo || signerInfo->size() < 6 || (*signerInfo)[3].tag != 0xA0) fault("no signed attributes");
    const DerElement attributes = (*signerInfo)[3], signature = (*signerInfo)[5];
    Bytes toSign(der.begin() + long(attributes.offset), der.begin() + long(attributes.end()));
    toSign[0] = 0x31;
    // ECDSA signatures vary in length; sign until one fits the room the old one left.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
        std::size_t length = 0;
        if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
            EVP_DigestSign(ctx.get(), nullptr, &length, toSign.data(), toSign.size()) != 1)
            fault("cannot sign attributes");
        Bytes value(length);
        if (EVP_DigestSign(ctx.get(), value.data(), &length, toSign.data(), toSign.size()) != 1)
            fault("cannot sign attributes");
        if (length != signature.contentLength) continue;
        std::copy(value.begin(), value.begin() + long(length), der.begin() + long(signature.contentOffset()));
        return der;
    }
    fault("no signature of the right length");
}

// The plist Apple's signers write: a dictionary whose "cdhashes" array holds one data item per
// CodeDirectory.
std::string cdhashesPlist(const std::vector<Bytes>& cdhashes) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist "
        "version=\"1.0\">\n<dict>\n\t<key>cdhashes</key>\n\t<array>\n";
    for (const auto& h : cdhashes) xml += "\t\t<data>" + base64(h) + "</data>\n";
    return xml + "\t</array>\n</dict>\n</plist>\n";
}

Bytes timestampToken(const TestIdentity& tsa, const TestIdentity& root, const Bytes& signatureValue, std::time_t when,
                     bool wrongImprint, const TestIdentity* intermediate = nullptr) {
    Bytes imprinted = signatureValue;
    if (wrongImprint) imprinted.push_back(0);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    EVP_Digest(imprinted.data(), imprinted.size(), digest, &digestLength, EVP_sha256(), nullptr);

    TstInfoPtr info(TS_TST_INFO_new());
    TS_TST_INFO_set_version(info.get(), 1);
    auto policy = oid("1.3.6.1.4.1.99999.1");
    TS_TST_INFO_set_policy_id(info.get(), policy.get());
    std::unique_ptr<TS_MSG_IMPRINT, Deleter<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>> imprint(TS_MSG_IMPRINT_new());
    std::unique_ptr<X509_ALGOR, Deleter<X509_ALGOR, X509_ALGOR_free>> algorithm(X509_ALGOR_new());
    X509_ALGOR_set0(algorithm.get(), OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
    TS_MSG_IMPRINT_set_algo(imprint.get(), algorithm.get());
    TS_MSG_IMPRINT_set_msg(imprint.get(), digest, static_cast<int>(digestLength));
    TS_TST_INFO_set_msg_imprint(info.get(), imprint.get());
    std::unique_ptr<ASN1_INTEGER, Deleter<ASN1_INTEGER, ASN1_INTEGER_free>> serial(ASN1_INTEGER_new());
    ASN1_INTEGER_set(serial.get(), 42);
    TS_TST_INFO_set_serial(info.get(), serial.get());
    std::unique_ptr<ASN1_GENERALIZEDTIME, Deleter<ASN1_GENERALIZEDTIME, ASN1_GENERALIZEDTIME_free>> time(
        ASN1_GENERALIZEDTIME_set(nullptr, when));
    TS_TST_INFO_set_time(info.get(), time.get());
    std::vector<const TestIdentity*> certificates{&root};
    if (intermediate) certificates.push_back(intermediate);
    const unsigned flags = CMS_BINARY | CMS_NOSMIMECAP;
    auto [token, si] = startCms(tsa, certificates, flags);
    CMS_set1_eContentType(token.get(), OBJ_nid2obj(NID_id_smime_ct_TSTInfo));
    finishCms(token.get(), encoded(info.get(), i2d_TS_TST_INFO), flags);
    return encoded(token.get(), i2d_CMS_ContentInfo);
}

}  // namespace

SigningChain::SigningChain(const std::string& rootName, const std::string& rootOrganization,
                           const std::string& rootUnit) {
    std::time_t now = std::time(nullptr);
    const Subject developerIdAuthority{"Test Developer ID Certification Authority", "Test Certification Authority",
                                       "Apple Inc."};
    root_ = makeIdentity({rootName, rootUnit, rootOrganization}, nullptr, now - 10 * kYear, now + 10 * kYear, true);
    // Organization "Apple Inc." as on Apple's authorities: the leaf named "Software Signing" relies on it.
    intermediate_ = makeIdentity(developerIdAuthority, &root_, now - 10 * kYear, now + 10 * kYear, true,
                                 "1.2.840.113635.100.6.2.6");
    wwdrIntermediate_ = makeIdentity(
        {"Test Worldwide Developer Relations Certification Authority", "Test Certification Authority", "Apple Inc."},
        &root_, now - 10 * kYear, now + 10 * kYear, true, "1.2.840.113635.100.6.2.1");
    expiredIntermediate_ = makeIdentity(developerIdAuthority, &root_, now - 10 * kYear, now - kYear, true,
                                        "1.2.840.113635.100.6.2.6", "", {}, &intermediate_.privateKeyDer);
    timestampAuthority_ = makeIdentity({"Test Timestamp Authority", "", "Tessarin Test"}, &root_, now - 10 * kYear,
                                       now + 10 * kYear, false, "", "critical,timeStamping");
    for (bool expired : {false, true}) {
        std::time_t from = expired ? now - 3 * kYear : now - kDay;
        std::time_t to = expired ? now - kYear : now + 2 * kYear;
        auto leafOf = [&](const Subject& s, const std::string& marker, const std::string& eku,
                          const TestIdentity* issuer = nullptr) {
            return makeIdentity(s, issuer ? issuer : &intermediate_, from, to, false, marker, eku);
        };
        const std::string codeSigning = "critical,codeSigning";
        leaves_[{LeafKind::DeveloperIDApplication, expired}] =
            leafOf({"Developer ID Application: Test Corp (" + teamId() + ")", teamId(), "Test Corp"},
                   "1.2.840.113635.100.6.1.13", codeSigning);
        leaves_[{LeafKind::DeveloperIDInstaller, expired}] =
            leafOf({"Developer ID Installer: Test Corp (" + teamId() + ")", teamId(), "Test Corp"},
                   "1.2.840.113635.100.6.1.14", "");
        leaves_[{LeafKind::MacAppStoreInstaller, expired}] =
            leafOf({"3rd Party Mac Developer Installer: Test Corp (" + teamId() + ")", teamId(), "Test Corp"},
                   "1.2.840.113635.100.6.1.10", "");
        leaves_[{LeafKind::MacAppStore, expired}] = leafOf({"Apple Mac OS Application Signing", teamId(), "Apple Inc."},
                                                           "1.2.840.113635.100.6.1.9", codeSigning);
        leaves_[{LeafKind::SoftwareSigning, expired}] =
            leafOf({"Software Signing", "Apple Software", "Apple Inc."}, "", codeSigning);
        leaves_[{LeafKind::AppleDevelopment, expired}] =
            leafOf({"Apple Development: Test Developer (TESTDEV001)", teamId(), "Test Corp"},
                   "1.2.840.113635.100.6.1.12", codeSigning, &wwdrIntermediate_);
        leaves_[{LeafKind::SelfSigned, expired}] =
            makeIdentity({"Test Self-Signed Signer", "", "Test Corp"}, nullptr, from, to, false, "", codeSigning);
    }
    receiptLeaf_ = makeIdentity(
        {"Mac App Store and iTunes Store Receipt Signing", "Apple Worldwide Developer Relations", "Apple Inc."},
        &wwdrIntermediate_, now - kDay, now + 2 * kYear, false);
    tickets_ = makeTicketSigners();
}

Bytes SigningChain::signReceipt(const Bytes& payload, bool byCodeLeaf) const {
    const TestIdentity& signer = byCodeLeaf ? leaf(LeafKind::MacAppStore) : receiptLeaf_;
    const TestIdentity* issuer = issuerOf(signer, {&intermediate_, &wwdrIntermediate_});
    if (!issuer) fault("no issuer for the receipt signer");
    const unsigned flags = CMS_BINARY | CMS_NOSMIMECAP;
    auto [cms, si] = startCms(signer, {issuer, &root_}, flags);
    finishCms(cms.get(), payload, flags);
    return encoded(cms.get(), i2d_CMS_ContentInfo);
}

TicketSigners makeTicketSigners(bool copyAppleNames) {
    std::time_t now = std::time(nullptr);
    TicketSigners t;
    const Subject rootName =
        copyAppleNames ? Subject{"Apple Root CA - G3", "Apple Certification Authority", "Apple Inc."}
                       : Subject{"Tessarin Test Ticket Root CA", "Test Certification Authority", "Tessarin Test"};
    const Subject intermediateName =
        copyAppleNames ? Subject{"Apple System Integration CA 4", "Apple Certification Authority", "Apple Inc."}
                       : Subject{"Test System Integration CA", "Test Certification Authority", "Tessarin Test"};
    t.root = makeIdentity(rootName, nullptr, now - 10 * kYear, now + 10 * kYear, true);
    t.intermediate = makeIdentity(intermediateName, &t.root, now - 10 * kYear, now + 10 * kYear, true);
    const Subject leafName{"Software Ticket Signing", "", copyAppleNames ? "Apple Inc." : "Tessarin Test"};
    t.leaf = makeIdentity(leafName, &t.intermediate, now - kDay, now + kYear, false, "1.2.840.113635.100.6.1.30");
    t.unmarkedLeaf = makeIdentity(leafName, &t.intermediate, now - kDay, now + kYear, false);
    return t;
}

const SigningChain& SigningChain::shared() {
    static const SigningChain chain("Tessarin Test Root CA");
    return chain;
}

const SigningChain& SigningChain::unrelated() {
    static const SigningChain chain("Unrelated Test Root CA");
    return chain;
}

TrustAnchors SigningChain::anchors() const {
    TrustAnchors a;
    a.rootsDer.push_back(root_.certificateDer);
    a.tickets = tickets_.anchors();
    return a;
}

const TestIdentity& SigningChain::leaf(LeafKind kind, bool expired) const { return leaves_.at({kind, expired}); }

Bytes SigningChain::signCms(const Bytes& content, const TestIdentity& leaf, const std::vector<Bytes>& cdhashes,
                            std::time_t signingTime, bool withTimestamp) const {
    CmsOptions options;
    options.signingTime = signingTime;
    options.timestamp = withTimestamp;
    return signCms(content, leaf, cdhashes, options);
}

Bytes SigningChain::signCms(const Bytes& content, const TestIdentity& leaf, const std::vector<Bytes>& cdhashes,
                            const CmsOptions& options) const {
    std::time_t signingTime = options.signingTime ? options.signingTime : std::time(nullptr);
    const TestIdentity* issuer = issuerOf(leaf, {&intermediate_, &wwdrIntermediate_});
    const unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_NOSMIMECAP;
    auto [cms, si] = startCms(leaf, issuer ? std::vector{issuer, &root_} : std::vector<const TestIdentity*>{}, flags);
    std::unique_ptr<ASN1_TIME, Deleter<ASN1_TIME, ASN1_TIME_free>> when(ASN1_TIME_set(nullptr, signingTime));
    if (!when || !CMS_signed_add1_attr_by_NID(si, NID_pkcs9_signingTime, when->type, when.get(), -1))
        fault("cannot add signing time");
    std::string xml = cdhashesPlist(cdhashes);
    addAttribute(si, true, "1.2.840.113635.100.9.1", V_ASN1_OCTET_STRING, Bytes(xml.begin(), xml.end()));
    if (options.attributeValuesOutOfOrder) addCdhashes2(si);

    finishCms(cms.get(), content, flags);
    if (options.attributeValuesOutOfOrder)
        return withCdhashes2OutOfOrder(encoded(cms.get(), i2d_CMS_ContentInfo), parseKey(leaf.privateKeyDer).get());

    if (options.timestamp) {
        ASN1_OCTET_STRING* signature = CMS_SignerInfo_get0_signature(si);
        Bytes value(ASN1_STRING_get0_data(signature), ASN1_STRING_get0_data(signature) + ASN1_STRING_length(signature));
        Bytes token = options.timestampByLeaf
                          ? timestampToken(leaf, root_, value, options.timestampTime.value_or(signingTime),
                                           options.timestampWrongImprint, &intermediate_)
                          : timestampToken(timestampAuthority_, root_, value,
                                           options.timestampTime.value_or(signingTime), options.timestampWrongImprint);
        addAttribute(si, false, "1.2.840.113549.1.9.16.2.14", V_ASN1_SEQUENCE, token);
    }
    return encoded(cms.get(), i2d_CMS_ContentInfo);
}

TestIdentity SigningChain::developerIdLeaf(const std::optional<Bytes>& accountCreation, const std::string& team) const {
    // Valid from 2015, so that signatures timestamped around 2019 are judged inside its validity.
    std::vector<std::pair<std::string, Bytes>> extensions;
    if (accountCreation) extensions.emplace_back("1.2.840.113635.100.6.1.33", *accountCreation);
    return makeIdentity({"Developer ID Application: Test Corp (" + team + ")", team, "Test Corp"}, &intermediate_,
                        1420070400, std::time(nullptr) + 2 * kYear, false, "1.2.840.113635.100.6.1.13",
                        "critical,codeSigning", extensions);
}

std::string base64(const Bytes& b) {
    std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), b.data(), static_cast<int>(b.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

Bytes extensionDate(const std::string& text, std::uint8_t tag) {
    Bytes der{tag, static_cast<std::uint8_t>(text.size())};
    der.insert(der.end(), text.begin(), text.end());
    return der;
}

CmsSigner SigningChain::signer(const TestIdentity& leaf, CmsOptions options) const {
    return [this, leaf, options](const Bytes& content, const std::vector<Bytes>& cdhashes) {
        return signCms(content, leaf, cdhashes, options);
    };
}

CmsSigner SigningChain::signer(LeafKind kind, bool expired, CmsOptions options) const {
    return signer(leaf(kind, expired), options);
}

}  // namespace tessarin::test

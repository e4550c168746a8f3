// Builds xar archives and test certificate chains for the package tests.
#include "XarBuilder.h"

#include <lzma.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <zlib.h>

#include "crypto/CertificateDer.h"

#include <map>
#include <mutex>
#include <stdexcept>

namespace tessarin::test {

namespace {

Bytes zlibCompress(const Bytes& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), 9) != Z_OK)
        throw std::runtime_error("zlib compression failed");
    out.resize(size);
    return out;
}

Bytes digest(const std::string& name, const Bytes& data) {
    const EVP_MD* md = EVP_get_digestbyname(name.c_str());
    if (!md) throw std::runtime_error("unknown digest " + name);
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(data.data(), data.size(), out, &n, md, nullptr);
    return Bytes(out, out + n);
}

std::string hex(const Bytes& b) {
    static const char* d = "0123456789abcdef";
    std::string s;
    for (auto x : b) {
        s += d[x >> 4];
        s += d[x & 15];
    }
    return s;
}

std::string base64(const Bytes& b) {
    std::string out(4 * ((b.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), b.data(), static_cast<int>(b.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string checksumStyle(const XarBuildOptions& o) {
    switch (o.checksumAlgorithm) {
    case 0: return "none";
    case 1: return "sha1";
    case 2: return "md5";
    default: return o.checksumName;
    }
}

// A folder tree of <file> elements, in the order paths first appear.
struct Node {
    std::string name;
    const XarBuildFile* file = nullptr;
    std::vector<Node> children;
    Node& child(const std::string& n) {
        for (auto& c : children)
            if (c.name == n) return c;
        children.push_back({n, nullptr, {}});
        return children.back();
    }
};

struct Stored {
    Bytes bytes;
    std::uint64_t offset = 0;
    std::string archivedSha1, extractedSha1;
};

void writeFiles(std::string& xml, const Node& node, const std::map<const XarBuildFile*, Stored>& stored, int& nextId,
                const std::string& indent) {
    for (const auto& c : node.children) {
        xml += indent + "<file id=\"" + std::to_string(nextId++) + "\">\n";
        xml += indent + " <name>" + c.name + "</name>\n";
        if (c.file) {
            const Stored& s = stored.at(c.file);
            xml += indent + " <type>file</type>\n";
            xml += indent + " <data>\n";
            xml += indent + "  <length>" + std::to_string(s.bytes.size()) + "</length>\n";
            xml += indent + "  <offset>" + std::to_string(s.offset) + "</offset>\n";
            xml += indent + "  <size>" + std::to_string(c.file->data.size()) + "</size>\n";
            xml += indent + "  <encoding style=\"" +
                   std::string(c.file->compressed ? "application/x-gzip" : "application/octet-stream") + "\"/>\n";
            xml += indent + "  <archived-checksum style=\"sha1\">" + s.archivedSha1 + "</archived-checksum>\n";
            xml += indent + "  <extracted-checksum style=\"sha1\">" + s.extractedSha1 + "</extracted-checksum>\n";
            xml += indent + " </data>\n";
        } else {
            xml += indent + " <type>directory</type>\n";
        }
        writeFiles(xml, c, stored, nextId, indent + " ");
        xml += indent + "</file>\n";
    }
}

std::string keyInfo(const std::vector<Bytes>& certificates) {
    std::string xml = "   <KeyInfo xmlns=\"http://www.w3.org/2000/09/xmldsig#\">\n    <X509Data>\n";
    for (const auto& c : certificates) xml += "     <X509Certificate>" + base64(c) + "</X509Certificate>\n";
    return xml + "    </X509Data>\n   </KeyInfo>\n";
}

}  // namespace

void putU32be(Bytes& b, std::size_t offset, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.at(offset + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

void putU64be(Bytes& b, std::size_t offset, std::uint64_t v) {
    for (int i = 0; i < 8; ++i)
        b.at(offset + static_cast<std::size_t>(i)) = static_cast<std::uint8_t>(v >> (56 - 8 * i));
}

XarBuild buildXar(const XarBuildOptions& o) {
    const std::string style = checksumStyle(o);
    const bool hasChecksum = o.checksumAlgorithm != 0;
    const std::uint64_t checksumSize = hasChecksum ? digest(style, {}).size() : 0;
    const Bytes placeholder(checksumSize, 0);
    const bool signedRsa = static_cast<bool>(o.sign);
    const bool signedCms = static_cast<bool>(o.signCms);
    // Signature sizes go into the table that is then signed: learn them from a trial signature.
    std::uint64_t signatureSize = signedRsa ? o.sign(placeholder).size() : 0;
    std::uint64_t cmsSize = signedCms ? o.signCms(placeholder).size() : 0;
    const std::vector<Bytes>& cmsCerts = o.cmsCertificates.empty() ? o.certificates : o.cmsCertificates;

    // ECDSA and timestamped signatures vary in length: sign again until one fits the size announced.
    // With two such signatures a try fits about one time in eight, so give it room to.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        XarBuild b;
        std::uint64_t dataStart = checksumSize + signatureSize + cmsSize;
        std::map<const XarBuildFile*, Stored> stored;
        Node root;
        Bytes heapData;
        for (const auto& f : o.files) {
            Stored s;
            s.bytes = f.compressed ? zlibCompress(f.data) : f.data;
            s.offset = dataStart + heapData.size();
            s.archivedSha1 = hex(digest("sha1", s.bytes));
            s.extractedSha1 = hex(digest("sha1", f.data));
            heapData.insert(heapData.end(), s.bytes.begin(), s.bytes.end());
            Node* n = &root;
            std::string rest = f.path;
            for (auto slash = rest.find('/'); slash != std::string::npos; slash = rest.find('/')) {
                n = &n->child(rest.substr(0, slash));
                rest = rest.substr(slash + 1);
            }
            n->child(rest).file = &f;
            stored[&f] = std::move(s);
        }

        std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xar>\n <toc>\n";
        if (hasChecksum)
            xml += "  <checksum style=\"" + style + "\">\n   <offset>0</offset>\n   <size>" +
                   std::to_string(checksumSize) + "</size>\n  </checksum>\n";
        xml += "  <creation-time>2026-01-02T03:04:05</creation-time>\n";
        if (signedRsa)
            xml += "  <signature style=\"RSA\">\n   <offset>" + std::to_string(checksumSize) + "</offset>\n   <size>" +
                   std::to_string(signatureSize) + "</size>\n" + keyInfo(o.certificates) + "  </signature>\n";
        if (signedCms)
            xml += "  <x-signature style=\"CMS\">\n   <offset>" + std::to_string(checksumSize + signatureSize) +
                   "</offset>\n   <size>" + std::to_string(cmsSize) + "</size>\n" + keyInfo(cmsCerts) +
                   "  </x-signature>\n";
        int nextId = 1;
        writeFiles(xml, root, stored, nextId, "  ");
        xml += " </toc>\n</xar>\n";

        Bytes toc = zlibCompress(bytesOf(xml));
        Bytes checksum = hasChecksum ? digest(style, toc) : Bytes{};
        Bytes signature = signedRsa ? o.sign(checksum) : Bytes{};
        Bytes cms = signedCms ? o.signCms(checksum) : Bytes{};
        if (signature.size() != signatureSize || cms.size() != cmsSize) {
            signatureSize = signature.size();
            cmsSize = cms.size();
            continue;
        }
        if (o.editTocAfterSigning) {
            o.editTocAfterSigning(xml);
            toc = zlibCompress(bytesOf(xml));
        }

        Bytes header(28, 0);
        if (o.checksumAlgorithm == 3) {
            header.insert(header.end(), o.checksumName.begin(), o.checksumName.end());
            header.push_back(0);
            while (header.size() % 4) header.push_back(0);
        }
        putU32be(header, 0, 0x78617221);
        header[4] = static_cast<std::uint8_t>(header.size() >> 8);
        header[5] = static_cast<std::uint8_t>(header.size());
        header[7] = 1;
        putU64be(header, 8, toc.size());
        putU64be(header, 16, xml.size());
        putU32be(header, 24, o.checksumAlgorithm);

        b.toc = xml;
        b.bytes = header;
        b.tocOffset = header.size();
        b.tocLength = toc.size();
        b.bytes.insert(b.bytes.end(), toc.begin(), toc.end());
        b.heapOffset = b.bytes.size();
        b.checksumOffset = b.heapOffset;
        b.checksumSize = checksumSize;
        b.bytes.insert(b.bytes.end(), checksum.begin(), checksum.end());
        b.signatureOffset = b.bytes.size();
        b.signatureSize = signatureSize;
        b.bytes.insert(b.bytes.end(), signature.begin(), signature.end());
        b.cmsOffset = b.bytes.size();
        b.cmsSize = cmsSize;
        b.bytes.insert(b.bytes.end(), cms.begin(), cms.end());
        b.bytes.insert(b.bytes.end(), heapData.begin(), heapData.end());
        b.archiveEnd = b.bytes.size();
        if (o.stapledTicket) b.bytes = stapleTicket(std::move(b.bytes), *o.stapledTicket);
        return b;
    }
    throw std::runtime_error("the signatures' sizes did not settle");
}

std::vector<XarBuildFile> sampleProductFiles() {
    const std::string distribution =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<installer-gui-script>\n"
        " <title>Example</title>\n <pkg-ref id=\"com.example.pkg\"/>\n"
        " <choices-outline><line choice=\"default\"/></choices-outline>\n"
        " <pkg-ref id=\"com.example.pkg\" version=\"1.0\">#example.pkg</pkg-ref>\n</installer-gui-script>\n";
    const std::string packageInfo =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<pkg-info format-version=\"2\" identifier=\"com.example.pkg\" "
        "version=\"1.0\" install-location=\"/\" auth=\"root\">\n <payload numberOfFiles=\"1\" installKBytes=\"1\"/>\n"
        "</pkg-info>\n";
    return {
        {"Distribution", bytesOf(distribution), true},
        {"example.pkg/PackageInfo", bytesOf(packageInfo), true},
        {"example.pkg/Bom", Bytes(64, 0x42), false},
        {"example.pkg/Payload", Bytes(1000, 0x50), false},
    };
}

namespace {

std::string field(std::uint64_t v, int width, int base) {
    std::string s(static_cast<std::size_t>(width), '0');
    for (int i = width - 1; i >= 0 && v; --i, v /= static_cast<unsigned>(base))
        s[static_cast<std::size_t>(i)] = "0123456789abcdef"[v % static_cast<unsigned>(base)];
    return s;
}

void append(Bytes& out, const std::string& s) { out.insert(out.end(), s.begin(), s.end()); }

}  // namespace

Bytes buildCpio(const std::vector<CpioBuildEntry>& entries, CpioBuildFormat format, bool trailer) {
    Bytes out;
    std::vector<CpioBuildEntry> all = entries;
    if (trailer) all.push_back({"TRAILER!!!", 0, {}, 0, 0, std::nullopt});
    std::uint64_t ino = 1;
    for (const auto& e : all) {
        const std::uint64_t size = e.claimedSize.value_or(e.data.size());
        const std::uint64_t nameSize = e.path.size() + 1;
        if (format == CpioBuildFormat::Odc) {
            append(out, "070707" + field(1, 6, 8) + field(ino++, 6, 8) + field(e.mode, 6, 8) + field(e.uid, 6, 8) +
                            field(e.gid, 6, 8) + field(1, 6, 8) + field(0, 6, 8) + field(1700000000, 11, 8) +
                            field(nameSize, 6, 8) + field(size, 11, 8));
            append(out, e.path);
            out.push_back(0);
            out.insert(out.end(), e.data.begin(), e.data.end());
        } else {
            append(out, "070701" + field(ino++, 8, 16) + field(e.mode, 8, 16) + field(e.uid, 8, 16) +
                            field(e.gid, 8, 16) + field(1, 8, 16) + field(1700000000, 8, 16) + field(size, 8, 16) +
                            field(0, 8, 16) + field(0, 8, 16) + field(0, 8, 16) + field(0, 8, 16) +
                            field(nameSize, 8, 16) + field(0, 8, 16));
            append(out, e.path);
            out.push_back(0);
            while (out.size() % 4) out.push_back(0);
            out.insert(out.end(), e.data.begin(), e.data.end());
            while (out.size() % 4) out.push_back(0);
        }
    }
    return out;
}

Bytes gzipCompress(const Bytes& data) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("gzip compression failed");
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 32);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) throw std::runtime_error("gzip compression failed");
    return out;
}

Bytes xzCompress(const Bytes& data) {
    Bytes out(lzma_stream_buffer_bound(data.size()));
    std::size_t size = 0;
    if (lzma_easy_buffer_encode(6, LZMA_CHECK_CRC64, nullptr, data.data(), data.size(), out.data(), &size,
                                out.size()) != LZMA_OK)
        throw std::runtime_error("xz compression failed");
    out.resize(size);
    return out;
}

Bytes buildPbzx(const Bytes& data, std::uint64_t chunkSize, bool raw) {
    Bytes out = {'p', 'b', 'z', 'x'};
    auto u64 = [&](std::uint64_t v) {
        out.resize(out.size() + 8);
        putU64be(out, out.size() - 8, v);
    };
    u64(chunkSize);
    for (std::size_t at = 0; at < data.size(); at += chunkSize) {
        Bytes chunk(data.begin() + static_cast<long>(at),
                    data.begin() + static_cast<long>(std::min<std::size_t>(data.size(), at + chunkSize)));
        Bytes stored = raw ? chunk : xzCompress(chunk);
        u64(chunk.size());
        u64(stored.size());
        out.insert(out.end(), stored.begin(), stored.end());
    }
    return out;
}

std::vector<XarBuildFile> componentFiles(const std::string& folder, const std::string& identifier,
                                         const std::string& version, const Bytes& payload, const Bytes& scripts) {
    const std::string prefix = folder.empty() ? "" : folder + "/";
    const std::string info =
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<pkg-info format-version=\"2\" identifier=\"" + identifier +
        "\" version=\"" + version +
        "\" install-location=\"/Applications\" auth=\"root\">\n <payload numberOfFiles=\"3\"/>\n"
        "</pkg-info>\n";
    std::vector<XarBuildFile> files = {{prefix + "PackageInfo", bytesOf(info), true},
                                       {prefix + "Bom", Bytes(64, 0x42), false}};
    if (!payload.empty()) files.push_back({prefix + "Payload", payload, false});
    if (!scripts.empty()) files.push_back({prefix + "Scripts", scripts, false});
    return files;
}

XarBuildFile distributionFile(const std::vector<std::string>& folders) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<installer-gui-script minSpecVersion=\"2\">\n";
    for (const auto& f : folders) {
        std::string ref;
        for (char c : f) ref += c == ' ' ? std::string("%20") : std::string(1, c);
        xml += " <pkg-ref id=\"" + f + "\" version=\"1.0\" onConclusion=\"none\">#" + ref + "</pkg-ref>\n";
    }
    return {"Distribution", bytesOf(xml + "</installer-gui-script>\n"), true};
}

Bytes stapleTicket(Bytes archive, const Bytes& ticket) {
    auto trailer = [](std::uint16_t type, std::uint32_t length) {
        Bytes t = {'t', '8', 'l', 'r', 1, 0, static_cast<std::uint8_t>(type), 0};
        for (int i = 0; i < 4; ++i) t.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
        t.resize(16, 0);
        return t;
    };
    Bytes first = trailer(1, 0), last = trailer(2, static_cast<std::uint32_t>(ticket.size()));
    archive.insert(archive.end(), first.begin(), first.end());
    archive.insert(archive.end(), ticket.begin(), ticket.end());
    archive.insert(archive.end(), last.begin(), last.end());
    return archive;
}

// ---- Test certificate chains ----

namespace {

using PkeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using X509Ptr = std::unique_ptr<X509, decltype(&X509_free)>;

// Keys are slow to make; each key set is made once per process and shared.
EVP_PKEY* sharedKey(int keySet, int role) {
    static std::mutex mutex;
    static std::map<std::pair<int, int>, PkeyPtr> keys;
    std::lock_guard lock(mutex);
    auto it = keys.find({keySet, role});
    if (it == keys.end()) {
        EVP_PKEY* k = EVP_RSA_gen(2048);
        if (!k) throw std::runtime_error("RSA key generation failed");
        it = keys.emplace(std::make_pair(keySet, role), PkeyPtr(k, EVP_PKEY_free)).first;
    }
    return it->second.get();
}

void addName(X509_NAME* name, const char* field, const std::string& value) {
    X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8, reinterpret_cast<const unsigned char*>(value.c_str()), -1,
                               -1, 0);
}

void addExtension(X509* cert, X509* issuer, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error("bad certificate extension");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

// Apple marks certificate kinds with extensions whose value is an ASN.1 NULL.
void addMarker(X509* cert, const std::string& oid) {
    if (oid.empty()) return;
    ASN1_OBJECT* obj = OBJ_txt2obj(oid.c_str(), 1);
    ASN1_OCTET_STRING* value = ASN1_OCTET_STRING_new();
    const unsigned char null[] = {0x05, 0x00};
    ASN1_OCTET_STRING_set(value, null, 2);
    X509_EXTENSION* ext = X509_EXTENSION_create_by_OBJ(nullptr, obj, 0, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
    ASN1_OCTET_STRING_free(value);
    ASN1_OBJECT_free(obj);
}

X509Ptr makeCertificate(EVP_PKEY* key, EVP_PKEY* issuerKey, X509* issuer, const std::string& cn, const std::string& ou,
                        const std::string& o, bool ca, std::time_t notBefore, std::time_t notAfter,
                        const std::string& marker, long serial) {
    X509Ptr cert(X509_new(), X509_free);
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_NAME* name = X509_get_subject_name(cert.get());
    addName(name, "C", "US");
    addName(name, "O", o);
    if (!ou.empty()) addName(name, "OU", ou);
    addName(name, "CN", cn);
    X509_set_issuer_name(cert.get(), issuer ? X509_get_subject_name(issuer) : name);
    ASN1_TIME_set(X509_getm_notBefore(cert.get()), notBefore);
    ASN1_TIME_set(X509_getm_notAfter(cert.get()), notAfter);
    X509_set_pubkey(cert.get(), key);
    X509* issuerCert = issuer ? issuer : cert.get();
    addExtension(cert.get(), issuerCert, NID_basic_constraints, ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    addExtension(cert.get(), issuerCert, NID_key_usage,
                 ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    addExtension(cert.get(), issuerCert, NID_subject_key_identifier, "hash");
    if (issuer) addExtension(cert.get(), issuerCert, NID_authority_key_identifier, "keyid:always");
    if (!ca) addExtension(cert.get(), issuerCert, NID_ext_key_usage, "codeSigning");
    addMarker(cert.get(), marker);
    if (!X509_sign(cert.get(), issuerKey, EVP_sha256())) throw std::runtime_error("certificate signing failed");
    return cert;
}

}  // namespace

struct TestChain::State {
    EVP_PKEY* leafKey = nullptr;
    X509Ptr root{nullptr, X509_free}, intermediate{nullptr, X509_free}, leaf{nullptr, X509_free};
};

TestChain::TestChain(const TestChainOptions& o) : state_(std::make_unique<State>()) {
    const std::time_t now = std::time(nullptr);
    static long serial = 1000;
    EVP_PKEY* rootKey = sharedKey(o.keySet, 0);
    EVP_PKEY* intermediateKey = sharedKey(o.keySet, 1);
    state_->leafKey = sharedKey(o.keySet, 2);
    const std::time_t before = o.leafNotBefore ? o.leafNotBefore : now - 86400;
    const std::time_t after = o.leafNotAfter ? o.leafNotAfter : now + 365 * 86400;
    state_->root = makeCertificate(rootKey, rootKey, nullptr, "Tessarin Test Root CA", "Test Certification Authority",
                                   "Tessarin Tests", true, before - 86400 * 365, now + 20 * 365 * 86400, "", ++serial);
    state_->intermediate =
        makeCertificate(intermediateKey, rootKey, state_->root.get(), "Developer ID Certification Authority",
                        "Test Certification Authority", "Tessarin Tests", true, before - 86400 * 30,
                        now + 10 * 365 * 86400, o.intermediateOid, ++serial);
    state_->leaf = makeCertificate(state_->leafKey, intermediateKey, state_->intermediate.get(), o.leafName,
                                   "ABCDE12345", "Example Corp", false, before, after, o.leafOid, ++serial);
}

TestChain::~TestChain() = default;

Bytes TestChain::rootDer() const { return certificateDer(state_->root.get()); }

std::vector<Bytes> TestChain::certificates() const {
    return {certificateDer(state_->leaf.get()), certificateDer(state_->intermediate.get()),
            certificateDer(state_->root.get())};
}

namespace {

Bytes signDigestWith(EVP_PKEY* key, const Bytes& digestBytes, const std::string& digestName) {
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key, nullptr), EVP_PKEY_CTX_free);
    std::size_t size = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        (EVP_PKEY_get_base_id(key) == EVP_PKEY_RSA &&
         EVP_PKEY_CTX_set_rsa_padding(ctx.get(), RSA_PKCS1_PADDING) != 1) ||
        EVP_PKEY_CTX_set_signature_md(ctx.get(), EVP_get_digestbyname(digestName.c_str())) != 1 ||
        EVP_PKEY_sign(ctx.get(), nullptr, &size, digestBytes.data(), digestBytes.size()) != 1)
        throw std::runtime_error("cannot sign the digest");
    Bytes out(size);
    if (EVP_PKEY_sign(ctx.get(), out.data(), &size, digestBytes.data(), digestBytes.size()) != 1)
        throw std::runtime_error("cannot sign the digest");
    out.resize(size);
    return out;
}

}  // namespace

Bytes signDigestWithKey(const Bytes& privateKeyDer, const Bytes& digestBytes, const std::string& digestName) {
    const unsigned char* p = privateKeyDer.data();
    PkeyPtr key(d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(privateKeyDer.size())), EVP_PKEY_free);
    if (!key) throw std::runtime_error("cannot read the private key");
    return signDigestWith(key.get(), digestBytes, digestName);
}

Bytes TestChain::signDigest(const Bytes& digestBytes, const std::string& digestName) const {
    return signDigestWith(state_->leafKey, digestBytes, digestName);
}

Bytes TestChain::signCms(const Bytes& content) const {
    std::unique_ptr<BIO, decltype(&BIO_free)> in(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())),
                                                 BIO_free);
    std::unique_ptr<STACK_OF(X509), void (*)(STACK_OF(X509)*)> extra(sk_X509_new_null(),
                                                                     [](STACK_OF(X509) * s) { sk_X509_free(s); });
    sk_X509_push(extra.get(), state_->intermediate.get());
    sk_X509_push(extra.get(), state_->root.get());
    CMS_ContentInfo* cms =
        CMS_sign(state_->leaf.get(), state_->leafKey, extra.get(), in.get(), CMS_DETACHED | CMS_BINARY);
    if (!cms) throw std::runtime_error("CMS signing failed");
    unsigned char* p = nullptr;
    int n = i2d_CMS_ContentInfo(cms, &p);
    Bytes out(p, p + n);
    OPENSSL_free(p);
    CMS_ContentInfo_free(cms);
    return out;
}

}  // namespace tessarin::test

// Builds xar archives and test certificate chains for the package tests.
#include "XarBuilder.h"

#include <lzma.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "base/Hex.h"

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
    Bytes stored;  // the file's bytes as the heap holds them, at `offset`
    std::uint64_t offset = 0;
    std::vector<Node> children;
    Node& child(const std::string& n) {
        for (auto& c : children)
            if (c.name == n) return c;
        children.push_back({n, nullptr, {}, 0, {}});
        return children.back();
    }
};

void writeFiles(std::string& xml, const Node& node, int& nextId, const std::string& indent) {
    for (const auto& c : node.children) {
        xml += indent + "<file id=\"" + std::to_string(nextId++) + "\">\n";
        xml += indent + " <name>" + c.name + "</name>\n";
        if (c.file) {
            xml += indent + " <type>file</type>\n";
            xml += indent + " <data>\n";
            xml += indent + "  <length>" + std::to_string(c.stored.size()) + "</length>\n";
            xml += indent + "  <offset>" + std::to_string(c.offset) + "</offset>\n";
            xml += indent + "  <size>" + std::to_string(c.file->data.size()) + "</size>\n";
            xml += indent + "  <encoding style=\"" +
                   std::string(c.file->compressed ? "application/x-gzip" : "application/octet-stream") + "\"/>\n";
            xml += indent + "  <archived-checksum style=\"sha1\">" + hex(digest("sha1", c.stored)) +
                   "</archived-checksum>\n";
            xml += indent + "  <extracted-checksum style=\"sha1\">" + hex(digest("sha1", c.file->data)) +
                   "</extracted-checksum>\n";
            xml += indent + " </data>\n";
        } else {
            xml += indent + " <type>directory</type>\n";
        }
        writeFiles(xml, c, nextId, indent + " ");
        xml += indent + "</file>\n";
    }
}

// A signature of a precomputed digest with a DER private key (PKCS #1 v1.5 for RSA keys), as xar
// signs its checksum.
Bytes signDigestWithKey(const Bytes& privateKeyDer, const Bytes& digestBytes, const std::string& digestName) {
    const unsigned char* p = privateKeyDer.data();
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        d2i_AutoPrivateKey(nullptr, &p, static_cast<long>(privateKeyDer.size())), EVP_PKEY_free);
    if (!key) throw std::runtime_error("cannot read the private key");
    std::unique_ptr<EVP_PKEY_CTX, decltype(&EVP_PKEY_CTX_free)> ctx(EVP_PKEY_CTX_new(key.get(), nullptr),
                                                                    EVP_PKEY_CTX_free);
    std::size_t size = 0;
    if (!ctx || EVP_PKEY_sign_init(ctx.get()) != 1 ||
        (EVP_PKEY_get_base_id(key.get()) == EVP_PKEY_RSA &&
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
        Node root;
        Bytes heapData;
        for (const auto& f : o.files) {
            Node* n = &root;
            std::string rest = f.path;
            for (auto slash = rest.find('/'); slash != std::string::npos; slash = rest.find('/')) {
                n = &n->child(rest.substr(0, slash));
                rest = rest.substr(slash + 1);
            }
            Node& leaf = n->child(rest);
            leaf.file = &f;
            leaf.stored = f.compressed ? zlibCompress(f.data) : f.data;
            leaf.offset = dataStart + heapData.size();
            heapData.insert(heapData.end(), leaf.stored.begin(), leaf.stored.end());
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
        writeFiles(xml, root, nextId, "  ");
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

        // Appends a part and tells where it starts.
        auto place = [&b](const Bytes& part) {
            b.bytes.insert(b.bytes.end(), part.begin(), part.end());
            return b.bytes.size() - part.size();
        };
        b.toc = xml;
        b.tocOffset = place(header) + header.size();
        b.tocLength = toc.size();
        place(toc);
        b.heapOffset = b.checksumOffset = place(checksum);
        b.checksumSize = checksumSize;
        b.signatureOffset = place(signature);
        b.signatureSize = signatureSize;
        b.cmsOffset = place(cms);
        b.cmsSize = cmsSize;
        b.archiveEnd = place(heapData) + heapData.size();
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
    std::uint64_t next = 1000;
    for (const auto& e : all) {
        const std::uint64_t ino = e.linkGroup ? e.linkGroup : next++;
        const auto links = e.linkGroup
                               ? std::count_if(all.begin(), all.end(),
                                               [&](const CpioBuildEntry& o) { return o.linkGroup == e.linkGroup; })
                               : 1;
        const std::uint64_t size = e.claimedSize.value_or(e.data.size());
        const std::uint64_t nameSize = e.path.size() + 1;
        if (format == CpioBuildFormat::Odc) {
            append(out, "070707" + field(1, 6, 8) + field(ino, 6, 8) + field(e.mode, 6, 8) + field(e.uid, 6, 8) +
                            field(e.gid, 6, 8) + field(static_cast<std::uint64_t>(links), 6, 8) + field(0, 6, 8) +
                            field(1700000000, 11, 8) + field(nameSize, 6, 8) + field(size, 11, 8));
            append(out, e.path);
            out.push_back(0);
            out.insert(out.end(), e.data.begin(), e.data.end());
        } else {
            append(out, "070701" + field(ino, 8, 16) + field(e.mode, 8, 16) + field(e.uid, 8, 16) +
                            field(e.gid, 8, 16) + field(static_cast<std::uint64_t>(links), 8, 16) +
                            field(1700000000, 8, 16) + field(size, 8, 16) + field(0, 8, 16) + field(0, 8, 16) +
                            field(0, 8, 16) + field(0, 8, 16) + field(nameSize, 8, 16) + field(0, 8, 16));
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

XarBuildOptions signedProduct(const SigningChain& chain, LeafKind kind, bool expired, const std::string& digestName) {
    const TestIdentity& leaf = chain.leaf(kind, expired);
    XarBuildOptions o;
    o.files = sampleProductFiles();
    o.sign = [key = leaf.privateKeyDer, digestName](const Bytes& checksum) {
        return signDigestWithKey(key, checksum, digestName);
    };
    o.certificates = {leaf.certificateDer, chain.intermediate().certificateDer, chain.root().certificateDer};
    return o;
}

}  // namespace tessarin::test

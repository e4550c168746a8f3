// Reads xar archives through the bounded reader: header, inflated table of contents, heap ranges,
// file contents and the stapled-ticket trailers.
#include "package/Xar.h"

#include "base/ByteCursor.h"
#include "base/Hex.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <memory>

#include "base/Bytes.h"
#include "package/XarConstants.h"
#include "plist/XmlTree.h"

namespace tessarin {

namespace {

Error malformed(const std::string& what) { return fail("truncated or malformed xar archive (" + what + ")"); }

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string trim(const std::string& s) {
    auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::optional<std::uint64_t> decimal(const XmlElement* e) {
    if (!e) return std::nullopt;
    std::string t = trim(e->text);
    if (t.empty() || t.size() > 20) return std::nullopt;
    std::uint64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
        std::uint64_t d = static_cast<std::uint64_t>(c - '0');
        if (v > (UINT64_MAX - d) / 10) return std::nullopt;
        v = v * 10 + d;
    }
    return v;
}

const EVP_MD* digestNamed(const std::string& name) {
    if (name == "sha1") return EVP_sha1();
    if (name == "md5") return EVP_md5();
    if (name == "sha224") return EVP_sha224();
    if (name == "sha256") return EVP_sha256();
    if (name == "sha384") return EVP_sha384();
    if (name == "sha512") return EVP_sha512();
    return nullptr;
}

std::optional<Bytes> digest(const EVP_MD* md, ByteSpan data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), out, &length, md, nullptr) != 1) return std::nullopt;
    return Bytes(out, out + length);
}

// Inflates zlib (or gzip) data to exactly `expected` bytes; more or fewer is an error.
Result<Bytes> inflateExactly(ByteSpan input, std::uint64_t expected, const std::string& what) {
    z_stream z{};
    if (inflateInit2(&z, 15 + 32) != Z_OK) return fail("cannot start decompressing " + what);
    std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, inflateEnd);
    Bytes out;
    // Grow as data arrives: the declared size is a claim, not a promise.
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(expected, 1u << 20)));
    const std::byte* next = input.data();
    std::uint64_t left = input.size();
    unsigned char buffer[65536];
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
        if (z.avail_in == 0 && left > 0) {
            auto chunk = static_cast<uInt>(std::min<std::uint64_t>(left, 1u << 30));
            z.next_in = reinterpret_cast<Bytef*>(const_cast<std::byte*>(next));
            z.avail_in = chunk;
            next += chunk;
            left -= chunk;
        }
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        rc = inflate(&z, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR)
            return fail(what + " is not valid compressed data" + (z.msg ? std::string(" (") + z.msg + ")" : ""));
        std::size_t produced = sizeof buffer - z.avail_out;
        if (produced > expected - out.size())
            return fail(what + " inflates to more than the " + std::to_string(expected) + " bytes declared");
        out.insert(out.end(), buffer, buffer + produced);
        if (rc == Z_BUF_ERROR && z.avail_in == 0 && left == 0)
            return fail(what + " ends before its compressed data does");
    }
    if (out.size() != expected)
        return fail(what + " inflates to " + std::to_string(out.size()) + " bytes, not the " +
                    std::to_string(expected) + " declared");
    return out;
}

struct TocReader {
    const ByteReader& bytes;
    XarArchive& archive;
    std::string error;
    std::uint64_t pathBytes = 0;

    bool rangeInFile(const XarHeapRange& r, const std::string& what) {
        // heapOffset lies inside the file, so the sum cannot wrap once offset is bounded too.
        if (r.offset > bytes.size() || !bytes.contains(archive.heapOffset + r.offset, r.size)) {
            error = what + " (heap offset " + std::to_string(r.offset) + ", " + std::to_string(r.size) +
                    " bytes) extends past the end of the file";
            return false;
        }
        archive.archiveEnd = std::max(archive.archiveEnd, archive.heapOffset + r.offset + r.size);
        return true;
    }

    std::optional<XarHeapRange> range(const XmlElement& e, const char* sizeName, const std::string& what) {
        auto offset = decimal(e.child("offset"));
        auto size = decimal(e.child(sizeName));
        if (!offset || !size) {
            error = what + " has no valid offset and " + sizeName;
            return std::nullopt;
        }
        XarHeapRange r{*offset, *size};
        if (!rangeInFile(r, what)) return std::nullopt;
        return r;
    }

    void collectCertificates(const XmlElement& e, std::vector<const XmlElement*>& found) {
        for (const auto& c : e.children) {
            if (c.name == "X509Certificate")
                found.push_back(&c);
            else
                collectCertificates(c, found);
        }
    }

    std::optional<XarSignature> signature(const XmlElement& e, const std::string& what) {
        XarSignature s;
        s.style = e.attribute("style").value_or("");
        auto r = range(e, "size", what);
        if (!r) return std::nullopt;
        s.range = *r;
        std::vector<const XmlElement*> certs;
        collectCertificates(e, certs);
        if (certs.size() > 16) {
            error = what + " carries more than 16 certificates";
            return std::nullopt;
        }
        for (const auto* c : certs) {
            auto der = decodeXmlBase64(c->text, true);
            if (!der || der->empty()) {
                error = "a certificate of the " + what + " is not valid base64";
                return std::nullopt;
            }
            s.certificates.push_back(std::move(*der));
        }
        return s;
    }

    bool files(const XmlElement& parent, const std::string& prefix) {
        for (const auto* f : parent.childrenNamed("file")) {
            XarFile file;
            const XmlElement* name = f->child("name");
            std::string n = name ? name->text : "";
            // Names that are not valid text are stored in base64.
            if (name && name->attribute("enctype") == "base64") {
                auto decoded = decodeXmlBase64(n, true);
                n = decoded ? std::string(decoded->begin(), decoded->end()) : "";
            }
            if (n.empty()) {
                error = "a file in the table of contents has no name";
                return false;
            }
            file.path = prefix.empty() ? n : prefix + "/" + n;
            // Each path repeats its folders' names: a long name over many files must not multiply.
            pathBytes += file.path.size();
            if (pathBytes > kXarMaxPathBytes) {
                error = "the table of contents names more than " + std::to_string(kXarMaxPathBytes >> 20) +
                        " MB of file paths";
                return false;
            }
            if (const auto* type = f->child("type")) file.type = trim(type->text);
            if (const auto* data = f->child("data")) {
                XarFileData d;
                auto r = range(*data, "length", "the data of " + file.path);
                if (!r) return false;
                d.archived = *r;
                auto size = decimal(data->child("size"));
                if (!size) {
                    error = "the data of " + file.path + " has no valid size";
                    return false;
                }
                d.extractedSize = *size;
                if (const auto* enc = data->child("encoding")) d.encoding = enc->attribute("style").value_or("");
                if (const auto* c = data->child("archived-checksum")) {
                    d.archivedChecksumStyle = lower(c->attribute("style").value_or(""));
                    d.archivedChecksum = lower(trim(c->text));
                }
                if (const auto* c = data->child("extracted-checksum")) {
                    d.extractedChecksumStyle = lower(c->attribute("style").value_or(""));
                    d.extractedChecksum = lower(trim(c->text));
                }
                file.data = std::move(d);
            }
            std::string path = file.path;
            archive.files.push_back(std::move(file));
            if (!files(*f, path)) return false;
        }
        return true;
    }
};

std::string headerChecksumName(const XarHeader& h) {
    switch (h.checksumAlgorithm) {
    case XAR_CKSUM_NONE: return "none";
    case XAR_CKSUM_SHA1: return "sha1";
    case XAR_CKSUM_MD5: return "md5";
    default: return lower(h.checksumName);
    }
}

}  // namespace

bool looksLikeXar(const ByteReader& bytes) { return bytes.u32be(0) == XAR_HEADER_MAGIC; }

Result<XarArchive> parseXar(const ByteReader& bytes) {
    XarArchive a;
    auto magic = bytes.u32be(0);
    if (!magic) return malformed("the file is shorter than a xar header");
    if (*magic != XAR_HEADER_MAGIC) return fail("not a xar archive (no \"xar!\" magic)");
    XarHeader& h = a.header;
    ByteCursor c(bytes, 4);
    h.headerSize = c.u16be();
    h.version = c.u16be();
    h.tocCompressedLength = c.u64be();
    h.tocUncompressedLength = c.u64be();
    h.checksumAlgorithm = c.u32be();
    if (!c) return malformed("the file is shorter than a xar header");
    if (h.headerSize < XAR_HEADER_SIZE || !bytes.contains(0, h.headerSize))
        return malformed("header size " + std::to_string(h.headerSize) + " is out of range");
    if (h.version != XAR_HEADER_VERSION) return fail("unsupported xar version " + std::to_string(h.version));
    if (h.checksumAlgorithm > XAR_CKSUM_OTHER)
        return fail("unknown xar checksum algorithm " + std::to_string(h.checksumAlgorithm));
    if (h.checksumAlgorithm == XAR_CKSUM_OTHER) {
        std::optional<std::string> name;
        if (h.headerSize > XAR_HEADER_SIZE) name = bytes.cstring(XAR_HEADER_SIZE, h.headerSize - XAR_HEADER_SIZE - 1u);
        if (!name || name->empty()) return malformed("the header names no checksum algorithm");
        h.checksumName = *name;
    }
    auto compressedToc = bytes.bytes(h.headerSize, h.tocCompressedLength);
    if (!compressedToc)
        return malformed("the table of contents, " + std::to_string(h.tocCompressedLength) + " bytes at offset " +
                         std::to_string(h.headerSize) + ", extends past the end of the file");
    if (h.tocUncompressedLength > kXarMaxTocSize)
        return fail("the table of contents would inflate to " + std::to_string(h.tocUncompressedLength) +
                    " bytes, more than the " + std::to_string(kXarMaxTocSize >> 20) + " MB accepted");
    a.heapOffset = h.headerSize + h.tocCompressedLength;
    a.archiveEnd = a.heapOffset;

    auto inflated = inflateExactly(*compressedToc, h.tocUncompressedLength, "the table of contents");
    if (!inflated) return malformed(inflated.error());
    a.toc.assign(inflated->begin(), inflated->end());
    Bytes().swap(*inflated);  // the table may be tens of megabytes: keep one copy while it is parsed

    auto xml = parseXml(a.toc, {kXarMaxTocDepth, kXarMaxTocElements});
    if (!xml) return malformed("the table of contents is " + xml.error());
    const XmlElement* toc = xml->name == "xar" ? xml->child("toc") : nullptr;
    if (!toc) return malformed("the table of contents has no <xar><toc>");

    TocReader reader{bytes, a, {}};
    std::string expected = headerChecksumName(h);
    if (const XmlElement* c = toc->child("checksum")) {
        a.checksumStyle = lower(c->attribute("style").value_or(""));
        if (a.checksumStyle != expected)
            return malformed("the header names the checksum algorithm " + expected + " and the table of contents " +
                             a.checksumStyle);
        auto r = reader.range(*c, "size", "the checksum");
        if (!r) return malformed(reader.error);
        a.checksum = *r;
    } else {
        a.checksumStyle = expected;
    }
    if (a.checksum && !digestNamed(a.checksumStyle))
        return fail("unsupported xar checksum algorithm " + a.checksumStyle);

    for (const auto& e : toc->children) {
        std::optional<XarSignature>* slot = nullptr;
        if (e.name == "signature")
            slot = &a.signature;
        else if (e.name == "x-signature")
            slot = &a.cmsSignature;
        if (!slot) continue;
        if (*slot) return malformed("the table of contents has two <" + e.name + "> elements");
        auto s = reader.signature(e, e.name == "signature" ? "signature" : "extra signature");
        if (!s) return malformed(reader.error);
        *slot = std::move(s);
    }
    if (!reader.files(*toc, "")) return malformed(reader.error);
    return a;
}

Result<Bytes> xarHeapBytes(const ByteReader& bytes, const XarArchive& archive, const XarHeapRange& range) {
    if (range.offset > bytes.size()) return malformed("a heap range starts past the end of the file");
    auto b = bytes.bytes(archive.heapOffset + range.offset, range.size);
    if (!b) return malformed("a heap range extends past the end of the file");
    const auto* p = reinterpret_cast<const std::uint8_t*>(b->data());
    return Bytes(p, p + b->size());
}

Result<Bytes> computeXarTocDigest(const ByteReader& bytes, const XarArchive& archive) {
    const EVP_MD* md = digestNamed(archive.checksumStyle);
    if (!md) return fail("the archive has no checksum of its table of contents");
    auto toc = bytes.bytes(archive.header.headerSize, archive.header.tocCompressedLength);
    if (!toc) return malformed("the table of contents extends past the end of the file");
    auto d = digest(md, *toc);
    if (!d) return fail("cannot compute the " + archive.checksumStyle + " digest of the table of contents");
    return *d;
}

Result<Bytes> storedXarChecksum(const ByteReader& bytes, const XarArchive& archive) {
    if (!archive.checksum) return fail("the archive has no checksum of its table of contents");
    return xarHeapBytes(bytes, archive, *archive.checksum);
}

Result<Bytes> verifyXarChecksum(const ByteReader& bytes, const XarArchive& archive) {
    auto stored = storedXarChecksum(bytes, archive);
    if (!stored) return stored;
    auto computed = computeXarTocDigest(bytes, archive);
    if (!computed) return computed;
    if (*stored != *computed) return fail("the table of contents does not match its checksum");
    return computed;
}

const XarFile* findXarFile(const XarArchive& archive, const std::string& path) {
    for (const auto& f : archive.files)
        if (f.path == path) return &f;
    return nullptr;
}

Result<Bytes> extractXarFile(const ByteReader& bytes, const XarArchive& archive, const XarFile& file,
                             std::uint64_t maxSize) {
    if (!file.data) return fail(file.path + " has no data in the archive");
    const XarFileData& d = *file.data;
    if (d.extractedSize > maxSize)
        return fail(file.path + " is " + std::to_string(d.extractedSize) + " bytes, more than the " +
                    std::to_string(maxSize) + " accepted");
    auto stored = xarHeapBytes(bytes, archive, d.archived);
    if (!stored) return stored;
    auto check = [&](const std::string& style, const std::string& expected, const Bytes& data,
                     const char* which) -> Status {
        const EVP_MD* md = digestNamed(style);
        if (!md || expected.empty()) return Ok{};  // an unknown style cannot be checked
        auto got = digest(md, std::span(reinterpret_cast<const std::byte*>(data.data()), data.size()));
        if (!got || hex(*got) != expected)
            return fail("the " + std::string(which) + " checksum of " + file.path + " does not match");
        return Ok{};
    };
    if (auto s = check(d.archivedChecksumStyle, d.archivedChecksum, *stored, "archived"); !s) return fail(s.error());
    Bytes out;
    const std::string enc = lower(d.encoding);
    if (enc.empty() || enc == "application/octet-stream") {
        if (stored->size() != d.extractedSize)
            return malformed("the size of " + file.path + " does not match its length");
        out = std::move(*stored);
    } else if (enc == "application/x-gzip" || enc == "application/zlib") {
        auto inflated = inflateExactly(std::span(reinterpret_cast<const std::byte*>(stored->data()), stored->size()),
                                       d.extractedSize, file.path);
        if (!inflated) return malformed(inflated.error());
        out = std::move(*inflated);
    } else {
        return fail(file.path + " is stored with the unsupported encoding " + d.encoding);
    }
    if (auto s = check(d.extractedChecksumStyle, d.extractedChecksum, out, "extracted"); !s) return fail(s.error());
    return out;
}

Result<ByteSpan> archivedXarBytes(const ByteReader& bytes, const XarArchive& archive, const XarFile& file) {
    if (!file.data) return fail(file.path + " has no data in the archive");
    const XarFileData& d = *file.data;
    if (d.archived.offset > bytes.size())
        return malformed("the data of " + file.path + " starts past the end of the file");
    auto stored = bytes.bytes(archive.heapOffset + d.archived.offset, d.archived.size);
    if (!stored) return malformed("the data of " + file.path + " extends past the end of the file");
    if (const EVP_MD* md = digestNamed(d.archivedChecksumStyle); md && !d.archivedChecksum.empty()) {
        auto got = digest(md, *stored);
        if (!got || hex(*got) != d.archivedChecksum)
            return fail("the archived checksum of " + file.path + " does not match");
    }
    return *stored;
}

Result<std::optional<StapledTicket>> findStapledTicket(const ByteReader& bytes, std::uint64_t archiveEnd) {
    const std::uint64_t size = bytes.size();
    if (size < archiveEnd || size - archiveEnd < 2 * TICKET_TRAILER_SIZE) return std::optional<StapledTicket>{};
    const std::uint64_t last = size - TICKET_TRAILER_SIZE;
    if (bytes.u32le(last) != TICKET_TRAILER_MAGIC) return std::optional<StapledTicket>{};
    auto version = bytes.u16le(last + 4);
    auto type = bytes.u16le(last + 6);
    auto length = bytes.u32le(last + 8);
    if (version != TICKET_TRAILER_VERSION || type != TICKET_TRAILER_TICKET)
        return std::optional<StapledTicket>{};  // a trailer of a kind we do not know holds no ticket
    if (*length > kXarMaxTicketSize || *length > size - archiveEnd - 2 * TICKET_TRAILER_SIZE)
        return fail("the stapled ticket's trailer declares " + std::to_string(*length) +
                    " bytes, more than lie after the archive");
    const std::uint64_t ticketOffset = last - *length;
    const std::uint64_t terminator = ticketOffset - TICKET_TRAILER_SIZE;
    if (bytes.u32le(terminator) != TICKET_TRAILER_MAGIC || bytes.u16le(terminator + 6) != TICKET_TRAILER_TERMINATOR)
        return fail("the stapled ticket has no terminator trailer before it");
    auto t = bytes.bytes(ticketOffset, *length);
    const auto* p = reinterpret_cast<const std::uint8_t*>(t->data());
    return std::optional<StapledTicket>{StapledTicket{ticketOffset, Bytes(p, p + t->size())}};
}

}  // namespace tessarin

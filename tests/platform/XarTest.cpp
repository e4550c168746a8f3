// The xar reader against built archives: what it lists and extracts, how it refuses lying headers
// and hostile tables, and the stapled-ticket trailer.
#include "package/Xar.h"

#include <gtest/gtest.h>

#include "TicketBuilder.h"
#include "XarBuilder.h"
#include "package/XarConstants.h"
#include "plist/XmlTree.h"

using namespace tessarin;
using tessarin::test::buildXar;
using tessarin::test::XarBuild;
using tessarin::test::XarBuildOptions;

namespace {

ByteReader readerOf(const Bytes& b) { return ByteReader(b.data(), b.size()); }

XarBuild sample() {
    XarBuildOptions o;
    o.files = test::sampleProductFiles();
    return buildXar(o);
}

// An archive whose table of contents is exactly `xml`.
Bytes withToc(const std::string& xml) {
    XarBuildOptions o;
    o.checksumAlgorithm = XAR_CKSUM_NONE;
    o.editTocAfterSigning = [&](std::string& toc) { toc = xml; };
    return buildXar(o).bytes;
}

std::string errorOf(const Bytes& b) {
    auto parsed = parseXar(readerOf(b));
    return parsed ? std::string("(parsed)") : parsed.error();
}

bool mentions(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(XarReading, ListsFilesWithTheirFoldersAndExtractsThem) {
    XarBuild b = sample();
    auto a = parseXar(readerOf(b.bytes));
    ASSERT_TRUE(a) << a.error();
    std::vector<std::string> paths;
    for (const auto& f : a->files) paths.push_back(f.path + ":" + f.type);
    EXPECT_EQ(paths,
              (std::vector<std::string>{"Distribution:file", "example.pkg:directory", "example.pkg/PackageInfo:file",
                                        "example.pkg/Bom:file", "example.pkg/Payload:file"}));
    EXPECT_EQ(a->heapOffset, b.heapOffset);
    EXPECT_EQ(a->archiveEnd, b.archiveEnd);
    EXPECT_FALSE(a->signature);

    for (const auto& expected : test::sampleProductFiles()) {
        const XarFile* f = findXarFile(*a, expected.path);
        ASSERT_NE(f, nullptr) << expected.path;
        auto data = extractXarFile(readerOf(b.bytes), *a, *f, 1 << 20);
        ASSERT_TRUE(data) << data.error();
        EXPECT_EQ(*data, expected.data) << expected.path;
    }
    EXPECT_FALSE(extractXarFile(readerOf(b.bytes), *a, *findXarFile(*a, "example.pkg"), 1 << 20));
}

// The checksum is the digest of the compressed table as the heap stores it, in each algorithm.
TEST(XarReading, ChecksumIsTheDigestOfTheCompressedTable) {
    for (auto [algorithm, name, style, size] : {std::tuple{XAR_CKSUM_SHA1, "", "sha1", 20u},
                                                {XAR_CKSUM_MD5, "", "md5", 16u},
                                                {XAR_CKSUM_OTHER, "sha512", "sha512", 64u}}) {
        SCOPED_TRACE(style);
        XarBuildOptions o;
        o.checksumAlgorithm = algorithm;
        o.checksumName = name;
        o.files = test::sampleProductFiles();
        XarBuild b = buildXar(o);
        auto parsed = parseXar(readerOf(b.bytes));
        ASSERT_TRUE(parsed) << parsed.error();
        EXPECT_EQ(parsed->header.checksumName, name);
        EXPECT_EQ(parsed->checksumStyle, style);
        auto digest = verifyXarChecksum(readerOf(b.bytes), *parsed);
        ASSERT_TRUE(digest) << digest.error();
        EXPECT_EQ(digest->size(), size);
        EXPECT_EQ(*digest, Bytes(b.bytes.begin() + static_cast<long>(b.checksumOffset),
                                 b.bytes.begin() + static_cast<long>(b.checksumOffset + b.checksumSize)));
    }
    auto a = parseXar(readerOf(withToc("<xar><toc><file><name enctype=\"base64\">Y2Fmw6k=</name></file></toc></xar>")));
    ASSERT_TRUE(a) << a.error();
    EXPECT_EQ(a->files.at(0).path, "caf\xC3\xA9");  // a name stored in base64
}

TEST(XarMalformed, LyingHeadersAreRefusedWithoutAllocatingTheirSizes) {
    const XarBuild b = sample();
    auto patched = [&](std::size_t offset, std::uint64_t value, bool wide) {
        Bytes copy = b.bytes;
        if (wide)
            test::putU64be(copy, offset, value);
        else
            test::putU32be(copy, offset, static_cast<std::uint32_t>(value));
        return copy;
    };
    EXPECT_TRUE(mentions(errorOf(patched(8, 4000000000ull, true)), "extends past the end of the file"));
    EXPECT_TRUE(mentions(errorOf(patched(16, 3000000000ull, true)), "more than the 16 MB accepted"));
    EXPECT_TRUE(mentions(errorOf(patched(16, b.toc.size() - 1, true)), "more than the"));
    EXPECT_TRUE(mentions(errorOf(patched(16, b.toc.size() + 1, true)), "not the"));
    EXPECT_TRUE(mentions(errorOf(patched(24, 9, false)), "unknown xar checksum algorithm 9"));

    Bytes header = b.bytes;
    header[4] = 0;
    header[5] = 12;
    EXPECT_TRUE(mentions(errorOf(header), "header size 12"));
    header[4] = 0xFF;
    EXPECT_TRUE(mentions(errorOf(header), "out of range"));
    Bytes version = b.bytes;
    version[7] = 2;
    EXPECT_EQ(errorOf(version), "unsupported xar version 2");

    EXPECT_TRUE(mentions(errorOf(Bytes(b.bytes.begin(), b.bytes.begin() + 20)), "shorter than a xar header"));
    EXPECT_TRUE(mentions(errorOf(Bytes(b.bytes.begin(), b.bytes.begin() + static_cast<long>(b.heapOffset) - 5)),
                         "extends past the end"));
    EXPECT_TRUE(mentions(errorOf(test::Bytes{'P', 'K', 3, 4, 0, 0, 0, 0}), "not a xar archive"));
}

TEST(XarMalformed, DamagedCompressedTableIsAnErrorNotACrash) {
    const XarBuild b = sample();
    for (std::uint64_t i = 0; i < b.tocLength; i += 7) {
        Bytes copy = b.bytes;
        copy[b.tocOffset + i] ^= 0x5A;
        auto a = parseXar(readerOf(copy));
        if (a) {
            EXPECT_FALSE(verifyXarChecksum(readerOf(copy), *a)) << "flip at " << i;
        }
    }
}

TEST(XarMalformed, HeapRangesPastTheEndAreRefused) {
    auto replaced = [](const std::string& from, const std::string& to) {
        XarBuildOptions o;
        o.files = test::sampleProductFiles();
        o.editTocAfterSigning = [=](std::string& toc) { toc.replace(toc.find(from), from.size(), to); };
        return buildXar(o).bytes;
    };
    EXPECT_TRUE(mentions(errorOf(replaced("<offset>0</offset>", "<offset>18446744073709551615</offset>")),
                         "the checksum (heap offset 18446744073709551615"));
    EXPECT_TRUE(
        mentions(errorOf(replaced("<length>64</length>", "<length>9999999</length>")), "the data of example.pkg/Bom"));
    EXPECT_TRUE(mentions(errorOf(replaced("<offset>0</offset>", "<offset>-1</offset>")), "no valid offset"));
    EXPECT_TRUE(mentions(errorOf(replaced("<checksum style=\"sha1\">", "<checksum style=\"md5\">")),
                         "names the checksum algorithm sha1"));
}

TEST(XarMalformed, FileContentsAreCheckedAndBounded) {
    XarBuild b = sample();
    auto a = parseXar(readerOf(b.bytes));
    ASSERT_TRUE(a);
    const XarFile* payload = findXarFile(*a, "example.pkg/Payload");
    ASSERT_NE(payload, nullptr);
    auto tooBig = extractXarFile(readerOf(b.bytes), *a, *payload, 999);
    ASSERT_FALSE(tooBig);
    EXPECT_TRUE(mentions(tooBig.error(), "more than the 999 accepted"));

    b.bytes[b.heapOffset + payload->data->archived.offset + 10] ^= 1;
    auto changed = extractXarFile(readerOf(b.bytes), *a, *payload, 1 << 20);
    ASSERT_FALSE(changed);
    EXPECT_EQ(changed.error(), "the archived checksum of example.pkg/Payload does not match");

    // A compressed file whose declared size is smaller than what it inflates to.
    XarBuildOptions o;
    o.files = {{"big", Bytes(100000, 'x'), true}};
    o.editTocAfterSigning = [](std::string& toc) {
        toc.replace(toc.find("<size>100000</size>"), 19, "<size>10</size>");
    };
    XarBuild lying = buildXar(o);
    auto la = parseXar(readerOf(lying.bytes));
    ASSERT_TRUE(la) << la.error();
    auto inflated = extractXarFile(readerOf(lying.bytes), *la, la->files.front(), 1 << 20);
    ASSERT_FALSE(inflated);
    EXPECT_TRUE(mentions(inflated.error(), "inflates to more than the 10 bytes declared"));
}

TEST(XarMalformed, HostileTablesOfContentsAreRefused) {
    std::string deep = "<xar><toc>";
    for (int i = 0; i < 5000; ++i) deep += "<file>";
    EXPECT_TRUE(mentions(errorOf(withToc(deep)), "nested too deeply"));

    // Entities are never defined, so none can expand.
    EXPECT_TRUE(mentions(errorOf(withToc("<!DOCTYPE x [<!ENTITY a \"aaaaaaaa\"><!ENTITY b \"&a;&a;&a;\">]>"
                                         "<xar><toc><file><name>&b;</name></file></toc></xar>")),
                         "unknown entity &b;"));
    EXPECT_TRUE(mentions(errorOf(withToc("<xar><toc></xar>")), "</xar> closes <toc>"));
    EXPECT_TRUE(mentions(errorOf(withToc("<xar><tic/></xar>")), "no <xar><toc>"));
    EXPECT_TRUE(mentions(errorOf(withToc("<xar><toc><file><type>file</type></file></toc></xar>")), "has no name"));
    EXPECT_TRUE(mentions(errorOf(withToc("<xar><toc><file><name enctype=\"base64\">*</name></file></toc></xar>")),
                         "has no name"));
    EXPECT_TRUE(mentions(errorOf(withToc("<xar><toc><signature style=\"RSA\"><offset>0</offset><size>0</size>"
                                         "<X509Certificate>!!!</X509Certificate></signature></toc></xar>")),
                         "not valid base64"));
    std::string many = "<xar><toc>";
    for (int i = 0; i < 300000; ++i) many += "<a/>";
    EXPECT_TRUE(mentions(errorOf(withToc(many + "</toc></xar>")), "too many elements"));
}

TEST(TocXml, DecodesReferencesSectionsAndPrefixes) {
    auto root = parseXml(
        "<?xml version=\"1.0\"?>\n<!-- c --><ds:a xmlns:ds=\"u\" k='1 &amp; 2'>x &lt;&#65;&#x42;"
        "<![CDATA[<raw>&amp;]]><!-- skip --><b/> y</ds:a>\n");
    ASSERT_TRUE(root) << root.error();
    EXPECT_EQ(root->name, "a");
    EXPECT_EQ(root->attribute("k"), "1 & 2");
    EXPECT_EQ(root->text, "x <AB<raw>&amp; y");
    ASSERT_EQ(root->children.size(), 1u);
    EXPECT_EQ(root->children[0].name, "b");

    for (const char* bad : {"<a>", "<a></b>", "<a k=1/>", "<a k='1'k='2'/>", "<a k='1' k='2'/>", "<a>&#0;</a>",
                            "<a>&#xD800;</a>", "<a/><b/>", "", "text", "<a><!DOCTYPE x></a>"})
        EXPECT_FALSE(parseXml(bad)) << bad;
}

TEST(StapledTickets, BrokenTrailersAreErrors) {
    XarBuild b = sample();
    Bytes stapled = test::stapleTicket(b.bytes, test::TicketBuilder().naming(Bytes(20, 7)).build());
    const std::size_t last = stapled.size() - 16;

    Bytes lying = stapled;
    test::putU32be(lying, last + 8, 0x00FFFFFFu);  // little-endian length: huge
    auto huge = findStapledTicket(readerOf(lying), b.archiveEnd);
    ASSERT_FALSE(huge);
    EXPECT_TRUE(mentions(huge.error(), "more than lie after the archive"));

    Bytes noTerminator = stapled;
    noTerminator[b.archiveEnd] = 'X';
    EXPECT_FALSE(findStapledTicket(readerOf(noTerminator), b.archiveEnd));

    // The ticket may not reach back into the archive.
    auto overlapping = findStapledTicket(readerOf(stapled), b.archiveEnd + 8);
    EXPECT_FALSE(overlapping);
}

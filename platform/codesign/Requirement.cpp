// Reads compiled requirement expressions: Polish notation over 32-bit big-endian words, strings and
// hashes as a length then bytes padded to four, every read checked against the requirement's end.
#include "codesign/Requirement.h"

#include "base/ByteReader.h"
#include "codesign/CodeSignatureConstants.h"

namespace tessarin {

namespace {

// A cursor over one expression with a sticky error: the first failure is kept and stops the read.
class ExpressionReader {
public:
    ExpressionReader(ByteReader bytes, std::uint64_t start) : bytes_(bytes), pos_(start) {}

    const std::string& error() const { return error_; }

    bool read(RequirementExpr& out, int depth) {
        if (depth > kMaxRequirementDepth)
            return failAt("the requirement nests deeper than " + std::to_string(kMaxRequirementDepth) + " levels");
        if (++nodes_ > kMaxRequirementNodes)
            return failAt("the requirement holds more than " + std::to_string(kMaxRequirementNodes) + " terms");
        const std::uint64_t at = pos_;
        std::uint32_t word = 0;
        if (!u32(word, "an opcode")) return false;
        out.rawOp = word;
        out.op = word & ~opFlagMask;
        switch (out.op) {
        case opFalse:
        case opTrue:
        case opAppleAnchor:
        case opAppleGenericAnchor:
        case opTrustedCerts:
        case opNotarized:
        case opLegacyDevID: return true;
        case opIdent:
        case opNamedAnchor:
        case opNamedCode: return string(out.text);
        case opAnchorHash: return i32(out.certificate, "a certificate index") && data(out.hash, "a certificate hash");
        case opCDHash: return data(out.hash, "a CDHash");
        case opPlatform: return i32(out.platform, "a platform number");
        case opTrustedCert: return i32(out.certificate, "a certificate index");
        case opInfoKeyValue: out.match.op = matchEqual; return string(out.text) && string(out.match.value);
        case opInfoKeyField:
        case opEntitlementField: return string(out.text) && match(out.match);
        case opCertField: return i32(out.certificate, "a certificate index") && string(out.text) && match(out.match);
        case opCertGeneric:
        case opCertPolicy:
        case opCertFieldDate:
            return i32(out.certificate, "a certificate index") && data(out.oid, "an OID") && match(out.match);
        case opAnd:
        case opOr: out.operands.resize(2); return read(out.operands[0], depth + 1) && read(out.operands[1], depth + 1);
        case opNot: out.operands.resize(1); return read(out.operands[0], depth + 1);
        default: break;
        }
        // An opcode from a later format: one that carries its own size may be stepped over.
        if (word & (opGenericFalse | opGenericSkip)) {
            out.op = word;
            std::uint32_t size = 0;
            if (!u32(size, "the size of an unknown opcode")) return false;
            if (!skip(size))
                return failAt("unknown opcode " + std::to_string(word & ~opFlagMask) +
                              " claims more bytes than the requirement holds");
            if (word & opGenericFalse) return true;
            out.operands.resize(1);
            return read(out.operands[0], depth + 1);
        }
        pos_ = at;
        return failAt("the requirement uses opcode " + std::to_string(word) + ", which is not understood");
    }

private:
    bool failAt(std::string message) {
        if (error_.empty()) error_ = message + " (at byte " + std::to_string(pos_) + ")";
        return false;
    }
    bool u32(std::uint32_t& out, const char* what) {
        auto v = bytes_.u32be(pos_);
        if (!v) return failAt(std::string("the requirement ends before ") + what);
        out = *v;
        pos_ += 4;
        return true;
    }
    bool i32(std::int32_t& out, const char* what) {
        std::uint32_t v = 0;
        if (!u32(v, what)) return false;
        out = static_cast<std::int32_t>(v);
        return true;
    }
    // Length-prefixed bytes; the padding to a four-byte boundary may be cut short only by the end.
    bool span(ByteSpan& out, const char* what) {
        std::uint32_t length = 0;
        if (!u32(length, what)) return false;
        auto b = bytes_.bytes(pos_, length);
        if (!b)
            return failAt(std::string("the length of ") + what + " (" + std::to_string(length) +
                          " bytes) runs past the end of the requirement");
        out = *b;
        return skipPadded(length);
    }
    bool data(Bytes& out, const char* what) {
        ByteSpan b;
        if (!span(b, what)) return false;
        out = toBytes(b);
        return true;
    }
    bool string(std::string& out) {
        ByteSpan b;
        if (!span(b, "a string")) return false;
        out.assign(reinterpret_cast<const char*>(b.data()), b.size());
        return true;
    }
    bool skipPadded(std::uint64_t length) {
        const std::uint64_t padded = (length + 3) & ~std::uint64_t{3};
        pos_ = std::min<std::uint64_t>(pos_ + padded, bytes_.size());
        return true;
    }
    bool skip(std::uint64_t length) {
        if (!bytes_.contains(pos_, length)) return false;
        return skipPadded(length);
    }
    bool match(RequirementMatch& out) {
        std::uint32_t op = 0;
        if (!u32(op, "a match operation")) return false;
        if (op > matchAbsent)
            return failAt("the requirement uses match operation " + std::to_string(op) + ", which is not understood");
        out.op = static_cast<MatchOperation>(op);
        switch (out.op) {
        case matchExists:
        case matchAbsent: return true;
        case matchOn:
        case matchBefore:
        case matchAfter:
        case matchOnOrBefore:
        case matchOnOrAfter: {
            auto v = bytes_.u64be(pos_);
            if (!v) return failAt("the requirement ends before a date");
            out.time = static_cast<std::int64_t>(*v);
            pos_ += 8;
            return true;
        }
        default: return string(out.value);
        }
    }

    ByteReader bytes_;
    std::uint64_t pos_;
    std::uint32_t nodes_ = 0;
    std::string error_;
};

}  // namespace

Result<Requirement> parseRequirement(ByteSpan blob) {
    ByteReader r(blob);
    auto magic = r.u32be(0);
    auto length = r.u32be(4);
    auto kind = r.u32be(8);
    if (!magic || !length || !kind) return fail("the requirement is shorter than its header");
    if (*magic != CSMAGIC_REQUIREMENT) return fail("the requirement does not start with its magic number");
    if (*length < 12 || *length > r.size())
        return fail("the requirement's length (" + std::to_string(*length) + " bytes) does not fit in its " +
                    std::to_string(r.size()) + " bytes");
    if (*kind != kSecExpressionForm)
        return fail("the requirement is of kind " + std::to_string(*kind) + ", not a compiled expression");
    Requirement req;
    req.kind = *kind;
    ExpressionReader reader(*r.sub(0, *length), 12);
    if (!reader.read(req.expression, 1)) return fail(reader.error());
    return req;
}

Result<RequirementSet> parseRequirementSet(ByteSpan blob) {
    ByteReader r(blob);
    auto magic = r.u32be(0);
    auto length = r.u32be(4);
    auto count = r.u32be(8);
    if (!magic || !length || !count) return fail("the requirements set is shorter than its header");
    if (*magic != CSMAGIC_REQUIREMENTS) return fail("the requirements set does not start with its magic number");
    if (*length < 12 || *length > r.size())
        return fail("the requirements set's length (" + std::to_string(*length) + " bytes) does not fit in its " +
                    std::to_string(r.size()) + " bytes");
    if (*count > (std::uint64_t{*length} - 12) / 8)
        return fail("the requirements set claims " + std::to_string(*count) + " requirements, more than its " +
                    std::to_string(*length) + " bytes can index");
    // Five types are defined; a set listing many more would only make every entry be read again.
    if (*count > kMaxRequirementSetEntries)
        return fail("the requirements set claims " + std::to_string(*count) + " requirements; at most " +
                    std::to_string(kMaxRequirementSetEntries) + " are read");
    ByteReader set = *r.sub(0, *length);
    RequirementSet out;
    out.entries.reserve(*count);
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::uint32_t type = *set.u32be(12 + std::uint64_t{i} * 8);
        const std::uint32_t offset = *set.u32be(16 + std::uint64_t{i} * 8);
        auto blobLength = set.u32be(std::uint64_t{offset} + 4);
        if (offset < 12 + std::uint64_t{*count} * 8 || !blobLength || !set.contains(offset, *blobLength))
            return fail("requirement " + std::to_string(i + 1) + " of the set lies outside it");
        for (const auto& e : out.entries)
            if (e.type == type) return fail("the requirements set lists type " + std::to_string(type) + " twice");
        auto req = parseRequirement(*set.bytes(offset, *blobLength));
        if (!req) return fail("requirement " + std::to_string(i + 1) + " of the set: " + req.error());
        out.entries.push_back({type, std::move(*req)});
    }
    return out;
}

std::optional<std::string> oidText(const Bytes& oid) {
    if (oid.empty() || (oid.back() & 0x80)) return std::nullopt;
    std::string out;
    std::uint64_t arc = 0;
    bool first = true;
    bool start = true;
    for (std::uint8_t b : oid) {
        if (start && b == 0x80) return std::nullopt;  // a padded arc is not DER
        if (arc > (UINT64_MAX >> 7)) return std::nullopt;
        arc = (arc << 7) | (b & 0x7f);
        start = (b & 0x80) == 0;
        if (!start) continue;
        if (first) {
            const std::uint64_t top = arc < 40 ? 0 : arc < 80 ? 1 : 2;
            out = std::to_string(top) + "." + std::to_string(arc - top * 40);
            first = false;
        } else {
            out += "." + std::to_string(arc);
        }
        arc = 0;
    }
    return out;
}

}  // namespace tessarin

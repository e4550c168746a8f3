// Decodes DER entitlements: [APPLICATION 16] { INTEGER version, [16] { SEQUENCE { key, value } ... } }.
#include "codesign/DerEntitlements.h"

#include "base/Der.h"
#include "base/Hex.h"

namespace tessarin {
namespace {

constexpr std::uint8_t DER_BOOLEAN = 0x01, DER_INTEGER = 0x02, DER_UTF8_STRING = 0x0c;
constexpr std::uint8_t DER_ENTITLEMENTS = 0x70;  // [APPLICATION 16], constructed
constexpr std::uint8_t DER_DICTIONARY = 0xb0;    // [16], constructed
constexpr unsigned kMaxDepth = 32;
constexpr std::uint64_t kMaxValues = 1u << 16;

class Decoder {
public:
    explicit Decoder(ByteSpan bytes) : r_(bytes) {}

    Result<PlistValue> document() {
        auto outer = readDerElement(r_, 0);
        if (!outer || outer->tag != DER_ENTITLEMENTS || outer->end() != r_.size())
            return fail("malformed DER entitlements (no entitlements element spans the blob)");
        auto version = readDerElement(r_, outer->contentOffset());
        if (!version || version->tag != DER_INTEGER || version->end() > outer->end())
            return fail("malformed DER entitlements (no version at offset " + std::to_string(outer->contentOffset()) +
                        ")");
        if (version->end() == outer->end()) return PlistValue(PlistDict{});
        auto dict = readDerElement(r_, version->end());
        if (!dict || dict->tag != DER_DICTIONARY || dict->end() != outer->end())
            return fail("malformed DER entitlements (no dictionary after the version)");
        return value(*dict, 0);
    }

private:
    Result<PlistValue> value(const DerElement& e, unsigned depth) {
        if (++values_ > kMaxValues) return fail("malformed DER entitlements (more than 65536 values)");
        if (depth > kMaxDepth) return bad(e, "nested too deeply");
        const ByteSpan content = *r_.bytes(e.contentOffset(), e.contentLength);
        switch (e.tag) {
        case DER_BOOLEAN:
            if (e.contentLength != 1) return bad(e, "a boolean is not one byte");
            return PlistValue(static_cast<std::uint8_t>(content[0]) != 0);
        case DER_INTEGER: {
            if (e.contentLength == 0 || e.contentLength > 8) return bad(e, "an integer is not 1 to 8 bytes");
            std::int64_t n = static_cast<std::int8_t>(content[0]);  // two's complement: the sign from the first byte
            for (std::size_t i = 1; i < content.size(); ++i)
                n = static_cast<std::int64_t>((static_cast<std::uint64_t>(n) << 8) |
                                              static_cast<std::uint8_t>(content[i]));
            return PlistValue(n);
        }
        case DER_UTF8_STRING:
            return PlistValue(std::string(reinterpret_cast<const char*>(content.data()), content.size()));
        case DER_SEQUENCE: {
            PlistArray items;
            for (std::uint64_t at = e.contentOffset(); at < e.end();) {
                auto child = readDerElement(r_, at);
                if (!child || child->end() > e.end()) return bad(e, "an array element runs past its array");
                auto v = value(*child, depth + 1);
                if (!v) return v;
                items.push_back(std::move(*v));
                at = child->end();
            }
            return PlistValue(std::move(items));
        }
        case DER_DICTIONARY: {
            PlistDict dict;
            for (std::uint64_t at = e.contentOffset(); at < e.end();) {
                auto pair = readDerElement(r_, at);
                if (!pair || pair->tag != DER_SEQUENCE || pair->end() > e.end())
                    return bad(e, "a dictionary entry is no key-value sequence");
                auto key = readDerElement(r_, pair->contentOffset());
                if (!key || key->tag != DER_UTF8_STRING || key->end() >= pair->end())
                    return bad(*pair, "a dictionary key is no string");
                auto member = readDerElement(r_, key->end());
                if (!member || member->end() != pair->end()) return bad(*pair, "a dictionary entry holds no one value");
                auto v = value(*member, depth + 1);
                if (!v) return v;
                auto k = r_.bytes(key->contentOffset(), key->contentLength);
                dict[std::string(reinterpret_cast<const char*>(k->data()), k->size())] = std::move(*v);
                at = pair->end();
            }
            return PlistValue(std::move(dict));
        }
        default: return bad(e, "tag " + hexNumber(e.tag) + " is no entitlement value");
        }
    }

    static Result<PlistValue> bad(const DerElement& e, const std::string& what) {
        return fail("malformed DER entitlements (" + what + " at offset " + std::to_string(e.offset) + ")");
    }

    ByteReader r_;
    std::uint64_t values_ = 0;
};

}  // namespace

Result<PlistValue> decodeDerEntitlements(ByteSpan payload) { return Decoder(payload).document(); }

}  // namespace tessarin

// Compiled requirements for tests, written the way Apple's requirement compiler lays them out.
#include "RequirementBuilder.h"

#include <sstream>

#include "codesign/CodeSignatureConstants.h"

namespace tessarin::test {

namespace {
void put32(std::vector<std::uint8_t>& out, std::uint32_t w) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(w >> shift));
}
}  // namespace

RequirementBuilder& RequirementBuilder::word(std::uint32_t w) {
    put32(bytes_, w);
    return *this;
}

RequirementBuilder& RequirementBuilder::data(const std::vector<std::uint8_t>& bytes) {
    word(static_cast<std::uint32_t>(bytes.size()));
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    while (bytes_.size() % 4) bytes_.push_back(0);
    return *this;
}

RequirementBuilder& RequirementBuilder::data(const std::string& text) {
    return data(std::vector<std::uint8_t>(text.begin(), text.end()));
}

RequirementBuilder& RequirementBuilder::raw(const std::vector<std::uint8_t>& bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

std::vector<std::uint8_t> RequirementBuilder::requirement() const {
    std::vector<std::uint8_t> out;
    put32(out, CSMAGIC_REQUIREMENT);
    put32(out, static_cast<std::uint32_t>(12 + bytes_.size()));
    put32(out, kSecExpressionForm);
    out.insert(out.end(), bytes_.begin(), bytes_.end());
    return out;
}

std::vector<std::uint8_t> RequirementBuilder::set(
    const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>& entries) {
    std::vector<std::uint8_t> index, blobs;
    std::uint32_t offset = static_cast<std::uint32_t>(12 + 8 * entries.size());
    for (const auto& [type, blob] : entries) {
        put32(index, type);
        put32(index, offset + static_cast<std::uint32_t>(blobs.size()));
        blobs.insert(blobs.end(), blob.begin(), blob.end());
    }
    std::vector<std::uint8_t> out;
    put32(out, CSMAGIC_REQUIREMENTS);
    put32(out, static_cast<std::uint32_t>(12 + index.size() + blobs.size()));
    put32(out, static_cast<std::uint32_t>(entries.size()));
    out.insert(out.end(), index.begin(), index.end());
    out.insert(out.end(), blobs.begin(), blobs.end());
    return out;
}

std::vector<std::uint8_t> RequirementBuilder::oid(const std::string& dotted) {
    std::vector<std::uint64_t> arcs;
    std::stringstream in(dotted);
    std::string part;
    while (std::getline(in, part, '.')) arcs.push_back(std::stoull(part));
    std::vector<std::uint8_t> out;
    auto base128 = [&](std::uint64_t v) {
        std::vector<std::uint8_t> digits;
        do {
            digits.insert(digits.begin(), static_cast<std::uint8_t>((v & 0x7f) | (digits.empty() ? 0 : 0x80)));
            v >>= 7;
        } while (v);
        out.insert(out.end(), digits.begin(), digits.end());
    };
    base128(arcs.at(0) * 40 + arcs.at(1));
    for (std::size_t i = 2; i < arcs.size(); ++i) base128(arcs[i]);
    return out;
}

RequirementBuilder RequirementBuilder::developerId(const std::string& identifier, const std::string& teamId) {
    RequirementBuilder b;
    b.op(opAnd).ident(identifier);
    b.op(opAnd).op(opAppleGenericAnchor);
    b.op(opAnd).certGeneric(1, "1.2.840.113635.100.6.2.6").matchWith(matchExists);
    b.op(opAnd).certGeneric(kLeafCertificate, "1.2.840.113635.100.6.1.13").matchWith(matchExists);
    b.certField(kLeafCertificate, "subject.OU").matchWith(matchEqual, teamId);
    return b;
}

}  // namespace tessarin::test

// Builds compiled code requirements for tests: expressions word by word in Polish notation, wrapped
// as single requirements (0xfade0c00) or requirement sets (0xfade0c01).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "codesign/Requirement.h"

namespace tessarin::test {

class RequirementBuilder {
public:
    RequirementBuilder& word(std::uint32_t w);
    RequirementBuilder& data(const std::vector<std::uint8_t>& bytes);  // length, bytes, padding to four
    RequirementBuilder& data(const std::string& text);
    RequirementBuilder& raw(const std::vector<std::uint8_t>& bytes);  // as is, no length

    // Opcodes with their operands; binary ones are followed by their two operands.
    RequirementBuilder& op(ExprOp o) { return word(o); }
    RequirementBuilder& ident(const std::string& id) { return word(opIdent).data(id); }
    RequirementBuilder& cdhash(const std::vector<std::uint8_t>& h) { return word(opCDHash).data(h); }
    RequirementBuilder& anchorHash(std::int32_t slot, const std::vector<std::uint8_t>& h) {
        return word(opAnchorHash).word(static_cast<std::uint32_t>(slot)).data(h);
    }
    RequirementBuilder& certField(std::int32_t slot, const std::string& field) {
        return word(opCertField).word(static_cast<std::uint32_t>(slot)).data(field);
    }
    RequirementBuilder& certGeneric(std::int32_t slot, const std::string& dottedOid, ExprOp o = opCertGeneric) {
        return word(o).word(static_cast<std::uint32_t>(slot)).data(oid(dottedOid));
    }
    RequirementBuilder& infoKey(const std::string& key) { return word(opInfoKeyField).data(key); }
    RequirementBuilder& entitlement(const std::string& key) { return word(opEntitlementField).data(key); }
    RequirementBuilder& matchWith(MatchOperation m) { return word(m); }
    RequirementBuilder& matchWith(MatchOperation m, const std::string& value) { return word(m).data(value); }

    // The expression wrapped as a requirement blob.
    std::vector<std::uint8_t> requirement() const;

    // A requirements set of (type, requirement blob) entries.
    static std::vector<std::uint8_t> set(
        const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>& entries);
    // DER content bytes of a dotted OID.
    static std::vector<std::uint8_t> oid(const std::string& dotted);
    // The designated requirement Developer ID signatures carry.
    static RequirementBuilder developerId(const std::string& identifier, const std::string& teamId);

private:
    std::vector<std::uint8_t> bytes_;
};

}  // namespace tessarin::test

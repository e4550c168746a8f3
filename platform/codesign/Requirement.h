// Code requirements: the compiled expressions of a requirements set (0xfade0c01) and of single
// requirements (0xfade0c00), read through ByteReader into a plain tree.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/Bytes.h"
#include "base/Result.h"

namespace tessarin {

// Requirement kinds and set types, under the names the format's own headers give them.
inline constexpr std::uint32_t kSecExpressionForm = 1;  // the only kind with a compiled expression
inline constexpr std::uint32_t kSecHostRequirementType = 1;
inline constexpr std::uint32_t kSecGuestRequirementType = 2;
inline constexpr std::uint32_t kSecDesignatedRequirementType = 3;
inline constexpr std::uint32_t kSecLibraryRequirementType = 4;
inline constexpr std::uint32_t kSecPluginRequirementType = 5;

// Expression opcodes; the high byte holds flags that let a reader skip opcodes it does not know.
enum ExprOp : std::uint32_t {
    opFalse = 0,
    opTrue = 1,
    opIdent = 2,
    opAppleAnchor = 3,
    opAnchorHash = 4,
    opInfoKeyValue = 5,
    opAnd = 6,
    opOr = 7,
    opCDHash = 8,
    opNot = 9,
    opInfoKeyField = 10,
    opCertField = 11,
    opTrustedCert = 12,
    opTrustedCerts = 13,
    opCertGeneric = 14,
    opAppleGenericAnchor = 15,
    opEntitlementField = 16,
    opCertPolicy = 17,
    opNamedAnchor = 18,
    opNamedCode = 19,
    opPlatform = 20,
    opNotarized = 21,
    opCertFieldDate = 22,
    opLegacyDevID = 23,
};
inline constexpr std::uint32_t opFlagMask = 0xFF000000;
inline constexpr std::uint32_t opGenericFalse = 0x80000000;  // has a size field; reads as false
inline constexpr std::uint32_t opGenericSkip = 0x40000000;   // has a size field; skipped

enum MatchOperation : std::uint32_t {
    matchExists = 0,
    matchEqual = 1,
    matchContains = 2,
    matchBeginsWith = 3,
    matchEndsWith = 4,
    matchLessThan = 5,
    matchGreaterThan = 6,
    matchLessEqual = 7,
    matchGreaterEqual = 8,
    matchOn = 9,
    matchBefore = 10,
    matchAfter = 11,
    matchOnOrBefore = 12,
    matchOnOrAfter = 13,
    matchAbsent = 14,
};

// Certificate positions: 0 the leaf, n the n-th above it, -1 the anchor, -2 the one below it.
inline constexpr std::int32_t kLeafCertificate = 0;
inline constexpr std::int32_t kAnchorCertificate = -1;

// Expressions nest no deeper than this; real requirements stay under a dozen levels.
inline constexpr int kMaxRequirementDepth = 64;
// Nodes one requirement may hold: real ones have a few dozen; the bound keeps a huge blob from
// becoming a huge tree.
inline constexpr std::uint32_t kMaxRequirementNodes = 4096;
// A set holds one requirement per type and five types are defined.
inline constexpr std::uint32_t kMaxRequirementSetEntries = 16;

struct RequirementMatch {
    MatchOperation op = matchExists;
    std::string value;      // the compared string (bytes as stored), for the string operations
    std::int64_t time = 0;  // seconds since 2001-01-01, for the date operations

    bool operator==(const RequirementMatch&) const = default;
};

// One node. Which members matter depends on `op`:
//   opIdent, opNamedAnchor, opNamedCode: text
//   opAnchorHash: certificate, hash;  opCDHash: hash;  opPlatform: platform
//   opInfoKeyValue: text (key), match.value;  opInfoKeyField, opEntitlementField: text (key), match
//   opCertField: certificate, text (field name), match
//   opCertGeneric, opCertPolicy, opCertFieldDate: certificate, oid (DER content bytes), match
//   opTrustedCert: certificate;  opAnd, opOr: two operands;  opNot: one operand
//   a generic opcode (flag bits set, number unknown): rawOp; with opGenericSkip one operand, the
//   expression that follows what was skipped.
struct RequirementExpr {
    std::uint32_t op = opFalse;  // the opcode without its flag byte, or the whole word for a generic one
    std::uint32_t rawOp = 0;     // the word as stored
    std::vector<RequirementExpr> operands;
    std::int32_t certificate = 0;
    std::int32_t platform = 0;
    std::string text;
    Bytes hash;
    Bytes oid;
    RequirementMatch match;

    bool isGeneric() const { return (rawOp & (opGenericFalse | opGenericSkip)) != 0 && op > opLegacyDevID; }
    bool operator==(const RequirementExpr&) const = default;
};

struct Requirement {
    std::uint32_t kind = kSecExpressionForm;
    RequirementExpr expression;

    bool operator==(const Requirement&) const = default;
};

struct RequirementSetEntry {
    std::uint32_t type = 0;  // kSec*RequirementType
    Requirement requirement;
};

struct RequirementSet {
    std::vector<RequirementSetEntry> entries;  // in the order the set lists them
    const Requirement* find(std::uint32_t type) const {
        for (const auto& e : entries)
            if (e.type == type) return &e.requirement;
        return nullptr;
    }
};

// Reads one requirement blob (magic 0xfade0c00, length, kind, expression). Refuses a length past the
// bytes, a kind other than the expression form, nesting deeper than kMaxRequirementDepth, data
// lengths past the blob, and opcodes it cannot read past, with a sentence naming what was wrong.
Result<Requirement> parseRequirement(ByteSpan blob);

// Reads a requirements set (magic 0xfade0c01, length, count, count x {type, offset}, requirements).
Result<RequirementSet> parseRequirementSet(ByteSpan blob);

// The dotted form of an OID's DER content bytes ("1.2.840.113635.100.6.2.6"); nothing when the bytes
// are no well-formed OID.
std::optional<std::string> oidText(const Bytes& oid);

}  // namespace tessarin

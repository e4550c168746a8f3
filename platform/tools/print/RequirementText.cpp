// Prints requirement trees as Apple's requirement language: "and" binds tighter than "or", "!"
// binds tightest, and parentheses appear only where the tree needs them.
#include "tools/print/RequirementText.h"

#include <ctime>

#include "base/Hex.h"
#include "codesign/RequirementParser.h"

namespace tessarin {

namespace {

enum SyntaxLevel { slPrimary, slAnd, slOr, slTop };

bool isAsciiAlnum(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// A string as the requirement language writes it: bare when it is a plain word (letters and digits,
// dots too in keys, starting with a letter, no keyword), quoted when printable, else hexadecimal.
// Control characters count as unprintable, so a line break in an identifier comes out as hex.
std::string data(const std::string& s, bool dotOk) {
    enum { simple, printable, binary } mode = s.empty() ? printable : simple;
    for (std::size_t i = 0; i < s.size() && mode != binary; ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (isAsciiAlnum(c) || (c == '.' && dotOk)) {
            if (i == 0 && !((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) mode = printable;
        } else if (c >= 0x20 && c < 0x7f) {
            if (mode == simple) mode = printable;
        } else {
            mode = binary;
        }
    }
    if (mode == simple && isRequirementKeyword(s)) mode = printable;
    if (mode == simple) return s;
    if (mode == binary) return "0x" + hex(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string hashData(const Bytes& hash) { return "H\"" + hex(hash) + "\""; }

std::string certSlot(std::int32_t slot) {
    if (slot == kAnchorCertificate) return " root";
    if (slot == kLeafCertificate) return " leaf";
    return " " + std::to_string(slot);
}

std::string oidOrHex(const Bytes& oid) {
    if (auto text = oidText(oid)) return *text;
    return "0x" + hex(oid);
}

// Seconds since 2001-01-01 as a UTC date "<2024-05-01 00:00:00 +0000>".
std::string timestamp(std::int64_t seconds) {
    constexpr std::int64_t k2001 = 978307200;
    constexpr std::int64_t kLimit = std::int64_t{1} << 40;  // well inside what gmtime handles
    if (seconds < -kLimit || seconds > kLimit) return "<" + std::to_string(seconds) + ">";
    std::time_t t = static_cast<std::time_t>(seconds + k2001);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return "<" + std::to_string(seconds) + ">";
    char buf[64];
    std::strftime(buf, sizeof buf, "<%Y-%m-%d %H:%M:%S +0000>", &tm);
    return buf;
}

std::string match(const RequirementMatch& m) {
    switch (m.op) {
    case matchExists: return " /* exists */";
    case matchEqual: return " = " + data(m.value, false);
    case matchContains: return " ~ " + data(m.value, false);
    case matchBeginsWith: return " = " + data(m.value, false) + "*";
    case matchEndsWith: return " = *" + data(m.value, false);
    case matchLessThan: return " < " + data(m.value, false);
    case matchGreaterThan: return " > " + data(m.value, false);
    case matchLessEqual: return " <= " + data(m.value, false);
    case matchGreaterEqual: return " >= " + data(m.value, false);
    case matchOn: return " = " + timestamp(m.time);
    case matchBefore: return " < " + timestamp(m.time);
    case matchAfter: return " > " + timestamp(m.time);
    case matchOnOrBefore: return " <= " + timestamp(m.time);
    case matchOnOrAfter: return " >= " + timestamp(m.time);
    case matchAbsent: return " absent";
    }
    return " /* unknown match */";
}

void expr(std::string& out, const RequirementExpr& e, SyntaxLevel level) {
    auto operand = [&](std::size_t i, SyntaxLevel l) {
        if (i < e.operands.size())
            expr(out, e.operands[i], l);
        else
            out += "/* missing */";
    };
    switch (e.op) {
    case opFalse: out += "never"; return;
    case opTrue: out += "always"; return;
    case opIdent: out += "identifier " + data(e.text, false); return;
    case opAppleAnchor: out += "anchor apple"; return;
    case opAppleGenericAnchor: out += "anchor apple generic"; return;
    case opAnchorHash: out += "certificate" + certSlot(e.certificate) + " = " + hashData(e.hash); return;
    case opInfoKeyValue: out += "info[" + data(e.text, true) + "] = " + data(e.match.value, false); return;
    case opAnd:
    case opOr: {
        const SyntaxLevel own = e.op == opAnd ? slAnd : slOr;
        if (level < own) out += "(";
        operand(0, own);
        out += e.op == opAnd ? " and " : " or ";
        operand(1, own);
        if (level < own) out += ")";
        return;
    }
    case opNot:
        out += "! ";
        operand(0, slPrimary);
        return;
    case opCDHash: out += "cdhash " + hashData(e.hash); return;
    case opInfoKeyField: out += "info[" + data(e.text, true) + "]" + match(e.match); return;
    case opEntitlementField: out += "entitlement[" + data(e.text, true) + "]" + match(e.match); return;
    case opCertField:
        out += "certificate" + certSlot(e.certificate) + "[" + data(e.text, true) + "]" + match(e.match);
        return;
    case opCertGeneric:
        out += "certificate" + certSlot(e.certificate) + "[field." + oidOrHex(e.oid) + "]" + match(e.match);
        return;
    case opCertPolicy:
        out += "certificate" + certSlot(e.certificate) + "[policy." + oidOrHex(e.oid) + "]" + match(e.match);
        return;
    case opCertFieldDate:
        out += "certificate" + certSlot(e.certificate) + "[timestamp." + oidOrHex(e.oid) + "]" + match(e.match);
        return;
    case opTrustedCert: out += "certificate" + certSlot(e.certificate) + " trusted"; return;
    case opTrustedCerts: out += "anchor trusted"; return;
    case opNamedAnchor: out += "anchor apple " + data(e.text, false); return;
    case opNamedCode: out += "(" + data(e.text, false) + ")"; return;
    case opPlatform: out += "platform = " + std::to_string(e.platform); return;
    case opNotarized: out += "notarized"; return;
    case opLegacyDevID: out += "legacy"; return;
    default: break;
    }
    const std::string number = std::to_string(e.rawOp & ~opFlagMask);
    if (e.isGeneric() && (e.rawOp & opGenericFalse)) {
        out += "false /* opcode " + number + " */";
    } else if (e.isGeneric()) {
        out += "/* opcode " + number + " */ ";
        operand(0, level);
    } else {
        out += "/* opcode " + std::to_string(e.rawOp) + " not understood */";
    }
}

}  // namespace

std::string requirementText(const Requirement& requirement) {
    std::string out;
    expr(out, requirement.expression, slTop);
    return out;
}

std::string requirementTypeName(std::uint32_t type) {
    static const char* const names[] = {"invalid", "host", "guest", "designated", "library", "plugin"};
    if (type < sizeof names / sizeof names[0]) return names[type];
    return "/*unknown type*/ " + std::to_string(type);
}

std::string requirementSetText(const RequirementSet& set) {
    std::string out;
    for (const auto& entry : set.entries)
        out += requirementTypeName(entry.type) + " => " + requirementText(entry.requirement) + "\n";
    return out;
}

}  // namespace tessarin

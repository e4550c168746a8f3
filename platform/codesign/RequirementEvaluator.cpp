// Evaluates requirement trees. Anything the context cannot vouch for (trust settings, named anchors,
// dates inside extensions) evaluates false: a requirement may fail here that macOS would pass, never
// the other way round.
#include "codesign/RequirementEvaluator.h"

#include <algorithm>
#include <cctype>

namespace tessarin {

namespace {

// Strings compared as CFStringCompare with kCFCompareNumerically: runs of digits by their value.
int compareNumerically(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    auto digit = [](char c) { return c >= '0' && c <= '9'; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            std::size_t si = i, sj = j;
            while (si + 1 < ei && a[si] == '0') ++si;
            while (sj + 1 < ej && b[sj] == '0') ++sj;
            if (ei - si != ej - sj) return ei - si < ej - sj ? -1 : 1;
            int c = a.compare(si, ei - si, b, sj, ej - sj);
            if (c != 0) return c < 0 ? -1 : 1;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool endsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// One candidate value against a match: nullptr is a value that is not there at all.
bool matches(const RequirementMatch& m, const PlistValue* candidate) {
    if (!candidate) return m.op == matchAbsent;
    if (m.op == matchAbsent) return false;
    // An array matches when any of its members does.
    if (const PlistArray* array = candidate->array()) {
        for (const auto& item : *array)
            if (matches(m, &item)) return true;
    }
    const std::string* s = candidate->string();
    switch (m.op) {
    case matchExists: {
        const bool* b = candidate->boolean();
        return !(b && !*b);
    }
    case matchEqual: return s && *s == m.value;
    case matchContains: return s && s->find(m.value) != std::string::npos;
    case matchBeginsWith: return s && s->rfind(m.value, 0) == 0;
    case matchEndsWith: return s && endsWith(*s, m.value);
    case matchLessThan: return s && compareNumerically(*s, m.value) < 0;
    case matchGreaterThan: return s && compareNumerically(*s, m.value) > 0;
    case matchLessEqual: return s && compareNumerically(*s, m.value) <= 0;
    case matchGreaterEqual: return s && compareNumerically(*s, m.value) >= 0;
    case matchOn:
    case matchBefore:
    case matchAfter:
    case matchOnOrBefore:
    case matchOnOrAfter: {
        const auto* date = std::get_if<PlistDate>(&candidate->value);
        if (!date) return false;
        const double t = date->secondsSince2001, want = static_cast<double>(m.time);
        switch (m.op) {
        case matchOn: return t == want;
        case matchBefore: return t < want;
        case matchAfter: return t > want;
        case matchOnOrBefore: return t <= want;
        default: return t >= want;
        }
    }
    case matchAbsent: return false;
    }
    return false;
}

bool hasString(const std::vector<std::string>& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

class Evaluator {
public:
    explicit Evaluator(const RequirementContext& c) : c_(c) {}
    const std::string& error() const { return error_; }

    bool eval(const RequirementExpr& e, int depth) {
        if (depth > kMaxRequirementDepth) return broken("the requirement nests too deeply");
        switch (e.op) {
        case opFalse: return false;
        case opTrue: return true;
        case opIdent: return e.text == c_.identifier;
        case opAppleGenericAnchor: return c_.anchoredInAppleRoot();
        case opAppleAnchor: return appleSigned();
        case opAnchorHash: {
            const CertificateFields* cert = certificate(e.certificate);
            if (!cert) return false;
            return (e.hash.size() == cert->sha1.size() && e.hash == cert->sha1) ||
                   (e.hash.size() == cert->sha256.size() && e.hash == cert->sha256);
        }
        case opCDHash:
            return !e.hash.empty() && std::find(c_.cdhashes.begin(), c_.cdhashes.end(), e.hash) != c_.cdhashes.end();
        case opInfoKeyValue:
        case opInfoKeyField: return dictionaryValue(c_.info, e);
        case opEntitlementField: return dictionaryValue(c_.entitlements, e);
        case opAnd:
        case opOr: {
            if (e.operands.size() != 2) return broken("an \"and\" or \"or\" without two operands");
            // Both sides are evaluated so that a malformed one is reported whatever the other says.
            const bool a = eval(e.operands[0], depth + 1);
            const bool b = eval(e.operands[1], depth + 1);
            return e.op == opAnd ? (a && b) : (a || b);
        }
        case opNot:
            if (e.operands.size() != 1) return broken("a \"not\" without its operand");
            return !eval(e.operands[0], depth + 1);
        case opCertField: {
            const CertificateFields* cert = certificate(e.certificate);
            if (!cert) return false;
            if (e.text == "email") {
                PlistArray emails(cert->emails.begin(), cert->emails.end());
                PlistValue v(emails);
                return matches(e.match, emails.empty() ? nullptr : &v);
            }
            if (e.text.rfind("subject.", 0) != 0) return false;  // fields not known here never hold
            const std::string* value = cert->subjectValue(e.text.substr(8));
            PlistValue v = value ? PlistValue(*value) : PlistValue();
            return matches(e.match, value ? &v : nullptr);
        }
        case opCertGeneric:
        case opCertPolicy: {
            auto oid = oidText(e.oid);
            if (!oid) return broken("a certificate field names a malformed OID");
            const CertificateFields* cert = certificate(e.certificate);
            if (!cert) return false;
            const bool present = hasString(e.op == opCertGeneric ? cert->extensionOids : cert->policyOids, *oid);
            PlistValue yes(true);
            return matches(e.match, present ? &yes : nullptr);
        }
        case opCertFieldDate: {
            auto oid = oidText(e.oid);
            if (!oid) return broken("a certificate field names a malformed OID");
            const CertificateFields* cert = certificate(e.certificate);
            // The extension's date is not read: only its absence can be judged.
            return cert && e.match.op == matchAbsent && !hasString(cert->extensionOids, *oid);
        }
        case opTrustedCerts: return c_.anchoredInAppleRoot();
        case opTrustedCert: {
            // No user trust settings exist here; only a shipped root is trusted, as an anchor.
            const std::int32_t count = static_cast<std::int32_t>(c_.chain.size());
            const bool anchorSlot = e.certificate == kAnchorCertificate || (count > 0 && e.certificate == count - 1);
            return anchorSlot && c_.anchoredInAppleRoot();
        }
        case opNamedAnchor:
        case opNamedCode: return false;
        case opPlatform: return c_.platform != 0 && static_cast<std::int32_t>(c_.platform) == e.platform;
        case opNotarized: return c_.notarized;
        case opLegacyDevID: return c_.legacy;
        default: break;
        }
        if (e.isGeneric()) {
            if (e.rawOp & opGenericFalse) return false;
            if (e.operands.size() != 1) return broken("a skipped opcode without the expression that follows it");
            return eval(e.operands[0], depth + 1);
        }
        return broken("the requirement uses opcode " + std::to_string(e.rawOp) + ", which is not understood");
    }

private:
    bool broken(std::string message) {
        if (error_.empty()) error_ = std::move(message);
        return false;
    }

    const CertificateFields* certificate(std::int32_t index) const {
        return c_.chainValid ? c_.certificate(index) : nullptr;
    }

    bool dictionaryValue(const std::optional<PlistDict>& dict, const RequirementExpr& e) const {
        const PlistValue* value = nullptr;
        if (dict) {
            auto it = dict->find(e.text);
            if (it != dict->end()) value = &it->second;
        }
        return matches(e.match, value);
    }

    // Apple's own code: an Apple root, under Apple's code signing authority.
    bool appleSigned() const {
        if (!c_.anchoredInAppleRoot()) return false;
        const CertificateFields* authority = certificate(-2);
        if (!authority) return false;
        const std::string* cn = authority->subjectValue("CN");
        const std::string* o = authority->subjectValue("O");
        return cn && o && *cn == "Apple Code Signing Certification Authority" && *o == "Apple Inc.";
    }

    const RequirementContext& c_;
    std::string error_;
};

}  // namespace

const CertificateFields* RequirementContext::certificate(std::int32_t index) const {
    const std::int64_t count = static_cast<std::int64_t>(chain.size());
    std::int64_t i = index;
    if (i < 0) i += count;
    if (i < 0 || i >= count) return nullptr;
    return &chain[static_cast<std::size_t>(i)];
}

bool RequirementContext::anchoredInAppleRoot() const {
    if (!chainValid || chain.empty()) return false;
    const Bytes& top = chain.back().der;
    return std::any_of(appleRootsDer.begin(), appleRootsDer.end(), [&](const Bytes& root) { return root == top; });
}

RequirementResult evaluate(const Requirement& requirement, const RequirementContext& context) {
    RequirementResult result;
    if (requirement.kind != kSecExpressionForm) {
        result.error = "the requirement is not a compiled expression";
        return result;
    }
    Evaluator evaluator(context);
    const bool holds = evaluator.eval(requirement.expression, 1);
    result.error = evaluator.error();
    result.holds = holds && result.error.empty();
    return result;
}

}  // namespace tessarin

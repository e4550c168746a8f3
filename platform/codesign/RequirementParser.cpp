// A recursive-descent parser for the requirement language over the lexer's tokens: "or" binds
// loosest, then "and", then "!"; every nesting and every node is counted against the compiled bounds.
#include "codesign/RequirementParser.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "codesign/RequirementLexer.h"

namespace tessarin {

namespace {

using requirement_text::at;
using requirement_text::dateSeconds;
using requirement_text::lex;
using requirement_text::oidBytes;
using requirement_text::Tok;
using requirement_text::Token;

bool hasPrefix(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

class Parser {
public:
    explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}

    const std::string& error() const { return error_; }

    // One requirement: an expression and any semicolons after it.
    bool requirement(Requirement& out) {
        nodes_ = 0;
        int height = 0;
        if (!expr(out.expression, height, 0)) return false;
        while (peek().kind == Tok::Semi) ++i_;
        return true;
    }

    bool atEnd() const { return peek().kind == Tok::End; }
    bool expectEnd(const char* after) {
        if (atEnd()) return true;
        return failHere(std::string("unexpected ") + describe(peek()) + " after " + after);
    }

    // The type before "=>" in a set.
    bool requirementType(std::uint32_t& type) {
        static const std::pair<const char*, std::uint32_t> names[] = {
            {"invalid", 0},
            {"host", kSecHostRequirementType},
            {"guest", kSecGuestRequirementType},
            {"designated", kSecDesignatedRequirementType},
            {"library", kSecLibraryRequirementType},
            {"plugin", kSecPluginRequirementType},
        };
        const Token& t = peek();
        bool known = false;
        if (t.kind == Tok::Word)
            for (const auto& [name, value] : names)
                if (t.text == name) {
                    type = value;
                    known = true;
                }
        if (t.kind == Tok::Integer) {
            std::int32_t n = 0;
            if (!integer(n)) return false;
            type = static_cast<std::uint32_t>(n);
            --i_;
            known = true;
        }
        if (!known)
            return failHere("expected a requirement type (designated, host, guest, library or plugin), found " +
                            describe(t));
        ++i_;
        if (peek().kind != Tok::Arrow)
            return failHere("expected => after the requirement type, found " + describe(peek()));
        ++i_;
        return true;
    }

private:
    const Token& peek(std::size_t ahead = 0) const { return t_[std::min(i_ + ahead, t_.size() - 1)]; }
    bool isWord(const Token& t, const char* word) const { return t.kind == Tok::Word && t.text == word; }
    bool accept(const char* word) {
        if (!isWord(peek(), word)) return false;
        ++i_;
        return true;
    }

    bool failHere(std::string message) {
        if (error_.empty()) error_ = message + at(peek().at);
        return false;
    }

    static std::string describe(const Token& t) {
        switch (t.kind) {
        case Tok::End: return "the end of the text";
        case Tok::Word: return t.text.size() <= 40 ? "\"" + t.text + "\"" : "a word";
        case Tok::String: return "a quoted string";
        case Tok::Hex: return "a 0x value";
        case Tok::Hash: return "a hash";
        case Tok::Integer: return "a number";
        case Tok::Date: return "a date";
        case Tok::Arrow: return "=>";
        case Tok::Semi: return ";";
        case Tok::LParen: return "(";
        case Tok::RParen: return ")";
        case Tok::LBrack: return "[";
        case Tok::RBrack: return "]";
        case Tok::Less: return "<";
        case Tok::Greater: return ">";
        case Tok::LessEqual: return "<=";
        case Tok::GreaterEqual: return ">=";
        case Tok::Equal: return "=";
        case Tok::Tilde: return "~";
        case Tok::Minus: return "-";
        case Tok::Not: return "!";
        case Tok::Star: return "*";
        }
        return "a token";
    }

    bool node(RequirementExpr& e, std::uint32_t op) {
        if (++nodes_ > kMaxRequirementNodes)
            return failHere("the requirement holds more than " + std::to_string(kMaxRequirementNodes) + " terms");
        e.op = op;
        e.rawOp = op;
        return true;
    }

    bool deeper(int& height, int operandHeight) {
        height = operandHeight + 1;
        if (height > kMaxRequirementDepth)
            return failHere("the requirement nests deeper than " + std::to_string(kMaxRequirementDepth) + " levels");
        return true;
    }

    // expr := term ("or" term)*;  term := primary ("and" primary)*. A chain nests to the right,
    // "a and (b and c)", the shape codesign gives the designated requirements it writes.
    bool expr(RequirementExpr& out, int& height, int nest) { return chain(out, height, nest, "or", opOr); }

    bool chain(RequirementExpr& out, int& height, int nest, const char* word, std::uint32_t op) {
        const bool isOr = op == opOr;
        std::vector<std::pair<RequirementExpr, int>> operands;  // bounded by the node count
        do {
            RequirementExpr e;
            int h = 0;
            if (!(isOr ? chain(e, h, nest, "and", opAnd) : primary(e, h, nest))) return false;
            operands.emplace_back(std::move(e), h);
        } while (accept(word));
        out = std::move(operands.back().first);
        height = operands.back().second;
        for (std::size_t k = operands.size() - 1; k-- > 0;) {
            RequirementExpr both;
            if (!node(both, op) || !deeper(height, std::max(height, operands[k].second))) return false;
            both.operands.push_back(std::move(operands[k].first));
            both.operands.push_back(std::move(out));
            out = std::move(both);
        }
        return true;
    }

    bool stringLike(const Token& t) const {
        return t.kind == Tok::String || t.kind == Tok::Hex || (t.kind == Tok::Word && !isRequirementKeyword(t.text));
    }

    bool string(std::string& out, const char* what) {
        const Token& t = peek();
        if (!stringLike(t)) return failHere(std::string("expected ") + what + ", found " + describe(t));
        out = t.text;
        ++i_;
        return true;
    }

    bool optionalEquals() {
        if (peek().kind == Tok::Equal) ++i_;
        return true;
    }

    bool integer(std::int32_t& out, bool negative = false) {
        const Token& t = peek();
        if (t.kind != Tok::Integer) return failHere("expected a number, found " + describe(t));
        const std::int64_t limit = negative ? std::int64_t{1} << 31 : (std::int64_t{1} << 31) - 1;
        std::int64_t v = 0;
        for (char c : t.text) {
            v = v * 10 + (c - '0');
            if (v > limit) return failHere("the number " + (t.text.size() <= 20 ? t.text : "given") + " is too large");
        }
        out = static_cast<std::int32_t>(negative ? -v : v);
        ++i_;
        return true;
    }

    bool hash(Bytes& out) {
        const Token& t = peek();
        if (t.kind != Tok::Hash) return failHere("expected a hash written H\"...\", found " + describe(t));
        out.assign(t.text.begin(), t.text.end());
        ++i_;
        return true;
    }

    bool slot(std::int32_t& out) {
        if (accept("leaf")) {
            out = kLeafCertificate;
            return true;
        }
        if (accept("root")) {
            out = kAnchorCertificate;
            return true;
        }
        if (peek().kind == Tok::Minus) {
            ++i_;
            return integer(out, true);
        }
        if (peek().kind == Tok::Integer) return integer(out);
        return failHere("expected a certificate position (leaf, root or a number), found " + describe(peek()));
    }

    bool key(std::string& out) {
        if (peek().kind != Tok::LBrack) return failHere("expected [ before a key, found " + describe(peek()));
        ++i_;
        if (!string(out, "a key")) return false;
        if (peek().kind != Tok::RBrack) return failHere("expected ] after a key, found " + describe(peek()));
        ++i_;
        return true;
    }

    // What follows a key: nothing or "exists", "absent", or an operator and a value or a date.
    bool match(RequirementMatch& m) {
        if (accept("exists")) {
            m.op = matchExists;
            return true;
        }
        if (accept("absent")) {
            m.op = matchAbsent;
            return true;
        }
        const Tok op = peek().kind;
        if (op != Tok::Equal && op != Tok::Tilde && op != Tok::Less && op != Tok::Greater && op != Tok::LessEqual &&
            op != Tok::GreaterEqual) {
            m.op = matchExists;
            return true;
        }
        ++i_;
        if (peek().kind == Tok::Date && op != Tok::Tilde) {
            auto seconds = dateSeconds(peek().text);
            if (!seconds) return failHere("the date is not written as <YYYY-MM-DD HH:MM:SS +0000>");
            ++i_;
            m.time = *seconds;
            m.op = op == Tok::Equal       ? matchOn
                   : op == Tok::Less      ? matchBefore
                   : op == Tok::Greater   ? matchAfter
                   : op == Tok::LessEqual ? matchOnOrBefore
                                          : matchOnOrAfter;
            return true;
        }
        if (op != Tok::Equal) {
            m.op = op == Tok::Tilde       ? matchContains
                   : op == Tok::Less      ? matchLessThan
                   : op == Tok::Greater   ? matchGreaterThan
                   : op == Tok::LessEqual ? matchLessEqual
                                          : matchGreaterEqual;
            return string(m.value, "a value");
        }
        bool leading = false, trailing = false;
        if (peek().kind == Tok::Star) {
            leading = true;
            ++i_;
        }
        if (!string(m.value, "a value")) return false;
        if (peek().kind == Tok::Star) {
            trailing = true;
            ++i_;
        }
        m.op = leading && trailing ? matchContains : leading ? matchEndsWith : trailing ? matchBeginsWith : matchEqual;
        return true;
    }

    // After a certificate position: "= H"..."" or "[key] match".
    bool certificateSpec(RequirementExpr& e, std::int32_t position) {
        if (peek().kind == Tok::Equal) {
            ++i_;
            e.certificate = position;
            return node(e, opAnchorHash) && hash(e.hash);
        }
        std::string k;
        if (!key(k)) return false;
        e.certificate = position;
        static const std::pair<const char*, std::uint32_t> oidKeys[] = {
            {"field.", opCertGeneric},
            {"extension.", opCertGeneric},
            {"policy.", opCertPolicy},
            {"timestamp.", opCertFieldDate},
        };
        for (const auto& [prefix, op] : oidKeys) {
            if (!hasPrefix(k, prefix)) continue;
            auto oid = oidBytes(std::string_view(k).substr(std::string_view(prefix).size()));
            if (!oid) return failHere("the certificate key names no well-formed OID");
            e.oid = std::move(*oid);
            return node(e, op) && match(e.match);
        }
        // subject.CN and the like; a field the evaluator does not know never holds.
        e.text = std::move(k);
        return node(e, opCertField) && match(e.match);
    }

    bool primary(RequirementExpr& e, int& height, int nest) {
        if (nest >= kMaxRequirementDepth)
            return failHere("the requirement nests deeper than " + std::to_string(kMaxRequirementDepth) + " levels");
        height = 1;
        const Token& t = peek();
        if (t.kind == Tok::LParen) {
            if (stringLike(peek(1)) && peek(2).kind == Tok::RParen) {
                e.text = peek(1).text;
                i_ += 3;
                return node(e, opNamedCode);
            }
            ++i_;
            if (!expr(e, height, nest + 1)) return false;
            if (peek().kind != Tok::RParen) return failHere("expected ) or an operator, found " + describe(peek()));
            ++i_;
            return true;
        }
        if (t.kind == Tok::Not) {
            ++i_;
            RequirementExpr operand;
            int operandHeight = 0;
            if (!node(e, opNot) || !primary(operand, operandHeight, nest + 1)) return false;
            e.operands.push_back(std::move(operand));
            return deeper(height, operandHeight);
        }
        if (t.kind != Tok::Word)
            return failHere("expected a requirement (identifier, anchor, certificate, info, ...), found " +
                            describe(t));
        if (accept("always") || accept("true")) return node(e, opTrue);
        if (accept("never") || accept("false")) return node(e, opFalse);
        if (accept("notarized")) return node(e, opNotarized);
        if (accept("legacy")) return node(e, opLegacyDevID);
        if (accept("identifier")) return node(e, opIdent) && optionalEquals() && string(e.text, "an identifier");
        if (accept("cdhash")) return node(e, opCDHash) && optionalEquals() && hash(e.hash);
        if (accept("platform")) {
            if (!node(e, opPlatform) || !optionalEquals()) return false;
            const bool negative = peek().kind == Tok::Minus;
            if (negative) ++i_;
            return integer(e.platform, negative);
        }
        if (accept("info")) return node(e, opInfoKeyField) && key(e.text) && match(e.match);
        if (accept("entitlement")) return node(e, opEntitlementField) && key(e.text) && match(e.match);
        if (accept("anchor")) {
            if (accept("apple")) {
                if (accept("generic")) return node(e, opAppleGenericAnchor);
                if (stringLike(peek())) return node(e, opNamedAnchor) && string(e.text, "an anchor name");
                return node(e, opAppleAnchor);
            }
            if (accept("generic")) {
                if (!accept("apple")) return failHere("expected apple after anchor generic, found " + describe(peek()));
                return node(e, opAppleGenericAnchor);
            }
            if (accept("trusted")) return node(e, opTrustedCerts);
            return certificateSpec(e, kAnchorCertificate);
        }
        if (accept("certificate") || accept("cert")) {
            if (accept("trusted")) return node(e, opTrustedCerts);
            std::int32_t position = 0;
            if (!slot(position)) return false;
            if (accept("trusted")) {
                e.certificate = position;
                return node(e, opTrustedCert);
            }
            return certificateSpec(e, position);
        }
        return failHere("expected a requirement (identifier, anchor, certificate, info, ...), found " + describe(t));
    }

    std::vector<Token> t_;
    std::size_t i_ = 0;
    std::uint32_t nodes_ = 0;
    std::string error_;
};

Result<Parser> parserFor(std::string_view text) {
    if (text.size() > kMaxRequirementTextLength)
        return fail("the requirement text is " + std::to_string(text.size()) + " bytes long; at most " +
                    std::to_string(kMaxRequirementTextLength) + " are read");
    auto tokens = lex(text);
    if (!tokens) return fail(tokens.error());
    if (tokens->size() == 1) return fail("the requirement text is empty");
    return Parser(std::move(*tokens));
}

}  // namespace

Result<Requirement> parseRequirementText(std::string_view text) {
    auto parser = parserFor(text);
    if (!parser) return fail(parser.error());
    Requirement out;
    if (!parser->requirement(out) || !parser->expectEnd("the requirement")) return fail(parser->error());
    return out;
}

Result<RequirementSet> parseRequirementSetText(std::string_view text) {
    auto parser = parserFor(text);
    if (!parser) return fail(parser.error());
    RequirementSet out;
    while (!parser->atEnd()) {
        if (out.entries.size() >= kMaxRequirementSetEntries)
            return fail("the requirement set lists more than " + std::to_string(kMaxRequirementSetEntries) +
                        " requirements");
        RequirementSetEntry entry;
        if (!parser->requirementType(entry.type) || !parser->requirement(entry.requirement))
            return fail(parser->error());
        if (out.find(entry.type))
            return fail("the requirement set lists type " + std::to_string(entry.type) + " twice");
        out.entries.push_back(std::move(entry));
    }
    return out;
}

}  // namespace tessarin

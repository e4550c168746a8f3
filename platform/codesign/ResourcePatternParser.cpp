// The parser of resource rule patterns: recursive descent over the pattern text (never over a path),
// with group nesting and repetition counts bounded so that the tree stays small.
#include "codesign/ResourcePatternParser.h"

#include <optional>
#include <string>

namespace tessarin::pattern_syntax {

namespace {

constexpr int kMaxGroupDepth = 64;
constexpr int kMaxRepeat = 255;  // RE_DUP_MAX

// Character classes as the C locale knows them: paths are matched byte by byte.
std::optional<ByteSet> namedClass(std::string_view name) {
    ByteSet s{};
    auto range = [&](unsigned char a, unsigned char b) {
        for (unsigned c = a; c <= b; ++c) add(s, static_cast<unsigned char>(c));
    };
    auto punct = [&] {
        range('!', '/');
        range(':', '@');
        range('[', '`');
        range('{', '~');
    };
    if (name == "alpha")
        range('a', 'z'), range('A', 'Z');
    else if (name == "digit")
        range('0', '9');
    else if (name == "alnum")
        range('a', 'z'), range('A', 'Z'), range('0', '9');
    else if (name == "upper")
        range('A', 'Z');
    else if (name == "lower")
        range('a', 'z');
    else if (name == "space")
        range('\t', '\r'), add(s, ' ');
    else if (name == "blank")
        add(s, '\t'), add(s, ' ');
    else if (name == "punct")
        punct();
    else if (name == "print")
        range(' ', '~');
    else if (name == "graph")
        range('!', '~');
    else if (name == "cntrl")
        range(0, 31), add(s, 127);
    else if (name == "xdigit")
        range('0', '9'), range('a', 'f'), range('A', 'F');
    else
        return std::nullopt;
    return s;
}

class Parser {
public:
    Parser(std::string_view pattern, std::vector<Node>& nodes, std::vector<ByteSet>& sets)
        : p_(pattern), nodes_(nodes), sets_(sets) {}

    std::uint32_t parse() {
        const std::uint32_t root = alternation(0);
        if (!error && pos_ != p_.size()) invalid("unexpected \"" + std::string(1, p_[pos_]) + "\"");
        return root;
    }

    std::optional<std::string> error;

private:
    void invalid(const std::string& why) {
        if (!error) error = "is not a valid regular expression (" + why + ")";
    }
    void tooComplex() {
        if (!error) error = "is too complex to match safely";
    }
    bool atEnd() const { return pos_ >= p_.size(); }
    char peek() const { return p_[pos_]; }

    std::uint32_t node(Node n) {
        nodes_.push_back(std::move(n));
        return static_cast<std::uint32_t>(nodes_.size() - 1);
    }
    std::uint32_t setNode(const ByteSet& s) {
        sets_.push_back(s);
        Node n;
        n.kind = Node::Set;
        n.set = static_cast<std::uint32_t>(sets_.size() - 1);
        return node(std::move(n));
    }
    std::uint32_t empty() { return node(Node{}); }

    std::uint32_t alternation(int depth) {
        std::vector<std::uint32_t> branches{concatenation(depth)};
        while (!error && !atEnd() && peek() == '|') {
            ++pos_;
            branches.push_back(concatenation(depth));
        }
        if (branches.size() == 1) return branches[0];
        Node n;
        n.kind = Node::Alt;
        n.kids = std::move(branches);
        return node(std::move(n));
    }

    std::uint32_t concatenation(int depth) {
        std::vector<std::uint32_t> items;
        while (!error && !atEnd() && peek() != '|' && !(peek() == ')' && depth > 0)) {
            std::uint32_t item = atom(depth);
            while (!error && !atEnd()) {
                int min = 0, max = 0;
                if (!repetition(min, max)) break;
                item = repeat(item, min, max);
            }
            if (nodes_[item].kind != Node::Empty) items.push_back(item);
        }
        if (items.empty()) return empty();
        if (items.size() == 1) return items[0];
        Node n;
        n.kind = Node::Concat;
        n.kids = std::move(items);
        return node(std::move(n));
    }

    // Reads "*", "+", "?" or an interval at pos_; false (consuming nothing) when none is there.
    bool repetition(int& min, int& max) {
        const char c = peek();
        if (c == '*')
            min = 0, max = -1;
        else if (c == '+')
            min = 1, max = -1;
        else if (c == '?')
            min = 0, max = 1;
        else if (c == '{' && startsInterval())
            return interval(min, max);
        else
            return false;
        ++pos_;
        return true;
    }

    bool startsInterval() const {
        return pos_ + 1 < p_.size() && ((p_[pos_ + 1] >= '0' && p_[pos_ + 1] <= '9') || p_[pos_ + 1] == ',');
    }

    bool interval(int& min, int& max) {
        ++pos_;  // '{'
        auto number = [&](int& out) {
            bool any = false;
            out = 0;
            while (!atEnd() && peek() >= '0' && peek() <= '9') {
                out = out * 10 + (peek() - '0');
                if (out > kMaxRepeat) {
                    invalid("repetition count above 255");
                    return false;
                }
                ++pos_;
                any = true;
            }
            return any;
        };
        const bool hasMin = number(min);
        if (error) return false;
        if (!hasMin) min = 0;
        max = min;
        if (!atEnd() && peek() == ',') {
            ++pos_;
            if (!number(max)) max = -1;
            if (error) return false;
        }
        if (atEnd() || peek() != '}') {
            invalid("unterminated repetition count");
            return false;
        }
        ++pos_;
        if (max != -1 && min > max) {
            invalid("repetition count with its lower bound above its upper");
            return false;
        }
        return true;
    }

    std::uint32_t repeat(std::uint32_t item, int min, int max) {
        const Node& inner = nodes_[item];
        if (inner.kind == Node::Empty || (min == 1 && max == 1)) return item;
        if (max == 0) return empty();
        // Stacked "*", "+" and "?" fold into one: x+* is x*, x?+ is x*, x++ is x+.
        auto simple = [](int lo, int hi) { return lo <= 1 && (hi == 1 || hi == -1); };
        if (inner.kind == Node::Repeat && simple(inner.min, inner.max) && simple(min, max)) {
            Node folded = inner;
            folded.min = inner.min * min;
            folded.max = (inner.max == -1 || max == -1) ? -1 : 1;
            return node(std::move(folded));
        }
        Node n;
        n.kind = Node::Repeat;
        n.min = min;
        n.max = max;
        n.kids = {item};
        return node(std::move(n));
    }

    std::uint32_t atom(int depth) {
        const char c = p_[pos_++];
        switch (c) {
        case '(': {
            if (depth + 1 > kMaxGroupDepth) {
                tooComplex();
                return empty();
            }
            const std::uint32_t inner = alternation(depth + 1);
            if (error) return inner;
            if (atEnd() || peek() != ')') {
                invalid("unmatched parenthesis");
                return inner;
            }
            ++pos_;
            return inner;
        }
        case '^': {
            Node n;
            n.kind = Node::LineStart;
            return node(std::move(n));
        }
        case '$': {
            Node n;
            n.kind = Node::LineEnd;
            return node(std::move(n));
        }
        case '.': {
            ByteSet all{};
            invert(all);
            return setNode(all);
        }
        case '[': return bracket();
        case '\\': return escape();
        case '*':
        case '+':
        case '?': invalid("repetition with nothing to repeat"); return empty();
        case '{':
            --pos_;
            if (startsInterval()) {
                invalid("repetition with nothing to repeat");
                return empty();
            }
            ++pos_;
            [[fallthrough]];
        default: {
            ByteSet s{};
            add(s, static_cast<unsigned char>(c));
            return setNode(s);
        }
        }
    }

    std::uint32_t escape() {
        if (atEnd()) {
            invalid("trailing backslash");
            return empty();
        }
        const char c = p_[pos_++];
        ByteSet s{};
        switch (c) {
        case '1':
        case '2':
        case '3':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
        case '9':
            // A back-reference makes matching exponential in the worst case.
            invalid("back-references are not supported");
            return empty();
        case 'b':
        case 'B':
        case '<':
        case '>':
        case '`':
        case '\'': invalid("word and buffer anchors are not supported"); return empty();
        case 'w':
        case 'W':
            s = *namedClass("alnum");
            add(s, '_');
            if (c == 'W') invert(s);
            return setNode(s);
        case 's':
        case 'S':
            s = *namedClass("space");
            if (c == 'S') invert(s);
            return setNode(s);
        default: add(s, static_cast<unsigned char>(c)); return setNode(s);
        }
    }

    // One element of a bracket expression: a character, or a collating element "[.x.]" / "[=x=]".
    std::optional<unsigned char> bracketCharacter() {
        if (peek() == '[' && pos_ + 1 < p_.size() && (p_[pos_ + 1] == '.' || p_[pos_ + 1] == '=')) {
            const char kind = p_[pos_ + 1];
            const std::size_t close = p_.find(std::string{kind, ']'}, pos_ + 2);
            if (close == std::string_view::npos || close != pos_ + 3) {
                invalid("unsupported collating element");
                return std::nullopt;
            }
            const unsigned char c = static_cast<unsigned char>(p_[pos_ + 2]);
            pos_ = close + 2;
            return c;
        }
        return static_cast<unsigned char>(p_[pos_++]);
    }

    std::uint32_t bracket() {
        ByteSet s{};
        bool negate = false;
        if (!atEnd() && peek() == '^') {
            negate = true;
            ++pos_;
        }
        bool first = true;
        for (;;) {
            if (atEnd()) {
                invalid("unmatched [");
                return empty();
            }
            if (peek() == ']' && !first) {
                ++pos_;
                break;
            }
            first = false;
            if (peek() == '[' && pos_ + 1 < p_.size() && p_[pos_ + 1] == ':') {
                const std::size_t close = p_.find(":]", pos_ + 2);
                if (close == std::string_view::npos) {
                    invalid("unmatched [");
                    return empty();
                }
                auto cls = namedClass(p_.substr(pos_ + 2, close - pos_ - 2));
                if (!cls) {
                    invalid("unknown character class");
                    return empty();
                }
                for (std::size_t i = 0; i < s.size(); ++i) s[i] |= (*cls)[i];
                pos_ = close + 2;
                continue;
            }
            auto low = bracketCharacter();
            if (!low) return empty();
            if (pos_ + 1 < p_.size() && peek() == '-' && p_[pos_ + 1] != ']') {
                ++pos_;
                auto high = bracketCharacter();
                if (!high) return empty();
                if (*high < *low) {
                    invalid("range out of order");
                    return empty();
                }
                for (unsigned c = *low; c <= *high; ++c) add(s, static_cast<unsigned char>(c));
            } else {
                add(s, *low);
            }
        }
        if (negate) invert(s);
        return setNode(s);
    }

    std::string_view p_;
    std::size_t pos_ = 0;
    std::vector<Node>& nodes_;
    std::vector<ByteSet>& sets_;
};

}  // namespace

Result<SyntaxTree> parse(std::string_view pattern, std::vector<ByteSet>& sets) {
    SyntaxTree tree;
    Parser parser(pattern, tree.nodes, sets);
    tree.root = parser.parse();
    if (parser.error) return fail(*parser.error);
    return tree;
}

}  // namespace tessarin::pattern_syntax

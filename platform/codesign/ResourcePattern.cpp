// A Thompson-style matcher: the pattern compiles to a small program whose threads advance together
// over the text, one byte at a time, so matching never backtracks and never recurses on the text.
// Program size and nesting are bounded when compiling, which bounds both time and memory.
#include "codesign/ResourcePattern.h"

#include <optional>

namespace tessarin {

namespace {

using Instruction = ResourcePattern::Instruction;
using ByteSet = ResourcePattern::ByteSet;

// Apple's own rules are under 150 bytes and compile to under 200 instructions.
constexpr std::size_t kMaxPatternLength = 4096;
constexpr std::size_t kMaxInstructions = 8192;
constexpr int kMaxGroupDepth = 64;
constexpr int kMaxNodeDepth = 256;
constexpr int kMaxRepeat = 255;  // RE_DUP_MAX

void add(ByteSet& s, unsigned char c) { s[c >> 6] |= std::uint64_t{1} << (c & 63); }
bool has(const ByteSet& s, unsigned char c) { return (s[c >> 6] >> (c & 63)) & 1; }
void invert(ByteSet& s) {
    for (auto& w : s) w = ~w;
}

struct Node {
    enum Kind : std::uint8_t { Empty, Set, LineStart, LineEnd, Concat, Alt, Repeat } kind = Empty;
    std::uint32_t set = 0;
    int min = 0;
    int max = 0;  // -1: no upper bound
    std::vector<std::uint32_t> kids;
};

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
    if (name == "alpha") range('a', 'z'), range('A', 'Z');
    else if (name == "digit") range('0', '9');
    else if (name == "alnum") range('a', 'z'), range('A', 'Z'), range('0', '9');
    else if (name == "upper") range('A', 'Z');
    else if (name == "lower") range('a', 'z');
    else if (name == "space") range('\t', '\r'), add(s, ' ');
    else if (name == "blank") add(s, '\t'), add(s, ' ');
    else if (name == "punct") punct();
    else if (name == "print") range(' ', '~');
    else if (name == "graph") range('!', '~');
    else if (name == "cntrl") range(0, 31), add(s, 127);
    else if (name == "xdigit") range('0', '9'), range('a', 'f'), range('A', 'F');
    else return std::nullopt;
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
        if (c == '*') min = 0, max = -1;
        else if (c == '+') min = 1, max = -1;
        else if (c == '?') min = 0, max = 1;
        else if (c == '{' && startsInterval()) return interval(min, max);
        else return false;
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
        case '[':
            return bracket();
        case '\\':
            return escape();
        case '*':
        case '+':
        case '?':
            invalid("repetition with nothing to repeat");
            return empty();
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
        case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9':
            // A back-reference makes matching exponential in the worst case.
            invalid("back-references are not supported");
            return empty();
        case 'b': case 'B': case '<': case '>': case '`': case '\'':
            invalid("word and buffer anchors are not supported");
            return empty();
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
        default:
            add(s, static_cast<unsigned char>(c));
            return setNode(s);
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

class Emitter {
public:
    Emitter(const std::vector<Node>& nodes, std::vector<Instruction>& program) : nodes_(nodes), program_(program) {}

    // Every node other than Empty emits at least one instruction, so the instruction bound also
    // bounds the work of emitting.
    bool emit(std::uint32_t index, int depth) {
        if (depth > kMaxNodeDepth) return false;
        const Node& n = nodes_[index];
        switch (n.kind) {
        case Node::Empty:
            return true;
        case Node::Set:
            return push({Instruction::Set, n.set, 0});
        case Node::LineStart:
            return push({Instruction::LineStart, 0, 0});
        case Node::LineEnd:
            return push({Instruction::LineEnd, 0, 0});
        case Node::Concat:
            for (std::uint32_t kid : n.kids)
                if (!emit(kid, depth + 1)) return false;
            return true;
        case Node::Alt: {
            std::vector<std::size_t> jumps;
            for (std::size_t k = 0; k < n.kids.size(); ++k) {
                const bool last = k + 1 == n.kids.size();
                const std::size_t split = program_.size();
                if (!last && !push({Instruction::Split, static_cast<std::uint32_t>(split + 1), 0})) return false;
                if (!emit(n.kids[k], depth + 1)) return false;
                if (!last) {
                    jumps.push_back(program_.size());
                    if (!push({Instruction::Jump, 0, 0})) return false;
                    program_[split].y = here();
                }
            }
            for (std::size_t j : jumps) program_[j].x = here();
            return true;
        }
        case Node::Repeat: {
            for (int i = 0; i < n.min; ++i)
                if (!emit(n.kids[0], depth + 1)) return false;
            if (n.max == -1) {
                const std::uint32_t loop = here();
                if (!push({Instruction::Split, loop + 1, 0})) return false;
                if (!emit(n.kids[0], depth + 1)) return false;
                if (!push({Instruction::Jump, loop, 0})) return false;
                program_[loop].y = here();
                return true;
            }
            std::vector<std::size_t> splits;
            for (int i = n.min; i < n.max; ++i) {
                splits.push_back(program_.size());
                if (!push({Instruction::Split, here() + 1, 0})) return false;
                if (!emit(n.kids[0], depth + 1)) return false;
            }
            for (std::size_t s : splits) program_[s].y = here();
            return true;
        }
        }
        return false;
    }

private:
    std::uint32_t here() const { return static_cast<std::uint32_t>(program_.size()); }
    bool push(Instruction i) {
        if (program_.size() >= kMaxInstructions) return false;
        program_.push_back(i);
        return true;
    }

    const std::vector<Node>& nodes_;
    std::vector<Instruction>& program_;
};

// The threads of one position: a dense list of program counters, deduplicated by generation marks.
class ThreadList {
public:
    explicit ThreadList(std::size_t programSize) : seen_(programSize, 0) { pcs_.reserve(programSize); }

    void start(std::uint32_t generation) {
        generation_ = generation;
        pcs_.clear();
    }
    // Follows the empty moves from pc at position pos of a text of length n; true once Match is reached.
    bool add(const std::vector<Instruction>& program, std::uint32_t pc, std::size_t pos, std::size_t n,
             bool lineEndPasses, std::vector<std::uint32_t>& stack) {
        stack.clear();
        stack.push_back(pc);
        while (!stack.empty()) {
            const std::uint32_t at = stack.back();
            stack.pop_back();
            if (seen_[at] == generation_) continue;
            seen_[at] = generation_;
            const Instruction& i = program[at];
            switch (i.op) {
            case Instruction::Match:
                return true;
            case Instruction::Set:
                pcs_.push_back(at);
                break;
            case Instruction::LineStart:
                if (pos == 0) stack.push_back(at + 1);
                break;
            case Instruction::LineEnd:
                if (pos == n || lineEndPasses) stack.push_back(at + 1);
                break;
            case Instruction::Jump:
                stack.push_back(i.x);
                break;
            case Instruction::Split:
                stack.push_back(i.y);
                stack.push_back(i.x);
                break;
            }
        }
        return false;
    }
    const std::vector<std::uint32_t>& pcs() const { return pcs_; }
    bool empty() const { return pcs_.empty(); }

private:
    std::vector<std::uint32_t> seen_;
    std::vector<std::uint32_t> pcs_;
    std::uint32_t generation_ = 0;
};

}  // namespace

Result<ResourcePattern> ResourcePattern::compile(std::string_view pattern) {
    if (pattern.size() > kMaxPatternLength) return fail("is too complex to match safely");
    ResourcePattern compiled;
    std::vector<Node> nodes;
    Parser parser(pattern, nodes, compiled.sets_);
    const std::uint32_t root = parser.parse();
    if (parser.error) return fail(*parser.error);
    Emitter emitter(nodes, compiled.program_);
    if (!emitter.emit(root, 0) || compiled.program_.size() >= kMaxInstructions)
        return fail("is too complex to match safely");
    compiled.program_.push_back({Instruction::Match, 0, 0});

    // Anchored: from the start, no thread survives past a line-start assertion at a later position,
    // so a search can stop as soon as its threads die out.
    ThreadList probe(compiled.program_.size());
    std::vector<std::uint32_t> stack;
    probe.start(1);
    const bool matchesEmptyAnywhere = probe.add(compiled.program_, 0, 1, 2, true, stack);
    compiled.anchored_ = !matchesEmptyAnywhere && probe.empty();
    return compiled;
}

bool ResourcePattern::search(std::string_view text) const {
    const std::size_t n = text.size();
    ThreadList current(program_.size()), next(program_.size());
    std::vector<std::uint32_t> stack;
    stack.reserve(program_.size() * 2);
    std::uint32_t generation = 1;
    current.start(generation);
    if (current.add(program_, 0, 0, n, false, stack)) return true;
    for (std::size_t pos = 0; pos < n; ++pos) {
        if (anchored_ && current.empty()) return false;
        next.start(++generation);
        const unsigned char c = static_cast<unsigned char>(text[pos]);
        for (std::uint32_t pc : current.pcs()) {
            const Instruction& i = program_[pc];
            if (has(sets_[i.x], c) && next.add(program_, pc + 1, pos + 1, n, false, stack)) return true;
        }
        // An unanchored search starts a new thread at every position.
        if (!anchored_ && next.add(program_, 0, pos + 1, n, false, stack)) return true;
        std::swap(current, next);
    }
    return false;
}

}  // namespace tessarin

// A Thompson-style matcher: the parsed pattern compiles to a small program whose threads advance
// together over the text, one byte at a time, so matching never backtracks and never recurses on the
// text. Program size and nesting are bounded when compiling, which bounds both time and memory.
#include "codesign/ResourcePattern.h"

#include "codesign/ResourcePatternParser.h"

namespace tessarin {

namespace {

using namespace pattern_syntax;
using Instruction = ResourcePattern::Instruction;

// Apple's own rules are under 150 bytes and compile to under 200 instructions.
constexpr std::size_t kMaxPatternLength = 4096;
constexpr std::size_t kMaxInstructions = 8192;
constexpr int kMaxNodeDepth = 256;

class Emitter {
public:
    Emitter(const std::vector<Node>& nodes, std::vector<Instruction>& program) : nodes_(nodes), program_(program) {}

    // Every node other than Empty emits at least one instruction, so the instruction bound also
    // bounds the work of emitting.
    bool emit(std::uint32_t index, int depth) {
        if (depth > kMaxNodeDepth) return false;
        const Node& n = nodes_[index];
        switch (n.kind) {
        case Node::Empty: return true;
        case Node::Set: return push({Instruction::Set, n.set, 0});
        case Node::LineStart: return push({Instruction::LineStart, 0, 0});
        case Node::LineEnd: return push({Instruction::LineEnd, 0, 0});
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
            case Instruction::Match: return true;
            case Instruction::Set: pcs_.push_back(at); break;
            case Instruction::LineStart:
                if (pos == 0) stack.push_back(at + 1);
                break;
            case Instruction::LineEnd:
                if (pos == n || lineEndPasses) stack.push_back(at + 1);
                break;
            case Instruction::Jump: stack.push_back(i.x); break;
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
    auto tree = pattern_syntax::parse(pattern, compiled.sets_);
    if (!tree) return fail(tree.error());
    Emitter emitter(tree->nodes, compiled.program_);
    if (!emitter.emit(tree->root, 0) || compiled.program_.size() >= kMaxInstructions)
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

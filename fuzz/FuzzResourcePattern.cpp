// libFuzzer entry: a resource rule's expression, a NUL, then a path. Compiling must fail cleanly or
// give a matcher that answers without blowing up in time or memory.
#include "FuzzEntry.h"
#include "codesign/ResourcePattern.h"

void tessarin::fuzz::fuzzOne(Input in) {
    const std::size_t split = in.text().find('\0');
    const std::string_view path = split == std::string_view::npos ? std::string_view{} : in.text().substr(split + 1);
    if (auto compiled = ResourcePattern::compile(in.text().substr(0, split))) (void)compiled->search(path);
}

// libFuzzer entry: a resource rule's expression, a NUL, then a path. Compiling must fail cleanly or
// give a matcher that answers without blowing up in time or memory.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "codesign/ResourcePattern.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    const std::string_view pattern = input.substr(0, split);
    const std::string_view path = split == std::string_view::npos ? std::string_view{} : input.substr(split + 1);
    auto compiled = tessarin::ResourcePattern::compile(pattern);
    if (compiled) (void)compiled->search(path);
    return 0;
}

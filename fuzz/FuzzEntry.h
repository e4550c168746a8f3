// What every fuzz target shares: libFuzzer's entry, which hands each input to the target's fuzzOne,
// and a broken promise of a reader, which the fuzzer reports as a crash. Include it once per target.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace tessarin::fuzz {

struct Input {
    const std::uint8_t* data;
    std::size_t size;
    std::span<const std::byte> bytes() const { return std::as_bytes(std::span(data, size)); }
    std::string_view text() const { return {reinterpret_cast<const char*>(data), size}; }
};

inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

void fuzzOne(Input in);

}  // namespace tessarin::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tessarin::fuzz::fuzzOne({data, size});
    return 0;
}

// What every fuzz target shares: a broken promise of a reader, which the fuzzer reports as a crash.
#pragma once

namespace tessarin::fuzz {

inline void require(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace tessarin::fuzz

#!/usr/bin/env bash
# Installs what is needed, builds with AddressSanitizer and UBSan, runs every test and a short fuzz pass.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/fetch-samples.sh
scripts/fetch-npm-samples.sh

build=build-asan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_SANITIZE=ON
cmake --build "$build"

export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
ctest --test-dir "$build" --output-on-failure -j"$(nproc)"

# The Debian package from a release build, unpacked and run with nothing of the build on the path.
scripts/build-deb.sh --check

# Ten targets at 12 s each keep the pass near two and a half minutes with the build.
if [[ -x scripts/fuzz.sh ]]; then
  scripts/fuzz.sh 12
fi

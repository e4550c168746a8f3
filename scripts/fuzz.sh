#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 and runs every one of them for N seconds (default 60).
# Usage: scripts/fuzz.sh [SECONDS]. Crashes are left in build-fuzz/crashes/<target>/; exits 1 if any.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[0-9]+$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi
if ! command -v clang++-14 >/dev/null || ! command -v clang-14 >/dev/null; then
  echo "fuzz.sh: clang-14 is not installed (scripts/install-deps.sh installs it)" >&2
  exit 1
fi

build=build-fuzz
mkdir -p "$build"
if ! { cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARIN_FUZZ=ON \
         -DTESSARIN_BUILD_APP=OFF -DTESSARIN_BUILD_TESTS=OFF \
         -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_C_COMPILER=clang-14 &&
       cmake --build "$build" --target tessarin_fuzz_all -- -j"${FUZZ_JOBS:-2}"; } >"$build/fuzz-build.log" 2>&1; then
  tail -n 40 "$build/fuzz-build.log" >&2
  echo "fuzz.sh: building the fuzz targets failed; see $build/fuzz-build.log" >&2
  exit 1
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

failed=()
while IFS=$'\t' read -r name binary corpus generator; do
  [[ -n "$name" ]] || continue
  mkdir -p "$corpus" "$build/crashes/$name"
  if [[ -n "$generator" ]]; then
    "$generator" "$corpus"
  fi
  # Inputs that once found a fault are replayed first, from the checked-in regressions folder.
  regressions=()
  [[ -d "fuzz/regressions/${name#fuzz_}" ]] && regressions=("fuzz/regressions/${name#fuzz_}")
  echo "fuzz.sh: running $name for ${seconds}s"
  if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$build/crashes/$name/" "$corpus" "${regressions[@]}" \
      >"$build/crashes/$name.log" 2>&1; then
    failed+=("$name")
    echo "fuzz.sh: $name found a fault; see $build/crashes/$name.log and $build/crashes/$name/" >&2
    tail -n 40 "$build/crashes/$name.log" >&2
  else
    grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "$build/crashes/$name.log" | sed "s/^/fuzz.sh: $name: /" || true
  fi
done <"$build/fuzz/targets.txt"

if ((${#failed[@]})); then
  echo "fuzz.sh: faults found by: ${failed[*]}" >&2
  exit 1
fi

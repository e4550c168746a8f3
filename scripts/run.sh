#!/usr/bin/env bash
# Installs what is needed, builds a release tree, and opens the given items in Tessarin: in windows
# where there is a display, as a headless report where there is none. With no items it opens a
# sample bundle that the project builds itself.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

build=build-release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build"

items=("$@")
if ((${#items[@]} == 0)); then
  sample="$build/sample"
  rm -rf "$sample" && mkdir -p "$sample"
  "$build/bin/tessarin-make-sample" "$sample" >/dev/null
  items=("$sample/Sample.app")
fi

if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
  exec "$build/bin/tessarin" "${items[@]}"
else
  exec "$build/bin/tessarin" --report "${items[@]}"
fi

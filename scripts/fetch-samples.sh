#!/usr/bin/env bash
# Gathers real Mach-O files made by others (from Debian's Go source package) into tests/.samples/macho/,
# without installing anything. Idempotent and quiet; offline it prints a note and still succeeds.
set -uo pipefail
cd "$(dirname "$0")/.."

cache=tests/.samples
package=golang-1.19-src
unpacked="$cache/$package"
samples="$cache/macho"
[[ -f "$samples/.complete" ]] && exit 0

note() {
  echo "fetch-samples: $1; the tests on real Mach-O files will be skipped." >&2
  exit 0
}

mkdir -p "$cache"
if [[ ! -d "$unpacked/usr/share" ]]; then
  deb=$(ls "$cache"/${package}_*.deb 2>/dev/null | head -n 1)
  if [[ -z "$deb" ]]; then
    download() { (cd "$cache" && apt-get download -qq "$package" >/dev/null 2>&1); }
    # A fresh machine may not have the package lists yet; root can fetch them.
    download || { [[ $(id -u) -eq 0 ]] && apt-get update -qq >/dev/null 2>&1 && download; } ||
      note "could not download $package (offline?)"
    deb=$(ls "$cache"/${package}_*.deb 2>/dev/null | head -n 1)
    [[ -n "$deb" ]] || note "could not download $package"
  fi
  rm -rf "$unpacked.partial"
  dpkg -x "$deb" "$unpacked.partial" 2>/dev/null || { rm -rf "$unpacked.partial"; note "could not unpack $deb"; }
  mv "$unpacked.partial" "$unpacked"
fi

go="$unpacked/usr/share/go-1.19/src"
rm -rf "$samples"
mkdir -p "$samples"
# Go keeps most of its Mach-O test files base64-encoded; a few are stored as they are.
for f in "$go"/debug/macho/testdata/*.base64 "$go"/cmd/internal/buildid/testdata/a.macho.base64; do
  [[ -f "$f" ]] || continue
  base64 -d "$f" >"$samples/$(basename "$f" .base64)" 2>/dev/null || rm -f "$samples/$(basename "$f" .base64)"
done
for f in "$go"/debug/dwarf/testdata/typedef.macho* "$go"/runtime/race/race_darwin_*.syso; do
  [[ -f "$f" ]] && cp "$f" "$samples/"
done
if [[ -z "$(ls "$samples")" ]]; then
  note "no Mach-O files found in $package"
fi
touch "$samples/.complete"
exit 0

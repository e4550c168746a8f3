#!/usr/bin/env bash
# Builds Tessarin's Debian package from a release build with Debian's hardening flags, has lintian
# judge it, and with --check also unpacks it and runs what it installs (scripts/check-deb.sh).
# The package is left in build-deb/; its path is the last line printed.
set -euo pipefail
cd "$(dirname "$0")/.."
check=0
case "${1:-}" in
  --check) check=1 ;;
  "") ;;
  *) echo "usage: scripts/build-deb.sh [--check]" >&2; exit 2 ;;
esac
scripts/install-deps.sh

build=build-deb
# Dates inside the package (man pages, changelog) are the last commit's, so a rebuild is the same.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || date +%s)
export SOURCE_DATE_EPOCH
# Debian's own compiler and linker flags: fortified, stack-protected, full RELRO and bind-now.
# No -g: CPack strips the binaries anyway, and the debug information only slows the build.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CFLAGS_MAINT_STRIP=-g DEB_CXXFLAGS_MAINT_STRIP=-g
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_C_FLAGS="$cppflags $(dpkg-buildflags --get CFLAGS)" \
  -DCMAKE_CXX_FLAGS="$cppflags $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
# Only what the package holds (and, to check it, the sample maker): not the tests.
targets=(tessarin)
((check)) && targets+=(tessarin-make-sample)
cmake --build "$build" --target "${targets[@]}"

rm -f "$build"/tessarin_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/tessarin_*.deb)

# Errors fail the build; the warnings and notes left are listed for the record.
lintian --display-info --fail-on error "$deb"

if ((check)); then
  scripts/check-deb.sh "$deb" "$build/bin/tessarin-make-sample"
fi
echo "$deb"

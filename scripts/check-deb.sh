#!/usr/bin/env bash
# Checks a built Tessarin package as a user would get it: unpacks it into a temporary folder and
# runs the programs from there, with nothing of the build tree on the path; checks that every
# library they load comes from a declared dependency, and that the desktop files, metainfo and
# man pages are well formed and agree with --help.
#   scripts/check-deb.sh PACKAGE.deb SAMPLE_MAKER
set -euo pipefail
if (($# != 2)); then
  echo "usage: scripts/check-deb.sh PACKAGE.deb SAMPLE_MAKER" >&2
  exit 2
fi
deb=$(realpath "$1")
maker=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
root=$work/root
dpkg-deb -x "$deb" "$root"
version=$(dpkg-deb -f "$deb" Version)
depends=$(dpkg-deb -f "$deb" Depends)
# The packages named in Depends, one a line, without versions.
declared=$(tr ',|' '\n\n' <<<"$depends" | sed 's/^ *//; s/[ (].*//')
failures=0
fail() { echo "check-deb: $*" >&2; failures=$((failures + 1)); }

# The sample is made before anything runs from the package; from here on, only the package.
"$maker" "$work/sample" >/dev/null
mkdir -p "$work/home"
cd "$work"
# A clean environment: no DISPLAY, no build folders on PATH, no Qt settings.
run() { env -i HOME="$work/home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }

# What the package must hold.
standins=(lipo codesign spctl pkgutil)
expected=(usr/bin/tessarin usr/share/tessarin/TessarinHelp.pdf
  usr/share/applications/tessarin.desktop usr/share/mime/packages/tessarin.xml
  usr/share/dbus-1/services/org.tessarin.Tessarin.service
  usr/share/metainfo/org.tessarin.Tessarin.metainfo.xml
  usr/share/icons/hicolor/scalable/apps/tessarin.svg
  usr/share/doc/tessarin/copyright usr/share/doc/tessarin/changelog.gz
  usr/share/man/man1/tessarin.1.gz)
for tool in "${standins[@]}"; do
  expected+=("usr/libexec/tessarin/$tool" "usr/share/man/man1/tessarin-$tool.1.gz")
done
for size in 16 22 24 32 48 64 128 256; do
  expected+=("usr/share/icons/hicolor/${size}x${size}/apps/tessarin.png")
done
for path in "${expected[@]}"; do
  [[ -f "$root/$path" ]] || fail "the package lacks /$path"
done

# Every library a program needs directly belongs to a package named in Depends (the libraries'
# own dependencies are their packages' business); nothing is looked for beside the build.
declare -A owners
for program in "$root/usr/bin/tessarin" "$root"/usr/libexec/tessarin/*; do
  # Readers take all their input: one that stops early would end the writer with SIGPIPE, which
  # pipefail counts as a failure.
  if readelf -d "$program" | grep -E '\((RUNPATH|RPATH)\)' >/dev/null; then fail "${program#"$root"} has a RUNPATH"; fi
  for library in $(readelf -d "$program" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'); do
    if [[ -z "${owners[$library]+set}" ]]; then
      path=$(ldconfig -p | awk -v l="$library" '!found && $1 == l && /x86-64|x86_64/ {print $NF; found = 1}')
      [[ -n "$path" ]] || { fail "${program#"$root"}: $library is not installed here"; continue; }
      owner=$(dpkg -S "$(realpath "$path")" 2>/dev/null || dpkg -S "$path" 2>/dev/null || true)
      owners[$library]=${owner%%:*}
    fi
    owner=${owners[$library]}
    if [[ -z "$owner" ]] || ! grep -qxF -- "$owner" <<<"$declared"; then
      fail "${program#"$root"}: $library (from ${owner:-no package}) is not covered by Depends: $depends"
    fi
  done
done

# The command line, with no display.
tessarin=$root/usr/bin/tessarin
out=$(run "$tessarin" --version) || fail "tessarin --version exited with $?"
[[ "$out" == "tessarin $version" ]] || fail "tessarin --version says '$out', the package is $version"
help=$(run "$tessarin" --help) || fail "tessarin --help exited with $?"
grep -q '^Exit status:' <<<"$help" || fail "tessarin --help lists no exit statuses"
status=0
err=$(run "$tessarin" --no-such-option 2>&1 >/dev/null) || status=$?
[[ $status == 2 && $(wc -l <<<"$err") == 1 ]] || fail "an unknown option gave status $status and: $err"
# Windows where there is no display: Qt's reason and status 3, not an abort. The check runs with
# only PATH set, so no display is reachable.
status=0
err=$(run "$tessarin" "$work" 2>&1 >/dev/null) || status=$?
[[ $status == 3 ]] || fail "tessarin ITEM without a display exited with $status: $err"
grep -qF -- '--report' <<<"$err" || fail "tessarin ITEM without a display does not point to --report: $err"

# A report of the sample, through the stand-ins the package installed.
status=0
json=$(run "$tessarin" --report --json "$work/sample/Sample.app") || status=$?
((status == 0)) || fail "tessarin --report --json exited with $status"
# The sample is a universal app signed ad hoc: the stand-ins must have read it, and judged it so.
for expect in '"schemaVersion":1' '"theArches":[16777223,16777228]' 'Signature=adhoc' \
  'source=no usable signature' '"validSignatures":0'; do
  grep -qF -- "$expect" <<<"$json" || fail "the report of the sample lacks $expect: $json"
done

# Man pages render without a warning, and name every option that --help lists.
options_of() { grep -oE '(^|[ ,[|])--?[a-z][a-z-]*' | grep -oE -- '--?[a-z][a-z-]*' | sort -u; }
check_page() {
  local page=$1 usage=$2 text
  text=$(MANWIDTH=100 LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l -Tutf8 "$page" 2>"$work/warnings" | col -b) ||
    fail "man -l ${page#"$root"} failed"
  [[ -s "$work/warnings" ]] && fail "${page#"$root"}: $(cat "$work/warnings")"
  for option in $(options_of <<<"$usage"); do
    grep -qe "$option" <<<"$text" || fail "${page#"$root"} does not describe $option"
  done
}
check_page "$root/usr/share/man/man1/tessarin.1.gz" "$help"
for tool in "${standins[@]}"; do
  usage=$(run "$root/usr/libexec/tessarin/$tool" --help) || fail "$tool --help exited with $?"
  grep -qi "^usage: $tool " <<<"$usage" || fail "$tool --help printed: $usage"
  check_page "$root/usr/share/man/man1/tessarin-$tool.1.gz" "$usage"
done

# Desktop integration files as the desktop's own validators see them.
desktop-file-validate "$root/usr/share/applications/tessarin.desktop" || fail "the desktop entry does not validate"
grep -qx 'Icon=tessarin' "$root/usr/share/applications/tessarin.desktop" || fail "the desktop entry has not Tessarin's icon"
grep -qx 'Exec=/usr/bin/tessarin' "$root/usr/share/dbus-1/services/org.tessarin.Tessarin.service" ||
  fail "the D-Bus service does not start /usr/bin/tessarin"
appstreamcli validate --no-net "$root/usr/share/metainfo/org.tessarin.Tessarin.metainfo.xml" >"$work/appstream" ||
  fail "the metainfo does not validate: $(cat "$work/appstream")"
grep -q "<release version=\"$version\"" "$root/usr/share/metainfo/org.tessarin.Tessarin.metainfo.xml" ||
  fail "the metainfo's release is not $version"

if ((failures)); then
  echo "check-deb: $failures problems in $deb" >&2
  exit 1
fi
echo "check-deb: $deb installs and runs from an unpacked tree"

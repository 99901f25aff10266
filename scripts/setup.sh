#!/usr/bin/env bash
# Installs what the build and its tests need from Debian's packages (only what
# is missing), then configures and builds into ./build (optimised): the
# targets named as arguments, or everything. With --packages-only it stops
# after the packages, and installs the packages named after it as well.
set -euo pipefail
cd "$(dirname "$0")/.."

packages=(cmake g++ ninja-build qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev
          help2man groff-base desktop-file-utils appstream python3
          chromium-headless-shell) # chromium: renders the HTML report in a test
packages_only=false
if [ "${1:-}" = --packages-only ]; then
  packages_only=true
  shift
  packages+=("$@")
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
$packages_only && exit 0

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
targets=()
for t in "$@"; do targets+=(--target "$t"); done
cmake --build build "${targets[@]}"

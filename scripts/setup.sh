#!/usr/bin/env bash
# Installs what the build needs from Debian's packages (only what is
# missing), then configures and builds into ./build (optimised): the targets
# named as arguments, or everything, with N jobs at once (default: one per
# core). With --packages-only it stops after the packages, and installs the
# packages named after it as well.
# Usage: scripts/setup.sh [-j N] [TARGET...]
#        scripts/setup.sh --packages-only [PACKAGE...]
set -euo pipefail
cd "$(dirname "$0")/.."

# Enough to configure and build any one program, the window among them
# (configuring asks for help2man, which makes the manual pages).
packages=(cmake g++ ninja-build qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev help2man)
# What the whole build's checks and benchmarks use besides.
everything=(groff-base desktop-file-utils appstream python3)

jobs=$(nproc)
packages_only=false
case "${1:-}" in
  --packages-only)
    packages_only=true
    shift
    packages+=("${everything[@]}" "$@") ;;
  -j)
    [ $# -ge 2 ] || { echo "setup.sh: -j needs a number of jobs" >&2; exit 2; }
    jobs=$2
    shift 2 ;;
  -j*)
    jobs=${1#-j}
    shift ;;
esac
if ! [[ $jobs =~ ^[1-9][0-9]*$ ]]; then
  echo "setup.sh: -j: \"$jobs\" is not a number of jobs" >&2
  exit 2
fi
# Building everything runs its checks' tools too; named targets need only the build.
if ! $packages_only && (($# == 0)); then
  packages+=("${everything[@]}")
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
cmake --build build --parallel "$jobs" "${targets[@]}"

#!/usr/bin/env bash
# Sets up, builds and runs the benchmarks (loopback only).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
QT_QPA_PLATFORM=offscreen build/bench/ipnd-bench "$@"
build/bench/ipnd-bench-send
build/bench/ipnd-bench-gen
build/bench/ipnd-bench-conform

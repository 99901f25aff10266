#!/usr/bin/env bash
# Builds the fuzz harnesses as libFuzzer targets with clang (AddressSanitizer
# and UndefinedBehaviorSanitizer on) in ./build-fuzz, and runs each for
# SECONDS (default 60), starting from its corpus in fuzz/corpus/<name>/.
# New inputs the fuzzer finds go to build-fuzz/corpus/<name>/, not into the
# tree; a finding stops the run and leaves its input in build-fuzz/.
# Usage: scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
scripts/setup.sh --packages-only clang-14 libclang-rt-14-dev
source scripts/sanitize.sh

cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DIPND_FUZZ=ON "${launcher[@]}" \
  -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14 \
  -DCMAKE_CXX_FLAGS="-O1 -fsanitize=fuzzer-no-link $sanitize" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitize" > /dev/null

# One name per harness in fuzz/ (fuzz_<name>.cpp, corpus/<name>/); the
# field-table check joins as fieldtable.
harnesses=(rawlog multipkt packetcheck fieldtable reports)
targets=()
for h in "${harnesses[@]}"; do targets+=("fuzz_$h"); done
cmake --build build-fuzz --target "${targets[@]}"

export ASAN_OPTIONS=detect_leaks=1
sanitizer_reports
for h in "${harnesses[@]}"; do
  mkdir -p "build-fuzz/corpus/$h"
  echo "== fuzz_$h for ${seconds}s"
  (cd build-fuzz && "./fuzz/fuzz_$h" -max_total_time="$seconds" -print_final_stats=1 \
     "corpus/$h" "../fuzz/corpus/$h")
done

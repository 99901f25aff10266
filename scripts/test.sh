#!/usr/bin/env bash
# Sets up, builds and runs the whole test suite headless, every test under
# AddressSanitizer and UndefinedBehaviorSanitizer: any finding fails the run.
# The build has a folder of its own (build-asan); the window and the
# benchmarks keep the optimised ./build.
set -euo pipefail
cd "$(dirname "$0")/.."
# chromium renders the HTML report in a test; nothing else needs it.
scripts/setup.sh --packages-only chromium-headless-shell
source scripts/sanitize.sh

# -O0 -g1 compiles in about 40 % of the time of -O1 -g and still gives the
# sanitizers' reports file and line.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug "${launcher[@]}" \
  -DCMAKE_CXX_FLAGS="$sanitize" -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1" \
  -DCMAKE_EXE_LINKER_FLAGS="$sanitize" > /dev/null
cmake --build build-asan

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:detect_stack_use_after_return=0
sanitizer_reports
cd build-asan
QT_QPA_PLATFORM=offscreen ctest --output-on-failure "$@"

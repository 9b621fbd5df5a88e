#!/usr/bin/env bash
# Installs what is needed, builds Quillmarch and runs every test twice:
# once in a plain build, once built by clang with AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
JOBS=${JOBS:-$(nproc)}  # parallel jobs: all the processors unless JOBS says
export QT_QPA_PLATFORM=offscreen

# The plain build: build/, shared with the example and the install.
bash scripts/configure.sh
cmake --build build -j "$JOBS"
(cd build && ctest --output-on-failure -j "$JOBS" --timeout 300)

cmake -S . -B build-san -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQM_SANITIZE=ON
cmake --build build-san -j "$JOBS"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-san && ctest --output-on-failure -j "$JOBS" --timeout 600)

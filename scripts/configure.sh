#!/usr/bin/env bash
# Configures build/, the one build folder that the tests (scripts/test.sh),
# the example (scripts/example.sh) and the install share: one set of
# settings, so that no step rebuilds what another has built.  The code is
# the release code (optimised, assertions off), without debug information
# (a third less compile time and disk).  Running it again changes nothing.
# CMake's own report goes to build/configure.log (shown when it fails).
set -euo pipefail
cd "$(dirname "$0")/.."
mkdir -p build
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" \
  -DQM_BUILD_TESTS=ON -DQM_SANITIZE=OFF >build/configure.log 2>&1 ||
  { cat build/configure.log >&2; exit 1; }

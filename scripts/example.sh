#!/usr/bin/env bash
# The main command: installs what is needed, builds Quillmarch's batch
# command in build/ (shared with the tests and the install: what they built
# is not built again), writes a few example inputs (AIFF and WAVE files with
# markers and regions) and converts them with the factory conversions.
# Every run works in a new folder under example/ (or under the folder given
# as the first argument); nothing that exists is replaced.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
bash scripts/setup.sh

bash scripts/configure.sh
cmake --build build -j "${JOBS:-$(nproc)}" --target quillmarch-batch quillmarch-make-examples

BASE=${1:-$ROOT/example}
mkdir -p "$BASE"
RUN=$(mktemp -d "$BASE/run-$(date +%Y%m%d-%H%M%S)-XXXX")
mkdir "$RUN/output"

echo
echo "Example inputs:"
build/src/quillmarch-make-examples "$RUN/input"
echo
build/src/quillmarch-batch --defaults "$RUN/preferences.plist" --info "$RUN/input"/*.* "$RUN/input/more takes"/*.*
echo

# The run's own preferences file, so that the user's are left alone.
status=0
build/src/quillmarch-batch --defaults "$RUN/preferences.plist" -o "$RUN/output" "$RUN/input" >/dev/null ||
  status=$?

echo
echo "Outputs: $RUN/output (one folder per conversion)"
log=$(ls -1 "$RUN/output"/QuillLog-*.qlg 2>/dev/null | head -n 1 || true)
if [ -n "$log" ]; then
  echo "Log:     $log"
fi
if [ "$status" -ne 0 ]; then
  echo "quillmarch-batch ended with status $status (1: some files failed, 2: the batch stopped); see the log."
fi
exit "$status"

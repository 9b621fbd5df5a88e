#!/usr/bin/env bash
# Converts one large input (10 minutes of 16-bit stereo 44.1 kHz WAVE, made
# with sox) to 24-bit AIFF with quillmarch-batch, sox and sndfile-convert,
# and prints the three times and the ratios.  A benchmark, not a test.
#
#   bench/batch_vs_peers.sh [BUILD_FOLDER]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
BATCH=$BUILD/src/quillmarch-batch
if [ ! -x "$BATCH" ]; then
  echo "no $BATCH: build first (cmake --build $BUILD --target quillmarch-batch)" >&2
  exit 1
fi
for tool in sox sndfile-convert python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmarch-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
sox -n -r 44100 -c 2 -b 16 "$WORK/input.wav" synth 600 sine 440 sine 660 gain -3

# One conversion: the factory's CD-quality AIFF, at 24 bits and without
# resampling or dither.
python3 - "$WORK/conversions.plist" <<'PY'
import plistlib, sys
factory = plistlib.load(open("resources/Factory_Conversions.plist", "rb"))
c = dict(factory[0])
c.update({"QMCSName": "AIFF 24", "QMCSNeedsSampleRateConversion": False,
          "QMCSNeedsRedither": False, "QMCSNeedsNewWordLength": True, "QMCSWordLength": 24})
plistlib.dump([c], open(sys.argv[1], "wb"))
PY
mkdir "$WORK/out"

# Best of three runs each, from a warm file cache.
seconds() {
  local best=""
  for run in 1 2 3; do
    rm -rf "$WORK/out-peer.aif" "$WORK/out"/*
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    best=$(python3 -c "import sys; t=$end-$start; b='$best'; print(t if not b or t<float(b) else b)")
  done
  echo "$best"
}
cat "$WORK/input.wav" >/dev/null
t_qm=$(seconds "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/conversions.plist" \
         -o "$WORK/out" "$WORK/input.wav")
t_sox=$(seconds sox "$WORK/input.wav" -b 24 "$WORK/out-peer.aif")
t_sf=$(seconds sndfile-convert -pcm24 "$WORK/input.wav" "$WORK/out-peer.aif")

python3 - "$t_qm" "$t_sox" "$t_sf" <<'PY'
import sys
qm, sox, sf = map(float, sys.argv[1:])
print(f"10 min 16-bit stereo WAVE -> 24-bit AIFF (best of 3)")
print(f"  quillmarch-batch {qm:8.3f} s")
print(f"  sox              {sox:8.3f} s   quillmarch/sox             = {qm/sox:5.2f}")
print(f"  sndfile-convert  {sf:8.3f} s   quillmarch/sndfile-convert = {qm/sf:5.2f}")
PY

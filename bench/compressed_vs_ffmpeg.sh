#!/usr/bin/env bash
# Decodes a 10-minute MP3 (lame) and a 10-minute AAC file (ffmpeg) to 24-bit
# AIFF with quillmarch-batch and with `ffmpeg -i IN -c:a pcm_s24be OUT.aiff`,
# and prints the times and their ratios (goal: within 1.2x of ffmpeg).  A
# benchmark, not a test.
#
#   bench/compressed_vs_ffmpeg.sh [BUILD_FOLDER]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
BATCH=$BUILD/src/quillmarch-batch
if [ ! -x "$BATCH" ]; then
  echo "no $BATCH: build first (cmake --build $BUILD --target quillmarch-batch)" >&2
  exit 1
fi
for tool in ffmpeg lame python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmarch-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=440:duration=600" -f lavfi \
  -i "anoisesrc=duration=600:amplitude=0.1" -filter_complex amerge -ar 44100 -c:a pcm_s16le "$WORK/source.wav"
lame --quiet -b 192 "$WORK/source.wav" "$WORK/input.mp3"
ffmpeg -nostdin -loglevel error -i "$WORK/source.wav" -c:a aac -b:a 192k "$WORK/input.m4a"
rm "$WORK/source.wav"

# The factory's CD-quality AIFF at 24 bits, without resampling or dither.
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
    rm -rf "$WORK/peer.aiff" "$WORK/out"/*
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    best=$(python3 -c "import sys; t=$end-$start; b='$best'; print(t if not b or t<float(b) else b)")
  done
  echo "$best"
}
for input in input.mp3 input.m4a; do
  cat "$WORK/$input" >/dev/null
  t_qm=$(seconds "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/conversions.plist" \
           -o "$WORK/out" "$WORK/$input")
  t_ff=$(seconds ffmpeg -nostdin -loglevel error -y -i "$WORK/$input" -c:a pcm_s24be "$WORK/peer.aiff")
  python3 - "$input" "$t_qm" "$t_ff" <<'PY'
import sys
name, qm, ff = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
print(f"10 min {name} -> 24-bit AIFF (best of 3)")
print(f"  quillmarch-batch {qm:8.3f} s")
print(f"  ffmpeg           {ff:8.3f} s   quillmarch/ffmpeg = {qm/ff:5.2f}")
PY
done

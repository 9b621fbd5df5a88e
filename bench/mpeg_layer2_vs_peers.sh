#!/usr/bin/env bash
# Encodes 10 minutes of 44.1 kHz 16-bit stereo to 192 kbit/s MPEG-1 Layer II
# with quillmarch-batch, twolame (its default model and model 2, the one
# quillmarch uses) and ffmpeg's mp2 encoder, and prints the times and the
# ratios.  A benchmark, not a test.  Goal: no slower than twolame.
#
#   bench/mpeg_layer2_vs_peers.sh [BUILD_FOLDER]     (default: build)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD=${1:-build}
BATCH=$BUILD/src/quillmarch-batch
if [ ! -x "$BATCH" ]; then
  echo "no $BATCH: build first (cmake --build $BUILD --target quillmarch-batch)" >&2
  exit 1
fi
for tool in sox twolame ffmpeg python3; do
  command -v "$tool" >/dev/null || { echo "$tool is needed" >&2; exit 1; }
done

WORK=$(mktemp -d "${TMPDIR:-/tmp}/quillmarch-bench-XXXXXX")
trap 'rm -rf "$WORK"' EXIT
# Music-like input: two tones, a sweep and pink noise.
sox -n -r 44100 -c 2 -b 16 "$WORK/input.wav" synth 600 sine 440 sine 660 synth 600 sine mix 100-12000 \
  synth 600 pinknoise mix gain -6

# One conversion: MPEG-1 Layer II, 192 kbit/s, stereo, no resampling.
python3 - "$WORK/conversions.plist" <<'PY'
import plistlib, sys
factory = plistlib.load(open("resources/Factory_Conversions.plist", "rb"))
c = dict(factory[0])
c.update({"QMCSName": "MP2 192", "QMCSOutputFileType": int.from_bytes(b"MPG2", "big"),
          "QMCSNeedsStrictFileType": True, "QMCSNeedsSampleRateConversion": False,
          "QMCSNeedsRedither": False, "QMCSNeedsNameExtension": False,
          "QMCSNeedsNewWordLength": True, "QMCSWordLength": 192})
plistlib.dump([c], open(sys.argv[1], "wb"))
PY
mkdir "$WORK/out"

# Best of three runs each, from a warm file cache.
seconds() {
  local best=""
  for run in 1 2 3; do
    rm -rf "$WORK/peer.mp2" "$WORK/out"/*
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    best=$(python3 -c "import sys; t=$end-$start; b='$best'; print(t if not b or t<float(b) else b)")
  done
  echo "$best"
}
cat "$WORK/input.wav" >/dev/null
t_qm=$(seconds "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/conversions.plist" \
         -o "$WORK/out" "$WORK/input.wav")
t_tw=$(seconds twolame --quiet -m s -b 192 "$WORK/input.wav" "$WORK/peer.mp2")
t_tw2=$(seconds twolame --quiet -m s -b 192 -P 2 "$WORK/input.wav" "$WORK/peer.mp2")
t_ff=$(seconds ffmpeg -v error -y -i "$WORK/input.wav" -c:a mp2 -b:a 192k "$WORK/peer.mp2")

python3 - "$t_qm" "$t_tw" "$t_tw2" "$t_ff" <<'PY'
import sys
qm, tw, tw2, ff = map(float, sys.argv[1:])
print("10 min 44.1 kHz stereo -> MPEG-1 Layer II 192 kbit/s (best of 3)")
print(f"  quillmarch-batch     {qm:8.3f} s")
print(f"  twolame              {tw:8.3f} s   quillmarch/twolame         = {qm/tw:5.2f}")
print(f"  twolame -P 2         {tw2:8.3f} s   quillmarch/twolame model 2 = {qm/tw2:5.2f}")
print(f"  ffmpeg -c:a mp2      {ff:8.3f} s   quillmarch/ffmpeg          = {qm/ff:5.2f}")
PY

#!/usr/bin/env bash
# The compressor's limiter over one large input (10 minutes of 16-bit stereo
# 44.1 kHz WAVE, normalised, boosted 6 dB and limited at 0 dBFS, kept as
# 16-bit WAVE) with quillmarch-batch, against sox's gain with its limiter
# (`gain -l 6`) and the plain copy of the same file (no gain), which shows
# what the limiter itself costs.
#
#   bench/limiter_vs_sox.sh [BUILD_FOLDER]   (ROUNDS=3 by default)
source "$(dirname "$0")/bench_common.sh"
sox -n -r 44100 -c 2 -b 16 "$WORK/input.wav" synth 600 sine 300 sine 440 gain -3
conversions_plist "$WORK/limit.plist" "QMCSName='limit'" "QMCSNeedsStrictFileType=False" \
  "QMCSNeedsSampleRateConversion=False" "QMCSNeedsNewWordLength=False" "QMCSNeedsRedither=False" \
  "QMCSNeedsGain=True" "QMCSNeedsCompressor=True" "QMCSCeiling=0.0"
conversions_plist "$WORK/copy.plist" "QMCSName='copy'" "QMCSNeedsStrictFileType=False" \
  "QMCSNeedsSampleRateConversion=False" "QMCSNeedsNewWordLength=False" "QMCSNeedsRedither=False"
cat "$WORK/input.wav" >/dev/null
for round in $(seq 1 "$ROUNDS"); do
  rm -rf "$WORK/out" "$WORK/copied" "$WORK/peer.wav" && mkdir "$WORK/out" "$WORK/copied"
  measure "$round" limiter "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/limit.plist" \
    -o "$WORK/out" "$WORK/input.wav"
  measure "$round" copy "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/copy.plist" \
    -o "$WORK/copied" "$WORK/input.wav"
  measure "$round" sox sox -D "$WORK/input.wav" "$WORK/peer.wav" gain -l 6
done
report "10 min 16-bit stereo WAVE, normalised, boosted 6 dB, limited at 0 dBFS" limiter copy sox -- \
  limiter/copy limiter/sox

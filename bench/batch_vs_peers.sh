#!/usr/bin/env bash
# A plain format change of one large input (10 minutes of 16-bit stereo
# 44.1 kHz WAVE to 24-bit AIFF, no resampling or dither) with
# quillmarch-batch, sox and sndfile-convert.  The goal: quillmarch at most
# 0.8 of sox's time.
#
#   bench/batch_vs_peers.sh [BUILD_FOLDER]   (ROUNDS=3 by default)
source "$(dirname "$0")/bench_common.sh"
need sndfile-convert
sox -n -r 44100 -c 2 -b 16 "$WORK/input.wav" synth 600 sine 440 sine 660 gain -3
conversions_plist "$WORK/aiff24.plist" "QMCSName='AIFF 24'" "QMCSNeedsSampleRateConversion=False" \
  "QMCSNeedsRedither=False" "QMCSNeedsNewWordLength=True" "QMCSWordLength=24"
cat "$WORK/input.wav" >/dev/null
for round in $(seq 1 "$ROUNDS"); do
  rm -rf "$WORK/out" "$WORK"/peer*.aif && mkdir "$WORK/out"
  measure "$round" quillmarch "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/aiff24.plist" \
    -o "$WORK/out" "$WORK/input.wav"
  measure "$round" sox sox "$WORK/input.wav" -b 24 "$WORK/peer1.aif"
  measure "$round" sndfile-convert sndfile-convert -pcm24 "$WORK/input.wav" "$WORK/peer2.aif"
done
report "10 min 16-bit stereo WAVE -> 24-bit AIFF" quillmarch sox sndfile-convert -- \
  quillmarch/sox quillmarch/sndfile-convert

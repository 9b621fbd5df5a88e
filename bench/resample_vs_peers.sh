#!/usr/bin/env bash
# Sample-rate conversion of 5 minutes of 16-bit stereo 44.1 kHz WAVE to
# 48 kHz 24-bit WAVE: quillmarch-batch at qualities 0 to 4 against
# `sox rate -v`, `sox rate -h` and ffmpeg's default resampler.  The goals:
# quality 4 no slower than sox -v, quality 1 (automatic) no slower than sox -h.
#
#   bench/resample_vs_peers.sh [BUILD_FOLDER]   (ROUNDS=3 by default)
source "$(dirname "$0")/bench_common.sh"
need ffmpeg
sox -n -r 44100 -c 2 -b 16 "$WORK/input.wav" synth 300 sine 440 sine 660 gain -3
for q in 0 1 2 3 4; do
  conversions_plist "$WORK/q$q.plist" "QMCSName='q$q'" "QMCSOutputFileType=0x57415645" "QMCSNameExtension='wav'" \
    "QMCSNeedsSampleRateConversion=True" "QMCSSampleRate=48000.0" "QMCSSampleRateConvertQuality=$q" \
    "QMCSNeedsRedither=False" "QMCSNeedsNewWordLength=True" "QMCSWordLength=24"
done
cat "$WORK/input.wav" >/dev/null
for round in $(seq 1 "$ROUNDS"); do
  for q in 0 1 2 3 4; do
    rm -rf "$WORK/out" && mkdir "$WORK/out"
    measure "$round" "q$q" "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/q$q.plist" \
      -o "$WORK/out" "$WORK/input.wav"
  done
  measure "$round" sox-v sox "$WORK/input.wav" -b 24 "$WORK/peer.wav" rate -v 48000
  measure "$round" sox-h sox "$WORK/input.wav" -b 24 "$WORK/peer.wav" rate -h 48000
  measure "$round" ffmpeg ffmpeg -v error -y -i "$WORK/input.wav" -ar 48000 -c:a pcm_s24le "$WORK/peer.wav"
done
report "5 min 16-bit stereo 44.1 kHz WAVE -> 48 kHz 24-bit WAVE" q0 q1 q2 q3 q4 sox-v sox-h ffmpeg -- \
  q4/sox-v q1/sox-h q0/ffmpeg q1/ffmpeg q4/ffmpeg

#!/usr/bin/env bash
# Decodes a 10-minute MP3 (lame) and a 10-minute AAC file (ffmpeg) to 24-bit
# AIFF with quillmarch-batch and with `ffmpeg -i IN -c:a pcm_s24be OUT.aiff`
# (goal: within 1.2x of ffmpeg).
#
#   bench/compressed_vs_ffmpeg.sh [BUILD_FOLDER]     (ROUNDS=3)
source "$(dirname "$0")/bench_common.sh"
need ffmpeg lame
ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=440:duration=600" -f lavfi \
  -i "anoisesrc=duration=600:amplitude=0.1" -filter_complex amerge -ar 44100 -c:a pcm_s16le "$WORK/source.wav"
lame --quiet -b 192 "$WORK/source.wav" "$WORK/input.mp3"
ffmpeg -nostdin -loglevel error -i "$WORK/source.wav" -c:a aac -b:a 192k "$WORK/input.m4a"
rm "$WORK/source.wav"
# The factory's CD-quality AIFF at 24 bits, without resampling or dither.
conversions_plist "$WORK/aiff24.plist" "QMCSName='AIFF 24'" "QMCSNeedsSampleRateConversion=False" \
  "QMCSNeedsRedither=False" "QMCSNeedsNewWordLength=True" "QMCSWordLength=24"
for input in input.mp3 input.m4a; do
  : >"$RESULTS"
  cat "$WORK/$input" >/dev/null
  for round in $(seq 1 "$ROUNDS"); do
    rm -rf "$WORK/out" "$WORK/peer.aiff" && mkdir "$WORK/out"
    measure "$round" quillmarch "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/aiff24.plist" \
      -o "$WORK/out" "$WORK/$input"
    measure "$round" ffmpeg ffmpeg -nostdin -loglevel error -y -i "$WORK/$input" -c:a pcm_s24be "$WORK/peer.aiff"
  done
  report "10 min $input -> 24-bit AIFF" quillmarch ffmpeg -- quillmarch/ffmpeg
done

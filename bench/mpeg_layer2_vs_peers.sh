#!/usr/bin/env bash
# Encodes 10 minutes of 44.1 kHz 16-bit stereo to 192 kbit/s MPEG-1 Layer II
# with quillmarch-batch, twolame (its default model and model 2, the one
# quillmarch uses) and ffmpeg's mp2 encoder.  Goal: no slower than twolame.
#
#   bench/mpeg_layer2_vs_peers.sh [BUILD_FOLDER]     (ROUNDS=3)
source "$(dirname "$0")/bench_common.sh"
need twolame ffmpeg
# Music-like input: two tones, a sweep and pink noise.
sox -n -r 44100 -c 2 -b 16 "$WORK/input.wav" synth 600 sine 440 sine 660 synth 600 sine mix 100-12000 \
  synth 600 pinknoise mix gain -6
# One conversion: MPEG-1 Layer II ('MPG2' = 1297106738), 192 kbit/s, stereo, no resampling.
conversions_plist "$WORK/mp2.plist" "QMCSName='MP2 192'" "QMCSOutputFileType=1297106738" \
  "QMCSNeedsStrictFileType=True" "QMCSNeedsSampleRateConversion=False" "QMCSNeedsRedither=False" \
  "QMCSNeedsNameExtension=False" "QMCSNeedsNewWordLength=True" "QMCSWordLength=192"
cat "$WORK/input.wav" >/dev/null
for round in $(seq 1 "$ROUNDS"); do
  rm -rf "$WORK/out" && mkdir "$WORK/out"
  measure "$round" quillmarch "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/mp2.plist" \
    -o "$WORK/out" "$WORK/input.wav"
  measure "$round" twolame twolame --quiet -m s -b 192 "$WORK/input.wav" "$WORK/peer.mp2"
  measure "$round" twolame-P2 twolame --quiet -m s -b 192 -P 2 "$WORK/input.wav" "$WORK/peer.mp2"
  measure "$round" ffmpeg ffmpeg -v error -y -i "$WORK/input.wav" -c:a mp2 -b:a 192k "$WORK/peer.mp2"
done
report "10 min 44.1 kHz stereo -> MPEG-1 Layer II 192 kbit/s" quillmarch twolame twolame-P2 ffmpeg -- \
  quillmarch/twolame quillmarch/twolame-P2 quillmarch/ffmpeg

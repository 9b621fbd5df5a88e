#!/usr/bin/env bash
# IMA 4:1 writing: 10 minutes of 16-bit stereo 44.1 kHz WAVE, loud and
# quiet, to AIFF-C IMA 4:1 with quillmarch-batch and with ffmpeg's encoder.
# Each packet is coded from the state its header stores, choosing among a
# few header states (most where the sound is quiet), so the quiet input
# costs the most.
#
#   bench/ima_vs_ffmpeg.sh [BUILD_FOLDER]   (ROUNDS=3 by default)
source "$(dirname "$0")/bench_common.sh"
need ffmpeg
sox -n -r 44100 -c 2 -b 16 "$WORK/loud.wav" synth 600 sine 440 sine 660 gain -3
sox -n -r 44100 -c 2 -b 16 "$WORK/quiet.wav" synth 600 sine 440 sine 660 gain -50
conversions_plist "$WORK/ima.plist" "QMCSName='IMA'" "QMCSOutputFileType=0x41317434" \
  "QMCSNeedsStrictFileType=True" "QMCSNeedsSampleRateConversion=False" "QMCSNeedsRedither=False" \
  "QMCSNeedsNewWordLength=True" "QMCSWordLength=16"
cat "$WORK/loud.wav" "$WORK/quiet.wav" >/dev/null
for round in $(seq 1 "$ROUNDS"); do
  for level in loud quiet; do
    rm -rf "$WORK/out" "$WORK"/peer*.aifc && mkdir "$WORK/out"
    measure "$round" "quillmarch-$level" "$BATCH" --quiet --defaults "$WORK/prefs.plist" \
      --conversions "$WORK/ima.plist" -o "$WORK/out" "$WORK/$level.wav"
    measure "$round" "ffmpeg-$level" ffmpeg -nostdin -v error -i "$WORK/$level.wav" -c:a adpcm_ima_qt \
      -f aiff "$WORK/peer.aifc"
  done
done
report "10 min 16-bit stereo WAVE -> AIFF-C IMA 4:1" quillmarch-loud ffmpeg-loud quillmarch-quiet ffmpeg-quiet -- \
  quillmarch-loud/ffmpeg-loud quillmarch-quiet/ffmpeg-quiet

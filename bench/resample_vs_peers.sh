#!/usr/bin/env bash
# Sample-rate conversion with quillmarch-batch at qualities 0 to 4 against
# the sox setting each matches and ffmpeg's default resampler, side by side
# in one run.  Jobs:
#   up44to48   5 min 16-bit stereo 44.1 kHz WAVE -> 48 kHz 24-bit
#   96to48     5 min 24-bit stereo 96 kHz WAVE -> 48 kHz 16-bit, dithered
#   96to44     5 min 24-bit stereo 96 kHz -> 44.1 kHz 16-bit, dithered
#   192to48    2 min 24-bit stereo 192 kHz -> 48 kHz 16-bit, dithered
#   48to44     5 min 24-bit stereo 48 kHz -> 44.1 kHz 16-bit, dithered
#   88to48     5 min 24-bit stereo 88.2 kHz -> 48 kHz 16-bit, dithered
#   176to48    2 min 24-bit stereo 176.4 kHz -> 48 kHz 16-bit, dithered
# Matches: quality 0 (linear) ffmpeg's default resampler, quality 2 (filter
# length 12) `sox rate -l`, quality 3 (length 32) `sox rate -m`, quality 1
# (automatic) `sox rate -h`, quality 4 (length 64) `sox rate -v`; `sox rate
# -q` is shown beside quality 0.  The goal: each quality at most 0.8 of the
# time of its match.  Both sides dither when they cut to 16 bits (sox by
# default, ffmpeg with triangular dither).
#
# With BASE=OTHER_BUILD_FOLDER the batch command of that build runs too, in
# the same rounds (base-q0 ... base-q4), for before-and-after figures.
#
#   bench/resample_vs_peers.sh [BUILD_FOLDER]   (ROUNDS=3, JOBS="up44to48 96to48 ...", BASE=)
source "$(dirname "$0")/bench_common.sh"
need ffmpeg
JOBS=${JOBS:-up44to48 96to48 96to44 192to48 48to44 88to48 176to48}
BASE=${BASE:-}
if [ -n "$BASE" ] && [ ! -x "$BASE/src/quillmarch-batch" ]; then
  echo "no $BASE/src/quillmarch-batch" >&2
  exit 1
fi

# job NAME SECONDS IN_RATE IN_BITS OUT_RATE OUT_BITS: one job's rounds and report.
job() {
  local name=$1 seconds=$2 inRate=$3 inBits=$4 outRate=$5 outBits=$6
  local dither=False format=s32 codec=pcm_s24le
  [ "$outBits" = 16 ] && dither=True format=s16 codec=pcm_s16le
  : >"$RESULTS"
  sox -n -r "$inRate" -c 2 -b "$inBits" "$WORK/input.wav" synth "$seconds" sine 440 sine 660 gain -3
  for q in 0 1 2 3 4; do
    conversions_plist "$WORK/q$q.plist" "QMCSName='q$q'" "QMCSOutputFileType=0x57415645" "QMCSNameExtension='wav'" \
      "QMCSNeedsSampleRateConversion=True" "QMCSSampleRate=$outRate.0" "QMCSSampleRateConvertQuality=$q" \
      "QMCSNeedsRedither=$dither" "QMCSNeedsNewWordLength=True" "QMCSWordLength=$outBits"
  done
  cat "$WORK/input.wav" >/dev/null
  for round in $(seq 1 "$ROUNDS"); do
    for q in 0 1 2 3 4; do
      rm -rf "$WORK/out" && mkdir "$WORK/out"
      measure "$round" "q$q" "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/q$q.plist" \
        -o "$WORK/out" "$WORK/input.wav"
      if [ -n "$BASE" ]; then
        rm -rf "$WORK/out" && mkdir "$WORK/out"
        measure "$round" "base-q$q" "$BASE/src/quillmarch-batch" --quiet --defaults "$WORK/prefs.plist" \
          --conversions "$WORK/q$q.plist" -o "$WORK/out" "$WORK/input.wav"
      fi
    done
    for s in q l m h v; do
      measure "$round" "sox-$s" sox "$WORK/input.wav" -b "$outBits" "$WORK/peer.wav" rate "-$s" "$outRate"
    done
    measure "$round" ffmpeg ffmpeg -v error -y -i "$WORK/input.wav" \
      -af "aresample=$outRate:osf=$format:dither_method=triangular" -c:a "$codec" \
      "$WORK/peer.wav"
  done
  local base=() baseRatios=()
  if [ -n "$BASE" ]; then
    base=(base-q0 base-q1 base-q2 base-q3 base-q4)
    baseRatios=(base-q0/ffmpeg base-q2/sox-l base-q3/sox-m base-q1/sox-h base-q4/sox-v)
  fi
  report "$name: $seconds s ${inBits}-bit stereo $inRate Hz WAVE -> $outRate Hz ${outBits}-bit" \
    q0 q1 q2 q3 q4 "${base[@]}" sox-q sox-l sox-m sox-h sox-v ffmpeg -- \
    q0/ffmpeg q0/sox-q q2/sox-l q3/sox-m q1/sox-h q4/sox-v q1/ffmpeg q4/ffmpeg "${baseRatios[@]}"
}

for j in $JOBS; do
  case $j in
  up44to48) job "$j" 300 44100 16 48000 24 ;;
  96to48) job "$j" 300 96000 24 48000 16 ;;
  96to44) job "$j" 300 96000 24 44100 16 ;;
  192to48) job "$j" 120 192000 24 48000 16 ;;
  48to44) job "$j" 300 48000 24 44100 16 ;;
  88to48) job "$j" 300 88200 24 48000 16 ;;
  176to48) job "$j" 120 176400 24 48000 16 ;;
  *) echo "unknown job $j" >&2; exit 1 ;;
  esac
done

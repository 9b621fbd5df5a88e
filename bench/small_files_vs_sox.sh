#!/usr/bin/env bash
# Per-file cost: 2000 files of 0.5 s of 16-bit stereo 44.1 kHz WAVE to 24-bit
# AIFF, in one quillmarch-batch run against a loop of sox commands.  The
# goal: the batch at least 10 times faster than the loop.
#
#   bench/small_files_vs_sox.sh [BUILD_FOLDER]   (ROUNDS=3, FILES=2000)
source "$(dirname "$0")/bench_common.sh"
FILES=${FILES:-2000}
mkdir "$WORK/in"
sox -n -r 44100 -c 2 -b 16 "$WORK/seed.wav" synth 0.5 sine 440 sine 660 gain -3
for i in $(seq -w 1 "$FILES"); do cp "$WORK/seed.wav" "$WORK/in/f$i.wav"; done
conversions_plist "$WORK/aiff24.plist" "QMCSName='AIFF 24'" "QMCSNeedsSampleRateConversion=False" \
  "QMCSNeedsRedither=False" "QMCSNeedsNewWordLength=True" "QMCSWordLength=24"
cat > "$WORK/soxloop.sh" <<'SH'
for f in "$1"/*.wav; do b=${f##*/}; sox "$f" -b 24 "$2/${b%.wav}.aif"; done
SH
cat "$WORK"/in/* >/dev/null
# Both contenders once on a few files first, so that neither pays for
# loading its program and libraries from disk in the first round.
mkdir "$WORK/warm" "$WORK/warmout" "$WORK/warmsox"
cp "$WORK"/in/f$(printf "%0${#FILES}d" 1).wav "$WORK/warm/"
"$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/aiff24.plist" -o "$WORK/warmout" "$WORK/warm" \
  >/dev/null 2>&1
bash "$WORK/soxloop.sh" "$WORK/warm" "$WORK/warmsox"
# Every run writes into a new folder, and nothing is deleted until the end:
# the file system's cost of creating files right after deleting thousands
# would otherwise fall on whichever contender runs next.  The order
# alternates from round to round.  (On ext4 a new inode costs more the more
# files were deleted lately anywhere on the disk, so on a busy machine the
# file creation both contenders make per file can dominate; TMPDIR=/dev/shm
# measures without it.)
run_batch() {
  mkdir "$WORK/out$1"
  measure "$1" quillmarch "$BATCH" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/aiff24.plist" \
    -o "$WORK/out$1" "$WORK/in"
}
run_sox() {
  mkdir "$WORK/soxout$1"
  measure "$1" sox-loop bash "$WORK/soxloop.sh" "$WORK/in" "$WORK/soxout$1"
}
for round in $(seq 1 "$ROUNDS"); do
  if [ $((round % 2)) -eq 1 ]; then run_batch "$round"; run_sox "$round"; else run_sox "$round"; run_batch "$round"; fi
done
report "$FILES files of 0.5 s 16-bit stereo WAVE -> 24-bit AIFF" quillmarch sox-loop -- sox-loop/quillmarch

#!/usr/bin/env bash
# Decodes six 10-minute stereo 44.1 kHz inputs (FLAC 16-bit, FLAC 24-bit,
# lame MP3 192k, ffmpeg AAC in M4A 192k, opusenc Opus, oggenc Vorbis) to
# WAVE with nothing else changed (16-bit; 24-bit for the 24-bit FLAC), with
# quillmarch-batch, with `ffmpeg -i IN -c:a pcm_s16le|pcm_s24le OUT.wav` and,
# for FLAC, with `flac -d`, one after the other in each round.  Prints per
# input the median processor time (user+sys) of each and its ratios, the
# peak memory, and the goals met: at most 1.0x ffmpeg's processor time (and
# flac -d's for FLAC), under 64 MB.
#
#   bench/compressed_vs_ffmpeg.sh [BUILD_FOLDER [OLD_BUILD_FOLDER]]   (ROUNDS=5)
#
# With a second build folder its quillmarch-batch runs too, in the same
# rounds, as "old": the ratio new/old is printed beside.
ROUNDS=${ROUNDS:-5}
source "$(dirname "$0")/bench_common.sh"
need ffmpeg flac lame opusenc oggenc
OLD=${2:-}
OLD_BATCH=
if [ -n "$OLD" ]; then
  OLD_BATCH=$OLD/src/quillmarch-batch
  [ -x "$OLD_BATCH" ] || { echo "no $OLD_BATCH" >&2; exit 1; }
fi

# The sound: a slow sweep and pink noise, different in each channel, made
# at 24 bits (its low byte is sound too) and dithered to 16 for the rest.
# The encoders take it as raw words (little-endian), so that no header is in doubt.
sox -n -r 44100 -b 24 -c 2 -e signed -t raw "$WORK/src24.raw" synth 600 sine 100-4000 pinknoise \
  remix 1v0.5,2v0.3 2v0.5,1v0.3 gain -3
sox -r 44100 -b 24 -c 2 -e signed -t raw "$WORK/src24.raw" -b 16 -t raw "$WORK/src16.raw"
raw="--endian=little --sign=signed --channels=2 --sample-rate=44100"
flac --silent --force-raw-format $raw --bps=24 -o "$WORK/f24.flac" "$WORK/src24.raw"
flac --silent --force-raw-format $raw --bps=16 -o "$WORK/f16.flac" "$WORK/src16.raw"
rm "$WORK/src24.raw"
lame --quiet -r -s 44.1 --bitwidth 16 --signed --little-endian -b 192 "$WORK/src16.raw" "$WORK/in.mp3"
ffmpeg -nostdin -loglevel error -f s16le -ar 44100 -ac 2 -i "$WORK/src16.raw" -c:a aac -b:a 192k "$WORK/in.m4a"
opusenc --quiet --raw --raw-bits 16 --raw-rate 44100 --raw-chan 2 "$WORK/src16.raw" "$WORK/in.opus"
oggenc --quiet -r -B 16 -C 2 -R 44100 -o "$WORK/in.ogg" "$WORK/src16.raw"
rm "$WORK/src16.raw"

# WAVE at the input's rate, 16 or 24 bits, no dither.
for bits in 16 24; do
  conversions_plist "$WORK/wav$bits.plist" "QMCSName='WAVE $bits'" "QMCSOutputFileType=0x57415645" \
    "QMCSNameExtension='wav'" "QMCSNeedsSampleRateConversion=False" "QMCSNeedsRedither=False" \
    "QMCSNeedsNewWordLength=True" "QMCSWordLength=$bits"
done

# batch NAME BINARY ROUND INPUT BITS: one run of a quillmarch-batch.
batch() {
  rm -rf "$WORK/out" && mkdir "$WORK/out"
  measure "$3" "$1" "$2" --quiet --defaults "$WORK/prefs.plist" --conversions "$WORK/wav$5.plist" \
    -o "$WORK/out" "$WORK/$4"
}

for input in f16.flac f24.flac in.mp3 in.m4a in.opus in.ogg; do
  bits=16
  [ "$input" = f24.flac ] && bits=24
  : >"$RESULTS"
  cat "$WORK/$input" >/dev/null
  for round in $(seq 1 "$ROUNDS"); do
    batch quillmarch "$BATCH" "$round" "$input" "$bits"
    [ -z "$OLD_BATCH" ] || batch old "$OLD_BATCH" "$round" "$input" "$bits"
    measure "$round" ffmpeg ffmpeg -nostdin -loglevel error -y -i "$WORK/$input" -c:a "pcm_s${bits}le" "$WORK/peer.wav"
    if [ "${input##*.}" = flac ]; then
      measure "$round" flac flac --silent -f -d -o "$WORK/peer.wav" "$WORK/$input"
    fi
  done
  python3 - "$RESULTS" "$input -> $bits-bit WAVE" <<'PY'
import statistics, sys
rows = {}
for line in open(sys.argv[1]):
    r, name, micros, user, system, kb = line.split()
    rows.setdefault(name, {})[int(r)] = (float(user) + float(system), int(kb))
cpu = {n: statistics.median(v[0] for v in rounds.values()) for n, rounds in rows.items()}
mem = {n: max(v[1] for v in rounds.values()) / 1024 for n, rounds in rows.items()}
print(f"{sys.argv[2]}  ({len(rows['quillmarch'])} rounds, median processor time)")
for n in rows:
    print(f"  {n:<10} {cpu[n]:6.2f} s  {mem[n]:6.1f} MB")
def ratio(a, b):
    # the median of the rounds' ratios
    return statistics.median(rows[a][r][0] / max(rows[b][r][0], 0.01) for r in rows[a] if r in rows[b])
goals = []
for peer in ("ffmpeg", "flac"):
    if peer in rows:
        q = ratio("quillmarch", peer)
        print(f"  quillmarch/{peer:<6} {q:5.2f}")
        goals.append((q <= 1.0, f"<=1.0x {peer} ({q:.2f}x)"))
if "old" in rows:
    print(f"  new/old           {ratio('quillmarch', 'old'):5.2f}")
goals.append((mem["quillmarch"] < 64, f"memory < 64 MB ({mem['quillmarch']:.1f} MB)"))
met = [text for ok, text in goals if ok]
missed = [text for ok, text in goals if not ok]
print("  meets: " + (", ".join(met) or "none") + ("; misses: " + ", ".join(missed) if missed else ""))
PY
done

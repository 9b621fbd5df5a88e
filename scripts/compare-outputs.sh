#!/usr/bin/env bash
# Compares what two builds of quillmarch-batch write, file by file: every
# writable output type, plain and with fades and normalising, from a PCM
# stereo input, a mono speech-rate input, a 5.1 input and an MP3 input.
# A refactoring is checked with it: the outputs must be byte-identical,
# time fields aside (a differing file is listed with its count of differing
# bytes, to be looked at).
#
#   bash scripts/compare-outputs.sh OLD_BATCH NEW_BATCH [WORK_FOLDER]
#
# Needs sox and lame.  Exit status 0 when every output matches.
set -euo pipefail
old=$(readlink -f "$1"); new=$(readlink -f "$2")
work=${3:-$(mktemp -d)}
mkdir -p "$work/in"
in=$work/in
export QUILLMARCH_DEFAULTS=$work/defaults.plist

sox -n -r 44100 -b 16 -c 2 "$in/stereo.wav" synth 1.5 sine 440 sine 660 fade 0.1 1.5 0.3
sox -n -r 8000 -b 16 -c 1 "$in/mono.wav" synth 1 sine 300:900 gain -3
sox -n -r 48000 -b 24 -c 6 "$in/surround.wav" synth 0.5 sine 200 sine 300 sine 400 sine 60 sine 500 sine 600
sox -n -r 44100 -b 16 -c 2 "$work/mp3src.wav" synth 1 pinknoise gain -6
lame --quiet -b 128 "$work/mp3src.wav" "$in/music.mp3"

types=$("$new" --list-types | awk 'NR > 1 && $4 == "yes" { print $1 }')

# One conversion per type and variant; the settings a type needs (a
# telephony rate, mono) are added where the plain one is refused.
plist_entry() { # name code extra-keys
  printf '  <dict><key>QMCSName</key><string>%s</string><key>QMCSNeedsStrictFileType</key><true/>' "$1"
  printf '<key>QMCSOutputFileType</key><integer>%s</integer>%s</dict>\n' "$2" "$3"
}
fades='<key>QMCSNeedsFades</key><true/><key>QMCSFadeInTime</key><real>20</real><key>QMCSFadeOutTime</key><real>80</real><key>QMCSNeedsGain</key><true/><key>QMCSNeedsNormalize</key><true/><key>QMCSCeiling</key><real>-1</real>'
tel='<key>QMCSNeedsSampleRateConversion</key><true/><key>QMCSSampleRate</key><real>8000</real><key>QMCSNeedsChannelTreat</key><true/><key>QMCSChannelTreat</key><integer>3</integer><key>QMCSNeedsNewWordLength</key><true/><key>QMCSWordLength</key><integer>16</integer>'
cd16='<key>QMCSNeedsSampleRateConversion</key><true/><key>QMCSSampleRate</key><real>44100</real><key>QMCSNeedsNewWordLength</key><true/><key>QMCSWordLength</key><integer>16</integer><key>QMCSNeedsChannelTreat</key><true/><key>QMCSChannelTreat</key><integer>1</integer>'
mpeg='<key>QMCSNeedsSampleRateConversion</key><true/><key>QMCSSampleRate</key><real>48000</real><key>QMCSNeedsNewWordLength</key><true/><key>QMCSWordLength</key><integer>192</integer>'
mono='<key>QMCSNeedsChannelTreat</key><true/><key>QMCSChannelTreat</key><integer>3</integer>'

status=0
for code in $types; do
  for variant in plain fades; do
    extra=""; [ $variant = fades ] && extra=$fades
    chosen=""
    for shape in "" "$tel" "$cd16" "$mpeg" "$mono"; do
      f=$work/conv-$code-$variant.plist
      { echo '<?xml version="1.0" encoding="UTF-8"?><plist version="1.0"><array>'
        plist_entry "c$code$variant" "$code" "$shape$extra"
        echo '</array></plist>'; } > "$f"
      if "$new" --conversions "$f" --list-conversions >/dev/null 2>&1; then chosen=$f; break; fi
    done
    if [ -z "$chosen" ]; then echo "refused by the check: $code $variant"; continue; fi
    for build in old new; do
      exe=$old; [ $build = new ] && exe=$new
      rm -rf "$work/out-$build-$code-$variant"; mkdir -p "$work/out-$build-$code-$variant"
      "$exe" --quiet --conversions "$chosen" -o "$work/out-$build-$code-$variant" "$in" >/dev/null 2>&1 || true
      find "$work/out-$build-$code-$variant" -name 'QuillLog-*' -delete
    done
    a=$work/out-old-$code-$variant; b=$work/out-new-$code-$variant
    if ! diff -q <(cd "$a" && find . -type f | sort) <(cd "$b" && find . -type f | sort) >/dev/null; then
      echo "DIFFERENT FILE SETS: $code $variant"; diff <(cd "$a" && find . -type f | sort) <(cd "$b" && find . -type f | sort) || true
      status=1; continue
    fi
    while IFS= read -r rel; do
      if ! cmp -s "$a/$rel" "$b/$rel"; then
        n=$(cmp -l "$a/$rel" "$b/$rel" 2>/dev/null | wc -l || true)
        echo "differs: $code $variant $rel ($n bytes)"; status=1
      fi
    done < <(cd "$a" && find . -type f | sort)
  done
done
[ $status -eq 0 ] && echo "every output is byte-identical ($work)"
exit $status

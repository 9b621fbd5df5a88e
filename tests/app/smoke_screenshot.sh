#!/usr/bin/env bash
# Smoke test: opens the main window under Xvfb with a few inputs and saves a
# picture of it; then starts the program again with --convert (no instance
# runs, so it starts one), which runs a batch through the window, and saves
# pictures of the progress and the log windows.
# Arguments: the quillmarch program, a work folder.
set -euo pipefail
app="$1"
work="$2"
rm -rf "$work"
mkdir -p "$work/in/more" "$work/out"
# Small inputs: written by sox when it is there, else plain WAVE headers.
make_input() {
  if command -v sox >/dev/null 2>&1; then
    sox -n -r "$2" -c "$3" -b 16 "$1" synth 0.5 sine 440 2>/dev/null
  else
    printf 'RIFF\044\0\0\0WAVEfmt \020\0\0\0\001\0\001\0\104\254\0\0\210\130\001\0\002\0\020\0data\0\0\0\0' > "$1"
  fi
}
make_input "$work/in/voice.wav" 22050 1
make_input "$work/in/music.aiff" 44100 2
make_input "$work/in/more/tone.wav" 48000 2
export QUILLMARCH_DEFAULTS="$work/defaults.plist"
export QUILLMARCH_SCREENSHOT="$work/main.png"
export QT_QPA_PLATFORM=xcb
# In a sanitizer build: the system libraries' own leaks are not ours.
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp"
cat > "$QUILLMARCH_DEFAULTS" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>Last Used Destination</key><string>$work/out</string></dict></plist>
PLIST
timeout 50 xvfb-run -a -s "-screen 0 1024x768x24" "$app" "$work/in/voice.wav" "$work/in/music.aiff" "$work/in/more"
test -s "$work/main.png"
# A PNG signature and a plausible size.
head -c 8 "$work/main.png" | od -An -tx1 | grep -q '89 50 4e 47'
echo "screenshot: $work/main.png"

# The batch: longer inputs, so that the progress window has a file under way.
for n in 1 2 3; do
  if command -v sox >/dev/null 2>&1; then
    sox -n -r 44100 -c 2 -b 16 "$work/in/more/long$n.wav" synth 3 sine 300+900 2>/dev/null
  fi
done
unset QUILLMARCH_SCREENSHOT
export QUILLMARCH_SCREENSHOT_PROGRESS="$work/progress.png"
export QUILLMARCH_SCREENSHOT_LOG="$work/log.png"
timeout 240 xvfb-run -a -s "-screen 0 1024x768x24" "$app" "$work/in/voice.wav" "$work/in/music.aiff" \
  "$work/in/more" --convert
for shot in progress log; do
  test -s "$work/$shot.png"
  head -c 8 "$work/$shot.png" | od -An -tx1 | grep -q '89 50 4e 47'
done
# The batch wrote its log and its conversions' folders.
ls "$work/out"/QuillLog-*.qlg >/dev/null
test "$(find "$work/out" -mindepth 2 -type f ! -name '._*' | wc -l)" -gt 0
echo "screenshots: $work/progress.png $work/log.png"

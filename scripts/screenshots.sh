#!/usr/bin/env bash
# Makes the pictures of the desktop application that the README shows
# (docs/images/*.png): the main window with the example inputs, on each of
# its tabs, the preferences (each tab), the feedback window, the custom
# sample rates, the about box, the report of files not added, the
# conversion editor, the MP3 encoder's options (when a usable lame is
# installed), the add-files panel describing a file, and a batch of the
# examples run with --convert: its progress window and its log, on a
# 1366 x 768 virtual X display (xvfb-run).
# Usage: scripts/screenshots.sh [BUILD_FOLDER]   (default: build)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build}"
app="$build/src/app/quillmarch"
examples="$build/src/quillmarch-make-examples"
for program in "$app" "$examples"; do
  [ -x "$program" ] || { echo "screenshots.sh: build first ($program is missing)" >&2; exit 1; }
done
command -v xvfb-run >/dev/null || { echo "screenshots.sh: xvfb-run is missing (apt-get install xvfb)" >&2; exit 1; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$examples" "$work/Examples" >/dev/null
mkdir -p "$work/Converted"
cat > "$work/defaults.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict><key>Last Used Destination</key><string>$work/Converted</string></dict></plist>
PLIST

mkdir -p "$root/docs/images"
shoot() {  # shoot TAB FILE
  QUILLMARCH_DEFAULTS="$work/defaults.plist" QUILLMARCH_RESOURCES="$root/resources" \
  QUILLMARCH_SCREENSHOT="$2" QUILLMARCH_SCREENSHOT_TAB="$1" \
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1366x768x24" "$app" \
    "$work/Examples/Bell mono.wav" "$work/Examples/Chord stereo.aif" "$work/Examples/more takes"
  echo "wrote $2"
}
shoot_with() {  # shoot_with VARIABLE FILE [ARGUMENT...]: one of the other pictures
  local variable="$1" file="$2"
  shift 2
  env QUILLMARCH_DEFAULTS="$work/defaults.plist" QUILLMARCH_RESOURCES="$root/resources" \
    "$variable=$file" \
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1366x768x24" "$app" "$@"
  echo "wrote $file"
}
shoot_window() {  # shoot_window NAME FILE [ARGUMENT...]: a window over the main window
  local name="$1" file="$2"
  shift 2
  env QUILLMARCH_DEFAULTS="$work/defaults.plist" QUILLMARCH_RESOURCES="$root/resources" \
    QUILLMARCH_SCREENSHOT="$file" QUILLMARCH_SCREENSHOT_WINDOW="$name" \
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1366x768x24" "$app" "$@"
  echo "wrote $file"
}
shoot 0 "$root/docs/images/main-window.png"
shoot 1 "$root/docs/images/conversions-tab.png"
shoot 2 "$root/docs/images/output-tab.png"
shoot_window preferences "$root/docs/images/preferences-input.png"
shoot_window preferences-logging "$root/docs/images/preferences-logging.png"
shoot_window preferences-playback "$root/docs/images/preferences-playback.png"
shoot_window feedback "$root/docs/images/feedback-window.png"
shoot_window custom-rates "$root/docs/images/custom-rates.png"
shoot_window about "$root/docs/images/about-box.png"
printf 'not a sound\n' > "$work/notes.txt"
shoot_window add-errors "$root/docs/images/files-not-added.png" "$work/notes.txt" "$work/Examples/Bell mono.wav"
shoot_with QUILLMARCH_SCREENSHOT_EDITOR "$root/docs/images/conversion-editor.png"
if "$build/src/quillmarch-batch" --list-types 2>/dev/null | grep -Eq "'DMP3' +[a-z]+ +yes"; then
  shoot_with QUILLMARCH_SCREENSHOT_MP3 "$root/docs/images/mp3-options.png"
else
  echo "screenshots.sh: no usable lame (3.93 or newer): docs/images/mp3-options.png is kept" >&2
fi
shoot_with QUILLMARCH_SCREENSHOT_INFO "$root/docs/images/file-information.png" "$work/Examples/Chord stereo.aif"

# The batch: the examples and two longer takes, through the factory
# conversions; the progress window is taken while a file is under way.
for n in 1 2; do
  if command -v sox >/dev/null 2>&1; then
    sox -n -r 44100 -c 2 -b 16 "$work/Examples/more takes/Long take $n.wav" synth 8 sine 220+660 2>/dev/null
  fi
done
QUILLMARCH_DEFAULTS="$work/defaults.plist" QUILLMARCH_RESOURCES="$root/resources" \
QUILLMARCH_SCREENSHOT_PROGRESS="$root/docs/images/progress-window.png" \
QUILLMARCH_SCREENSHOT_LOG="$root/docs/images/log-window.png" \
  QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1366x768x24" "$app" \
    "$work/Examples/Bell mono.wav" "$work/Examples/Chord stereo.aif" "$work/Examples/more takes" --convert
echo "wrote $root/docs/images/progress-window.png $root/docs/images/log-window.png"

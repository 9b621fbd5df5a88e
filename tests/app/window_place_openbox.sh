#!/usr/bin/env bash
# The main window fades out while a batch runs and comes back where it
# stood: under a real window manager (openbox in an Xvfb of its own), moved
# with xdotool (a move request, a drag by the title bar, or not at all while
# "Files Not Added" is open), the batch started with a real Ctrl+R and held
# in its export until the window is gone.  Every wait polls a condition.
# Arguments: the quillmarch program, a work folder.  Exit 77: skipped.
set -euo pipefail
app="$1"
work="$2"
for tool in Xvfb openbox xdotool xwininfo sox; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done
rm -rf "$work"
mkdir -p "$work"
export QT_QPA_PLATFORM=xcb
export QUILLMARCH_RESOURCES="${QUILLMARCH_RESOURCES:-}"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$(cd "$(dirname "$0")" && pwd)/lsan.supp"

pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  pids=()
}
trap cleanup EXIT

# Polls `condition` (a command) every 50 ms for at most `seconds`.
wait_for() {
  local seconds="$1" what="$2"
  shift 2
  local tries=$((seconds * 20))
  while ! "$@"; do
    tries=$((tries - 1))
    if [ "$tries" -le 0 ]; then
      echo "FAIL: timed out waiting for $what"
      return 1
    fi
    sleep 0.05
  done
}
# The window's inside, "x,y" on the screen.
place() { xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$4} /Absolute upper-left Y/ {y=$4} END {print x "," y}'; }
at() { [ "$(place "$1")" = "$2" ]; }
visible() { xwininfo -id "$1" | grep -q 'Map State: IsViewable'; }
hidden() { ! visible "$1"; }
exists() { [ -e "$1" ]; }
written() { grep -q '[0-9]' "$1" 2>/dev/null; }
logged() { compgen -G "$1/QuillLog-*" >/dev/null; }
moved() { [ "$(place "$1")" != "$2" ]; }

# One case: screen size, how the window is moved (move, drag or none),
# whether "Files Not Added" is open.
run_case() {
  local screen="$1" how="$2" errors="$3"
  local dir="$work/$screen-$how-$errors"
  mkdir -p "$dir/in/dup" "$dir/out" "$dir/run"
  chmod 700 "$dir/run"
  sox -n -r 44100 -c 2 -b 16 "$dir/in/take.wav" synth 1 sine 440
  local inputs=("$dir/in/take.wav")
  if [ "$errors" = errors ]; then
    # A name already in the list and a file that is no sound file.
    cp "$dir/in/take.wav" "$dir/in/dup/take.wav"
    echo "not a sound file" > "$dir/in/notes.txt"
    inputs+=("$dir/in/dup/take.wav" "$dir/in/notes.txt")
  fi
  # One conversion: an A-law movie, whose export the hold below stops.
  cat > "$dir/defaults.plist" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0"><dict>
<key>Last Used Destination</key><string>$dir/out</string>
<key>Conversions</key><array><dict>
<key>QMCSActive</key><true/><key>QMCSName</key><string>A-law movie</string>
<key>QMCSOutputFileType</key><integer>1364476236</integer><key>QMCSNeedsStrictFileType</key><true/>
<key>QMCSWordLength</key><integer>16</integer></dict></array>
</dict></plist>
PLIST

  # Xvfb picks a free display and writes its number.
  Xvfb -displayfd 3 -screen 0 "${screen}x24" -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  pids+=($!)
  wait_for 30 "Xvfb" written "$dir/display"
  export DISPLAY=":$(cat "$dir/display")"
  openbox --sm-disable --startup "touch $dir/wm-ready" >"$dir/openbox.log" 2>&1 &
  pids+=($!)
  wait_for 30 "openbox" exists "$dir/wm-ready"

  QUILLMARCH_DEFAULTS="$dir/defaults.plist" XDG_RUNTIME_DIR="$dir/run" QUILLMARCH_HOLD_EXPORT="$dir/hold" \
    "$app" "${inputs[@]}" >"$dir/app.log" 2>&1 &
  pids+=($!)
  local window
  window=$(timeout 30 xdotool search --sync --onlyvisible --name '^Quillmarch$' | head -1)
  [ -n "$window" ] || { echo "FAIL: no main window"; return 1; }
  if [ "$errors" = errors ]; then
    timeout 30 xdotool search --sync --onlyvisible --name '^Files Not Added' >/dev/null
  fi
  local first
  first=$(place "$window")
  local want="$first"
  case "$how" in
    move)
      xdotool windowmove "$window" 301 60
      wait_for 10 "the move" moved "$window" "$first"
      want=$(place "$window")
      ;;
    drag)
      # The middle of the title bar: above the window's inside, within the
      # frame openbox put around it.
      local x y top
      x=${first%,*}
      y=${first#*,}
      top=$(xwininfo -id "$window" | awk '/Relative upper-left Y/ {print $4}')
      local grabx=$((x + 200)) graby=$((y - top / 2)) tries=0
      want="$((x - 60)),$((y + 30))"
      # Again while the window has not moved at all (a press openbox took
      # for something else); moved elsewhere, it fails.
      until at "$window" "$want"; do
        tries=$((tries + 1))
        [ "$tries" -le 5 ] && at "$window" "$first" || { echo "FAIL: dragged to $(place "$window")"; return 1; }
        xdotool windowactivate --sync "$window"
        xdotool mousemove --sync "$grabx" "$graby" mousedown 1
        xdotool mousemove --sync $((grabx + 20)) $((graby + 10))
        xdotool mousemove --sync $((grabx - 60)) $((graby + 30)) mouseup 1
        wait_for 5 "the drag to $want" at "$window" "$want" >/dev/null || true
      done
      ;;
  esac
  echo "$screen $how $errors: the window stands at $want (first at $first)"

  # Ctrl+R, pressed in the main window; again until the batch is under way
  # (Start waits for the inputs to be listed, which the window does not show).
  local presses=0
  until exists "$dir/hold.held"; do
    presses=$((presses + 1))
    [ "$presses" -le 60 ] || { echo "FAIL: Ctrl+R started no batch"; return 1; }
    xdotool windowactivate --sync "$window"
    xdotool key --clearmodifiers ctrl+r
    wait_for 1 "the held export" exists "$dir/hold.held" >/dev/null || true
  done
  wait_for 30 "the window fading out" hidden "$window"
  touch "$dir/hold"
  wait_for 60 "the window back" visible "$window"
  wait_for 60 "the batch's log" logged "$dir/out"
  if ! wait_for 10 "the window at $want" at "$window" "$want"; then
    echo "FAIL: $screen $how $errors: the window came back at $(place "$window"), not at $want"
    return 1
  fi
  echo "$screen $how $errors: back at $(place "$window")"
  cleanup
}

run_case 1366x768 move plain
run_case 1920x1080 move plain
run_case 1366x768 drag plain
run_case 1366x768 none errors
echo "PASS"

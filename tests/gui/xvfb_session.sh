# Shared by the desktop program's Xvfb tests: a display of their own, windows waited for by
# their caption, gestures through xdotool, a screenshot per screen.
pids=()
remember() { pids+=("$1"); }
stop_all() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }

# begin_session SHOTS: the screenshot folder, a work folder (`work`), and everything started
# stopped and the work folder removed when the script ends.
begin_session() {
  shots=$1
  mkdir -p "$shots"
  work=$(mktemp -d)
  trap 'stop_all; rm -rf "$work"' EXIT
}

# start_xvfb SCALE WxH: a display, and Qt's scale factor for the program (1 or 2).
start_xvfb() {
  export QT_SCALE_FACTOR=$1
  # Xvfb picks a free display itself and writes its number to the file.
  local number_file=$work/display
  rm -f "$number_file"
  Xvfb -displayfd 3 -ac -nolisten tcp -screen 0 "$2x24" 3>"$number_file" >"$work/xvfb.log" 2>&1 &
  remember $!
  for _ in $(seq 100); do [ -s "$number_file" ] && break; sleep 0.1; done
  [ -s "$number_file" ] || { echo "Xvfb did not start"; cat "$work/xvfb.log"; return 1; }
  export DISPLAY=:$(tr -d '[:space:]' <"$number_file")
  xdpyinfo >/dev/null
}

# step NAME CAPTION-REGEX [SECONDS]: waits for a window whose caption matches, focuses it and
# saves a screenshot of the screen as NAME.png.
step() {
  local name=$1 caption=$2 seconds=${3:-30} window=""
  for _ in $(seq $((seconds * 10))); do
    window=$(xdotool search --onlyvisible --name "$caption" 2>/dev/null | tail -n 1) || true
    [ -n "$window" ] && break
    sleep 0.1
  done
  if [ -z "$window" ]; then
    echo "no window \"$caption\" within ${seconds}s"
    [ -f "$work/program.log" ] && cat "$work/program.log"
    [ -f "$work/sim.log" ] && tail -n 30 "$work/sim.log"
    return 1
  fi
  xdotool windowactivate --sync "$window" >/dev/null 2>&1 || xdotool windowfocus "$window" || true
  sleep 0.3   # let the window paint before the picture; not part of any check
  import -window root "$shots/$name.png"
  echo "screen: $name ($(xdotool getwindowname "$window"))"
}

# launch_program SCALE PROGRAM: a display of its own (1024x768, twice that at scale 2) and the
# program on it. An X server
# started beside others (they share /tmp/.X11-unix across namespaces) has now and then lost its
# socket before the program connected; the program then ends at once and gets a new display
# (up to three tries). Sets program_pid.
launch_program() {
  local scale=$1 program=$2 size=1024x768
  [ "$scale" = 2 ] && size=2048x1536
  for attempt in 1 2 3; do
    start_xvfb "$scale" "$size"
    "$program" >"$work/program.log" 2>&1 &
    program_pid=$!
    remember $program_pid
    for _ in $(seq 50); do
      kill -0 "$program_pid" 2>/dev/null || break
      xdotool search --onlyvisible --name . >/dev/null 2>&1 && return 0
      sleep 0.1
    done
    kill -0 "$program_pid" 2>/dev/null && return 0
    grep -q "could not connect to display" "$work/program.log" || return 0
    echo "display $DISPLAY lost its socket (try $attempt); a new one"
  done
  return 0
}

key() { xdotool key --delay 80 "$@"; }
type_text() { xdotool type --delay 40 "$1"; }

wait_exit() {
  local pid=$1 seconds=$2
  for _ in $(seq $((seconds * 10))); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if kill -0 "$pid" 2>/dev/null; then echo "the program did not end"; return 1; fi
  wait "$pid"
}

# expect_device_holds IMAGE: the simulated device saved exactly IMAGE ($work/received.bin) and
# came back from its restart with the image's version (the text at offset 92).
expect_device_holds() {
  cmp "$1" "$work/received.bin"
  local version
  version=$(dd if="$1" bs=1 skip=92 count=36 status=none | tr -d '\0')
  grep -F "software $version" "$work/sim.log" >/dev/null \
    || { echo "the device did not come back with version $version"; tail -n 20 "$work/sim.log"; return 1; }
  echo "device holds the embedded image byte for byte ($(stat -c %s "$work/received.bin") bytes)"
}

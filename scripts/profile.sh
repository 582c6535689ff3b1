#!/usr/bin/env bash
# Whole-program figures, printed as "name: value unit": time from start to the
# port dialog, CPU while connected and idle, CPU with the emulator streaming
# at the line rate, and resident memory. Runs the real program under Xvfb
# against the device emulator. Usage: profile.sh BUILD-DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
source "$root/scripts/lib/xsession.sh"
in_session_bus "$0" "$@"

tools="$build/tools"
program="$build/src/app/tavrix-dl"
work=$(mktemp -d /tmp/tavrix-profile.XXXXXX)
port="$work/tavrix-port"
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work" "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT

start_xvfb
pids+=("$XVFB_PID")

mkfifo "$work/control"
# Scan reports are 19 bytes: 200 a second fill the 3840 B/s line.
"$tools/tavrix-sim" --link "$port" --mode scan --gps on --rate 200 --control --stats "$work/sim.json" \
  <"$work/control" >/dev/null 2>&1 &
pids+=($!)
exec 3>"$work/control"
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done

cd "$work"
start=$(date +%s.%N)
"$program" "$port" >"$work/program.out" 2>&1 &
app=$!
pids+=($app)
dialog=$(wait_window "Select Communications Port" 30)
ready=$(date +%s.%N)
echo "program.start_to_port_dialog: $(python3 -c "print(f'{($ready - $start) * 1000:.0f}')") ms"
xdotool windowfocus --sync "$dialog" key Return
wait_window "Tavrix Data Logger" 30 >/dev/null
sleep 3

share() { # SECONDS -> percent of one core over that time, whole program and window thread
  local c0 c1 w0 w1
  c0=$(cpu_seconds "$app"); w0=$(thread_cpu_seconds "$app" "$app"); sleep "$1"
  c1=$(cpu_seconds "$app"); w1=$(thread_cpu_seconds "$app" "$app")
  python3 -c "print(f'{($c1 - $c0) / $1 * 100:.2f}'); print(f'{($w1 - $w0) / $1 * 100:.2f}')"
}

echo "pause" >&3
sleep 2
read -r -d '' total window < <(share 10) || true
echo "program.cpu_idle_connected: $total % of a core"
echo "resume" >&3
sleep 2
b0=$(python3 -c "import json; print(json.load(open('$work/sim.json'))['bytes'])")
read -r -d '' total window < <(share 20) || true
echo "program.cpu_at_line_rate: $total % of a core"
echo "program.window_thread_cpu_at_line_rate: $window % of a core"
b1=$(python3 -c "import json; print(json.load(open('$work/sim.json'))['bytes'])")
echo "program.line_rate_during_measure: $(( (b1 - b0) / 20 )) B/s"
echo "program.resident_memory: $(( $(rss_kb "$app") / 1024 )) MB"

#!/usr/bin/env bash
# The scripted session of scripts/run.sh for machines without a display: the
# real program under Xvfb, driven from outside with xdotool, against the device
# emulator on a pseudo-terminal. Usage: demo-session.sh ROOT BUILD
# TAVRIX_SHOTS_DIR puts the screenshots elsewhere than ROOT/screenshots.
set -euo pipefail
root=$1
build=$2

source "$root/scripts/lib/xsession.sh"
# A private session bus, so the map announcements have somewhere to go.
in_session_bus "$0" "$@"

tools="$root/$build/tools"
program="$root/$build/src/app/tavrix-dl"
run="$root/$build/run"
shots="${TAVRIX_SHOTS_DIR:-$root/screenshots}"
port="$run/tavrix-port"
mkdir -p "$run" "$shots"
rm -f "$shots"/*.png "$run"/Tavrix.KLF "$run"/*.json "$run"/*.jsonl "$run/sim-control"

pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT

# --- an X server of our own --------------------------------------------------
start_xvfb
pids+=("$XVFB_PID")

# --- helpers ------------------------------------------------------------------
shot() { # NAME WINDOW-ID
  import -window "$2" "$shots/$1.png"
  echo "  screenshot $shots/$1.png"
}
sim() { echo "$*" >&3; }
# Clicks at a point of the main window's client area (below its menu bar).
click() { xdotool mousemove $((win_x + $1)) $((win_y + menu_h + $2)) click 1; sleep 0.3; }
stats_snapshot() { # FILE: the emulator's counters once its queue has drained
  sleep 2.5
  cp "$run/sim.json" "$1"
}

# Tool bar button centres in client coordinates (left + width / 2, 2 + 25 / 2).
BTN_Y=14
BTN_GPS=71 BTN_RECEIVERS=208 BTN_LOG=600 BTN_TILE_V=781 BTN_TILE_H=805 BTN_FREQ=844 BTN_CHAN=868

# --- the device emulator and the map watcher -----------------------------------
mkfifo "$run/sim-control"
"$tools/tavrix-sim" --link "$port" --mode scan --gps on --control --stats "$run/sim.json" \
  <"$run/sim-control" >"$run/sim.out" 2>"$run/sim.err" &
pids+=($!)
exec 3>"$run/sim-control"
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done

# The children must not hold the control pipe open, or the emulator would
# never see it close if this script died.
"$tools/tavrix-mapwatch" --json >"$run/map-points.jsonl" 2>"$run/mapwatch.err" 3>&- &
pids+=($!)

# --- the program ----------------------------------------------------------------
echo "Scripted session on $DISPLAY; screenshots go to $shots"
cd "$run"
start=$(date +%s.%N)
"$program" "$port" >"$run/program.out" 2>&1 3>&- &
app=$!
pids+=($app)

dialog=$(wait_window "Select Communications Port")
echo "  port dialog shown $(python3 -c "print(f'{$(date +%s.%N) - $start:.2f}')") s after start"
shot 01-port-dialog "$dialog"
xdotool windowfocus --sync "$dialog" key Return

main=$(wait_window "Tavrix Data Logger")
eval "$(xdotool getwindowgeometry --shell "$main" | sed 's/^/win_/')"
win_x=$win_X win_y=$win_Y
menu_h=$((win_HEIGHT - 504))
sleep 3

# Logging: exact counts are taken with the emulator's stream paused.
sim pause
stats_snapshot "$run/sim-before.json"
click $BTN_LOG $BTN_Y
warning=$(wait_window "TAVRIX LOG FILE WARNING")
sleep 1
shot 02-log-warning "$warning"
eval "$(xdotool getwindowgeometry --shell "$warning" | sed 's/^/warn_/')"
xdotool mousemove $((warn_X + 216 + 37)) $((warn_Y + 376 + 12)) click 1
sleep 0.5
sim resume

sim mode scan
sleep 5
shot 03-receivers-scan-frequency "$main"
# Receiver 1's scan history from the History menu, pointing at a cell; then
# moved off the screen, out of the main window's pictures.
xdotool windowfocus --sync "$main" key alt+h
sleep 0.5
xdotool key 1
history=$(wait_window "Scan History - R1")
xdotool windowmove --sync "$history" 120 60
sleep 8
eval "$(xdotool getwindowgeometry --shell "$history" | sed 's/^/hist_/')"
xdotool mousemove $((hist_X + 64 + 11 + 3 * 64 + 30)) $((hist_Y + 40 + 170 + 120))
sleep 1
shot 12-scan-history "$history"
xdotool windowmove "$history" 1400 0
click $BTN_CHAN $BTN_Y; sleep 2
shot 04-receivers-scan-channel "$main"
click $BTN_FREQ $BTN_Y

sim mode table
sleep 5
shot 05-receivers-table-frequency "$main"
click $BTN_CHAN $BTN_Y; sleep 2
shot 06-receivers-table-channel "$main"
click $BTN_FREQ $BTN_Y

sim mode single
sleep 4
shot 07-receivers-single "$main"
click $BTN_TILE_V $BTN_Y; sleep 2
shot 08-receivers-single-tiled-vertically "$main"
click $BTN_TILE_H $BTN_Y

click $BTN_GPS $BTN_Y; sleep 3
shot 09-gps-screen "$main"

# "&Map" is the second menu title.
xdotool mousemove $((win_x + 52)) $((win_y + menu_h / 2)) click 1
maprange=$(wait_window "Mapping Range Settings")
sleep 1
shot 10-map-range "$maprange"
xdotool windowfocus --sync "$maprange" key Return

sim gps off
sleep 3
shot 11-gps-off "$main"
sim gps on
click $BTN_RECEIVERS $BTN_Y
sleep 2

sim pause
stats_snapshot "$run/sim-after.json"
click $BTN_LOG $BTN_Y
sleep 2

# File > Exit.
xdotool windowfocus --sync "$main" key alt+f
sleep 0.5
xdotool key x
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$app" 2>/dev/null; then echo "the program did not exit" >&2; exit 1; fi
sim quit
sleep 1

# --- summary ----------------------------------------------------------------------
"$tools/klf-inspect" --json "$run/Tavrix.KLF" >"$run/klf.json" || true
python3 - "$run" "$shots" <<'EOF'
import json, sys
run, shots = sys.argv[1], sys.argv[2]
before = json.load(open(f"{run}/sim-before.json"))["sent"]
after = json.load(open(f"{run}/sim-after.json"))["sent"]
total = json.load(open(f"{run}/sim.json"))
klf = json.load(open(f"{run}/klf.json"))
logged = {str(k): v for k, v in klf.get("byType", {}).items()}
names = {"GpsMessage": 0, "ReceiverSetup": 1, "SingleBlockR1": 2, "SingleBlockR2": 3, "ClockMarker": 4,
         "CurrentFrequency": 5, "ScanChannelList": 6, "ScanReport": 7, "TableReport": 9, "SerialNumber": 28}
print("\nSummary")
print("  packets the emulator sent while logging was on, and what klf-inspect read back:")
ok = True
for name, code in names.items():
    sent = after.get(name, 0) - before.get(name, 0)
    got = logged.get(str(code), 0)
    if sent or got:
        mark = "" if sent == got else "   <-- differs"
        ok &= sent == got
        print(f"    {name:17s} (type {code:2d}): sent {sent:6d}   logged {got:6d}{mark}")
print(f"  log file: {run}/Tavrix.KLF: {klf.get('records', '?')} records, {klf.get('endOfRecords', '?')} bytes, "
      f"status {klf.get('status', '?')}, header {klf.get('header')}, channel information {klf.get('channelInfo')}, "
      f"serial number {klf.get('serialNumber')}")
print(f"  first fix {klf.get('firstFix')}, last fix {klf.get('lastFix')}")
print("  logged packets match the packets sent: " + ("yes" if ok else "NO"))
gps_sent = total["sent"].get("GpsMessage", 0)
points = sum(1 for line in open(f"{run}/map-points.jsonl") if line.strip())
print(f"  GPS messages sent in the whole session: {gps_sent}; map points seen by tavrix-mapwatch: {points}")
print(f"  emulator totals: {json.dumps(total['sent'])}")
print(f"  screenshots: {shots}")
EOF

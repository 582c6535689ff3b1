#!/usr/bin/env bash
# Soak and fault run. The real program, under Xvfb and driven with xdotool,
# logs for MINUTES (default 30) against the device emulator with line noise,
# bad frames, split writes and an unplug every five minutes. Afterwards it
# prints: crashes and the exit status, packets sent while logging against
# packets logged, map points against GPS messages, the program's memory and
# CPU, and whether the link came back after every unplug. Then the fuzz
# targets run for FUZZ_SECONDS (default 300) in all.
# Usage: scripts/soak.sh [MINUTES]     FUZZ_SECONDS=n (0 skips), JOBS=n (build),
#                                      UNPLUG_EVERY=s (default 300)
# Files go to build/release/soak; samples.csv holds the per-minute samples.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=build/release
run="$root/$build/soak"
minutes=${1:-30}
fuzz_seconds=${FUZZ_SECONDS:-300}
[[ "$minutes" =~ ^[0-9]+([.][0-9]+)?$ ]] || { echo "usage: $0 [MINUTES]" >&2; exit 2; }
[[ "$fuzz_seconds" =~ ^[0-9]+$ ]] || { echo "FUZZ_SECONDS must be a whole number" >&2; exit 2; }
jobs=${JOBS:-2}

# --- build (outside the private session bus) --------------------------------------
if [ -z "${TAVRIX_SOAK_IN_SESSION:-}" ]; then
  cd "$root"
  bash scripts/setup.sh >/dev/null
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIX_TESTS=OFF -DTAVRIX_BENCH=OFF >/dev/null
  cmake --build "$build" -j "$jobs" --target tavrix-dl tavrix-sim klf-inspect tavrix-mapwatch manual >/dev/null
  mkdir -p "$run"
  # The session bus carries the map announcements; it ends with the soak.
  export TAVRIX_SOAK_IN_SESSION=1
  XDG_RUNTIME_DIR=$(mktemp -d /tmp/tavrix-soak-xdg.XXXXXX)
  chmod 0700 "$XDG_RUNTIME_DIR"
  export XDG_RUNTIME_DIR
  soak_status=0
  dbus-run-session -- bash "$0" "$@" || soak_status=$?
  rm -rf "$XDG_RUNTIME_DIR"

  fuzz_status=0
  if [ "$fuzz_seconds" -gt 0 ]; then
    echo
    echo "Fuzzing for $fuzz_seconds s in all (scripts/fuzz.sh)"
    JOBS=$jobs bash scripts/fuzz.sh "$fuzz_seconds" || fuzz_status=$?
    echo "fuzz: $([ "$fuzz_status" -eq 0 ] && echo "no crashes" || echo "CRASHED (see build/fuzz/crashes)")"
  fi
  [ "$soak_status" -eq 0 ] && [ "$fuzz_status" -eq 0 ] && exit 0
  exit 1
fi

# --- inside the session: everything started here is stopped by cleanup -------------
tools="$root/$build/tools"
program="$root/$build/src/app/tavrix-dl"
port="$run/tavrix-port"
serial=SOAKRUN1 # tells our map points from those of any other logger on this machine
unplug_every=${UNPLUG_EVERY:-300}  # a shorter period helps when trying the script out
sim_args=(--mode cycle --cycle-seconds 60 --gps cycle --noise --bad-checksums 0.02 --bad-lengths 0.01
          --split --unplug-every "$unplug_every" --serial "$serial")
cd "$run"
rm -f Tavrix.KLF ./*.json ./*.jsonl ./*.csv ./*.txt ./*.out ./*.err soak.env sim-control "$port"
cp "$root/$build/Tavrix1.0.pdf" "$run/"

pids=()
app=""
cleanup() {
  exec 3>&- || true
  if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then
    kill "$app" 2>/dev/null || true
    sleep 1
    kill -9 "$app" 2>/dev/null || true
  fi
  local p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -f "$run/sim-control"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

note() { echo "$1=$2" >>"$run/soak.env"; }
say() { echo "  [$(date +%H:%M:%S)] $*"; }
note minutes "$minutes"
note serial "$serial"
note sim_args "${sim_args[*]}"
note clk_tck "$(getconf CLK_TCK)"

# --- an X server of our own -------------------------------------------------------
source "$root/scripts/lib/xsession.sh"
start_xvfb
pids+=("$XVFB_PID")

sim() { echo "$*" >&3; }
click() { xdotool mousemove $((win_x + $1)) $((win_y + menu_h + $2)) click 1; sleep 0.3; }
alive() { kill -0 "$app" 2>/dev/null && [ "$(awk '{print $3}' "/proc/$app/stat" 2>/dev/null)" != Z ]; }

# One row of samples.csv: resident memory, CPU ticks (user + system), threads
# and open descriptors of the program.
echo "label,t,rss_kb,cpu_ticks,threads,fds" >"$run/samples.csv"
sample() { # LABEL
  local rss threads ticks fds
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$app/status" 2>/dev/null) || return 0
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$app/status" 2>/dev/null) || return 0
  # Fields 14 and 15 of stat, counted after the command name's closing bracket.
  ticks=$(sed 's/^.*) //' "/proc/$app/stat" 2>/dev/null | awk '{print $12 + $13}') || return 0
  fds=$(ls "/proc/$app/fd" 2>/dev/null | wc -l)
  [ -n "$rss" ] && echo "$1,$EPOCHREALTIME,$rss,$ticks,$threads,$fds" >>"$run/samples.csv"
}
stat_field() { # KEY: a top-level field of the emulator's stats
  python3 -c "import json,sys; print(json.load(open(sys.argv[1])).get(sys.argv[2], ''))" "$run/sim.json" "$1" 2>/dev/null || true
}
# Counts are exact only once the paused emulator's queue has drained and its
# next once-a-second stats file is out.
stats_snapshot() { sleep 3; cp "$run/sim.json" "$1"; }
# Waits until the emulator's line is up and every plug has been answered by a connect.
wait_link_up() {
  for _ in $(seq 100); do
    [ "$(stat_field line)" = connected ] && [ "$(stat_field plugs)" = "$(stat_field connects)" ] && return 0
    sleep 0.2
  done
  say "the link is not back after 20 s"
}
# Seconds until the emulator's next scheduled unplug (it pulls the plug at
# N, then every N + 1 s, the 1 s being the time it stays unplugged).
next_unplug_in() {
  python3 -c "
import math, sys
t = float(sys.argv[1]) - float(sys.argv[2]); n = float(sys.argv[3])
k = max(0, math.ceil((t - 4 - n) / (n + 1)))  # one that went less than 4 s ago still counts
print(max(0, int(n + k * (n + 1) - t)))" "$EPOCHREALTIME" "$sim_t0" "$unplug_every"
}

BTN_Y=14 BTN_LOG=600
OK_X=253 OK_Y=388   # OK of "TAVRIX LOG FILE WARNING", client coordinates

# --- emulator, stats watcher, map watcher --------------------------------------------
mkfifo "$run/sim-control"
sim_t0=$EPOCHREALTIME
"$tools/tavrix-sim" "${sim_args[@]}" --control --stats "$run/sim.json" --link "$port" \
  <"$run/sim-control" >"$run/sim.out" 2>"$run/sim.err" &
pids+=($!)
exec 3>"$run/sim-control"
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
[ -e "$port" ] || { echo "the emulator did not create $port" >&2; exit 1; }

# None of these may hold the control pipe open: its end is how the emulator
# would see the soak go away.
python3 "$root/scripts/soak_report.py" watch "$run/sim.json" "$run/stats-trail.jsonl" 3>&- &
pids+=($!)
"$tools/tavrix-mapwatch" --json >"$run/map-points.jsonl" 2>"$run/mapwatch.err" 3>&- &
pids+=($!)

# --- the program -----------------------------------------------------------------------
echo "Soak: $minutes min on $DISPLAY, files in $run"
"$program" "$port" >"$run/program.out" 2>&1 3>&- </dev/null &
app=$!
note app_pid "$app"
dialog=$(wait_window "Select Communications Port")
xdotool windowfocus --sync "$dialog" key Return
main=$(wait_window "Tavrix Data Logger")
eval "$(xdotool getwindowgeometry --shell "$main" | sed 's/^/win_/')"
win_x=$win_X win_y=$win_Y
menu_h=$((win_HEIGHT - 504))
wait_link_up
say "port confirmed, the program connected ($(stat_field connects) connect)"
sleep 3
sample start

# Logging on, with the stream paused so the counts are exact.
sim pause
stats_snapshot "$run/sim-before.json"
click $BTN_LOG $BTN_Y
warning=$(wait_window "TAVRIX LOG FILE WARNING")
sleep 1
eval "$(xdotool getwindowgeometry --shell "$warning" | sed 's/^/warn_/')"
xdotool mousemove $((warn_X + OK_X)) $((warn_Y + OK_Y)) click 1
sleep 0.5
if xdotool search --onlyvisible --name "^TAVRIX LOG FILE WARNING\$" >/dev/null 2>&1; then
  echo "the log warning did not close" >&2; exit 1
fi
note t_logging_on "$EPOCHREALTIME"
sim resume
say "logging on"
# Starting the log writer takes memory once; this sample tells it from a climb.
sleep 2
sample logging

# --- the soak --------------------------------------------------------------------------
run_seconds=$(awk -v m="$minutes" 'BEGIN { printf "%d", m * 60 }')
t_start=${EPOCHREALTIME%.*}
died=0
next_minute=60
while :; do
  now=${EPOCHREALTIME%.*}
  elapsed=$((now - t_start))
  [ "$elapsed" -ge "$run_seconds" ] && break
  if ! alive; then died=1; break; fi
  if [ "$elapsed" -ge "$next_minute" ]; then
    sample minute
    say "$((elapsed / 60)) min: $(tail -1 "$run/samples.csv" | cut -d, -f3) kB resident, link $(stat_field line), $(stat_field connects) connects"
    next_minute=$((next_minute + 60))
  fi
  sleep 1
done

app_status=""
if [ "$died" = 1 ]; then
  set +e; wait "$app"; app_status=$?; set -e
  say "the program DIED after $elapsed s, status $app_status"
  note died_during_run 1
  note exit_status "$app_status"
  note t_logging_off "$EPOCHREALTIME"
  cp "$run/sim.json" "$run/sim-after.json"
else
  # An unplug between the pause and the end of logging would add answers to
  # the program's reconnect requests to the log but not to the counts.
  wait_s=$(next_unplug_in)
  if [ "$wait_s" -lt 12 ]; then
    say "an unplug is due in $wait_s s: waiting for the link to come back first"
    sleep $((wait_s + 3))
    wait_link_up
  fi
  sim pause
  stats_snapshot "$run/sim-after.json"
  note t_logging_off "$EPOCHREALTIME"
  click $BTN_LOG $BTN_Y
  say "logging off"
  sleep 2
  sample end

  # File > Exit must end the program within 5 s with status 0.
  t_exit=$EPOCHREALTIME
  xdotool windowfocus --sync "$main" key alt+f
  sleep 0.5
  xdotool key x
  for _ in $(seq 50); do alive || break; sleep 0.1; done
  if alive; then
    note exited_in_time 0
    say "the program did not exit within 5 s of File > Exit"
    kill "$app" 2>/dev/null || true
  else
    note exited_in_time 1
  fi
  set +e; wait "$app"; app_status=$?; set -e
  note exit_seconds "$(awk -v a="$t_exit" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.1f", b - a - 0.5 }')"
  note exit_status "$app_status"
  say "the program exited, status $app_status"
fi
app=""
[ -s "$run/samples.csv" ] && ! grep -q '^end,' "$run/samples.csv" && tail -1 "$run/samples.csv" | sed 's/^[a-z]*,/end,/' >>"$run/samples.csv"

sim quit
sleep 1.5
cp "$run/sim.json" "$run/sim-final.json"
cleanup
trap - EXIT

"$tools/klf-inspect" --json "$run/Tavrix.KLF" >"$run/klf.json" 2>"$run/klf.err" || true
"$tools/klf-inspect" --dump "$run/Tavrix.KLF" >"$run/klf-dump.txt" 2>/dev/null || true
python3 "$root/scripts/soak_report.py" report "$run"

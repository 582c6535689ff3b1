#!/usr/bin/env bash
# The program loses its X server while it logs from the device emulator: it
# must end by itself with a clear line on standard error, its log whole and
# its map block and DATAMUTEX semaphore removed. The X server is this test's
# own, so nothing else loses its display.
# Usage: display-loss.sh BUILD-DIR
set -euo pipefail

# The block's and the semaphore's names are fixed, and /dev/shm and the X
# sockets are shared by everything on the machine: where the system allows
# it, the test runs in a mount namespace of its own with both folders
# private, so that another logger (or another checkout's tests) neither
# disturbs it nor is disturbed. Elsewhere CTest's resource lock has to do.
if [ -z "${TAVRIX_PRIVATE_MOUNTS:-}" ]; then
  export TAVRIX_PRIVATE_MOUNTS=1
  ns=(unshare --mount)
  [ "$(id -u)" -eq 0 ] || ns=(unshare --user --map-root-user --mount)
  private='mount -t tmpfs tmpfs /dev/shm && mkdir -p /tmp/.X11-unix && mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix'
  if "${ns[@]}" sh -c "$private" 2>/dev/null; then
    exec "${ns[@]}" sh -c "$private"' && exec bash "$0" "$@"' "$0" "$@"
  fi
fi

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(cd "$1" && pwd)
source "$root/scripts/lib/xsession.sh"

run=$(mktemp -d /tmp/tavrix-display-loss.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$run"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; [ -f "$run/dl.err" ] && sed 's/^/  tavrix-dl: /' "$run/dl.err" >&2; exit 1; }

# wait_for SECONDS COMMAND...: until the command succeeds; the limit is only a safety net.
wait_for() {
  local limit=$(( $1 * 10 )); shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
size_of() { stat -c %s "$1" 2>/dev/null || echo 0; }
log_grew() { [ "$(size_of "$run/Tavrix.KLF")" -gt 4096 ]; }
block=/dev/shm/ZKTPELLORN
semaphore=/dev/shm/sem.DATAMUTEX

start_xvfb
pids+=("$XVFB_PID")

port="$run/tavrix-port"
"$build/tools/tavrix-sim" --link "$port" --mode scan --gps on >"$run/sim.out" 2>&1 &
pids+=($!)
wait_for 30 test -e "$port" || fail "the emulator made no port"

cd "$run"
QT_QPA_PLATFORM=xcb "$build/src/app/tavrix-dl" "$port" >"$run/dl.out" 2>"$run/dl.err" &
dl=$!
pids+=("$dl")

dialog=$(wait_window "Select Communications Port" 60) || fail "no port dialog"
xdotool windowfocus --sync "$dialog" key Return
main=$(wait_window "Tavrix Data Logger" 60) || fail "no main window"

# Log Data, then OK on the warning; a press lost while a window was still
# being mapped is repeated.
eval "$(xdotool getwindowgeometry --shell "$main" | sed 's/^/win_/')"
menu_h=$((win_HEIGHT - 504))
warning=""
for _ in $(seq 20); do
  xdotool mousemove $((win_X + 600)) $((win_Y + menu_h + 14)) click 1
  warning=$(wait_window "TAVRIX LOG FILE WARNING" 3 2>/dev/null) && break
done
[ -n "$warning" ] || fail "Log Data brought no warning"
warning_gone() { ! xdotool search --onlyvisible --name "^TAVRIX LOG FILE WARNING\$" >/dev/null 2>&1; }
for _ in $(seq 20); do
  eval "$(xdotool getwindowgeometry --shell "$warning" | sed 's/^/warn_/')"
  xdotool mousemove $((warn_X + 216 + 37)) $((warn_Y + 376 + 12)) click 1
  wait_for 3 warning_gone && break
done
warning_gone || fail "the warning stayed open"

wait_for 120 log_grew || fail "nothing was logged"
wait_for 120 test -e "$block" || fail "no map block was exported"
test -e "$semaphore" || fail "no DATAMUTEX semaphore while running"

# TERM closes every client's connection as a crash would, and lets the server
# remove its lock and socket, so that the next server may take its number.
{ kill -TERM "$XVFB_PID"; wait "$XVFB_PID"; } 2>/dev/null || true
status=0
exited() { ! kill -0 "$dl" 2>/dev/null; }
wait_for 120 exited || fail "the program did not end after its display went away"
wait "$dl" || status=$?

[ "$status" -eq 1 ] || fail "exit status $status, expected 1"
grep -q "^tavrix-dl: the connection to the display was lost; the log is closed and the program ends$" "$run/dl.err" \
  || fail "no line saying the display was lost"
if grep -E -q "Sanitizer|double free|corrupted|Segmentation" "$run/dl.err"; then fail "a fault was reported"; fi
[ ! -e "$block" ] || fail "the map block $block was left behind"
[ ! -e "$semaphore" ] || fail "the semaphore $semaphore was left behind"
inspect=0
"$build/tools/klf-inspect" "$run/Tavrix.KLF" >"$run/inspect.out" 2>&1 || inspect=$?
[ "$inspect" -eq 0 ] || { cat "$run/inspect.out" >&2; fail "klf-inspect says the log is not whole ($inspect)"; }
echo "ended cleanly: status $status, log $(size_of "$run/Tavrix.KLF") bytes whole, block and semaphore removed"

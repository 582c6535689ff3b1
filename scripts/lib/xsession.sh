# Shared by the scripts that drive the real program under Xvfb: a private X
# server, window waits and screenshots. Source it; it defines functions only.

# Starts Xvfb on a free display and exports DISPLAY; the pid goes to XVFB_PID.
# The server picks the number itself and says it once it accepts clients, so
# two sessions started side by side never race for one number.
start_xvfb() {
  local said n=""
  said=$(mktemp /tmp/tavrix-xvfb.XXXXXX)
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$said" >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do
    n=$(head -1 "$said")
    if [ -n "$n" ] && [ "$(wc -l <"$said")" -ge 1 ]; then break; fi
    kill -0 "$XVFB_PID" 2>/dev/null || break
    sleep 0.1
  done
  rm -f "$said"
  if [ -z "$n" ]; then echo "Xvfb did not start" >&2; return 1; fi
  export DISPLAY=":$n"
  xdotool getdisplaygeometry >/dev/null 2>&1 && return 0
  echo "Xvfb did not start" >&2
  return 1
}

# wait_window NAME [SECONDS]: prints the id of the visible window with that title.
wait_window() {
  local id=""
  for _ in $(seq $((${2:-15} * 10))); do
    id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "window \"$1\" did not appear" >&2
  return 1
}

# Re-runs the calling script inside a private session bus (the map
# announcements need one) with a private runtime folder.
in_session_bus() {
  if [ -z "${TAVRIX_IN_SESSION:-}" ]; then
    export TAVRIX_IN_SESSION=1
    XDG_RUNTIME_DIR=$(mktemp -d /tmp/tavrix-xdg.XXXXXX)
    chmod 0700 "$XDG_RUNTIME_DIR"
    export XDG_RUNTIME_DIR
    exec dbus-run-session -- bash "$@"
  fi
}

# CPU seconds (user + system) the process has used so far.
cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"
}

# CPU seconds (user + system) one thread of a process has used so far; the
# window thread's id is the process id.
thread_cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ sub(/^.*\) /, ""); print ($12 + $13) / hz }' "/proc/$1/task/$2/stat"
}

# Resident memory in kB.
rss_kb() {
  awk '/^VmRSS:/ { print $2 }' "/proc/$1/status"
}

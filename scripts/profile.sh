#!/usr/bin/env bash
# Whole-program figures, printed as "name: value unit": the real program
# under Xvfb against the device emulator in each mode, beside gpsd and cat
# reading the same byte rate (see scripts/bench_program.py for what is
# measured and the environment variables). Usage: profile.sh BUILD-DIR
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
source "$root/scripts/lib/xsession.sh"
in_session_bus "$0" "$@"

work=$(mktemp -d /tmp/tavrix-profile.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work" "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT

start_xvfb
pids+=("$XVFB_PID")
python3 "$root/scripts/bench_program.py" "$build" "$work"

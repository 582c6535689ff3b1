#!/usr/bin/env bash
# Installs what is missing, builds (Release) the program, the emulator and
# every tool the manual names into build/release, and runs the program against
# the device emulator on a pseudo-terminal. The port dialog comes up with the
# emulator's path filled in: press Enter to connect.
#
# Without a display (no $DISPLAY, or TAVRIX_HEADLESS=1) it runs a scripted
# session under Xvfb instead: confirm the port, log for a while with the
# emulator streaming scan, table and single data with GPS, switch screens and
# tiling, take screenshots, stop logging, and print a summary that compares
# what the emulator sent with what the log and the map watcher saw.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIX_TESTS=OFF -DTAVRIX_BENCH=OFF >/dev/null
# Everything the manual uses: the logger, the emulator, every tool
# (klf-inspect, klf-export, klf-coverage, tavrix-map, tavrix-mapwatch) and
# the manual itself.
cmake --build "$build" -j "$(nproc)"

tools="$root/$build/tools"
program="$root/$build/src/app/tavrix-dl"
echo "Built: $program, and the tools in $tools/:"
for t in "$tools"/*; do [ -f "$t" ] && [ -x "$t" ] && printf '  %s\n' "$(basename "$t")"; done
run="$root/$build/run"          # the program runs here, beside its manual
mkdir -p "$run"
cp "$root/$build/Tavrix1.0.pdf" "$run/"
port="$run/tavrix-port"

if [ -n "${DISPLAY:-}" ] && [ "${TAVRIX_HEADLESS:-0}" != 1 ]; then
  "$tools/tavrix-sim" --link "$port" --mode cycle --gps cycle >"$run/sim.out" 2>"$run/sim.err" &
  sim=$!
  trap 'kill $sim 2>/dev/null || true' EXIT
  for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done
  echo "Device emulator on $port; the port dialog has it filled in: press Enter."
  cd "$run" && "$program" "$port"
  exit 0
fi

exec bash "$root/scripts/demo-session.sh" "$root" "$build"

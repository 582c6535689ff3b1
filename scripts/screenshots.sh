#!/usr/bin/env bash
# Retakes the manual's pictures in docs/images/ from the scripted session
# (scripts/demo-session.sh: the program under Xvfb against the device
# emulator), then shrinks them. Run it again whenever a screen changes; the
# build never does.
# The map viewer's pictures come from its own script, where the tree has it.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup.sh

# The manual is not built: it is what these pictures are for.
build=build/release
targets=(tavrix-dl tavrix-sim klf-inspect tavrix-mapwatch)
[ -f tools/map/CMakeLists.txt ] && targets+=(tavrix-map)
[ -f tools/coverage/CMakeLists.txt ] && targets+=(klf-coverage)
[ -f tools/report/CMakeLists.txt ] && targets+=(klf-report)
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIX_TESTS=OFF -DTAVRIX_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

raw=$(mktemp -d /tmp/tavrix-shots.XXXXXX)
trap 'rm -rf "$raw"' EXIT
TAVRIX_SHOTS_DIR="$raw" bash scripts/demo-session.sh "$root" "$build"
if [ -f scripts/map-screenshots.sh ] && [ -x "$build/tools/tavrix-map" ]; then
  # Its X display: the first of ours, free again now that the session is over.
  if [ -n "${TAVRIX_XVFB_DISPLAYS:-}" ]; then export TAVRIX_XVFB=":${TAVRIX_XVFB_DISPLAYS%% *}"; fi
  bash scripts/map-screenshots.sh "$build" "$raw"
fi

# session's name -> the manual's name
pictures=(
  01-port-dialog:port-dialog
  02-log-warning:log-warning
  03-receivers-scan-frequency:main-scan
  06-receivers-table-channel:main-table
  07-receivers-single:main-single
  08-receivers-single-tiled-vertically:main-single-tiled
  09-gps-screen:gps-screen
  10-map-range:map-range
  12-scan-history:scan-history
  tavrix-map-live:tavrix-map-live
  tavrix-map-follow:tavrix-map-follow
  tavrix-map-recorded:tavrix-map-recorded
  tavrix-map-drive-history:tavrix-map-drive-history
  tavrix-map-coverage:tavrix-map-coverage
  klf-report-first-page:klf-report-first-page
  klf-report-section:klf-report-section
)
images="$root/docs/images"
mkdir -p "$images"
missing=0
for entry in "${pictures[@]}"; do
  from="$raw/${entry%%:*}.png" to="$images/${entry#*:}.png"
  if [ ! -f "$from" ]; then
    case $entry in
      tavrix-map-*|klf-report-*) echo "screenshots: no tavrix-map in this build; ${to#"$root"/} left as it was" ;;
      *) echo "screenshots: the session took no ${entry%%:*}.png" >&2; missing=1 ;;
    esac
    continue
  fi
  # A palette of at most 256 colours loses nothing visible on a screen shot
  # and takes a fifth of the room.
  pngquant --force --strip --speed 1 --quality 80-100 --output "$to" "$from" || cp "$from" "$to"
  echo "screenshots: ${to#"$root"/} ($(( $(stat -c %s "$to") / 1024 )) kB)"
done
exit $missing

#!/usr/bin/env bash
# Retakes the manual's pictures in docs/images/ from the scripted session of
# scripts/run.sh (the program under Xvfb against the device emulator), then
# shrinks them. Run it again whenever a screen changes; the build never does.
# The map viewer's pictures are taken only where the build has tavrix-map.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

raw=$(mktemp -d /tmp/tavrix-shots.XXXXXX)
trap 'rm -rf "$raw"' EXIT
TAVRIX_HEADLESS=1 TAVRIX_SHOTS_DIR="$raw" bash scripts/run.sh

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
  12-map-live:map-live
  13-map-recorded:map-recorded
)
images="$root/docs/images"
mkdir -p "$images"
missing=0
for entry in "${pictures[@]}"; do
  from="$raw/${entry%%:*}.png" to="$images/${entry#*:}.png"
  if [ ! -f "$from" ]; then
    case $entry in
      *map-live|*map-recorded) echo "screenshots: no tavrix-map in this build; ${to#"$root"/} left as it was" ;;
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

#!/usr/bin/env bash
# Screenshots of tavrix-map for the manual and the AppStream metadata: the
# real program logs a drive from the device emulator under Xvfb while
# tavrix-map follows it live; then the logged drive is drawn as recorded.
# Usage: map-screenshots.sh BUILD [OUT-DIR]   (DISPLAY number: TAVRIX_XVFB, default :500)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
out=$(mkdir -p "${2:-$root/docs/images}" && cd "${2:-$root/docs/images}" && pwd)

source "$root/scripts/lib/xsession.sh"
in_session_bus "$0" "$@"

run=$(mktemp -d /tmp/tavrix-mapshots.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  # The logger closes its log as it goes: the folder is removed after it.
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  rm -rf "$run" "$XDG_RUNTIME_DIR"
}
trap cleanup EXIT

export DISPLAY=${TAVRIX_XVFB:-:500}
Xvfb "$DISPLAY" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do xdotool getdisplaygeometry >/dev/null 2>&1 && break; sleep 0.1; done

# The ring of streets the emulator's circle runs along (a polygon with a
# hole): the area of the live acceptance test and of the report below.
python3 - >"$run/ring.geojson" <<'AREA'
import json, math
lat0, lon0, r = 40.5471 + 600 / 111195.0, -74.3803, 600.0  # the emulator's circle
def ring(radius):
    pts = [[round(lon0 + radius * math.cos(a) / (111195.0 * math.cos(math.radians(lat0))), 7),
            round(lat0 + radius * math.sin(a) / 111195.0, 7)]
           for a in (2 * math.pi * k / 72 for k in range(72))]
    return pts + pts[:1]
print(json.dumps({"type": "FeatureCollection", "features": [{"type": "Feature",
      "properties": {"name": "ring road"},
      "geometry": {"type": "Polygon", "coordinates": [ring(r + 60), ring(r - 60)[::-1]]}}]}))
AREA

port="$run/tavrix-port"
mkfifo "$run/sim-control"
"$build/tools/tavrix-sim" --link "$port" --mode scan --gps on --control <"$run/sim-control" >/dev/null 2>&1 &
pids+=($!)
exec 3>"$run/sim-control"
for _ in $(seq 50); do [ -e "$port" ] && break; sleep 0.1; done

cd "$run"
"$build/src/app/tavrix-dl" "$port" >/dev/null 2>&1 3>&- &
pids+=($!)
dialog=$(wait_window "Select Communications Port")
xdotool windowfocus --sync "$dialog" key Return
main=$(wait_window "Tavrix Data Logger")
eval "$(xdotool getwindowgeometry --shell "$main" | sed 's/^/win_/')"
menu_h=$((win_HEIGHT - 504))
# Log Data, then OK on the warning.
xdotool mousemove $((win_X + 600)) $((win_Y + menu_h + 14)) click 1
warning=$(wait_window "TAVRIX LOG FILE WARNING")
sleep 0.5
eval "$(xdotool getwindowgeometry --shell "$warning" | sed 's/^/warn_/')"
xdotool mousemove $((warn_X + 216 + 37)) $((warn_Y + 376 + 12)) click 1

"$build/tools/tavrix-map" --live --grid --settings "$run/live.ini" >/dev/null 2>&1 3>&- &
pids+=($!)
map=$(wait_window "Tavrix Map — Live")
xdotool windowsize "$map" 1100 720
# The log followed as it grows, with the ring's acceptance tiles.
(cd "$run" && exec "$build/tools/tavrix-map" --follow Tavrix.KLF --grid --settings "$run/follow.ini" \
  --area ring.geojson --threshold -90 --tile 50 >/dev/null 2>&1 3>&-) &
pids+=($!)
followed=$(wait_window "Tavrix Map — Following Tavrix.KLF")
xdotool windowsize "$followed" 1280 760
sleep ${TAVRIX_LIVE_SECONDS:-40}
xdotool windowraise "$map"
sleep 1
import -window "$map" "$out/tavrix-map-live.png"
echo "  $out/tavrix-map-live.png"
xdotool windowraise "$followed"
sleep 1
import -window "$followed" "$out/tavrix-map-follow.png"
echo "  $out/tavrix-map-follow.png"

# Log Data again stops logging; the log is Tavrix.KLF in the program's folder.
xdotool mousemove $((win_X + 600)) $((win_Y + menu_h + 14)) click 1
sleep 1
"$build/tools/tavrix-map" --grid --settings "$run/recorded.ini" "$run/Tavrix.KLF" >/dev/null 2>&1 3>&- &
pids+=($!)
recorded=$(wait_window "Tavrix Map — Tavrix.KLF")
xdotool windowsize "$recorded" 1100 720
sleep 3
import -window "$recorded" "$out/tavrix-map-recorded.png"
echo "  $out/tavrix-map-recorded.png"

# The scan history below it: the time slider a few seconds on (Alt+T, then
# the arrow key, a second a press), the pointer on a cell of the waterfall.
xdotool windowfocus --sync "$recorded" key alt+t
for _ in $(seq 12); do xdotool key Right; done
eval "$(xdotool getwindowgeometry --shell "$recorded" | sed 's/^/rec_/')"
xdotool mousemove $((rec_X + 420)) $((rec_Y + rec_HEIGHT - 120))
sleep 1
import -window "$recorded" "$out/tavrix-map-drive-history.png"
echo "  $out/tavrix-map-drive-history.png"

# The recorded drive as a coverage map, opened as a user opens one.
"$build/tools/klf-coverage" --cell 20 -o "$run/coverage.gpkg" "$run/Tavrix.KLF" >/dev/null 2>&1
"$build/tools/tavrix-map" --grid --settings "$run/coverage.ini" "$run/coverage.gpkg" >/dev/null 2>&1 3>&- &
pids+=($!)
coverage=$(wait_window "Tavrix Map — coverage.gpkg")
xdotool windowsize "$coverage" 1100 720
sleep 3
import -window "$coverage" "$out/tavrix-map-coverage.png"
echo "  $out/tavrix-map-coverage.png"

# The same drive as an acceptance report on receiver 1, over the ring, and
# the report's first page as the manual shows it. TAVRIX_KEEP_REPORT names a folder to keep the
# log, the area and the report in.
keep=${TAVRIX_KEEP_REPORT:-}
[ -n "$keep" ] && mkdir -p "$keep" && cp "$run/Tavrix.KLF" "$run/ring.geojson" "$keep/"
(cd "$run" && "$build/tools/klf-report" --threshold -90 --area ring.geojson --tile 50 --receiver 1 \
  --grid -o report.pdf --json report.json Tavrix.KLF >report.txt)
pdftoppm -png -r 70 -f 1 -l 1 -singlefile "$run/report.pdf" "$run/report-page"
cp "$run/report-page.png" "$out/klf-report-first-page.png"
echo "  $out/klf-report-first-page.png"
pdftoppm -png -r 80 -f 2 -l 2 -singlefile "$run/report.pdf" "$run/report-section"
cp "$run/report-section.png" "$out/klf-report-section.png"
echo "  $out/klf-report-section.png"
[ -n "$keep" ] && cp "$run/report.pdf" "$run/report.json" "$run/report.txt" "$keep/"
exit 0

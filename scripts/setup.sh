#!/usr/bin/env bash
# Installs what this project needs on Debian 12, and only what is missing.
# Usage: setup.sh           (build and test)
#        setup.sh --bench   (also the peers and profiler the benchmarks use)
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev libqt6sql6-sqlite
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xvfb xauth xdotool x11-apps imagemagick pngquant
  fonts-liberation2 dbus python3 time locales
  gdal-bin libgdal-dev libpq-dev libsqlite3-dev libssl-dev gpsbabel libxml2-utils
  postgresql-15-postgis-3 postgresql-15 postgresql-client-15
  scdoc man-db poppler-utils chromium appstream desktop-file-utils lintian
)
# gpsd reads NMEA beside the program in the whole-program bench; perf profiles it.
[ "${1:-}" = --bench ] && packages+=(gpsd linux-perf)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
else
  echo "setup: all packages present"
fi

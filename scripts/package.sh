#!/usr/bin/env bash
# Builds the Debian package (Release, without tests) and checks it with
# lintian; fails on any lintian error and prints its warnings.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh

build=build/release
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIX_TESTS=OFF -DTAVRIX_BENCH=OFF >/dev/null
cmake --build "$build" -j "$(nproc)"
rm -f "$build"/*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/*.deb)
echo "package: $deb"
# lintian exits non-zero on errors only (its default --fail-on).
lintian --info --pedantic "$deb" 2>&1 | grep -v 'running with root privileges' || true
lintian --fail-on error "$deb" >/dev/null 2>&1 || { echo "package: lintian reports errors" >&2; exit 1; }
echo "package: lintian reports no errors"

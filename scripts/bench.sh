#!/usr/bin/env bash
# Installs what is missing, builds the benchmarks (Release) and prints every
# figure as "name: value unit", then the whole-program figures, then one
# summary table of the headline figures.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh --bench
build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTAVRIX_TESTS=OFF -DTAVRIX_BENCH=ON >/dev/null
cmake --build "$build" -j "${TAVRIX_BUILD_JOBS:-$(nproc)}" >/dev/null

out=$(mktemp -d /tmp/tavrix-bench.XXXXXX)
trap 'rm -rf "$out"' EXIT
export QT_QPA_PLATFORM=offscreen
for exe in $(find "$build/bench" -maxdepth 2 -type f -executable -name '*bench*' | sort); do
  name=$(basename "$exe")
  "$exe" --benchmark_format=console --benchmark_out="$out/$name.json" --benchmark_out_format=json >/dev/null 2>"$out/$name.err" \
    || { echo "$name: failed"; cat "$out/$name.err"; continue; }
  python3 scripts/bench_report.py "$out/$name.json"
done | tee "$out/figures.txt"

python3 scripts/bench_klf_inspect.py "$build/tools/klf-inspect" | tee -a "$out/figures.txt"
# A failed whole-program step still leaves the figures above and the summary.
{ bash scripts/profile.sh "$build" || echo "program: failed"; } | tee -a "$out/figures.txt"
python3 scripts/bench_summary.py "$out/figures.txt"

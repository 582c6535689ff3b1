#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for an even share of
# SECONDS (default 60), keeping a corpus per target in build/fuzz/corpus.
# Prints the executions of each run; exits non-zero when a target crashed.
# Usage: scripts/fuzz.sh [SECONDS]      JOBS=n limits the build's parallelism.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/setup.sh >/dev/null

build=build/fuzz
instrument="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS="$instrument" \
      -DTAVRIX_FUZZ=ON -DTAVRIX_TESTS=OFF -DTAVRIX_BENCH=OFF >/dev/null

targets=(framer_fuzz klf_stream_fuzz)
[ -f fuzz/GpsDecodeFuzz.cpp ] && targets+=(gps_decode_fuzz)
[ -f fuzz/DriveReaderFuzz.cpp ] && targets+=(drive_reader_fuzz)
[ -f fuzz/DriveIndexFuzz.cpp ] && targets+=(drive_index_fuzz)
[ -f fuzz/HistogramTextFuzz.cpp ] && targets+=(histogram_text_fuzz)
cmake --build "$build" --target "${targets[@]}" -j "${JOBS:-$(nproc)}"

share=$(( seconds / ${#targets[@]} ))
[ "$share" -ge 1 ] || share=1

# A few well-formed frames to start the framer's corpus from.
framer_seeds() {
  local dir=$1
  printf '\x00\x00\xaa\x02\x00\x1c\x1c' >"$dir/seed-serial-request"
  printf '\x03\x00\x00\x55\xaa\x02\x00\x01\x01\xaa\x02\x00\x30\x30' >"$dir/seed-two-frames"
  printf '\x05\x00\xaa\x04\x00\x05\xaa\x02\xad\xaa\x00\x08' >"$dir/seed-aa-in-payload"
}

# A log with a header, its channel information and two records, and one
# without a header (the first two bytes pick the split and the header mode).
klf_seeds() {
  local dir=$1 header
  header='\x00\x00\x00\x00\x00\x00\x0f\x00\x80ZKTTAVRIX0401\xc0\x0b\x00\x81SN42\x00\x00\x00\x00\x00\x9a'
  header+='\x19\x00\x01'$(printf '\\x00%.0s' $(seq 24))
  printf "\x21\x00${header}"'\x04\x00\x05\x01\x02\x06\x03\x00\x07\x05\x02\x03\x00\x02\x05\x07' >"$dir/seed-log"
  printf '\x05\x02\x03\x00\x07\x05\x02\x03\x00\x02\x05\x07\x05\x00\x07' >"$dir/seed-headerless-cut"
}

status=0
for target in "${targets[@]}"; do
  corpus="$build/corpus/$target"
  mkdir -p "$corpus" "$build/crashes"
  if [ "$target" = framer_fuzz ] && [ -z "$(ls -A "$corpus")" ]; then framer_seeds "$corpus"; fi
  if [ "$target" = klf_stream_fuzz ] && [ -z "$(ls -A "$corpus")" ]; then klf_seeds "$corpus"; fi
  log="$build/$target.log"
  if "$build/fuzz/$target" -max_total_time="$share" -print_final_stats=1 \
       -artifact_prefix="$build/crashes/$target-" "$corpus" >"$log" 2>&1; then
    result=ok
  else
    result=CRASH
    status=1
  fi
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "$target: ${execs:-?} executions in ${share} s, $(ls "$corpus" | wc -l) corpus entries, $result"
  if [ "$result" = CRASH ]; then
    grep -E 'ERROR|SUMMARY|Test unit written' "$log" | head -20 || true
  fi
done
exit $status

#!/usr/bin/env bash
# Runs scripts/test.sh N times in a row while two busy loops load both cores,
# as a loaded CI machine would; stops at the first failing run and prints a
# summary of every run.
# Usage: scripts/stress-tests.sh [N]   (default 3; environment as for test.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-3}
case "$runs" in ''|*[!0-9]*) echo "usage: $0 [N]" >&2; exit 2 ;; esac

loaders=()
stop_loaders() {
  for pid in "${loaders[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${loaders[@]}"; do wait "$pid" 2>/dev/null || true; done
  loaders=()
}
trap stop_loaders EXIT
for _ in 1 2; do
  ( while :; do :; done ) &
  loaders+=("$!")
done

logs=$(mktemp -d /tmp/tavrix-stress.XXXXXX)
summary=()
failed=0
for ((i = 1; i <= runs; i++)); do
  start=$(date +%s)
  if bash scripts/test.sh >"$logs/run$i.log" 2>&1; then
    result=passed
  else
    result=FAILED
    failed=$i
  fi
  line=$(grep -E 'tests passed' "$logs/run$i.log" | tail -1 || true)
  summary+=("run $i/$runs: $result in $(( $(date +%s) - start )) s${line:+ ($line)}")
  echo "${summary[-1]}"
  if [ "$failed" != 0 ]; then
    grep -E '^\s*[0-9]+ - |\(Failed\)|\(Timeout\)' "$logs/run$i.log" || true
    break
  fi
done
stop_loaders

echo "stress-tests: ${#summary[@]} of $runs runs, two busy loops beside them, logs in $logs"
printf '  %s\n' "${summary[@]}"
if [ "$failed" != 0 ]; then
  echo "stress-tests: run $failed failed"
  exit 1
fi
echo "stress-tests: all passed"

#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test headless.
# Usage: scripts/test.sh            (unit, GUI-offscreen and end-to-end tests)
#        TAVRIX_SANITIZE=1 scripts/test.sh   (the same under ASan + UBSan)
#        TAVRIX_SANITIZE=thread scripts/test.sh   (the same under ThreadSanitizer)
# TAVRIX_TEST_TARGETS limits what is built, TAVRIX_TEST_FILTER (a ctest -R
# pattern) what is run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

jobs=$(nproc)
build=build/test
sanitize=OFF
case "${TAVRIX_SANITIZE:-0}" in
  1) build=build/asan; sanitize=ON ;;
  thread) build=build/tsan; sanitize=thread ;;
esac

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DTAVRIX_SANITIZE=$sanitize -DTAVRIX_BENCH=OFF -DTAVRIX_WERROR="${TAVRIX_WERROR:-OFF}" >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j "$jobs" ${TAVRIX_TEST_TARGETS:+--target $TAVRIX_TEST_TARGETS}

# Tests talk D-Bus (map broadcast) and need a private runtime folder.
runtime=$(mktemp -d /tmp/tavrix-xdg.XXXXXX)
chmod 0700 "$runtime"
trap 'rm -rf "$runtime"' EXIT
export XDG_RUNTIME_DIR="$runtime"
export QT_QPA_PLATFORM=offscreen
# Qt and fontconfig keep a few allocations for the life of the process.
export LSAN_OPTIONS="suppressions=$PWD/scripts/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Any race report fails the test. Qt is not instrumented: its own memory,
# freed and copied inside Qt, is not checked (ignore_noninstrumented_modules),
# and its remaining false positives are listed, each with its reason, in the
# suppressions file.
export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp:ignore_noninstrumented_modules=1:exitcode=66:second_deadlock_stack=1:history_size=4"
filter=()
[ -n "${TAVRIX_TEST_FILTER:-}" ] && filter=(-R "$TAVRIX_TEST_FILTER")
dbus-run-session -- ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 300 "${filter[@]}"

#!/usr/bin/env bash
# Installs what is missing, builds Tirvane three ways and runs every test:
#   build-ci     strict build (warnings are errors): the whole test suite
#   build-asan   address and undefined-behaviour sanitizers: the same suite
#   build-tsan   thread sanitizer: the tests of the code that starts threads
#                (labelled threads or telnet), so a data race fails the run
#   build-fuzz   clang + libFuzzer: each fuzzer for a short run
# Every test runs inside a private network namespace that has only loopback,
# so nothing a test does can reach a real network.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

fuzz_seconds=${TIRVANE_FUZZ_SECONDS:-60}
jobs=${TIRVANE_JOBS:-$(nproc)}

bash scripts/install_deps.sh

configure() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTIRVANE_STRICT=ON "$@" >/dev/null
}

echo "== building (strict)"
configure build-ci
cmake --build build-ci -j "$jobs"

echo "== building (sanitizers)"
configure build-asan -DTIRVANE_SANITIZE=ON
cmake --build build-asan -j "$jobs"

echo "== building (thread sanitizer)"
configure build-tsan -DTIRVANE_TSAN=ON
cmake --build build-tsan -j "$jobs" --target thread_tests

echo "== building (fuzzers)"
CC=clang CXX=clang++ configure build-fuzz -DTIRVANE_FUZZ=ON -DCMAKE_BUILD_TYPE=Debug
fuzzers=$(cmake --build build-fuzz --target help | sed -n 's/^\(fuzz_[A-Za-z0-9_]*\):.*/\1/p' \
  | grep -v '_autogen' | sort -u || true)
if [ -n "$fuzzers" ]; then
  # shellcheck disable=SC2086
  cmake --build build-fuzz -j "$jobs" --target $fuzzers
fi

# The printing tests print through a real spooler with a PDF printer: a
# spooler that cannot be started fails the run, rather than the print tests
# skipping unseen.
if ! TIRVANE_CUPS_PDF_DIR=$(bash scripts/start_cups.sh | tail -n 1) || [ -z "$TIRVANE_CUPS_PDF_DIR" ]; then
  echo "test.sh: the print spooler with its PDF printer could not be started (scripts/start_cups.sh)" >&2
  exit 1
fi
export TIRVANE_CUPS_PDF_DIR

# Runs a command in a new network namespace with only loopback up.
isolated() {
  local flags=-n
  [ "$(id -u)" -eq 0 ] || flags=-rn
  unshare $flags -- sh -c 'ip link set lo up && exec "$@"' isolated "$@"
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$root/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# Qt and glib are not built with the thread sanitizer: tests/tsan.supp names
# the races it reports inside them, never in Tirvane's own code. Any other
# report ends the test with status 66.
tsan_options=${TSAN_OPTIONS:-suppressions=$root/tests/tsan.supp:second_deadlock_stack=1:history_size=4}

for f in $fuzzers; do
  echo "== fuzzing $f for ${fuzz_seconds}s"
  # New finds go to a scratch folder; the seeds in the tree are read only.
  corpus=$(mktemp -d)
  seeds=tests/fuzz/seeds/$f
  [ -d "$seeds" ] || seeds=
  # shellcheck disable=SC2086
  isolated "build-fuzz/tests/fuzz/$f" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$corpus" $seeds 2>&1 | tail -n 3
  rm -rf "$corpus"
done

echo "== tests (sanitizers)"
isolated ctest --test-dir build-asan -j "$jobs" --timeout 600 --output-on-failure

echo "== tests (thread sanitizer)"
# Deleting through the main window's writer opens the History window while
# the writer's and the loader's threads both post to the window's event
# queue: Qt guards that queue with a lock the checker cannot see, so it
# reports Qt's own queue and the queued call as races. The test runs in the
# other two builds; its threads' own hand-over is checked here by the
# History window's loading tests.
TSAN_OPTIONS=$tsan_options isolated ctest --test-dir build-tsan -L '^(threads|telnet)$' -j "$jobs" --timeout 600 \
  -E '^HistoryRecordingTest[.]DeleteGoesThroughTheMainWindowsWriter$' --output-on-failure

echo "== tests (strict)"
isolated ctest --test-dir build-ci -j "$jobs" --timeout 600 --output-on-failure

#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build (core, window and tools), then the core
# and its tests again under AddressSanitizer + UndefinedBehaviorSanitizer and under
# ThreadSanitizer, then a short libFuzzer run of every fuzz target (ctest of each build already
# replays their corpora and every crash input found so far), then the core cross-built for
# Windows and tested under wine (scripts/test-windows.sh). Exits non-zero when any build, test or
# fuzz run fails. MIRAVA_FUZZ_SECONDS sets the time per target (default 45; 0 skips).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

status=0
ctest --test-dir build --output-on-failure -j2 || status=1

core_only=(-G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRAVA_WERROR=ON
           -DMIRAVA_BUILD_APP=OFF -DMIRAVA_BUILD_BENCH=OFF -DMIRAVA_BUILD_TOOLS=OFF)
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
for sanitizer in address thread; do
  cmake -S . -B "build-$sanitizer" "${core_only[@]}" -DMIRAVA_SANITIZE=$sanitizer
  cmake --build "build-$sanitizer"
  ctest --test-dir "build-$sanitizer" --output-on-failure -j2 || status=1
done

# Two targets at a time: eight targets take about four times the per-target time.
fuzz_seconds="${MIRAVA_FUZZ_SECONDS:-45}"
if [ "$fuzz_seconds" -gt 0 ]; then
  scripts/fuzz.sh all "$fuzz_seconds" 2 || status=1
fi

scripts/test-windows.sh || status=1

exit $status

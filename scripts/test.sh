#!/usr/bin/env bash
# Sets up, builds and runs every test: the normal build (core, window and tools), then the core
# and its tests again under AddressSanitizer + UndefinedBehaviorSanitizer and under
# ThreadSanitizer, then a short libFuzzer run of every fuzz target (ctest of each build already
# replays their corpora and every crash input found so far), then the core cross-built for
# Windows and tested under wine (scripts/test-windows.sh). Exits non-zero when any build, test or
# fuzz run fails. MIRAVA_FUZZ_SECONDS sets the time per target (default 45; 0 skips). Each build
# is a preset of CMakePresets.json (default, address, thread, fuzz, windows); arguments go to every
# ctest run, e.g. scripts/test.sh -LE timing to leave out the tests that depend on real time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh

status=0
ctest --preset default "$@" || status=1

# The presets set ASAN_OPTIONS, UBSAN_OPTIONS and TSAN_OPTIONS for the build and its tests.
for sanitizer in address thread; do
  cmake --preset "$sanitizer"
  cmake --build --preset "$sanitizer"
  ctest --preset "$sanitizer" "$@" || status=1
done

# Two targets at a time: eight targets take about four times the per-target time.
fuzz_seconds="${MIRAVA_FUZZ_SECONDS:-45}"
if [ "$fuzz_seconds" -gt 0 ]; then
  scripts/fuzz.sh all "$fuzz_seconds" 2 || status=1
fi

scripts/test-windows.sh || status=1

exit $status

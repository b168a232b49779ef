#!/usr/bin/env bash
# The Windows part of the tests: builds the Windows dependencies (cached, see
# scripts/windows-deps.sh), cross-builds the core, the window program and their tests for x86-64
# Windows into build-windows/ and runs them under wine, headless (the window's tests on Qt's
# offscreen platform), in a wine prefix of their own (the "windows" preset). Prints which tests
# are left out and why: tests/windows/left_out.txt, the list the build and the runs apply. Exits
# non-zero when a build or a test fails.
#
# Usage: scripts/test-windows.sh [--left-out]     --left-out: only print that list
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

left_out=tests/windows/left_out.txt
# left_out_names KIND FOLDER: the names of that kind of entry for that folder, one a line.
left_out_names() {
  awk -v kind="$1" -v folder="$2" '
    /^[^ #]/ && $1 == kind && $2 == folder { for (i = 3; i <= NF; i++) print $i }' "$left_out"
}
print_left_out() {
  echo "Left out under wine, for now ($left_out):"
  awk '
    /^#/ || /^[[:space:]]*$/ { next }
    /^[^ ]/ {
      names = $3
      for (i = 4; i <= NF; i++) names = names ", " $i
      printf "  %s: %s\n", $2, names
      next
    }
    { sub(/^ +/, ""); print "      " $0 }' "$left_out"
}
case "${1:-}" in
  --left-out) print_left_out; exit 0 ;;
  "") ;;
  *) echo "Usage: $0 [--left-out]" >&2; exit 2 ;;
esac

scripts/windows-deps.sh

build="build-windows"
cache=$(windows_cache)
windows_configure
cmake --build --preset windows
qt_prefix=$(windows_prefix qt)
scripts/windows-runtime.sh "$build/bin" "$qt_prefix" --with-test

# Russian Windows: wine takes the ANSI code page (1251) from the locale's name, and its file
# names' encoding from that locale's character set, so the locale must exist; it is generated
# into the cache (LOCPATH) rather than into the machine's configuration. No display: the core
# needs none. Output goes to files, never pipes (a wine background process keeps a pipe
# open), and every wine call has a time limit.
if [ ! -f "$cache/locale/ru_RU.UTF-8/LC_CTYPE" ]; then
  mkdir -p "$cache/locale"
  localedef -i ru_RU -f UTF-8 "$cache/locale/ru_RU.UTF-8"
fi
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# run_wine SECONDS PROGRAM ARGUMENTS...
run_wine() {
  local limit=$1
  shift
  timeout "$limit" env -u LC_ALL -u LC_CTYPE -u LC_MESSAGES LOCPATH="$cache/locale" \
    LANG=ru_RU.UTF-8 wine "$@"
}
unset DISPLAY WAYLAND_DISPLAY
logs="$build/wine-logs"
mkdir -p "$logs"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  run_wine 180 wineboot --init >"$logs/wineboot.log" 2>&1 || {
    echo "wine prefix set-up failed:"
    cat "$logs/wineboot.log"
    exit 1
  }
fi

# Runs, each a program and a gtest filter: the cases of the shared tests that state the Linux
# build's own behaviour, where Windows differs on purpose, are left out ("cases" in the list).
runs=()
for folder in windows analysis config output engine base; do
  cases=$(left_out_names cases "$folder" | paste -sd:)
  runs+=("mirava_${folder}_tests|${cases:+-}${cases:-*}")
done

status=0
number=0
for run in "${runs[@]}"; do
  program=${run%%|*}
  filter=${run#*|}
  number=$((number + 1))
  log="$logs/$program-$number.log"
  rc=0
  run_wine 600 "$build/bin/$program.exe" --gtest_filter="$filter" \
    --gtest_output="xml:$logs/$program-$number.xml" >"$log" 2>&1 || rc=$?
  summary=$(grep -E '^\[  (PASSED|FAILED|SKIPPED) +\]|tests? from .* ran' "$log" | tr '\n' ' ')
  if [ $rc -eq 0 ]; then
    echo "wine $program ($filter): ok: $summary"
  else
    echo "wine $program ($filter): FAILED (exit $rc): $summary"
    grep -E '^\[  FAILED  \]|Failure|error' "$log" | head -n 40 || true
    status=1
  fi
done
# The window's tests: one QtTest class per process, its results written to a file (QtTest's
# output does not reach a redirected stdout under wine); the classes of the files the build kept.
app_left_out=" $(left_out_names files app | tr '\n' ' ')"
app_sources=()
for source in tests/app/*.cpp; do
  if [[ "$app_left_out" != *" $(basename "$source" _test.cpp) "* ]]; then
    app_sources+=("$source")
  fi
done
classes=$(grep -ho 'MIRAVA_APP_TEST([A-Za-z]*)' "${app_sources[@]}" | sed 's/.*(\(.*\))/\1/')
for class in $classes; do
  result="$logs/app-$class.txt"
  rm -f "$result"
  rc=0
  QT_QPA_PLATFORM=offscreen run_wine 300 "$build/bin/mirava_app_tests.exe" "$class" \
    -o "$result,txt" >"$logs/app-$class.log" 2>&1 || rc=$?
  summary=$(grep -E '^Totals:' "$result" 2>/dev/null || echo "no results")
  if [ $rc -eq 0 ]; then
    echo "wine mirava_app_tests $class: ok: $summary"
  else
    echo "wine mirava_app_tests $class: FAILED (exit $rc): $summary"
    grep -A4 -E '^FAIL!' "$result" 2>/dev/null | head -n 40 || tail -n 20 "$logs/app-$class.log"
    status=1
  fi
done
timeout 30 env WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true

print_left_out
exit $status

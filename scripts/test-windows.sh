#!/usr/bin/env bash
# The Windows part of the tests: builds the Windows dependencies (cached, see
# scripts/windows-deps.sh), cross-builds the core, the window program and their tests for x86-64
# Windows into build-windows/ and runs them under wine, headless (the window's tests on Qt's
# offscreen platform), in a wine prefix of their own. Prints which
# tests are left out and why. Exits non-zero when a build or a test fails.
#
# Usage: scripts/test-windows.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/windows-deps.sh

build=build-windows
cache=${MIRAVA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mirava-windows}
# New dependency folders: configure afresh, so nothing found in the old ones stays cached.
if [ "$cache/x86_64/prefixes.cmake" -nt "$build/CMakeCache.txt" ]; then
  rm -f "$build/CMakeCache.txt"
fi
mkdir -p "$build"
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRAVA_WERROR=ON -DMIRAVA_BUILD_APP=ON \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DMIRAVA_BUILD_BENCH=OFF -DMIRAVA_BUILD_TOOLS=OFF -DMIRAVA_BUILD_CLI=OFF >"$build/configure.log" 2>&1 || {
  cat "$build/configure.log"
  exit 1
}
cmake --build "$build"
qt_prefix=$(scripts/windows-prefix.sh qt)
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

# Runs, each a program and a gtest filter: the shared tests that state the Linux build's own
# behaviour, where Windows differs on purpose, are left out (the list at the end says why).
excluded_engine="LocalTimestamp.CLocaleGivesTheRussianNumericFormAndMidnightLeavesTheTimeOut"
runs=(
  "mirava_windows_tests|*"
  "mirava_analysis_tests|*"
  "mirava_config_tests|*"
  "mirava_output_tests|*"
  "mirava_engine_tests|-$excluded_engine"
)

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
# output does not reach a redirected stdout under wine).
classes=$(grep -ho 'MIRAVA_APP_TEST([A-Za-z]*)' tests/app/*.cpp | sed 's/.*(\(.*\))/\1/' | grep -vx CliCompareTest)
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

cat <<'LEFT_OUT'
Left out under wine, for now:
  engine: proxy_mode and proxy_health_run run Debian's tinyproxy, a Linux program, and
          dead_proxy_connect's dead proxies rely on how Linux drops handshakes; the fake site
          itself runs on Winsock here.
  engine: LocalTimestamp.CLocale... sets the C library's locale, which the Linux build reads;
          the Windows build takes the user's regional settings instead.
  engine: platform, platform_named_lock, request_pacing and proxy_list tests use flock, fork,
          /proc, glibc's thread attributes and POSIX file calls; the Windows side of those
          facilities is covered by mirava_windows_tests instead.
  engine: platform_desktop_open puts a stand-in xdg-open on the path and watches it start; the
          Windows build hands the workbook to ShellExecuteW, and under wine no program holds
          .xlsx files, so opening it is left to a check on Windows itself.
  output: results_file, posix_io and workbook_export tests use fork, setrlimit, signals and
          POSIX file calls; the Windows file code is covered by mirava_windows_tests instead.
  cli:    mirava-cli and its tests (signals, child processes, the crash test) are built for
          Linux, where window-less runs live; the Windows build ships the window program.
  tools:  the layering check and the demo folder's smoke test are shell scripts about the
          sources and the Linux run command.
  window: CliCompareTest compares the window's results file with the command-line program's,
          which the Windows build does not make (the window is the Windows program).
LEFT_OUT
exit $status

#!/usr/bin/env bash
# The Windows program's demo run under wine: unpacks the portable archive into a folder with
# Cyrillic letters and spaces in its name, prepares it as scripts/make-demo-folder.sh does (one
# city, two categories, direct requests, four threads, no interval), starts the demo directory
# site (a Linux program, on 127.0.0.1) and a virtual X server, runs mirava.exe under wine, presses
# "СТАРТ", waits for the results file, the workbook and the log, and captures the screen into
# docs/screenshot-windows-demo-run.png.
#
#   scripts/demo-windows.sh [ZIP]     ZIP: made by scripts/package-windows.sh when not given
# Needs build/bin/mirava_demo_site (scripts/setup.sh builds it).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

for tool in Xvfb xdotool import convert wine; do
  command -v "$tool" >/dev/null || {
    echo "$0: $tool is missing (apt-get install xvfb xdotool imagemagick wine)" >&2
    exit 1
  }
done
work="$PWD/build-windows/demo"
if [ $# -ge 1 ]; then
  archive="$(realpath "$1")"
else
  scripts/package-windows.sh "$work/archive" >/dev/null
  archive="$work/archive/mirava-windows-x86_64.zip"
fi
site_program="${MIRAVA_DEMO_SITE:-$PWD/build/bin/mirava_demo_site}"
if [ ! -x "$site_program" ]; then
  cmake --build --preset default --target mirava_demo_site >/dev/null
fi

cache=$(windows_cache)
rm -rf "$work/Папка оператора"
unpacked="$work/Папка оператора/Парсер для отдела продаж"
mkdir -p "$unpacked"
/usr/bin/python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' \
  "$archive" "$unpacked"
demo="$unpacked/mirava"
bom=$'\xEF\xBB\xBF'
printf '[Settings]\r\nUseProxy=0\r\nThreads=4\r\nInterval=0\r\n' >"$demo/settings.ini"
printf 'Барнаул\r\n' >"$demo/selection1.txt"
printf '%sАвтосервисы\r\nЧип-тюнинг\r\n' "$bom" >"$demo/selection2.txt"

pids=()
cleanup() {
  timeout 30 env WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  for pid in "${pids[@]}"; do
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
}
trap cleanup EXIT

rm -f "$work/port" "$work/display"
"$site_program" --port 0 --port-file "$work/port" --lists-folder "$demo" --no-rate-limit \
  --idle-exit-seconds 600 >"$work/site.log" 2>&1 &
pids+=($!)
# The window's designed size plus wine's unseen title bar.
Xvfb -displayfd 3 -screen 0 1290x780x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do
  [ -s "$work/port" ] && [ -s "$work/display" ] && break
  sleep 0.1
done
[ -s "$work/port" ] || { echo "$0: the demo site did not start" >&2; exit 1; }
[ -s "$work/display" ] || { echo "$0: Xvfb did not start" >&2; exit 1; }
DISPLAY=":$(cat "$work/display")"
export DISPLAY

# Russian Windows (code page 1251), as in scripts/test-windows.sh; a prefix of its own.
if [ ! -f "$cache/locale/ru_RU.UTF-8/LC_CTYPE" ]; then
  mkdir -p "$cache/locale"
  localedef -i ru_RU -f UTF-8 "$cache/locale/ru_RU.UTF-8"
fi
export WINEPREFIX="$work/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
run_wine() {
  local limit=$1
  shift
  timeout "$limit" env -u LC_ALL -u LC_CTYPE -u LC_MESSAGES LOCPATH="$cache/locale" \
    LANG=ru_RU.UTF-8 wine "$@"
}
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  run_wine 180 wineboot --init >"$work/wineboot.log" 2>&1
fi

(cd "$demo" && run_wine 900 ./mirava.exe) >"$work/program.log" 2>&1 &
pids+=($!)
window=""
for _ in $(seq 300); do
  window="$(xdotool search --onlyvisible --name 'Парсер организаций Mirava' 2>/dev/null | head -1 || true)"
  [ -n "$window" ] && break
  sleep 0.2
done
[ -n "$window" ] || { echo "$0: the window did not appear" >&2; exit 1; }
sleep 3

# The middle of "СТАРТ" (left 8, top 681, 253 x 43 in the window's client area).
xdotool mousemove --window "$window" 134 702 click 1
for _ in $(seq 1500); do
  compgen -G "$demo/log*.txt" >/dev/null && break
  sleep 0.2
done
compgen -G "$demo/log*.txt" >/dev/null || { echo "$0: the run did not finish" >&2; exit 1; }
sleep 2
xdotool mousemove 1289 779

mkdir -p docs
# Only the window: wine leaves the area of its unseen title bar black.
import -display "$DISPLAY" -window "$window" png:- | convert - -colors 96 png8:docs/screenshot-windows-demo-run.png
echo "docs/screenshot-windows-demo-run.png: $(stat -c %s docs/screenshot-windows-demo-run.png) bytes"
echo "Folder: $demo"
ls -la "$demo"

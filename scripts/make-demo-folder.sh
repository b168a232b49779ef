#!/usr/bin/env bash
# Prepares a folder for trying the program against the demo directory site: a copy of the
# program, the remembered selection (one city, two categories) and settings.ini with direct
# requests (no proxies), four threads and no interval: requests go to the site one at a time
# without a pause between them. The demo site must then run with --no-rate-limit, or its 429
# answers bring the program's five-minute pauses. It writes cities.txt and categories.txt into
# the folder when it starts (mirava_demo_site --lists-folder FOLDER), since only it knows its port.
#
#   scripts/make-demo-folder.sh FOLDER [PROGRAM]      PROGRAM: build/bin/mirava by default
#
# Exits with 3 when the program would refuse to run from FOLDER (its path holds "Rar$", or a
# folder named Temp in any letter case).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || [ $# -gt 2 ]; then
  echo "usage: $0 FOLDER [PROGRAM]" >&2
  exit 2
fi
folder="$(realpath -m "$1")"
program="${2:-build/bin/mirava}"

# The same checks the program makes at start; a folder that fails them would end it at once.
if [[ "$folder/" == *'Rar$'* ]] || [[ "${folder,,}/" == *'/temp/'* ]]; then
  echo "$0: the program does not run from $folder (an archive's or a temporary folder)" >&2
  exit 3
fi
if [ ! -x "$program" ]; then
  echo "$0: no program at $program; build it first (scripts/setup.sh)" >&2
  exit 1
fi

mkdir -p "$folder"
# A copy, not a link: the program keeps its files in the folder it really lies in.
cp -f "$program" "$folder/mirava"

bom=$'\xEF\xBB\xBF'
printf '[Settings]\r\nUseProxy=0\r\nThreads=4\r\nInterval=0\r\n' >"$folder/settings.ini"
printf 'Барнаул\r\n' >"$folder/selection1.txt"
printf '%sАвтосервисы\r\nЧип-тюнинг\r\n' "$bom" >"$folder/selection2.txt"
echo "$folder"

#!/usr/bin/env bash
# Sets up and builds the project, then puts the portable folder together: the program, the
# shipped city and category lists (they point at the real site) and the operators' read-me.
#
#   scripts/package.sh [FOLDER]      FOLDER: build/portable by default
set -euo pipefail
cd "$(dirname "$0")/.."

folder="$(realpath -m "${1:-build/portable}")"
# The program refuses to run from an archive's or a temporary folder.
if [[ "$folder/" == *'Rar$'* ]] || [[ "${folder,,}/" == *'/temp/'* ]]; then
  echo "$0: the program does not run from $folder (an archive's or a temporary folder)" >&2
  exit 3
fi

scripts/setup.sh
cmake --install build --prefix "$folder"
echo "Portable folder: $folder"

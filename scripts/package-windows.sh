#!/usr/bin/env bash
# Makes the portable Windows folder as one archive, DIR/mirava-windows-x86_64.zip: mirava.exe
# with the libraries it loads beside it (Qt's, with platforms/qwindows.dll and the Windows style,
# the compiler's run-time and zlib1.dll), the shipped city and category lists and the operators'
# read-me in Windows wording. Sets up and builds whatever is missing first (scripts/windows-deps.sh
# and build-windows/; both are cached, so a second run takes seconds).
#
#   scripts/package-windows.sh DIR
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
out="$(realpath -m "$1")"
started=$SECONDS

scripts/windows-deps.sh
cache=${MIRAVA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mirava-windows}
qt_prefix=$(scripts/windows-prefix.sh qt)

build=build-windows
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
cmake --build "$build" --target mirava

# The folder the operator unpacks: everything side by side, nothing else.
stage="$build/package/mirava"
rm -rf "$build/package"
mkdir -p "$stage"
# The debugging information stays in the build; the shipped program goes without it.
x86_64-w64-mingw32-strip -o "$stage/mirava.exe" "$build/bin/mirava.exe"
scripts/windows-runtime.sh "$stage" "$qt_prefix"
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.dll "$stage"/*/*.dll
cp data/*.txt "$stage/"

# The read-me in Windows wording: how to start, then the shared text with mirava.exe as the
# program's name; CR LF and a byte-order mark, so Notepad shows it right.
{
  printf '\xEF\xBB\xBF'
  awk -v start="$(cat packaging/windows-start.txt)" '
    NR == 3 { print; print start; print ""; print ""; next }
    /^  mirava            программа$/ {
      print "  mirava.exe        программа"
      print "  *.dll, platforms, библиотеки, без которых программа не запускается"
      print "  styles"
      next
    }
    { print }
  ' packaging/ЧИТАЙМЕНЯ.txt
} | sed 's/$/\r/' >"$stage/ЧИТАЙМЕНЯ.txt"

mkdir -p "$out"
archive="$out/mirava-windows-x86_64.zip"
rm -f "$archive"
# Python's zip module marks the Cyrillic file name as UTF-8, which Windows' own unpacker reads.
(cd "$build/package" && /usr/bin/python3 - "$archive" <<'PY'
import os, sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for folder, _, files in sorted(os.walk("mirava")):
        for name in sorted(files):
            archive.write(os.path.join(folder, name))
PY
)
echo "$archive: $(stat -c %s "$archive") bytes, $(find "$stage" -type f | wc -l) files, made in $((SECONDS - started)) s"

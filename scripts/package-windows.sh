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
source scripts/lib.sh

if [ $# -ne 1 ]; then
  echo "usage: $0 DIR" >&2
  exit 2
fi
out="$(realpath -m "$1")"
started=$SECONDS

scripts/windows-deps.sh
qt_prefix=$(windows_prefix qt)

build="build-windows"
windows_configure
cmake --build --preset windows --target mirava

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

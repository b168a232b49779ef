#!/usr/bin/env bash
# Copies what the Windows programs load at run time into FOLDER, beside them: Qt's libraries and
# the plugins they need (platforms: windows for the desktop, offscreen for headless tests; the
# Windows style), the compiler's run-time libraries that Qt's libraries name, and zlib1.dll, which
# the core names (wine has its own zlib1.dll, a real Windows has none).
#
# Usage: scripts/windows-runtime.sh FOLDER QT_PREFIX [--with-test]
set -euo pipefail
folder=$1
qt=$2
with_test=${3:-}
host=x86_64-w64-mingw32

mkdir -p "$folder/platforms" "$folder/styles"
modules=(Core Gui Widgets)
if [ "$with_test" = "--with-test" ]; then modules+=(Test); fi
for module in "${modules[@]}"; do
  cp -u "$qt/bin/Qt6$module.dll" "$folder/"
done
cp -u "$qt/plugins/platforms/qwindows.dll" "$folder/platforms/"
if [ "$with_test" = "--with-test" ]; then cp -u "$qt/plugins/platforms/qoffscreen.dll" "$folder/platforms/"; fi
cp -u "$qt/plugins/styles/qwindowsvistastyle.dll" "$folder/styles/"
for library in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll zlib1.dll; do
  path=$("$host-g++-posix" -print-file-name="$library")
  if [ "$path" = "$library" ]; then path=/usr/$host/lib/$library; fi
  cp -u "$(readlink -f "$path")" "$folder/$library"
done

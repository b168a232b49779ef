#!/usr/bin/env bash
# Prints the folder of one part of the Windows dependencies (qt, openssl, curl, xlsxwriter, gtest,
# headers) from the list scripts/windows-deps.sh writes into its cache.
#
# Usage: scripts/windows-prefix.sh NAME
set -euo pipefail
cache=${MIRAVA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mirava-windows}
sed -n "s/.*[\";]\([^\";]*\/$1-[0-9a-f]*\).*/\1/p" "$cache/x86_64/prefixes.cmake"

#!/usr/bin/env bash
# Prints the folder of one part of the Windows dependencies (qt, openssl, curl, xlsxwriter, gtest,
# headers) from the list scripts/windows-deps.sh writes into its cache.
#
# Usage: scripts/windows-prefix.sh NAME
set -euo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "$0")/lib.sh"
windows_prefix "$1"

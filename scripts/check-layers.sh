#!/usr/bin/env bash
# Fails when a layer includes a header of a layer above it, when the core includes Qt, or when a
# system header or a Windows-only source file sits outside platform/, the one home of system calls.
# Layers: platform <- analysis <- output <- engine <- cli, app; output <- config <- cli, app;
# analysis <- base <- engine.
#
#   scripts/check-layers.sh [SOURCE_FOLDER]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A allowed=(
  [platform]="platform"
  [analysis]="platform analysis"
  [output]="platform analysis output"
  [base]="platform analysis base"
  [engine]="platform analysis output base engine"
  [config]="platform analysis output config"
  [cli]="platform analysis output base engine config cli"
  [app]="platform analysis output base engine config app"
)
layers="platform analysis output base engine config cli app tests tools bench fuzz"
# The product's folders above platform/: no system header, no *_windows.cpp. Tests, benchmarks
# and tools may reach the system directly (sockets of the fake site, child processes).
above_platform="analysis output base engine config cli app"
system_headers='unistd\.h|fcntl\.h|sys/[a-z_/]+\.h|windows\.h|winsock2?\.h|ws2tcpip\.h|wincrypt\.h|shellapi\.h|shlobj\.h|io\.h|direct\.h|pthread\.h|signal\.h|csignal|dirent\.h|poll\.h|netdb\.h|netinet/[a-z_]+\.h|arpa/[a-z_]+\.h|termios\.h|dlfcn\.h|spawn\.h|langinfo\.h'

status=0
for layer in "${!allowed[@]}"; do
  [ -d "$layer" ] || continue
  while IFS=: read -r file line text; do
    included=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
    if [[ " $layers " == *" $included "* && " ${allowed[$layer]} " != *" $included "* ]]; then
      echo "$file:$line: $layer may not include $included: $text"
      status=1
    fi
  done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+/' "$layer" || true)
done
for layer in platform analysis output base engine config cli; do
  [ -d "$layer" ] || continue
  if grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$layer"; then
    echo "the core ($layer) must not include Qt"
    status=1
  fi
done
for layer in $above_platform; do
  [ -d "$layer" ] || continue
  if grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($system_headers)>" "$layer"; then
    echo "system headers belong in platform/, not in $layer"
    status=1
  fi
  while read -r file; do
    echo "$file: Windows-only sources belong in platform/"
    status=1
  done < <(find "$layer" -name '*_windows.cpp')
done
exit $status

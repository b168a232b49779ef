#!/usr/bin/env bash
# Installs the Debian packages the project needs (apt-get update runs only when something is
# missing), then configures (the "default" preset) and builds the program, its tests and
# benchmarks into build/.
# Extra package names given as arguments are installed too. MIRAVA_BUILD_TARGETS (names separated
# by blanks) builds only those targets instead of everything.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev libcurl4-openssl-dev libssl-dev zlib1g-dev
  nlohmann-json3-dev libxlsxwriter-dev libsqlite3-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  tinyproxy python3 python3-openpyxl xdg-utils fonts-dejavu-core
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  "$@"
)

install_packages "${packages[@]}"

cmake --preset default
targets=()
for target in ${MIRAVA_BUILD_TARGETS:-}; do
  targets+=(--target "$target")
done
cmake --build --preset default "${targets[@]}"

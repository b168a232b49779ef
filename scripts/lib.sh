# shellcheck shell=bash
# What the scripts share; sourced, never run:
#   source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
# Defines functions only, so sourcing it changes nothing by itself.

# The cache scripts/windows-deps.sh builds the Windows libraries into (sources, logs, the wine
# locale, and one folder per architecture); MIRAVA_WINDOWS_CACHE moves it.
windows_cache() {
  echo "${MIRAVA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/mirava-windows}"
}

# windows_root [ARCH]: the folder of one architecture's parts and its prefixes.cmake (x86_64).
windows_root() {
  echo "$(windows_cache)/${1:-x86_64}"
}

# windows_prefix NAME [ARCH]: the folder of one part (qt, openssl, curl, xlsxwriter, gtest,
# headers), as the last scripts/windows-deps.sh run listed it in prefixes.cmake.
windows_prefix() {
  sed -n "s/.*[\";]\([^\";]*\/$1-[0-9a-f]*\).*/\1/p" "$(windows_root "${2:-}")/prefixes.cmake"
}

# windows_configure: configures build-windows/ from the "windows" preset, quietly (the output goes
# to build-windows/configure.log and is shown only when configuring fails).
windows_configure() {
  local build=build-windows
  # New dependency folders: configure afresh, so nothing found in the old ones stays cached.
  if [ "$(windows_root)/prefixes.cmake" -nt "$build/CMakeCache.txt" ]; then
    rm -f "$build/CMakeCache.txt"
  fi
  mkdir -p "$build"
  cmake --preset windows >"$build/configure.log" 2>&1 || {
    cat "$build/configure.log"
    return 1
  }
}

# install_packages PACKAGE...: installs those of the Debian packages that are missing, with sudo
# when not root. The package lists are refreshed at most once for a script and the scripts it
# starts, and only when something is missing.
install_packages() {
  local missing=() package
  for package in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$package")
    fi
  done
  if [ ${#missing[@]} -eq 0 ]; then
    return 0
  fi
  local sudo=()
  if [ "$(id -u)" -ne 0 ]; then sudo=(sudo); fi
  echo "Installing: ${missing[*]}"
  if [ -z "${MIRAVA_APT_UPDATED:-}" ]; then
    "${sudo[@]}" apt-get update
    export MIRAVA_APT_UPDATED=1
  fi
  "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
}

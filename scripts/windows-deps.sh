#!/usr/bin/env bash
# Builds the libraries the Windows (x86-64, mingw-w64) build links, from Debian only: the cross
# compilers and wine come as binary packages, OpenSSL, curl, libxlsxwriter, SQLite and qtbase as
# Debian source packages fetched through a private sources list (the machine's own apt
# configuration is left alone), GoogleTest from /usr/src/googletest.
#
# Each part is installed into its own folder under the cache, named after a key made of the part's
# build steps (this script's text of them), the source package version and the compiler version,
# so a second run finds everything and takes seconds. Prints nothing but progress; the last line
# written to $cache/x86_64/prefixes.cmake lists the folders for the CMake toolchain file.
# Runs at the same time wait for each other (flock on files in the cache) rather than build into
# the same folders.
#
# Usage: scripts/windows-deps.sh [--no-qt | --qt-only]
#   --no-qt    everything but Qt (the core and its tests need no Qt)
#   --qt-only  only Qt (to build it beside the small parts); writes no folder list
#   MIRAVA_WINDOWS_CACHE  where the results go (default ${XDG_CACHE_HOME:-$HOME/.cache}/mirava-windows)
#   MIRAVA_WINDOWS_JOBS   parallel build jobs (default 2)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
project_dir=$PWD

with_qt=1
only_qt=0
case "${1:-}" in
  --no-qt) with_qt=0 ;;
  --qt-only) only_qt=1 ;;
  "") ;;
  *) echo "Usage: $0 [--no-qt | --qt-only]" >&2; exit 2 ;;
esac

cache=$(windows_cache)
jobs=${MIRAVA_WINDOWS_JOBS:-2}
host=x86_64-w64-mingw32
root=$(windows_root x86_64)
mkdir -p "$root" "$cache/sources" "$cache/logs"

packages=(
  g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix mingw-w64-tools libz-mingw-w64-dev
  wine wine64 qt6-base-dev-tools qt6-base-dev dpkg-dev cmake ninja-build make perl xz-utils
  googletest nlohmann-json3-dev zip python3 gcc tcl
)

# The mingw compilers come in two thread models; std::thread needs the posix one.
note_thread_model() {
  local tool
  for tool in gcc g++; do
    if [ "$(readlink -f "/usr/bin/$host-$tool")" != "$(readlink -f "/usr/bin/$host-$tool-posix")" ]; then
      echo "Note: /usr/bin/$host-$tool is not the posix variant; the toolchain file names it directly."
    fi
  done
}

# apt through a private sources list and state folder: only source indexes, refreshed once a day.
apt_private() {
  local tool=$1
  shift
  local sandbox=()
  # The private folders belong to the caller, not to apt's download user.
  if [ "$(id -u)" -eq 0 ]; then sandbox=(-o APT::Sandbox::User=root); fi
  "$tool" "${sandbox[@]}" -o Dir::Etc::SourceList="$cache/apt/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o Dir::State::Lists="$cache/apt/lists" -o Dir::Cache="$cache/apt/cache" "$@"
}

refresh_source_index() {
  mkdir -p "$cache/apt/lists/partial" "$cache/apt/cache/archives/partial"
  echo "deb-src http://deb.debian.org/debian bookworm main" >"$cache/apt/sources.list.new"
  if ! cmp -s "$cache/apt/sources.list.new" "$cache/apt/sources.list" 2>/dev/null; then
    mv "$cache/apt/sources.list.new" "$cache/apt/sources.list"
    rm -f "$cache/apt/updated"
  else
    rm -f "$cache/apt/sources.list.new"
  fi
  if [ -z "$(find "$cache/apt/updated" -mmin -1440 2>/dev/null)" ]; then
    echo "Refreshing the private source index"
    if apt_private apt-get update -qq >"$cache/logs/apt-update.log" 2>&1; then
      touch "$cache/apt/updated"
    elif [ -f "$cache/apt/updated" ]; then
      # Offline: yesterday's index still names the versions whose builds are cached.
      echo "Note: the source index could not be refreshed; using the one from before."
    else
      cat "$cache/logs/apt-update.log"
      return 1
    fi
  fi
}

source_version() {
  apt_private apt-cache showsrc "$1" 2>/dev/null | awk '/^Version:/ {print $2}' | sort -V | tail -n 1
}

# Unpacks source package $1 at version $2 into $3 (fetched once, kept under the cache).
unpack_source() {
  local name=$1 version=$2 target=$3 upstream
  upstream=${version#*:}
  local dsc="$cache/sources/${name}_${upstream}.dsc"
  if [ ! -f "$dsc" ]; then
    (cd "$cache/sources" && apt_private apt-get source --download-only -qq "$name=$version" >/dev/null)
  fi
  rm -rf "$target"
  dpkg-source --no-check -x "$dsc" "$target" >/dev/null
}

compiler_version() { "$host-g++-posix" -dumpfullversion; }

# key NAME VERSION [EXTRA...]: a short hash of the part's build function, the shared steps, the
# versions and whatever else the part depends on.
key() {
  local name=$1
  shift
  {
    declare -f "build_$name" toolchain_args unpack_source
    cat "$project_dir/cmake/mingw-w64-x86_64.cmake"
    echo "$@" "$(compiler_version)"
  } | sha256sum | cut -c1-16
}

toolchain_args() {
  echo -DCMAKE_TOOLCHAIN_FILE="$project_dir/cmake/mingw-w64-x86_64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -G Ninja -DMIRAVA_WINDOWS_PREFIXES=
}

# part NAME VERSION [DEPENDENCY_PREFIXES...]: builds the part unless its folder is complete.
# Sets part_prefix.
part() {
  local name=$1 version=$2
  shift 2
  local id
  id=$(key "$name" "$version" "$@")
  part_prefix="$root/$name-$id"
  wait_for_lock 8 "$root/.$name.lock"
  if [ -f "$part_prefix/.complete" ]; then
    echo "$name $version: cached ($part_prefix)"
    flock -u 8
    return 0
  fi
  echo "$name $version: building (log $cache/logs/$name.log)"
  local work="$cache/work/$name"
  rm -rf "$part_prefix" "$work"
  mkdir -p "$work"
  local started=$SECONDS
  # Run in the background and wait, so that errexit stays on inside the build steps.
  local status=0
  (cd "$work" && "build_$name" "$version" "$part_prefix" "$@") >"$cache/logs/$name.log" 2>&1 &
  wait $! || status=$?
  if [ $status -ne 0 ]; then
    echo "$name: build failed; the end of $cache/logs/$name.log:"
    tail -n 40 "$cache/logs/$name.log"
    return 1
  fi
  echo "$name $version: built in $((SECONDS - started)) s"
  rm -rf "$work"
  touch "$part_prefix/.complete"
  flock -u 8
}

# Every part's folder list goes to CMAKE_FIND_ROOT_PATH / CMAKE_PREFIX_PATH; the toolchain file
# reads it. MIRAVA_WINDOWS_PREFIXES in the environment wins over it.
prefixes=()

build_headers() {
  local prefix=$2
  mkdir -p "$prefix/include" "$prefix/lib/cmake/nlohmann_json"
  cp -r /usr/include/nlohmann "$prefix/include/"
  cat >"$prefix/lib/cmake/nlohmann_json/nlohmann_jsonConfig.cmake" <<'EOF'
if(NOT TARGET nlohmann_json::nlohmann_json)
  add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
  set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "${CMAKE_CURRENT_LIST_DIR}/../../../include")
endif()
EOF
  local json_version
  json_version=$(dpkg-query -W -f='${Version}' nlohmann-json3-dev | sed 's/-.*//')
  cat >"$prefix/lib/cmake/nlohmann_json/nlohmann_jsonConfigVersion.cmake" <<EOF
set(PACKAGE_VERSION "$json_version")
if(PACKAGE_FIND_VERSION_MAJOR STREQUAL "" OR PACKAGE_FIND_VERSION_MAJOR EQUAL 3)
  set(PACKAGE_VERSION_COMPATIBLE TRUE)
endif()
EOF
}

build_openssl() {
  local version=$1 prefix=$2
  unpack_source openssl "$version" src
  cd src
  ./Configure mingw64 no-shared no-tests no-module --cross-compile-prefix="$host-" \
    --prefix="$prefix" --libdir=lib --openssldir="$prefix/ssl"
  make -j"$jobs" build_libs
  make install_dev
}

build_curl() {
  local version=$1 prefix=$2 openssl=$3
  unpack_source curl "$version" src
  # shellcheck disable=SC2046
  cmake -S src -B build $(toolchain_args) -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_FIND_ROOT_PATH="$openssl" -DOPENSSL_ROOT_DIR="$openssl" -DOPENSSL_USE_STATIC_LIBS=ON \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON -DCURL_USE_OPENSSL=ON -DCURL_ZLIB=ON -DCURL_USE_LIBSSH2=OFF \
    -DCURL_USE_LIBSSH=OFF -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF \
    -DCURL_ZSTD=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_UNIX_SOCKETS=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none -DCURL_CA_FALLBACK=OFF
  cmake --build build -j"$jobs"
  cmake --install build
}

build_xlsxwriter() {
  local version=$1 prefix=$2 openssl=$3
  unpack_source libxlsxwriter "$version" src
  # Its Windows code opens the workbook by a UTF-8 path turned wide (UTF-16), but it turns that
  # code off for mingw, where the path would then be read in the ANSI code page; turn it back on.
  sed -i '/^#ifdef __MINGW32__$/,/^#endif$/d' src/src/packager.c src/src/utility.c
  perl -0pi -e 's/if\(MSVC\)(\s+list\(APPEND LXW_SOURCES third_party\/minizip\/iowin32.c\))/if(WIN32)$1/' \
    src/CMakeLists.txt
  if grep -B1 'iowin32.c)' src/CMakeLists.txt | grep -q 'if(MSVC)'; then return 1; fi
  # Its own MD5 clashes with OpenSSL's at link time.
  # shellcheck disable=SC2046
  cmake -S src -B build $(toolchain_args) -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_FIND_ROOT_PATH="$openssl" -DOPENSSL_ROOT_DIR="$openssl" -DOPENSSL_USE_STATIC_LIBS=ON \
    -DUSE_OPENSSL_MD5=ON -DBUILD_SHARED_LIBS=OFF -DBUILD_TESTS=OFF -DBUILD_EXAMPLES=OFF \
    -DUSE_SYSTEM_MINIZIP=OFF
  cmake --build build -j"$jobs"
  cmake --install build
}

build_sqlite() {
  local version=$1 prefix=$2
  unpack_source sqlite3 "$version" src
  # Debian's source is SQLite's own tree: its single-file form (sqlite3.c) is generated natively
  # (lemon, tclsh), then compiled with the cross compiler into a static library.
  mkdir amalgamation
  (cd amalgamation && ../src/configure --disable-tcl --disable-readline && make sqlite3.c)
  "$host-gcc-posix" -O2 -DSQLITE_OMIT_LOAD_EXTENSION -c amalgamation/sqlite3.c -o sqlite3.o
  mkdir -p "$prefix/include" "$prefix/lib"
  "$host-ar" rcs "$prefix/lib/libsqlite3.a" sqlite3.o
  cp amalgamation/sqlite3.h amalgamation/sqlite3ext.h "$prefix/include/"
}

build_gtest() {
  local prefix=$2
  # shellcheck disable=SC2046
  cmake -S /usr/src/googletest -B build $(toolchain_args) -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -Dgtest_disable_pthreads=OFF
  cmake --build build -j"$jobs"
  cmake --install build
}

build_qt() {
  local version=$1 prefix=$2
  unpack_source qt6-base "$version" src
  # Host tools (moc, uic, rcc) come from Debian's own Qt of the same version.
  # tabletevent: Debian's source drops 3rdparty/wintab. zstd: no mingw build of it.
  # freetype: the bundled copy, which the offscreen platform needs. direct2d stays on: without
  # it the windows platform plugin does not link.
  # shellcheck disable=SC2046
  cmake -S src -B build $(toolchain_args) -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DBUILD_SHARED_LIBS=ON -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF \
    -DQT_BUILD_BENCHMARKS=OFF -DQT_BUILD_MANUAL_TESTS=OFF -DQT_GENERATE_SBOM=OFF \
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_dbus=OFF -DFEATURE_sql=OFF \
    -DFEATURE_network=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
    -DFEATURE_xml=OFF -DFEATURE_tabletevent=OFF -DFEATURE_zstd=OFF -DFEATURE_icu=OFF \
    -DFEATURE_freetype=ON -DFEATURE_system_freetype=OFF -DFEATURE_system_zlib=OFF \
    -DFEATURE_system_pcre2=OFF -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_sql_sqlite=OFF -DFEATURE_vulkan=OFF
  cmake --build build -j"$jobs"
  cmake --install build
}

write_prefixes() {
  local list
  list=$(printf '%s;' "${prefixes[@]}")
  echo "set(MIRAVA_WINDOWS_PREFIXES \"${list%;}\")" >"$root/prefixes.cmake.new"
  mv "$root/prefixes.cmake.new" "$root/prefixes.cmake"
}

# wait_for_lock FD FILE: takes an exclusive lock on FILE through descriptor FD, saying so when
# another run holds it.
wait_for_lock() {
  eval "exec $1>\"\$2\""
  if ! flock -n "$1"; then
    echo "Another run of $(basename "$0") holds $2; waiting for it"
    flock "$1"
  fi
}

started=$SECONDS
# Concurrent runs (say --qt-only beside --no-qt) share the cache: the set-up goes one run at a
# time, and so does each part (see part), so no two runs build into the same folder.
wait_for_lock 9 "$cache/.setup.lock"
install_packages "${packages[@]}"
note_thread_model
refresh_source_index

openssl_version=$(source_version openssl)
curl_version=$(source_version curl)
xlsxwriter_version=$(source_version libxlsxwriter)
sqlite_version=$(source_version sqlite3)
qt_version=$(source_version qt6-base)
gtest_version=$(dpkg-query -W -f='${Version}' googletest)
headers_version=$(dpkg-query -W -f='${Version}' nlohmann-json3-dev)
flock -u 9

if [ $only_qt -eq 1 ]; then
  part qt "$qt_version"
  echo "Qt ready in $((SECONDS - started)) s: $part_prefix"
  exit 0
fi

part headers "$headers_version"
prefixes+=("$part_prefix")
part openssl "$openssl_version"
openssl_prefix=$part_prefix
prefixes+=("$part_prefix")
part curl "$curl_version" "$openssl_prefix"
prefixes+=("$part_prefix")
part xlsxwriter "$xlsxwriter_version" "$openssl_prefix"
prefixes+=("$part_prefix")
part sqlite "$sqlite_version"
prefixes+=("$part_prefix")
part gtest "$gtest_version"
prefixes+=("$part_prefix")
if [ $with_qt -eq 1 ]; then
  part qt "$qt_version"
  prefixes+=("$part_prefix")
fi
write_prefixes
echo "Windows dependencies ready in $((SECONDS - started)) s: $root/prefixes.cmake"

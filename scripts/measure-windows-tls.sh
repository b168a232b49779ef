#!/usr/bin/env bash
# Compares the two TLS back-ends libcurl offers the Windows build, under wine: curl on OpenSSL
# (what ships: one certificate store filled from Windows' "ROOT" store and shared by every handle)
# and curl on Schannel (Windows' own TLS and verification). For each it shows
#   - verification against the system's store: a site whose authority is not in "ROOT" is refused;
#     once the authority is trusted the site is accepted, and an unknown authority and a wrong
#     name are still refused;
#   - memory: the working set with 100 and with WORKERS workers holding HTTPS connections open,
#     and the same over plain HTTP, so the TLS cost per worker is the difference of the slopes;
#   - size: the probe program linked statically with each, stripped and zipped.
# Wine's Schannel runs on GnuTLS, so its memory figures are wine's, not Windows'. The probe
# program is bench/windows/tls_probe.cpp; the site is scripts/tls-probe-site.py (Linux, on
# 127.0.0.1). curl on Schannel is built from the same Debian source as the shipped curl and cached
# beside the other Windows parts.
#
# Usage: scripts/measure-windows-tls.sh [WORKERS]   (default 1000)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
workers=${1:-1000}

for tool in openssl python3 zip; do
  if ! command -v $tool >/dev/null; then
    echo "$0 needs the $tool command (Debian package $tool)" >&2
    exit 1
  fi
done
scripts/windows-deps.sh --no-qt
cache=$(windows_cache)
root=$(windows_root x86_64)
host=x86_64-w64-mingw32
out=$PWD/build-windows/tls-probe
mkdir -p "$out"
openssl=$(windows_prefix openssl)
curl_openssl=$(windows_prefix curl)
dsc=$(find "$cache/sources" -name 'curl_*.dsc' | sort -V | tail -n 1)

build_schannel_curl() {
  local prefix=$1 work=$2
  rm -rf "$work" "$prefix"
  mkdir -p "$work"
  dpkg-source --no-check -x "$dsc" "$work/src" >/dev/null
  cmake -S "$work/src" -B "$work/build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DMIRAVA_WINDOWS_PREFIXES= \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=OFF -DBUILD_CURL_EXE=OFF \
    -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON \
    -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=ON -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF \
    -DUSE_LIBIDN2=OFF -DUSE_NGHTTP2=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
    -DCURL_DISABLE_LDAP=ON -DENABLE_UNIX_SOCKETS=OFF -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
  cmake --build "$work/build"
  cmake --install "$work/build"
  rm -rf "$work"
}
schannel_key=$({ declare -f build_schannel_curl; basename "$dsc"; "$host-g++-posix" -dumpfullversion; } |
  sha256sum | cut -c1-16)
schannel=$root/curl-schannel-$schannel_key
if [ ! -f "$schannel/.complete" ]; then
  echo "curl on Schannel: building (log $cache/logs/curl-schannel.log)"
  build_schannel_curl "$schannel" "$cache/work/curl-schannel" >"$cache/logs/curl-schannel.log" 2>&1 || {
    tail -n 40 "$cache/logs/curl-schannel.log"
    exit 1
  }
  touch "$schannel/.complete"
fi

echo "Building the probe twice"
flags=(-std=c++20 -O2 -DCURL_STATICLIB -I. -static -s)
system_libs=(-lz -lcrypt32 -lsecur32 -lbcrypt -lws2_32 -lpsapi -ladvapi32 -luser32)
"$host-g++-posix" "${flags[@]}" -DMIRAVA_PROBE_OPENSSL -I"$curl_openssl/include" -I"$openssl/include" \
  bench/windows/tls_probe.cpp engine/platform/system_certificates_windows.cpp \
  -o "$out/tls_probe_openssl.exe" "$curl_openssl/lib/libcurl.a" "$openssl/lib/libssl.a" \
  "$openssl/lib/libcrypto.a" "${system_libs[@]}"
"$host-g++-posix" "${flags[@]}" -I"$schannel/include" bench/windows/tls_probe.cpp \
  -o "$out/tls_probe_schannel.exe" "$schannel/lib/libcurl.a" "${system_libs[@]}"

# Two authorities, each with a certificate for 127.0.0.1 and localhost.
certs=$out/certs
rm -rf "$certs"
mkdir -p "$certs"
make_site_certificate() {
  local name=$1
  openssl req -x509 -newkey rsa:2048 -nodes -sha256 -days 2 -subj "/CN=Mirava probe $name CA" \
    -keyout "$certs/$name-ca.key" -out "$certs/$name-ca.pem" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
  openssl req -newkey rsa:2048 -nodes -sha256 -subj "/CN=127.0.0.1" \
    -keyout "$certs/$name-site.key" -out "$certs/$name-site.csr" 2>/dev/null
  printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\nkeyUsage=critical,digitalSignature,keyEncipherment\nbasicConstraints=CA:FALSE\n' \
    >"$certs/$name-site.ext"
  openssl x509 -req -sha256 -days 2 -in "$certs/$name-site.csr" -CA "$certs/$name-ca.pem" \
    -CAkey "$certs/$name-ca.key" -CAcreateserial -extfile "$certs/$name-site.ext" \
    -out "$certs/$name-site.pem" 2>/dev/null
}
make_site_certificate trusted
make_site_certificate other

sites=()
stop_sites() {
  if [ ${#sites[@]} -gt 0 ]; then kill "${sites[@]}" 2>/dev/null || true; fi
  timeout 30 env WINEPREFIX="$out/wineprefix" wineserver -k >/dev/null 2>&1 || true
}
trap stop_sites EXIT
# start_site NAME [CERT KEY]: sets site_port.
start_site() {
  local name=$1
  shift
  python3 scripts/tls-probe-site.py "$@" >"$out/$name.port" 2>"$out/$name.log" &
  sites+=($!)
  for _ in $(seq 100); do
    site_port=$(head -n 1 "$out/$name.port")
    if [ -n "$site_port" ]; then return 0; fi
    sleep 0.1
  done
  echo "the $name site did not start"
  cat "$out/$name.log"
  exit 1
}
start_site plain
plain=$site_port
start_site trusted "$certs/trusted-site.pem" "$certs/trusted-site.key"
trusted=$site_port
start_site other "$certs/other-site.pem" "$certs/other-site.key"
other=$site_port

# A prefix of its own, so nothing here touches the tests' prefix.
export WINEPREFIX=$out/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$WINEPREFIX"
probe() {
  local backend=$1
  shift
  timeout 600 env -u LC_ALL -u LC_CTYPE -u LC_MESSAGES LANG=ru_RU.UTF-8 \
    wine "$out/tls_probe_$backend.exe" "$@" >"$out/probe.txt" 2>"$out/probe.err" || true
  tr -d '\r' <"$out/probe.txt"
}
timeout 180 wine wineboot --init >"$out/wineboot.log" 2>&1

results=$out/results.txt
: >"$results"
for backend in openssl schannel; do
  echo "$backend, authority not in ROOT: $(probe $backend check "https://127.0.0.1:$trusted/ok")"
done
# wine's "ROOT" store keeps no certificate added to it: the OpenSSL probe adds the authority to
# its own store instead. Schannel under wine takes it from nowhere.
export MIRAVA_PROBE_EXTRA_CA="Z:$certs/trusted-ca.pem"
for backend in openssl schannel; do
  echo "== $backend"
  echo "authority trusted:       $(probe $backend check "https://127.0.0.1:$trusted/ok")"
  echo "unknown authority:       $(probe $backend check "https://127.0.0.1:$other/ok")"
  echo "wrong name:              $(probe $backend check "https://wrong.example:$trusted/ok" \
    "wrong.example:$trusted:127.0.0.1")"
  for count in 100 "$workers"; do
    for scheme in http https; do
      port=$plain
      if [ $scheme = https ]; then port=$trusted; fi
      line=$(probe $backend hold "$scheme://127.0.0.1:$port/hold" "$count")
      echo "hold $scheme $count: $line"
      echo "$backend $scheme $count ${line%%$'\n'*}" >>"$results"
    done
  done
done

echo "== per worker (slope between 100 and $workers workers)"
python3 - "$results" "$workers" <<'EOF'
import sys
rows = {}
for line in open(sys.argv[1]):
    words = line.split()
    backend, scheme, count = words[0], words[1], int(words[2])
    values = dict(zip(words[3::2], words[4::2]))
    rows[(backend, scheme, count)] = values
many = int(sys.argv[2])
for backend in ("openssl", "schannel"):
    missing = [f"{scheme} {count}" for scheme in ("http", "https") for count in (100, many)
               if "working_set_mb" not in rows[(backend, scheme, count)]]
    if missing:
        print(f"{backend}: no figures, the probe ended without them ({', '.join(missing)})")
        continue

    def slope(scheme, field):
        low, high = rows[(backend, scheme, 100)], rows[(backend, scheme, many)]
        return (float(high[field]) - float(low[field])) / (many - 100)
    tls_mb = slope("https", "working_set_mb") - slope("http", "working_set_mb")
    tls_cpu = slope("https", "cpu_ms") - slope("http", "cpu_ms")
    high = rows[(backend, "https", many)]
    print(f"{backend}: TLS adds {tls_mb * 1024:.0f} KB and {tls_cpu:.2f} ms of CPU per worker; "
          f"{many} HTTPS workers: {high['held']} held, {high['failed']} failed, "
          f"working set {high['working_set_mb']} MB, all out after {high['seconds']} s; "
          f"shared store {high['store_mb']} MB")
EOF

echo "== size"
for backend in openssl schannel; do
  exe=$out/tls_probe_$backend.exe
  rm -f "$out/$backend.zip"
  (cd "$out" && zip -q -9 "$backend.zip" "tls_probe_$backend.exe")
  echo "$backend: $(stat -c %s "$exe") bytes, zipped $(stat -c %s "$out/$backend.zip")"
done

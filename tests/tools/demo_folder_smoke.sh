#!/usr/bin/env bash
# The run command's parts that need no display: the demo folder gets a copy of the program and
# the files that preselect the demo; folders the program would refuse are refused; the demo site
# starts on a free port, writes list files whose job addresses it answers, and stops cleanly.
#
#   demo_folder_smoke.sh PROGRAM DEMO_SITE
set -euo pipefail
program="$1"
site_program="$2"
repo="$(cd "$(dirname "$0")/../.." && pwd)"
work="$(mktemp -d)"
site=""
cleanup() {
  if [ -n "$site" ]; then
    kill "$site" 2>/dev/null || true
    wait "$site" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*" >&2
  exit 1
}
expect_bytes() {  # FILE PRINTF-FORMAT
  printf "$2" | cmp -s - "$1" || fail "$1 holds: $(od -c "$1" | head -5)"
}

demo="$work/demo"
"$repo/scripts/make-demo-folder.sh" "$demo" "$program" >/dev/null
cmp -s "$program" "$demo/mirava" || fail "the program was not copied"
[ -x "$demo/mirava" ] || fail "the copy is not executable"
[ ! -L "$demo/mirava" ] || fail "the copy is a link"
expect_bytes "$demo/settings.ini" '[Settings]\r\nUseProxy=0\r\nThreads=4\r\nInterval=0\r\n'
expect_bytes "$demo/selection1.txt" 'Барнаул\r\n'
expect_bytes "$demo/selection2.txt" '\xEF\xBB\xBFАвтосервисы\r\nЧип-тюнинг\r\n'

for refused in "$work/Temp/demo" "$work/a/tEmP/demo" "$work/Rar\$EXa1.234/demo"; do
  status=0
  "$repo/scripts/make-demo-folder.sh" "$refused" "$program" >/dev/null 2>&1 || status=$?
  [ "$status" -eq 3 ] || fail "a demo folder at $refused was accepted (status $status)"
done
[ ! -e "$work/Temp" ] || fail "a refused folder was created"

# As the run command starts it for the demo folder's direct requests: never a 429.
"$site_program" --port 0 --port-file "$work/port" --lists-folder "$demo" --no-rate-limit \
  --idle-exit-seconds 120 >"$work/site.log" 2>&1 &
site=$!
for _ in $(seq 200); do
  [ -s "$work/port" ] && break
  kill -0 "$site" 2>/dev/null || fail "the demo site ended: $(cat "$work/site.log")"
  sleep 0.05
done
[ -s "$work/port" ] || fail "the demo site wrote no port"
port="$(cat "$work/port")"
origin="http://127.0.0.1:$port"

# GET over a plain socket; prints the response (status line, headers, body).
fetch() {
  exec 3<>"/dev/tcp/127.0.0.1/$port"
  printf 'GET %s HTTP/1.1\r\nHost: 127.0.0.1:%s\r\nConnection: close\r\n\r\n' "$1" "$port" >&3
  cat <&3
  exec 3<&- 3>&-
}
# The site refuses some first requests (403) as the real one does; a repeat gets through.
fetch_page() {
  local response
  for _ in 1 2 3; do
    response="$(fetch "$1" | tr -d '\r')"
    case "$response" in
      "HTTP/1.1 403"*) continue ;;
      "HTTP/1.1 429"*) fail "$1: a 429 from a site started with --no-rate-limit" ;;
    esac
    break
  done
  printf '%s' "$response"
}

list_lines() {  # FILE: the lines without byte-order mark and CR
  sed '1s/^\xEF\xBB\xBF//' "$1" | tr -d '\r'
}
head -c 3 "$demo/cities.txt" | od -An -tx1 | grep -q 'ef bb bf' || fail "cities.txt has no BOM"
grep -q "Барнаул=$origin/barnaul/"$'\r'"\$" "$demo/cities.txt" || fail "cities.txt: $(cat "$demo/cities.txt")"
grep -q "^Чип-тюнинг=autoservice/type/chip-tuning/"$'\r'"\$" "$demo/categories.txt" ||
  fail "categories.txt: $(cat "$demo/categories.txt")"

jobs=0
while IFS='=' read -r city city_value; do
  while IFS='=' read -r category category_value; do
    job="$city_value$category_value"
    response="$(fetch_page "${job#"$origin"}")"
    [[ "$response" == "HTTP/1.1 200 OK"* ]] || fail "$city / $category: $(head -1 <<<"$response")"
    [[ "$response" == *'class="ranges"'* ]] || fail "$city / $category: no listing page"
    jobs=$((jobs + 1))
  done < <(list_lines "$demo/categories.txt")
done < <(list_lines "$demo/cities.txt")
[ "$jobs" -eq 15 ] || fail "$jobs job addresses instead of 15"

response="$(fetch_page /barnaul/autoservice/type/avtoservisy/metro/)"
[[ "$response" == *"Location: $origin/barnaul/autoservice/type/avtoservisy/rayon/"* ]] ||
  fail "no district redirect: $(head -3 <<<"$response")"

kill -TERM "$site"
for _ in $(seq 100); do
  kill -0 "$site" 2>/dev/null || break
  sleep 0.05
done
kill -0 "$site" 2>/dev/null && fail "the demo site did not stop"
status=0
wait "$site" || status=$?
site=""
[ "$status" -eq 0 ] || fail "the demo site ended with status $status"
grep -q "остановлен" "$work/site.log" || fail "site log: $(cat "$work/site.log")"
echo "demo folder and demo site: ok"

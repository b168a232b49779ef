#!/usr/bin/env bash
# Runs fuzz targets with libFuzzer (clang-14, ASan + UBSan), building them into build-fuzz/ first
# (the "fuzz" preset).
#
#   scripts/fuzz.sh TARGET SECONDS     one target for that long, e.g. scripts/fuzz.sh page_reader 1800
#   scripts/fuzz.sh all SECONDS [JOBS] every target for that long each, JOBS at a time (default 2)
#   scripts/fuzz.sh list               the target names
#
# Each target starts from its checked-in seeds (fuzz/corpus/TARGET) and keeps what it learns in
# build-fuzz/corpus/TARGET, so the repository's corpora stay small and later runs go on from
# where earlier ones stopped. An input that breaks a target is saved as
# build-fuzz/findings/TARGET-crash-*; once fixed, copy it into fuzz/regressions/TARGET/, where
# ctest replays it in every test build. The exit status is non-zero when any target found
# something. Extra libFuzzer options can be given in FUZZ_OPTIONS.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(page_reader text_toolkit text_encoding tab_import workbook_export settings_ini list_files
         proxy_list)

if [ "${1:-}" = "list" ]; then
  printf '%s\n' "${targets[@]}"
  exit 0
fi
if [ $# -lt 2 ]; then
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
fi
which="$1"
seconds="$2"
jobs="${3:-2}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

# Pages and workbooks need room; the text targets are checked against quadratic references.
max_len() {
  case "$1" in
    page_reader|workbook_export) echo 65536 ;;
    text_toolkit) echo 4096 ;;
    *) echo 16384 ;;
  esac
}

run_one() {
  local target="$1"
  local work="build-fuzz/corpus/$target"
  mkdir -p "$work" build-fuzz/findings build-fuzz/logs
  local log="build-fuzz/logs/$target.log"
  echo "fuzz_$target: ${seconds}s"
  # -timeout: one input may take at most 10 s (a hang counts as a finding);
  # -rss_limit_mb: a page may not make the reader take more than 2 GB.
  # shellcheck disable=SC2086 # FUZZ_OPTIONS holds several options, split at blanks
  if "build-fuzz/bin/fuzz_$target" -max_total_time="$seconds" -max_len="$(max_len "$target")" \
      -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/findings/$target-" ${FUZZ_OPTIONS:-} \
      "$work" "fuzz/corpus/$target" >"$log" 2>&1; then
    echo "fuzz_$target: $(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$') executions, no finding"
  else
    echo "fuzz_$target: FINDING, see $log and build-fuzz/findings/"
    tail -n 30 "$log"
    return 1
  fi
}

if [ "$which" = "all" ]; then
  selected=("${targets[@]}")
else
  selected=("$which")
fi

status=0
running=0
for target in "${selected[@]}"; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n || status=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || status=1
  running=$((running - 1))
done
exit $status

#!/usr/bin/env bash
# The layering check on small trees: each case is one file in an otherwise empty source folder,
# and whether the check must pass or fail on it.
#
#   tests/tools/check_layers_test.sh CHECK_SCRIPT
set -uo pipefail
check=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

failures=0
# expect  file  content
cases=(
  "pass|platform/file_access.cpp|#include <unistd.h>"
  "pass|platform/named_lock_windows.cpp|#include <windows.h>"
  "pass|engine/scraper.cpp|#include \"platform/file_access.h\""
  "pass|analysis/text_encoding.cpp|#include \"platform/system_code_page.h\""
  "pass|tests/support/fake_site_socket_windows.cpp|#include <winsock2.h>"
  "pass|engine/http_client.cpp|#include <curl/curl.h>"
  "fail|engine/scraper.cpp|#include <unistd.h>"
  "fail|output/results_file.cpp|#  include <sys/stat.h>"
  "fail|cli/main.cpp|#include <csignal>"
  "fail|app/startup_check.cpp|#include <windows.h>"
  "fail|config/settings_windows.cpp|// empty"
  "fail|engine/clock_windows.cpp|// empty"
  "fail|platform/clock.cpp|#include \"engine/scraper.h\""
  "fail|analysis/page_pieces.cpp|#include \"output/results_file.h\""
  "fail|engine/scraper.cpp|#include \"app/main_form.h\""
  "fail|engine/scraper.cpp|#include <QString>"
)
for entry in "${cases[@]}"; do
  IFS='|' read -r expect file content <<<"$entry"
  tree="$work/tree"
  rm -rf "$tree"
  mkdir -p "$tree/$(dirname "$file")"
  printf '%s\n' "$content" >"$tree/$file"
  if bash "$check" "$tree" >"$work/out" 2>&1; then got=pass; else got=fail; fi
  if [ "$got" != "$expect" ]; then
    echo "expected $expect, got $got: $file: $content"
    sed 's/^/  /' "$work/out"
    failures=$((failures + 1))
  fi
done
exit $((failures > 0))

#!/usr/bin/env bash
# Fails when a layer includes a header of a layer above it, or when the core includes Qt.
# Layers: analysis <- output <- engine <- cli, app; output <- config <- cli, app.
#
#   scripts/check-layers.sh [SOURCE_FOLDER]
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"

declare -A allowed=(
  [analysis]="analysis"
  [output]="analysis output"
  [engine]="analysis output engine"
  [config]="analysis output config"
  [cli]="analysis output engine config cli"
  [app]="analysis output engine config app"
)
layers="analysis output engine config cli app tests tools bench"

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
for layer in analysis output engine config cli; do
  [ -d "$layer" ] || continue
  if grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<Q' "$layer"; then
    echo "the core ($layer) must not include Qt"
    status=1
  fi
done
exit $status

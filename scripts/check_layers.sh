#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The folders of src/ form layers, and a file includes only from its own folder or a lower layer:
#   common < device, ui, sysinfo < firmware, status < health, power < notify < monitor < cli, app
# Folders on one level never include each other. Prints every include that points up or across
# and exits 1 when there is one; a folder missing from the list is an error too.
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/src"

declare -A layer=(
  [common]=0
  [device]=1 [ui]=1 [sysinfo]=1
  [firmware]=2 [status]=2
  [health]=3 [power]=3
  [notify]=4
  [monitor]=5
  [cli]=6 [app]=6
)

faults=0
for dir in "$src"/*/; do
  folder=$(basename "$dir")
  if [[ -z ${layer[$folder]+set} ]]; then
    echo "src/$folder: a folder without a layer; add it to scripts/check_layers.sh and README.md"
    faults=$((faults + 1))
  fi
done

while IFS=: read -r file line text; do
  from=${file#"$src"/}
  from=${from%%/*}
  to=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^/"]+)\/.*/\1/' <<<"$text")
  [[ -n ${layer[$to]+set} && -n ${layer[$from]+set} && $to != "$from" ]] || continue
  if ((layer[$to] >= layer[$from])); then
    echo "src/${file#"$src"/}:$line: $from includes $to, which is not below it: $text"
    faults=$((faults + 1))
  fi
done < <(grep -rnE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^/"]+/' "$src" --include='*.h' --include='*.cpp')

if ((faults > 0)); then
  echo "layers: $faults include(s) against the order" >&2
  exit 1
fi
echo "layers: every include in src/ points down"

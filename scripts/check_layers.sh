#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The folders of src/ form layers, and a file includes only from its own folder or a lower layer:
#   common < device, sysinfo < firmware, status < events < health, power < notify < monitor
#   < gui < cli, app
# Folders on one level never include each other. Three rules keep the window at the top:
#   - only gui/ and app/ include Qt or a generated form (ui_*.h);
#   - the window's handler names (Timer1Timer ...) appear only in app/;
#   - the notebook's page index appears only in gui/, app/ and monitor/page_selection, the
#     window's page rules; the workers are told what they need by flags of their own.
# Prints every fault and exits 1 when there is one; a folder missing from the list is one too.
set -euo pipefail
src="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/src"

declare -A layer=(
  [common]=0
  [device]=1 [sysinfo]=1
  [firmware]=2 [status]=2
  [events]=3
  [health]=4 [power]=4
  [notify]=5
  [monitor]=6
  [gui]=7
  [cli]=8 [app]=8
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

# Each rule: a pattern, the files allowed to hold it, and what it is.
check_confined() {
  local pattern=$1 allowed=$2 what=$3 file line text
  while IFS=: read -r file line text; do
    [[ ${file#"$src"/} =~ $allowed ]] && continue
    echo "src/${file#"$src"/}:$line: $what outside its place: $text"
    faults=$((faults + 1))
  done < <(grep -rnE "$pattern" "$src" --include='*.h' --include='*.cpp')
}
check_confined '^[[:space:]]*#[[:space:]]*include[[:space:]]*(<Q|"ui_[a-z0-9_]+\.h")' \
  '^(gui|app)/' 'a Qt include'
check_confined '\bTimer[0-9]Timer\b' '^app/' "a window's handler name"
check_confined '\b(k(Status|Setup|Upgrade|Email|About|Smart)Page|current_page)\b' \
  '^(gui/|app/|monitor/page_selection\.)' 'the page index'

if ((faults > 0)); then
  echo "layers: $faults fault(s)" >&2
  exit 1
fi
echo "layers: every include in src/ points down; Qt, handler names and pages stay in the window"

#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-2.0-or-later
# The manual pages and the bash completion against the programs they describe: each page renders
# without a warning, each page documents exactly the long options its program's --help names,
# --version prints the name and the project's version (raidgui's without a display), and the
# completion offers raidctl's commands and, over them, every option of its --help.
# Usage: manual_test.sh PACKAGING_DIR RAIDCTL RAIDGUI VERSION
set -euo pipefail
packaging=$1
raidctl=$2
raidgui=$3
version=$4
failures=0
fail() {
  echo "manual_test: $*" >&2
  failures=$((failures + 1))
}

# The long options a page documents: those in the tags of its .TP entries.
page_options() {
  awk 'tagged && /^\.B/ {print} {tagged = /^\.TP/}' "$1" | sed 's/\\-/-/g' |
    grep -o -- '--[a-z][a-z-]*' | sort -u
}
help_options() {
  grep -o -- '--[a-z][a-z-]*' | sort -u
}
# Two sorted lists of options, each named: the difference, both ways, is a failure.
same_options() {
  local left_name=$1 left=$2 right_name=$3 right=$4
  [[ "$left" == "$right" ]] && return
  fail "$left_name and $right_name name other options:" \
    "only in $left_name: $(comm -23 <(echo "$left") <(echo "$right") | xargs);" \
    "only in $right_name: $(comm -13 <(echo "$left") <(echo "$right") | xargs)"
}

for page in raidctl raidgui; do
  warnings=$(groff -man -Tutf8 -ww -z "$packaging/man/$page.1" 2>&1)
  [[ -z "$warnings" ]] || fail "$page.1 renders with warnings: $warnings"
done

raidctl_help=$("$raidctl" --help)
same_options raidctl.1 "$(page_options "$packaging/man/raidctl.1")" \
  "raidctl --help" "$(help_options <<<"$raidctl_help")"
raidgui_help=$(QT_QPA_PLATFORM=offscreen "$raidgui" --help 2>/dev/null)
same_options raidgui.1 "$(page_options "$packaging/man/raidgui.1")" \
  "raidgui --help" "$(help_options <<<"$raidgui_help")"

shown=$("$raidctl" --version)
[[ "$shown" == "raidctl $version" ]] || fail "raidctl --version prints '$shown'"
# A package tool asks where there is no display: Qt must not be needed for the answer.
shown=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$raidgui" --version 2>&1) ||
  fail "raidgui --version without a display failed"
[[ "$shown" == "raidgui $version" ]] || fail "raidgui --version prints '$shown'"

# What the completion offers for the words typed so far, one a line, sorted.
offered() {
  bash -c 'source "$1"; shift; COMP_WORDS=(raidctl "$@"); COMP_CWORD=$#; _raidctl
           printf "%s\n" "${COMPREPLY[@]}"' - "$packaging/completion/raidctl.bash" "$@" | sort -u
}
commands=$(awk '/^commands:/ {listed = 1; next} /^options:/ {listed = 0}
                listed && /^  [a-z]/ {print $1}' <<<"$raidctl_help" | sort -u)
completed=$(offered "")
[[ "$completed" == "$commands" ]] ||
  fail "the completion offers the commands $(xargs <<<"$completed"), --help lists $(xargs <<<"$commands")"
all_offered=$(
  offered -
  for command in $commands; do
    offered "$command" -
  done
  offered firmware upgrade file.bin -
)
same_options "the completion" "$(sort -u <<<"$all_offered" | grep -- '^--')" \
  "raidctl --help" "$(help_options <<<"$raidctl_help")"
[[ $(offered firmware upgrade file.bin --device "" | sort -n | xargs) == "$(seq 10 | xargs)" ]] ||
  fail "the completion does not offer 1 to 10 after --device"

((failures == 0)) || exit 1
echo "manual_test: both pages render cleanly and match --help and --version; the completion matches"

# SPDX-License-Identifier: GPL-2.0-or-later
# bash completion for raidctl                                    -*- shell-script -*-
# Stands on bash's own compgen, so that it also works where the bash-completion package's helpers
# are not loaded.

# Files and folders matching the word, names with blanks kept whole.
_raidctl_files() {
  compopt -o filenames 2>/dev/null
  mapfile -t COMPREPLY < <(compgen -f -- "$1")
}

_raidctl() {
  local cur=${COMP_WORDS[COMP_CWORD]}
  local prev=
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  local before=
  ((COMP_CWORD > 1)) && before=${COMP_WORDS[COMP_CWORD - 2]}
  local kinds='disk-fail device-removed'
  COMPREPLY=()

  # The command and, for firmware, its action and file, skipping the options' values.
  local command='' action='' file='' i
  for ((i = 1; i < COMP_CWORD; i++)); do
    case ${COMP_WORDS[i]} in
      --simulate | --for | --metrics | --exec | --exec-timeout | --device | --smtp | --port | \
        --timeout | --name | --from | --user | --to | --suppress | --send | --channel)
        ((i++)) ;;
      --subject | --body) ((i += 2)) ;;
      -*) ;;
      *)
        if [[ -z $command ]]; then
          command=${COMP_WORDS[i]}
        elif [[ $command == firmware && -z $action ]]; then
          action=${COMP_WORDS[i]}
        elif [[ $command == firmware && -z $file ]]; then
          file=${COMP_WORDS[i]}
        fi
        ;;
    esac
  done

  # The value of the option before the word.
  case $prev in
    --simulate | --metrics)
      _raidctl_files "$cur"
      return 0
      ;;
    --exec)
      # A name without a folder is looked up on PATH, as raidctl looks it up.
      if [[ $cur == */* ]]; then
        _raidctl_files "$cur"
      else
        mapfile -t COMPREPLY < <(compgen -c -- "$cur")
      fi
      return 0
      ;;
    --device)
      mapfile -t COMPREPLY < <(compgen -W '1 2 3 4 5 6 7 8 9 10' -- "$cur")
      return 0
      ;;
    --suppress | --send | --subject | --body)
      mapfile -t COMPREPLY < <(compgen -W "$kinds" -- "$cur")
      return 0
      ;;
    --for | --exec-timeout | --smtp | --port | --timeout | --name | --from | --user | --to | \
      --channel)
      return 0
      ;;
  esac
  case $before in
    --body)
      _raidctl_files "$cur"
      return 0
      ;;
    --subject) return 0 ;;
  esac

  local options
  case $command in
    '')
      if [[ $cur == -* ]]; then
        options='--help --version'
      else
        options='discover status monitor smart firmware mail-setup mail-show mail-test
                 notify-show notify-test'
      fi
      ;;
    discover | status | smart) options='--json --verbose --simulate --realtime' ;;
    monitor)
      options='--for --metrics --json --exec --exec-timeout --verbose --simulate --realtime'
      ;;
    firmware)
      if [[ -z $action && $cur != -* ]]; then
        options='check upgrade'
      elif [[ -z $file && $cur != -* ]]; then
        _raidctl_files "$cur"
        return 0
      elif [[ $action == upgrade ]]; then
        options='--device --yes --verbose --simulate --realtime'
      else
        options='--device --verbose --simulate --realtime'
      fi
      ;;
    mail-setup)
      options='--smtp --port --timeout --name --from --auth --user --no-auth --to
               --no-recipients --suppress --send --subject --body'
      ;;
    mail-show) options='--json' ;;
    mail-test) options='--verbose' ;;
    notify-show) options='--json' ;;
    notify-test) options='--channel' ;;
    *) return 0 ;;
  esac
  mapfile -t COMPREPLY < <(compgen -W "$options" -- "$cur")
  return 0
}

complete -F _raidctl raidctl

# SPDX-License-Identifier: GPL-2.0-or-later
# fish completion for raidctl

set -l commands discover status monitor smart firmware mail-setup mail-show mail-test notify-show notify-test
set -l kinds disk-fail device-removed

# Arguments are commands, kinds or enclosures unless a file is asked for below.
complete -c raidctl -f

complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a discover -d 'Find the enclosures and list them'
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a status -d "Read each array's status once"
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a monitor -d 'Poll, keep the daily log, mail the alerts'
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a smart -d "Read the member drives' SMART attributes"
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a firmware -d 'Check or write a controller firmware file'
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a mail-setup -d 'Change the alert mail settings'
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a mail-show -d 'Print the alert mail settings'
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a mail-test -d 'Send the test mail'
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a notify-show -d 'List the push channels'
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -a notify-test -d 'Send a test notification to each push channel'
complete -c raidctl -s h -l help -d 'Show the help'
complete -c raidctl -n "not __fish_seen_subcommand_from $commands" -l version -d 'Print the name and version'

set -l on_host discover status monitor smart firmware
complete -c raidctl -n "__fish_seen_subcommand_from $on_host" -l simulate -r -F -d 'Scenario file of a simulated host'
complete -c raidctl -n "__fish_seen_subcommand_from $on_host" -l realtime -d 'With --simulate: wall-clock speed'
complete -c raidctl -n "__fish_seen_subcommand_from $on_host mail-test" -l verbose -d 'Also print the status-bar texts'
complete -c raidctl -n "__fish_seen_subcommand_from discover status smart monitor mail-show notify-show" -l json -d 'Print JSON'

complete -c raidctl -n "__fish_seen_subcommand_from monitor" -l for -x -d 'Stop after that many seconds'
complete -c raidctl -n "__fish_seen_subcommand_from monitor" -l metrics -r -F -d 'Keep a Prometheus text file'
complete -c raidctl -n "__fish_seen_subcommand_from monitor" -l exec -x -a '(__fish_complete_command)' -d 'Run a program for each event'
complete -c raidctl -n "__fish_seen_subcommand_from monitor" -l exec-timeout -x -d 'Stop the program after that many seconds'
complete -c raidctl -n "__fish_seen_subcommand_from notify-test" -l channel -x -d 'Only the channel of that name'

complete -c raidctl -n "__fish_seen_subcommand_from firmware; and not __fish_seen_subcommand_from check upgrade" -a 'check upgrade'
complete -c raidctl -n "__fish_seen_subcommand_from check upgrade" -F -d 'Firmware file'
complete -c raidctl -n "__fish_seen_subcommand_from firmware" -l device -x -a '(seq 10)' -d 'The enclosure, DeviceN'
complete -c raidctl -n "__fish_seen_subcommand_from upgrade" -l yes -d 'Upgrade without asking'

complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l smtp -x -a '(__fish_print_hostnames)' -d 'The mail server'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l port -x -d "The server's port"
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l timeout -x -d 'Seconds to wait for the server'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l name -x -d "The sender's name"
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l from -x -d "The sender's address"
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l auth -d 'Log in; the password is read from standard input'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l user -x -d 'The account to log in with'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l no-auth -d 'Do not log in'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l to -x -d 'A recipient'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l no-recipients -d 'Remove every recipient'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l suppress -x -a "$kinds" -d 'No mail for that alert kind'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l send -x -a "$kinds" -d 'Mail for that alert kind'
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l subject -x -a "$kinds" -d "The kind's subject line"
complete -c raidctl -n "__fish_seen_subcommand_from mail-setup" -l body -x -a "$kinds" -d "The kind's contents from a file"
# --body KIND FILE: the word after the kind is the file.
complete -c raidctl -n 'set -l words (commandline -opc); test (count $words) -ge 2; and test "$words[-2]" = --body' -F

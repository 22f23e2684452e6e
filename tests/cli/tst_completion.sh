#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The bash completion of kalventa-cli, run as bash runs it on a typed line, and its commands and
# options against what the built tool's --help lists. Skipped (77) without bash-completion.
#   tst_completion.sh COMPLETION-FILE KALVENTA-CLI
set -o pipefail
completion=$1
tool=$2

helpers=/usr/share/bash-completion/bash_completion
if [[ ! -r $helpers ]]; then
    echo "SKIP: $helpers is missing (the bash-completion package)"
    exit 77
fi
# shellcheck source=/dev/null
source "$helpers"
# shellcheck source=/dev/null
source "$completion"
# Outside a real completion compopt only complains.
compopt() { :; }

failures=0

# Splits a typed line as readline does (blanks, and runs of "=" and ":" as words of their own),
# runs the completion for its end and prints the completions, sorted, on one line.
complete_line()
{
    COMP_LINE=$1
    COMP_POINT=${#COMP_LINE}
    COMP_WORDS=()
    local token
    for token in $COMP_LINE; do
        while [[ -n $token ]]; do
            if [[ $token =~ ^([=:]+|[^=:]+)(.*)$ ]]; then
                COMP_WORDS+=("${BASH_REMATCH[1]}")
                token=${BASH_REMATCH[2]}
            fi
        done
    done
    [[ $COMP_LINE == *' ' ]] && COMP_WORDS+=("")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    _kalventa_cli kalventa-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | LC_ALL=C sort | paste -sd ' ' -
}

expect()
{
    local line=$1 wanted=$2 got
    got=$(complete_line "$line")
    if [[ $got != "$wanted" ]]; then
        echo "FAIL: \"$line\" completes to \"$got\", not \"$wanted\""
        failures=$((failures + 1))
    else
        echo "PASS: \"$line\" -> $got"
    fi
}

expect 'kalventa-cli --po' '--port'
expect 'kalventa-cli re' 'read reset'
expect 'kalventa-cli --port sim o' 'otp otp-all'
expect 'kalventa-cli --json --a0 1 --vsup 10 s' 'save scan script selftest set sleep'
expect 'kalventa-cli --port=COM5 se' 'selftest set'
expect 'kalventa-cli --port COM1' 'COM1 COM10 COM11 COM12 COM13 COM14 COM15 COM16'
expect 'kalventa-cli --port COM' "$(printf 'COM%s\n' {1..16} | LC_ALL=C sort | paste -sd ' ' -) COMn=ftdi COMn=ftdi: COMn=sim COMn=sim-ft232r COMn=sim-ft232r:1ms COMn=sim:1ms"
expect 'kalventa-cli --port sim' 'sim sim-ft232r sim-ft232r:1ms sim:1ms'
expect 'kalventa-cli --port sim:' '1ms'
expect 'kalventa-cli --port COM5=s' 'sim sim-ft232r sim-ft232r:1ms sim:1ms'
expect 'kalventa-cli --port COM5=sim-' 'sim-ft232r sim-ft232r:1ms'
expect 'kalventa-cli --port COM5=sim-ft232r:' '1ms'
expect 'kalventa-cli --a0 ' '0 1'
expect 'kalventa-cli --fast-mode=' 'off on'
expect 'kalventa-cli --skip-idle-writes a' 'auto'
expect 'kalventa-cli --sim-fault frozen-read=' '0 1'
expect 'kalventa-cli --sim-fault d' 'dead-cell= dsr-stuck'
expect 'kalventa-cli --port sim get 1' '1 10 11 12 13 14 15 16 17 18 19'
expect 'kalventa-cli get c' 'c1 c2'
expect 'kalventa-cli code 5 1023 --v' '--verify'
expect 'kalventa-cli otp 5 ' '--yes'
expect 'kalventa-cli otp-all ' '--yes'
expect 'kalventa-cli play --loop ' 'forever'
expect 'kalventa-cli play --' '--delay --loop'
expect 'kalventa-cli read ' ''

# What the tool itself lists: its options (long names; a value after "=" left open) and its
# commands.
help=$("$tool" --help) || {
    echo "FAIL: $tool --help"
    exit 1
}
listed_options=$(sed -nE 's/^  (-[a-z], )?(--[a-z0-9-]+)(=?).*/\2\3/p' <<<"$help" | LC_ALL=C sort |
    paste -sd ' ' -)
listed_commands=$(sed -n '/^Commands:/,/^$/p' <<<"$help" | sed -nE 's/^  ([a-z][a-z-]*).*/\1/p' |
    LC_ALL=C sort | paste -sd ' ' -)
expect 'kalventa-cli -' "$listed_options"
expect 'kalventa-cli ' "$listed_commands"
expect 'kalventa-cli --port sim ' "$listed_commands"

if ((failures > 0)); then
    echo "$failures completion(s) wrong"
    exit 1
fi

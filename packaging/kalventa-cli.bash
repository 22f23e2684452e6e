# SPDX-License-Identifier: MIT
# Bash completion for kalventa-cli: the options (all before the command), the commands and what
# each command takes. Needs the bash-completion package's helpers.

# Readline replaces only what follows the word's last "=" or ":" (both break words for it): the
# completions lose what comes before. A completion that ends in one of them is not finished: no
# blank after it.
_kalventa_cli_settle()
{
    local typed=$1 lead=${1%"${1##*[=:]}"}
    if [[ ${#COMPREPLY[@]} -eq 1 && ${COMPREPLY[0]} == *[=:] ]]; then
        compopt -o nospace
    fi
    [[ -n $lead && $COMP_WORDBREAKS == *"${lead: -1}"* ]] || return 0
    local i
    for i in "${!COMPREPLY[@]}"; do
        COMPREPLY[i]=${COMPREPLY[i]#"$lead"}
    done
}

_kalventa_cli()
{
    local cur prev words cword split
    # The port grammar has ":" (sim:1ms, ftdi:SERIAL): keep it inside a word.
    _init_completion -s -n : || return

    local commands="ports read get code set load save verify reset otp otp-all burns play
        marker sleep scan selftest help script diagnose"
    local options="--port --a0 --vsup --trace --json --sim-fault --fast-mode=
        --skip-idle-writes= --verify --no-log --verbose --help --version"
    local channels="$(echo {1..22}) c1 c2"

    # An option's value first: "--port COM5" and "--port=COM5" alike.
    case $prev in
    --port)
        if [[ $cur == COM+([0-9])=/* ]]; then
            COMPREPLY=($(compgen -f -- "${cur#*=}"))
        elif [[ $cur == /* ]]; then
            _filedir
        else
            local number=${cur%%=*}
            [[ $cur == *=* ]] || number=COMn
            COMPREPLY=($(compgen -W "$(echo COM{1..16}) sim sim:1ms sim-ft232r sim-ft232r:1ms
                ftdi: $number=ftdi $number=ftdi: $number=sim $number=sim:1ms $number=sim-ft232r
                $number=sim-ft232r:1ms" -- "$cur"))
            _kalventa_cli_settle "$cur"
        fi
        return
        ;;
    --a0)
        COMPREPLY=($(compgen -W "0 1" -- "$cur"))
        return
        ;;
    --vsup)
        return
        ;;
    --trace)
        _filedir vcd
        return
        ;;
    --sim-fault)
        COMPREPLY=($(compgen -W "dsr-stuck frozen-read frozen-read=0 frozen-read=1 dead-cell=
            bank-stays-open" -- "$cur"))
        _kalventa_cli_settle "$cur"
        return
        ;;
    --fast-mode)
        COMPREPLY=($(compgen -W "on off" -- "$cur"))
        return
        ;;
    --skip-idle-writes)
        COMPREPLY=($(compgen -W "on off auto" -- "$cur"))
        return
        ;;
    esac
    $split && return

    # The command is the first word that is neither an option nor an option's value.
    local i command="" at=0
    for ((i = 1; i < cword; i++)); do
        case ${words[i]} in
        --port | --a0 | --vsup | --trace | --sim-fault) ((i++)) ;;
        -*) ;;
        *)
            command=${words[i]}
            at=$i
            break
            ;;
        esac
    done

    if [[ -z $command ]]; then
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "$options" -- "$cur"))
            _kalventa_cli_settle "$cur"
        else
            COMPREPLY=($(compgen -W "$commands" -- "$cur"))
        fi
        return
    fi

    # The argument's place after the command: 1 for the first.
    local place=$((cword - at))
    case $command in
    get)
        ((place == 1)) && COMPREPLY=($(compgen -W "$channels" -- "$cur"))
        ;;
    code | set)
        if ((place == 1)); then
            COMPREPLY=($(compgen -W "$channels" -- "$cur"))
        elif ((place == 3)); then
            COMPREPLY=($(compgen -W "--verify" -- "$cur"))
        fi
        ;;
    load)
        if ((place == 1)); then
            _filedir csv
        elif ((place == 2)); then
            COMPREPLY=($(compgen -W "--verify" -- "$cur"))
        fi
        ;;
    save | verify)
        ((place == 1)) && _filedir csv
        ;;
    otp)
        if ((place == 1)); then
            COMPREPLY=($(compgen -W "$channels" -- "$cur"))
        elif ((place == 2)); then
            COMPREPLY=($(compgen -W "--yes" -- "$cur"))
        fi
        ;;
    otp-all)
        ((place == 1)) && COMPREPLY=($(compgen -W "--yes" -- "$cur"))
        ;;
    script)
        if ((place == 1)); then
            _filedir
            [[ - == "$cur"* ]] && COMPREPLY+=(-)
        fi
        ;;
    diagnose)
        if [[ $cur == -* ]]; then
            COMPREPLY=($(compgen -W "--bus-checks" -- "$cur"))
        else
            _filedir
        fi
        ;;
    play)
        case $prev in
        --delay) ;;
        --loop) COMPREPLY=($(compgen -W "forever" -- "$cur")) ;;
        *)
            if [[ $cur == -* ]]; then
                COMPREPLY=($(compgen -W "--delay --loop" -- "$cur"))
            else
                _filedir
            fi
            ;;
        esac
        ;;
    esac
} &&
    complete -F _kalventa_cli kalventa-cli

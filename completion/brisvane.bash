# bash completion for brisvane: options and their values, serial devices
# and profile names. The options, the kind of value each takes and the
# profiles come from the program itself (--list-options, --list-profiles),
# so they never go stale.

_brisvane_words() { # WORDS CURRENT: COMPREPLY gets the WORDS that CURRENT begins
    local IFS=$'\n'
    COMPREPLY=($(compgen -W "$1" -- "$2"))
}

_brisvane() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev= program=${COMP_WORDS[0]}
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    # "--NAME KIND [WORDS...]" a line: KIND flag, words, list, file, folder,
    # number or text.
    local -A kinds=()
    local name kind words
    while read -r name kind words; do
        [[ $name == --* ]] && kinds[$name]="$kind $words"
    done < <("$program" --list-options 2>/dev/null)
    local config=() positional=0 i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        [[ $word == --config ]] && config=(--config "${COMP_WORDS[i + 1]}")
        if [[ $word == -* ]]; then
            [[ -n ${kinds[$word]-} && ${kinds[$word]} != flag* ]] && ((i++))
        else
            ((positional++))
        fi
    done
    COMPREPLY=()
    if [[ -n $prev && -n ${kinds[$prev]-} && ${kinds[$prev]} != flag* ]]; then
        read -r kind words <<<"${kinds[$prev]}"
        case $kind in
            words) _brisvane_words "${words// /$'\n'}" "$cur" ;;
            list)
                # A comma list: complete its last name, keeping the ones before.
                local before= last=$cur
                if [[ $cur == *,* ]]; then before=${cur%,*},; last=${cur##*,}; fi
                COMPREPLY=($(compgen -P "$before" -W "$words" -- "$last"))
                compopt -o nospace 2>/dev/null
                ;;
            file) COMPREPLY=($(compgen -f -- "$cur")) ;;
            folder) COMPREPLY=($(compgen -d -- "$cur")) ;;
        esac
        return # a number or free text: nothing to offer
    fi
    if [[ $cur == -* ]]; then
        _brisvane_words "$(printf '%s\n' "${!kinds[@]}" | sort)" "$cur"
        return
    fi
    if ((positional == 0)); then
        local devices=()
        for name in /dev/serial/by-id/* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* /dev/ttyS* /dev/rfcomm*; do
            [[ -e $name ]] && devices+=("$name")
        done
        local IFS=$'\n'
        _brisvane_words "$(printf '%s\n' "${devices[@]}" "rfc2217://" "tcp://"
            "$program" "${config[@]}" --list-profiles 2>/dev/null)" "$cur"
        # Any other path, such as a pseudo-terminal or a link of one's own.
        [[ $cur == /* ]] && COMPREPLY+=($(compgen -f -- "$cur"))
        return
    fi
    if ((positional == 1)); then
        _brisvane_words $'9600\n19200\n38400\n57600\n115200\n230400\n460800\n921600' "$cur"
    fi
}
complete -F _brisvane brisvane

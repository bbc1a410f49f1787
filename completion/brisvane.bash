# bash completion for brisvane: options and their values, serial devices
# and profile names. The options and profiles come from the program itself
# (--help, --list-profiles), so they never go stale.

_brisvane_words() { # WORDS CURRENT: COMPREPLY gets the WORDS that CURRENT begins
    local IFS=$'\n'
    COMPREPLY=($(compgen -W "$1" -- "$2"))
}

_brisvane() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev= program=${COMP_WORDS[0]}
    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
    local config=() positional=0 i word
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        case $word in
            --config) config=(--config "${COMP_WORDS[i + 1]}") ;&
            --flow | --home | --interval | --line-delay | --map | --prefix | --history | --log | --log-raw | \
                --dtr | --rts | --log-max | --log-keep | --attach | --token | --share-token | --share-write | \
                --share-watch) ((i++)) ;;
            -*) ;;
            *) ((positional++)) ;;
        esac
    done
    COMPREPLY=()
    case $prev in
        --flow) _brisvane_words $'rtscts\nnone' "$cur"; return ;;
        --dtr | --rts) _brisvane_words $'on\noff' "$cur"; return ;;
        --prefix) _brisvane_words $'C-a\nC-b\nC-t\nC-x' "$cur"; return ;;
        --home) COMPREPLY=($(compgen -d -- "$cur")); return ;;
        --log | --log-raw | --config | --token | --share-token) COMPREPLY=($(compgen -f -- "$cur")); return ;;
        --interval | --line-delay | --history | --log-max | --log-keep | --share-write | --share-watch) return ;;
        --attach)
            # The served lines of this machine by name, or a form to type on.
            local names=$(cd /run/brisvane 2>/dev/null && compgen -G '*.sock' | sed 's/\.sock$//')
            COMPREPLY=($(compgen -W "$names unix: tcp:" -- "$cur"))
            return
            ;;
        --map)
            # A comma list: complete its last name, keeping the ones before.
            local before= last=$cur
            if [[ $cur == *,* ]]; then before=${cur%,*},; last=${cur##*,}; fi
            COMPREPLY=($(compgen -P "$before" -W \
                "lf-crlf cr-crlf ignore-cr del-bs bs-del in-cr-crlf out-cr-crlf none" -- "$last"))
            compopt -o nospace 2>/dev/null
            return
            ;;
    esac
    if [[ $cur == -* ]]; then
        _brisvane_words "$("$program" --help 2>/dev/null | grep -o -- '--[a-z][a-z-]*' | sort -u)" "$cur"
        return
    fi
    if ((positional == 0)); then
        local devices=() name
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

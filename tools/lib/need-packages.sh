# Sourced by scripts. need_packages CMD:PKG ... installs the Debian packages
# whose commands are missing, so a fresh machine works and a set-up one stays fast.
# A CMD that starts with / is tested as a file path instead of looked up on PATH.
need_packages() {
    local missing=() pair cmd pkg
    for pair in "$@"; do
        cmd=${pair%%:*}
        pkg=${pair#*:}
        if [[ $cmd == /* ]]; then
            [[ -e $cmd ]] && continue
        else
            command -v "$cmd" >/dev/null 2>&1 && continue
        fi
        missing+=("$pkg")
    done
    ((${#missing[@]})) || return 0
    echo "installing: ${missing[*]}" >&2
    apt-get update -qq >&2 &&
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
            "${missing[@]}" >&2 || {
        echo "error: could not install ${missing[*]}" >&2
        return 1
    }
}

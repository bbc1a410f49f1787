# Sourced by scripts. need_packages CMD:PKG ... installs the Debian packages
# whose commands are missing, so a fresh machine works and a set-up one stays fast.
# A CMD that starts with / is tested as a file path instead of looked up on PATH.

# What every script that builds the Unix program needs.
console_build_needs=(cmake:cmake g++:g++ make:make pkg-config:pkg-config
    /usr/include/ncursesw/curses.h:libncurses-dev /usr/include/ini.h:libinih-dev
    /usr/include/lua5.4/lua.h:liblua5.4-dev
    /usr/include/libtelnet.h:libtelnet-dev /usr/include/libwebsockets.h:libwebsockets-dev
    /usr/include/avahi-client/client.h:libavahi-client-dev)
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

# need_wine32: the 32-bit Wine loader, which runs the shipped i686 program.
# Adds the i386 architecture and installs wine32:i386 when the loader is
# missing. Fails with one line saying why (also left in wine32_problem) when it
# cannot be installed or run: a kernel without 32-bit support answers
# "Exec format error".
wine32_problem=
need_wine32() {
    local loader=/usr/lib/wine/wine out
    wine32_problem=
    if [[ ! -e $loader ]]; then
        echo "installing the 32-bit Wine loader: i386 architecture, wine32:i386" >&2
        if ! { dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386; } ||
            ! apt-get update -qq >&2 ||
            ! DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
                wine32:i386 >&2; then
            wine32_problem="could not install wine32:i386"
            echo "error: $wine32_problem" >&2
            return 1
        fi
    fi
    out=$("$loader" --version 2>&1) && return 0
    out=${out##*"$loader: "} # the shell's own prefix to its message
    wine32_problem="$loader --version: ${out//$'\n'/; }"
    echo "error: the 32-bit Wine loader does not run here ($wine32_problem)" >&2
    return 1
}

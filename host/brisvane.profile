# brisvane.profile: a Unix host's login set-up for the brisvane terminal.
# Source it from the login's profile, only for logins on a serial line:
#
#     case $(tty) in
#     /dev/ttyS*|/dev/ttyUSB*|/dev/ttyACM*|/dev/ttyAMA*|/dev/ttyGS*|/dev/ttymxc*)
#         . ~/brisvane.profile ;;
#     esac
#
# For bash put it in ~/.bash_profile if that exists (bash then never reads
# ~/.profile), else in ~/.profile, which sh reads too. A shell that is not a
# login shell reads neither; it inherits what this exports.
#
# A serial login through agetty (serial-getty@ttyS0.service) sets TERM
# itself. To have it set brisvane, run `systemctl edit serial-getty@ttyS0`
# and add
#
#     [Service]
#     Environment=TERM=brisvane
#
# or give agetty the terminal's name as its last argument:
# `agetty ttyS0 9600 brisvane`.
#
# Safe to source from sh and bash, and more than once. It needs the terminal
# description installed (tic -x -o ~/.terminfo brisvane.terminfo, or the
# brisvane package), and a line that delivers 7-bit bytes: 7 data bits on both
# ends, or `brisvane --seven-bit`. Bash's line editing reads a byte with bit 7
# set as a Meta key, and ISTRIP does not stop it.

# A cmake --install under /usr/local puts the description where curses does
# not look; ~/.terminfo and the system's folders it searches by itself.
if [ -z "${TERMINFO-}" ] && [ -f /usr/local/share/terminfo/b/brisvane ]; then
    case ":${TERMINFO_DIRS-}:" in
    *:/usr/local/share/terminfo:*) ;;
    *) TERMINFO_DIRS=/usr/local/share/terminfo:${TERMINFO_DIRS-}; export TERMINFO_DIRS ;;
    esac
fi
if ! command -v tput >/dev/null 2>&1 || tput -T brisvane cols >/dev/null 2>&1; then
    TERM=brisvane
else
    # Programs would refuse an unknown TERM; dumb at least lets a shell run.
    echo 'brisvane.profile: no terminal description "brisvane" here; install it with: tic -x -o ~/.terminfo brisvane.terminfo' >&2
    TERM=dumb
fi
export TERM

# The C locale: a UTF-8 one draws boxes with multi-byte characters, which a
# 7-bit line cannot carry.
LC_ALL=C
export LC_ALL

# The Backspace key sends ^H. The screen is always 24 x 80; a serial line has
# no size of its own.
if [ -t 0 ]; then
    stty erase '^H' istrip rows 24 cols 80 2>/dev/null || :
fi

# less -R ends every line with ESC [ m, which this terminal does not know (a
# stray m), and man-db runs less with -R: turn it off. Where groff writes
# colour escapes for bold (Debian's does not), it writes overstrikes instead.
case " ${LESS-} " in
*" -+R "*) ;;
*) LESS="${LESS:+$LESS }-+R"; export LESS ;;
esac
GROFF_NO_SGR=1
export GROFF_NO_SGR

# Colour: programs that honour NO_COLOR leave it out, and git is told
# through its environment (color.ui = never, after any settings already
# there, so it wins), so logs of the session stay clean too.
NO_COLOR=1
export NO_COLOR
brisvane_n=${GIT_CONFIG_COUNT:-0}
case $brisvane_n in '' | *[!0-9]*) brisvane_n=0 ;; esac
brisvane_i=0
while [ "$brisvane_i" -lt "$brisvane_n" ]; do
    eval "brisvane_key=\${GIT_CONFIG_KEY_$brisvane_i-}=\${GIT_CONFIG_VALUE_$brisvane_i-}"
    [ "$brisvane_key" = color.ui=never ] && break  # sourced before
    brisvane_i=$((brisvane_i + 1))
done
if [ "$brisvane_i" -eq "$brisvane_n" ]; then
    eval "GIT_CONFIG_KEY_$brisvane_n=color.ui GIT_CONFIG_VALUE_$brisvane_n=never"
    export "GIT_CONFIG_KEY_$brisvane_n" "GIT_CONFIG_VALUE_$brisvane_n"
    GIT_CONFIG_COUNT=$((brisvane_n + 1))
    export GIT_CONFIG_COUNT
fi
unset brisvane_n brisvane_i brisvane_key

# Bash: bracketed paste would write ESC [ ? 2004 h before each prompt; the
# Delete key sends DEL, which readline takes for a Backspace.
if [ -n "${BASH_VERSION-}" ]; then
    case $- in
    *i*)
        bind 'set enable-bracketed-paste off' 2>/dev/null || :
        bind '"\C-?": delete-char' 2>/dev/null || :
        ;;
    esac
fi

# nano writes ESC [ ? 2004 l as it ends, whatever its settings, which leaves
# ?2004l on the bottom line: wipe that line after it.
unalias nano 2>/dev/null || :
nano() {
    command nano "$@"
    set -- "$?"
    printf '\r\033K'
    return "$1"
}

# Sourced by tools/run and tools/brisvane-linux: one run of the program under
# Wine on a prefix, its serial line mapped to a COM name, and everything it
# started stopped again on exit, pass or fail. The caller defines say and fail.

# Windows name of a local path on Wine's Z: drive.
win_path() { local p=${1//\//\\}; echo "Z:$p"; }

# Wait until PREDICATE (a command) succeeds, for up to SECONDS.
wait_until() {
    local limit=$1
    shift
    local deadline=$((SECONDS + limit))
    until "$@"; do
        ((SECONDS < deadline)) || return 1
        sleep 0.1
    done
}

session_tmp=
session_keep_tmp= # set: the temp dir (logs, batch file) outlives the run
session_pids=()
session_com_link=
session_com=     # the mapped COM number
program_pid=
session_server_pid=
wineserver=/usr/lib/wine/wineserver64
[[ -x $wineserver ]] || wineserver=wineserver

# Starts a command in a session of its own and remembers it for clean-up.
spawn() {
    setsid "$@" &
    session_pids+=("$!")
}

session_cleanup() {
    local code=$? pid
    trap - EXIT INT TERM
    set +e
    [[ -n $session_server_pid ]] && "$wineserver" -k >/dev/null 2>&1
    for pid in "${session_pids[@]}"; do
        # Each was started in a session of its own: end the whole group.
        kill -TERM -- "-$pid" "$pid" 2>/dev/null
    done
    for pid in "${session_pids[@]}"; do
        for _ in {1..50}; do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -KILL -- "-$pid" "$pid" 2>/dev/null
    done
    [[ -n $session_com_link && -L $session_com_link ]] && rm -f "$session_com_link"
    if [[ -n $session_keep_tmp ]]; then
        say "logs kept in $session_tmp"
    elif [[ -n $session_tmp ]]; then
        rm -rf "$session_tmp"
    fi
    exit "$code"
}

# session_begin PREFIX NAME: the Wine environment for PREFIX (made beforehand
# by tools/wine-prefix), a temp dir /tmp/NAME.*, clean-up on exit, then waits
# for its turn on the prefix and starts a private wineserver.
session_begin() {
    export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    session_tmp=$(mktemp -d "/tmp/$2.XXXXXX")
    trap session_cleanup EXIT
    trap 'say interrupted; exit 130' INT
    trap 'say terminated; exit 143' TERM

    # Sessions on one prefix take turns: they share its wineserver and COM names.
    exec 9>"$WINEPREFIX/.brisvane-session-lock"
    if ! flock -n 9; then
        say "waiting for another session (tests?) using $WINEPREFIX"
        flock 9
    fi
    # Our own server, so its output goes nowhere: it dumps megabytes of its
    # object table when a serial line hangs up.
    "$wineserver" -k >/dev/null 2>&1 || true
    "$wineserver" -w
    spawn "$wineserver" -f -p >/dev/null 2>&1
    session_server_pid=$!
}

# session_map_com LINE: links the first free COM name from COM10 up (Wine names
# the machine's own ports from COM1) to LINE; sets session_com to its number.
session_map_com() {
    local n
    for n in {10..99}; do
        [[ -e $WINEPREFIX/dosdevices/com$n || -L $WINEPREFIX/dosdevices/com$n ]] || break
    done
    ln -s "$1" "$WINEPREFIX/dosdevices/com$n" 2>/dev/null ||
        fail "no free COM name in $WINEPREFIX/dosdevices"
    session_com_link=$WINEPREFIX/dosdevices/com$n
    session_com=$n
}

# session_start_program LOADER EXE ARG...: starts EXE "ARG"... in the
# background; sets program_pid, output to $session_tmp/program.log. The program
# reads double-quoted arguments from its raw command line, which Wine's cmd
# passes on verbatim from a batch file (Wine's argv handling escapes quotes).
session_start_program() {
    local loader=$1 line arg
    shift
    line=
    for arg in "$(win_path "$1")" "${@:2}"; do
        # cmd would expand a % even inside quotes; a " would end the argument.
        [[ $arg == *[%\"]* ]] && fail "cannot pass '$arg' through a batch file (it holds % or \")"
        line+=" \"$arg\""
    done
    printf '@%s\r\n@exit %%ERRORLEVEL%%\r\n' "${line# }" >"$session_tmp/run.bat"
    spawn "$loader" cmd /c "$(win_path "$session_tmp/run.bat")" \
        </dev/null >"$session_tmp/program.log" 2>&1
    program_pid=$!
}

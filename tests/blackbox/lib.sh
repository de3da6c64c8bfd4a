# Black-box testing of the built program under a private X server. Source this file from a test
# script (bash), then:
#
#   bb_init NAME                 a private work folder ($BB_DIR) and the clean-up trap; every process
#                                started through these functions is stopped (by its pid) on exit
#   bb_start_xvfb [WxHxD]        Xvfb on a free display (-noreset), exports DISPLAY
#   bb_start_wm                  openbox on that display; returns once it manages windows
#   bb_set_xft_dpi DPI           the X resource Xft.dpi, from which Qt scales its windows (96: none)
#   bb_start_silent_server       a loopback TCP server that accepts and never answers:
#                                $BB_SILENT_PORT; bb_silent_accepted (connections so far) and
#                                bb_silent_accepted_at_least N
#   bb_odbc_init                 private unixODBC files ($BB_ODBCSYSINI, $BB_ODBCINI) with the driver
#                                NorvelPostgreSQL
#   bb_add_pg_dsn NAME HOST PORT [KEY=VALUE ...]   a data source in the private ODBCINI (on the
#                                database lib unless Database=... is among the settings)
#   bb_write_lib_settings ODBCNAME USER PASSWORD   the per-machine settings in a private
#                                XDG_CONFIG_DIRS ($BB_CONFIG_DIRS), login in digit form
#   bb_start_program [VAR=VALUE ...] -- CMD [ARG ...]
#                                starts the program with only the private environment (plus the
#                                given variables); $BB_PROGRAM_PID, output in $BB_DIR/program.log
#   bb_wait_window TITLE [SECONDS]   waits for a visible window with exactly that title, prints its id
#   bb_window_exists TITLE       whether any window (mapped or not) has exactly that title
#   bb_window_geometry WID       prints "X Y WIDTH HEIGHT" of the window's client area on the screen
#   bb_window_icon_sizes WID     prints the sizes of the window's icon images ("16x16 32x32 ...")
#   bb_wait_until SECONDS CMD... runs CMD until it succeeds or the time is up
#   bb_screenshot FILE           the whole screen as PNG
#   bb_crop IN X Y W H OUT       a region of a picture
#   bb_diff_pixels A B [FUZZ%]   how many pixels differ between two pictures of equal size
#   bb_count_colour FILE COLOUR [FUZZ%]   how many pixels have (nearly) that colour
#   bb_title_text_pixels WID     how many pixels of the title text openbox draws in the window's
#                                title bar (between the window icon and the buttons)
#   bb_title_fits WID            whether openbox shows the window's whole title: its title text
#                                against that of a wide window with the same title
#   bb_fail MESSAGE              reports and exits non-zero
#
# Driving the program and reading what it shows:
#   bb_start_a11y                a private session bus and accessibility bus; programs started
#                                afterwards expose their widgets to bb_a11y
#   bb_a11y ARGS...              tests/blackbox/a11y.py on the program ($BB_PROGRAM_PID): windows,
#                                message boxes, widget states and texts (see that file)
#   bb_click WID X Y             a left click at client coordinates of a window
#   bb_key KEY...                keys to the focused window (xdotool names: ctrl+a, Return, ...)
#   bb_type TEXT                 types a text into the focused control
#   bb_clipboard                 the clipboard's text (fails while it is empty)
#   bb_program_running           whether the program is still running (not ended, not a zombie)
#   bb_wait_program_exit SECONDS waits for the program to end; its exit code in $BB_PROGRAM_STATUS
#   bb_add_sqlite_dsn NAME FILE  an SQLite data source in the private ODBCINI (driver NorvelSQLite)
#   bb_start_private_pg          a PostgreSQL instance of the test's own ($BB_PG_DATA, $BB_PG_PORT,
#                                $BB_PG_SOCKET, superuser "norvel" with password $BB_PG_PASSWORD);
#                                bb_psql_private runs psql on it, bb_stop_private_pg /
#                                bb_restart_private_pg stop it at once and start it again
#   bb_on_exit CMD...            runs CMD when the test ends, before the processes are stopped
#
# Waits have caps (they end early on success); no step sleeps for a fixed time.

BB_LIB_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
BB_ROOT=$(cd "$BB_LIB_DIR/../.." && pwd)
# Called by full path: another "convert" may come first in PATH.
BB_CONVERT=/usr/bin/convert
BB_IMPORT=/usr/bin/import
BB_COMPARE=/usr/bin/compare
BB_PYTHON=/usr/bin/python3

BB_PIDS=()
BB_EXIT_HOOKS=()
# Variables every program started by bb_start_program gets in addition (bb_start_a11y adds some).
BB_PROGRAM_ENV=()

bb_log() { printf '[%s] %s\n' "$(date +%T)" "$*" >&2; }

bb_fail() {
    bb_log "FAIL: $*"
    if [ -n "${BB_DIR:-}" ] && [ -s "$BB_DIR/program.log" ]; then
        bb_log "program output:"
        sed 's/^/    /' "$BB_DIR/program.log" >&2
    fi
    exit 1
}

bb_init() {
    local name=$1
    BB_DIR=$(mktemp -d "/tmp/norvel-bb-$name.XXXXXX")
    chmod 755 "$BB_DIR"
    trap bb_cleanup EXIT
    # A command that stops the script (set -e) without bb_fail says which one it was. Only in the
    # script's own shell: failures inside $(...) are the caller's to judge.
    set -E
    # Only where the failure stops the script (not inside "set +e", where a status is expected).
    trap '[ "$BASH_SUBSHELL" != 0 ] || [[ $- != *e* ]] || bb_log "FAIL: status $? at ${BASH_SOURCE[0]##*/} line $LINENO: $BASH_COMMAND"' ERR
    bb_log "work folder $BB_DIR"
}

bb_on_exit() {
    BB_EXIT_HOOKS+=("$*")
}

bb_cleanup() {
    local pid i
    for ((i = ${#BB_EXIT_HOOKS[@]} - 1; i >= 0; i--)); do
        eval "${BB_EXIT_HOOKS[i]}" || true
    done
    BB_EXIT_HOOKS=()
    for ((i = ${#BB_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${BB_PIDS[i]}
        kill "$pid" 2>/dev/null || continue
        # Give it a moment to go, then insist.
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    BB_PIDS=()
BB_EXIT_HOOKS=()
# Variables every program started by bb_start_program gets in addition (bb_start_a11y adds some).
BB_PROGRAM_ENV=()
    if [ -n "${BB_KEEP:-}" ]; then bb_log "kept $BB_DIR"; else rm -rf "$BB_DIR"; fi
}

bb_wait_until() {
    local seconds=$1; shift
    local end=$((SECONDS + seconds))
    until "$@"; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1
    done
}

bb_start_xvfb() {
    local screen=${1:-1024x768x24}
    local displayfile="$BB_DIR/xvfb.display"
    : >"$displayfile"
    # -displayfd: Xvfb picks a free display number itself and writes it when it is ready.
    Xvfb -displayfd 3 -screen 0 "$screen" -noreset -nolisten tcp 3>"$displayfile" >"$BB_DIR/xvfb.log" 2>&1 &
    BB_PIDS+=($!)
    bb_wait_until 30 test -s "$displayfile" || bb_fail "Xvfb did not start: $(tail -n 5 "$BB_DIR/xvfb.log")"
    export DISPLAY=":$(head -n1 "$displayfile" | tr -d '[:space:]')"
    bb_wait_until 30 xdpyinfo >/dev/null 2>&1 || bb_fail "no X server on $DISPLAY"
    xset r off 2>/dev/null || true
    bb_log "Xvfb on $DISPLAY ($screen)"
}

bb_set_xft_dpi() {
    echo "Xft.dpi: $1" | xrdb -merge || bb_fail "cannot set Xft.dpi"
    bb_log "Xft.dpi $1"
}

bb_wm_running() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'
}

bb_start_wm() {
    HOME="$BB_DIR" openbox --sm-disable >"$BB_DIR/openbox.log" 2>&1 &
    BB_PIDS+=($!)
    bb_wait_until 30 bb_wm_running || bb_fail "openbox did not start: $(tail -n 5 "$BB_DIR/openbox.log")"
    bb_log "openbox manages $DISPLAY"
}

bb_start_silent_server() {
    local portfile="$BB_DIR/silent.port"
    BB_SILENT_LOG="$BB_DIR/silent.log"
    : >"$BB_SILENT_LOG"
    "$BB_PYTHON" "$BB_LIB_DIR/silent_tcp_server.py" "$portfile" "$BB_SILENT_LOG" "${1:-300}" &
    BB_PIDS+=($!)
    bb_wait_until 30 test -s "$portfile" || bb_fail "the silent server did not start"
    BB_SILENT_PORT=$(tr -d '[:space:]' <"$portfile")
    bb_log "silent server on 127.0.0.1:$BB_SILENT_PORT"
}

# The number of connections the silent server has accepted.
bb_silent_accepted() {
    grep -c '^accepted' "$BB_SILENT_LOG" 2>/dev/null || true
}

# Whether it has accepted at least N connections (for bb_wait_until).
bb_silent_accepted_at_least() {
    [ "$(bb_silent_accepted)" -ge "$1" ]
}

bb_odbc_init() {
    source "$BB_ROOT/scripts/lib/packages.sh"
    BB_ODBCSYSINI="$BB_DIR/odbc"
    BB_ODBCINI="$BB_DIR/odbc/user-odbc.ini"
    mkdir -p "$BB_ODBCSYSINI"
    cat >"$BB_ODBCSYSINI/odbcinst.ini" <<INI
[NorvelPostgreSQL]
Description=PostgreSQL (Unicode)
Driver=$(odbc_driver_dir)/psqlodbcw.so

[NorvelSQLite]
Description=SQLite 3
Driver=$(odbc_driver_dir)/libsqlite3odbc.so
INI
    : >"$BB_ODBCSYSINI/odbc.ini"
    : >"$BB_ODBCINI"
}

bb_add_pg_dsn() {
    local name=$1 host=$2 port=$3; shift 3
    local database=lib kv extra=()
    # unixODBC takes the first of two equal keys: a given database replaces the default one.
    for kv in "$@"; do
        case $kv in Database=*) database=${kv#Database=} ;; *) extra+=("$kv") ;; esac
    done
    {
        printf '\n[%s]\nDriver=NorvelPostgreSQL\nServername=%s\nPort=%s\nDatabase=%s\nReadOnly=No\n' "$name" "$host" "$port" "$database"
        for kv in "${extra[@]}"; do printf '%s\n' "$kv"; done
    } >>"$BB_ODBCINI"
}

bb_add_sqlite_dsn() {
    printf '\n[%s]\nDriver=NorvelSQLite\nDatabase=%s\n' "$1" "$2" >>"$BB_ODBCINI"
}

# The stored login's digit form: four characters from "0", "3", "4", "7" per byte.
bb_encode_param() {
    "$BB_PYTHON" -c 'import sys; print("".join("0347"[(b >> s) & 3] for b in sys.argv[1].encode() for s in (6, 4, 2, 0)))' "$1"
}

bb_write_lib_settings() {
    BB_CONFIG_DIRS="$BB_DIR/xdg-config"
    mkdir -p "$BB_CONFIG_DIRS/Kestavo"
    printf '[General]\nODBCNAME=%s\nUSERNAME=%s\nPASSWORD=%s\n' "$1" "$(bb_encode_param "$2")" "$(bb_encode_param "$3")" \
        >"$BB_CONFIG_DIRS/Kestavo/Lib.conf"
}

bb_start_program() {
    local extra=()
    while [ $# -gt 0 ] && [ "$1" != "--" ]; do extra+=("$1"); shift; done
    [ "${1:-}" = "--" ] && shift
    mkdir -p "$BB_DIR/home" "$BB_DIR/runtime"
    chmod 700 "$BB_DIR/runtime"
    env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin HOME="$BB_DIR/home" LANG=C.UTF-8 DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
        XDG_RUNTIME_DIR="$BB_DIR/runtime" XDG_CONFIG_HOME="$BB_DIR/home/.config" \
        XDG_CONFIG_DIRS="${BB_CONFIG_DIRS:-$BB_DIR/xdg-config}" \
        ODBCSYSINI="${BB_ODBCSYSINI:-$BB_DIR/odbc}" ODBCINI="${BB_ODBCINI:-$BB_DIR/odbc/user-odbc.ini}" \
        "${BB_PROGRAM_ENV[@]}" "${extra[@]}" "$@" >>"$BB_DIR/program.log" 2>&1 &
    BB_PROGRAM_PID=$!
    BB_PIDS+=("$BB_PROGRAM_PID")
    bb_log "started $(basename "$1") (pid $BB_PROGRAM_PID)"
}

# An extended regular expression that matches exactly the given text.
bb_exact_regex() {
    printf '^%s$' "$(printf '%s' "$1" | sed 's/[][\.*^$+?(){}|/]/\\&/g')"
}

bb_find_window() {
    xdotool search --onlyvisible --name "$(bb_exact_regex "$1")" 2>/dev/null | head -n1
}

bb_wait_window() {
    local title=$1 seconds=${2:-30} wid=
    local end=$((SECONDS + seconds))
    while :; do
        wid=$(bb_find_window "$title")
        [ -n "$wid" ] && { echo "$wid"; return 0; }
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.1
    done
}

bb_window_exists() {
    [ -n "$(xdotool search --name "$(bb_exact_regex "$1")" 2>/dev/null)" ]
}

bb_window_geometry() {
    xwininfo -id "$1" | awk '
        /Absolute upper-left X:/ { x = $NF }
        /Absolute upper-left Y:/ { y = $NF }
        /^ *Width:/ { w = $NF }
        /^ *Height:/ { h = $NF }
        END { print x, y, w, h }'
}

bb_window_icon_sizes() {
    xprop -id "$1" _NET_WM_ICON 2>/dev/null | grep -ao 'Icon ([0-9]* x [0-9]*)' | tr -d '() ' | sed 's/^Icon//' | xargs
}

bb_screenshot() {
    "$BB_IMPORT" -display "$DISPLAY" -window root "$1"
}

bb_crop() {
    "$BB_CONVERT" "$1" -crop "${4}x${5}+${2}+${3}" +repage "$6"
}

bb_diff_pixels() {
    # compare prints the count on stderr and exits 1 when the pictures differ (2 when it cannot
    # compare them: then the count is all the pixels).
    local out
    out=$("$BB_COMPARE" -metric AE -fuzz "${3:-0}%" "$1" "$2" null: 2>&1) || true
    case $out in
        ''|*[!0-9.e+]*) "$BB_CONVERT" "$1" -format '%[fx:w*h]\n' info: ;;
        *) awk -v n="$out" 'BEGIN { print int(n) }' ;;
    esac
}

bb_count_colour() {
    local file=$1 colour=$2 fuzz=${3:-10}
    # Everything not near the colour becomes black, then what is left white (not for black itself).
    "$BB_CONVERT" "$file" -alpha off -fuzz "$fuzz%" -fill black +opaque "$colour" -fill white -opaque "$colour" \
        -format '%[fx:int(mean*w*h+0.5)]\n' info: 2>/dev/null
}

# The title bar of openbox's default theme: white text on blue, the window icon at the left, three
# buttons at the right. The window must be the active one.
bb_title_text_pixels() {
    local wid=$1 x y w h extents left top shot="$BB_DIR/title-$1.png"
    read -r x y w h < <(bb_window_geometry "$wid")
    extents=$(xprop -id "$wid" _NET_FRAME_EXTENTS | sed 's/.*= //; s/,//g')
    read -r left _ top _ <<<"$extents"
    bb_screenshot "$shot"
    bb_crop "$shot" $((x - left + 24)) $((y - top + 1)) $((w + left - 24 - 60)) $((top - 2)) "$shot.bar.png"
    bb_count_colour "$shot.bar.png" white 12
}

bb_title_fits() {
    local wid=$1 title shown full ref
    title=$(xprop -id "$wid" _NET_WM_NAME | sed 's/^[^"]*"//; s/"$//')
    xdotool windowactivate --sync "$wid" >/dev/null 2>&1
    shown=$(bb_title_text_pixels "$wid")
    # A window wide enough for any title, given the same one.
    xmessage -geometry 600x60+0+0 -title "norvel-reference-$$" "" >/dev/null 2>&1 &
    local pid=$!
    bb_wait_until 10 eval '[ -n "$(xdotool search --onlyvisible --name "^norvel-reference-$$\$" 2>/dev/null)" ]' || {
        kill "$pid"; bb_fail "the reference window did not appear"; }
    ref=$(xdotool search --onlyvisible --name "^norvel-reference-$$\$" | head -n1)
    xprop -id "$ref" -f _NET_WM_NAME 8u -set _NET_WM_NAME "$title"
    xdotool windowactivate --sync "$ref" >/dev/null 2>&1
    sleep 0.3   # openbox redraws the title bar
    full=$(bb_title_text_pixels "$ref")
    kill "$pid"; wait "$pid" 2>/dev/null || true
    xdotool windowactivate --sync "$wid" >/dev/null 2>&1 || true
    bb_log "title '$title': $shown text pixels in the window's title bar, $full in a wide one's"
    [ "$full" -gt 0 ] && [ $((shown * 100)) -ge $((full * 95)) ]
}

# --- Accessibility: a private session bus with the accessibility bus on it -------------------------

bb_start_a11y() {
    local addrfile="$BB_DIR/session-bus.address"
    mkdir -p "$BB_DIR/runtime"
    chmod 700 "$BB_DIR/runtime"
    : >"$addrfile"
    dbus-daemon --session --address="unix:path=$BB_DIR/runtime/session-bus" --nofork --nopidfile --print-address=3 3>"$addrfile" >"$BB_DIR/session-bus.log" 2>&1 &
    BB_PIDS+=($!)
    bb_wait_until 30 test -s "$addrfile" || bb_fail "no session bus: $(tail -n 5 "$BB_DIR/session-bus.log")"
    export DBUS_SESSION_BUS_ADDRESS
    DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$addrfile")
    # Its socket goes under the private runtime folder, not under the machine's home.
    XDG_RUNTIME_DIR="$BB_DIR/runtime" HOME="$BB_DIR" /usr/libexec/at-spi-bus-launcher --launch-immediately \
        >"$BB_DIR/at-spi.log" 2>&1 &
    BB_PIDS+=($!)
    bb_wait_until 30 bb_a11y_bus_address >/dev/null || bb_fail "no accessibility bus: $(tail -n 5 "$BB_DIR/at-spi.log")"
    # The registry daemon is started by the accessibility bus on demand; it is ours to stop too.
    bb_on_exit bb_stop_a11y_registry
    BB_PROGRAM_ENV+=(DBUS_SESSION_BUS_ADDRESS="$DBUS_SESSION_BUS_ADDRESS" QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1)
    bb_log "accessibility bus on $DBUS_SESSION_BUS_ADDRESS"
}

bb_a11y_bus_address() {
    local reply
    reply=$(dbus-send --session --print-reply=literal --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress 2>/dev/null) || return 1
    reply=$(echo "$reply" | tr -d '[:space:]')
    [ -n "$reply" ] && echo "$reply"
}

bb_stop_a11y_registry() {
    local bus pid
    bus=$(bb_a11y_bus_address) || return 0
    pid=$(dbus-send --bus="$bus" --print-reply=literal --dest=org.freedesktop.DBus / \
          org.freedesktop.DBus.GetConnectionUnixProcessID string:org.a11y.atspi.Registry 2>/dev/null | awk '{print $NF}')
    case $pid in ''|*[!0-9]*) return 0 ;; esac
    kill "$pid" 2>/dev/null || true
}

bb_a11y() {
    "$BB_PYTHON" "$BB_LIB_DIR/a11y.py" "$BB_PROGRAM_PID" "$@"
}

# --- Input -------------------------------------------------------------------------------------------

bb_click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1
}

bb_key() {
    xdotool key --delay 30 "$@"
}

bb_type() {
    xdotool type --delay 30 -- "$1"
}

bb_clipboard() {
    local text
    text=$(xclip -o -selection clipboard 2>/dev/null) || return 1
    [ -n "$text" ] && printf '%s\n' "$text"
}

# --- The program's life ------------------------------------------------------------------------------

bb_program_running() {
    local state
    state=$(awk '{print $3}' "/proc/$BB_PROGRAM_PID/stat" 2>/dev/null) || return 1
    [ -n "$state" ] && [ "$state" != Z ] && [ "$state" != X ]
}

bb_wait_program_exit() {
    bb_wait_until "$1" eval '! bb_program_running' || return 1
    BB_PROGRAM_STATUS=0
    wait "$BB_PROGRAM_PID" 2>/dev/null || BB_PROGRAM_STATUS=$?
}

# --- A PostgreSQL instance of the test's own ---------------------------------------------------------

bb_start_private_pg() {
    source "$BB_ROOT/scripts/lib/testenv.sh"
    BB_PG_DATA="$BB_DIR/pgdata" BB_PG_SOCKET="$BB_DIR/pgsock" BB_PG_PASSWORD="bb-private-pw"
    local pwfile="$BB_DIR/pgpw"
    mkdir -p "$BB_PG_DATA" "$BB_PG_SOCKET" "$BB_DIR/pglog"
    chown postgres:postgres "$BB_PG_DATA" "$BB_PG_SOCKET" "$BB_DIR/pglog"
    chmod 700 "$BB_PG_DATA"
    echo "$BB_PG_PASSWORD" >"$pwfile"; chown postgres "$pwfile"; chmod 600 "$pwfile"
    runuser -u postgres -- "$NORVEL_PG_BIN/initdb" -D "$BB_PG_DATA" -U norvel --pwfile="$pwfile" \
        -E UTF8 --locale=C.UTF-8 -A scram-sha-256 >"$BB_DIR/initdb.log" 2>&1 \
        || bb_fail "initdb failed: $(tail -n 5 "$BB_DIR/initdb.log")"
    rm -f "$pwfile"
    printf 'local all all trust\nhost all all 127.0.0.1/32 scram-sha-256\n' >"$BB_PG_DATA/pg_hba.conf"
    bb_on_exit bb_stop_private_pg
    local attempt
    for attempt in 1 2 3 4 5; do
        BB_PG_PORT=$(free_port)
        bb_pg_ctl_start 2>/dev/null && break
        BB_PG_PORT=
    done
    [ -n "$BB_PG_PORT" ] || bb_fail "the private PostgreSQL did not start: $(tail -n 5 "$BB_DIR/pglog/postgresql.log")"
    bb_log "private PostgreSQL on port $BB_PG_PORT ($BB_PG_DATA)"
}

bb_pg_ctl_start() {
    runuser -u postgres -- "$NORVEL_PG_BIN/pg_ctl" -D "$BB_PG_DATA" -l "$BB_DIR/pglog/postgresql.log" -w -t 120 \
        -o "-c listen_addresses=127.0.0.1 -c port=$BB_PG_PORT -c unix_socket_directories=$BB_PG_SOCKET" start >/dev/null
}

bb_psql_private() {
    "$NORVEL_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$BB_PG_SOCKET" -p "$BB_PG_PORT" -U norvel "$@"
}

# Stops the private instance at once (no shutdown checkpoint: like a crash of the server).
bb_stop_private_pg() {
    [ -n "${BB_PG_DATA:-}" ] && [ -f "$BB_PG_DATA/postmaster.pid" ] || return 0
    runuser -u postgres -- "$NORVEL_PG_BIN/pg_ctl" -D "$BB_PG_DATA" -m immediate -w stop >/dev/null 2>&1 || true
}

bb_restart_private_pg() {
    bb_pg_ctl_start || bb_fail "the private PostgreSQL did not start again: $(tail -n 5 "$BB_DIR/pglog/postgresql.log")"
}

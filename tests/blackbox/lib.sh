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
#   bb_add_pg_dsn NAME HOST PORT [KEY=VALUE ...]   a data source in the private ODBCINI
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
#   bb_fail MESSAGE              reports and exits non-zero
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
    bb_log "work folder $BB_DIR"
}

bb_cleanup() {
    local pid i
    for ((i = ${#BB_PIDS[@]} - 1; i >= 0; i--)); do
        pid=${BB_PIDS[i]}
        kill "$pid" 2>/dev/null || continue
        # Give it a moment to go, then insist.
        for _ in $(seq 1 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    BB_PIDS=()
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
INI
    : >"$BB_ODBCSYSINI/odbc.ini"
    : >"$BB_ODBCINI"
}

bb_add_pg_dsn() {
    local name=$1 host=$2 port=$3; shift 3
    {
        printf '\n[%s]\nDriver=NorvelPostgreSQL\nServername=%s\nPort=%s\nDatabase=lib\nReadOnly=No\n' "$name" "$host" "$port"
        local kv
        for kv in "$@"; do printf '%s\n' "$kv"; done
    } >>"$BB_ODBCINI"
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
    env -i PATH=/usr/bin:/bin HOME="$BB_DIR/home" LANG=C.UTF-8 DISPLAY="$DISPLAY" QT_QPA_PLATFORM=xcb \
        XDG_RUNTIME_DIR="$BB_DIR/runtime" XDG_CONFIG_HOME="$BB_DIR/home/.config" \
        XDG_CONFIG_DIRS="${BB_CONFIG_DIRS:-$BB_DIR/xdg-config}" \
        ODBCSYSINI="${BB_ODBCSYSINI:-$BB_DIR/odbc}" ODBCINI="${BB_ODBCINI:-$BB_DIR/odbc/user-odbc.ini}" \
        "${extra[@]}" "$@" >"$BB_DIR/program.log" 2>&1 &
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

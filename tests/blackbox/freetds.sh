#!/usr/bin/env bash
# Start-up through a FreeTDS data source (the driver for Microsoft SQL Server) that cannot be
# reached, seen from outside under Xvfb and openbox:
#   a server that accepts the connection and never answers: the splash is on screen while the
#   open blocks, the program gives up after its 15-second login timeout (not earlier, and not
#   much later) and the connection dialog opens, alone: no error box, no splash;
#   a closed port: the dialog opens at once, alone.
# Both times standard error gets one line naming the data source with the driver's reason, and
# 取消 ends the program normally.
#
#   freetds.sh --norvel PROGRAM
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"
source "$BB_ROOT/scripts/lib/testenv.sh"   # free_port

NORVEL=
nv_options "--norvel PROGRAM" norvel -- "$@"

SPLASH_TITLE="Kestavo"
LOGIN_TIMEOUT=15

bb_init freetds
nv_desktop
bb_odbc_init
printf '\n[NorvelFreeTDS]\nDescription=FreeTDS\nDriver=%s/libtdsodbc.so\n' "$(odbc_driver_dir)" >>"$BB_ODBCSYSINI/odbcinst.ini"
bb_start_silent_server 300
CLOSED_PORT=$(free_port) || bb_fail "no free port"

# A data source as the README describes it for a library's server.
add_tds_dsn() {
    printf '\n[%s]\nDriver=NorvelFreeTDS\nServer=127.0.0.1\nPort=%s\nDatabase=library\nTDS_Version=7.4\nClientCharset=UTF-8\n' \
        "$1" "$2" >>"$BB_ODBCINI"
}
SILENT_DSN="TdsSilent$$"
CLOSED_DSN="TdsClosed$$"
add_tds_dsn "$SILENT_DSN" "$BB_SILENT_PORT"
add_tds_dsn "$CLOSED_DSN" "$CLOSED_PORT"

now_ms() { date +%s%3N; }

# The program's standard error holds exactly one line, about DSN, with the driver's text in it.
expect_reason() {
    local dsn=$1 words=$2 lines
    lines=$(grep -c '^norvel: ' "$BB_DIR/program.log" || true)
    [ "$lines" = 1 ] || bb_fail "standard error has $lines lines from the program, not one"
    grep -qE "^norvel: cannot connect to data source \"$dsn\": .*\[FreeTDS\].*$words" "$BB_DIR/program.log" ||
        bb_fail "standard error does not say why the data source $dsn failed"
    bb_log "standard error: $(grep '^norvel: ' "$BB_DIR/program.log")"
}

end_with_cancel() {
    nv_click "$NV_DIALOG_TITLE" "push button" "取消"
    bb_wait_program_exit 30 || bb_fail "the program did not end after 取消"
    [ "$BB_PROGRAM_STATUS" = 0 ] || bb_fail "the program ended with status $BB_PROGRAM_STATUS"
}

# (a) A server that never answers.
bb_write_lib_settings "$SILENT_DSN" sa ""
: >"$BB_DIR/program.log"
started=$(now_ms)
bb_start_program -- "$NORVEL"
bb_wait_until 60 bb_silent_accepted_at_least 1 || bb_fail "FreeTDS never connected to the server"
bb_wait_window "$SPLASH_TITLE" 10 >/dev/null || bb_fail "no splash while the connection opens"
[ -z "$(bb_find_window "$NV_DIALOG_TITLE")" ] || bb_fail "the dialog is there while the connection still opens"
bb_wait_window "$NV_DIALOG_TITLE" 120 >/dev/null || bb_fail "the connection dialog did not appear"
waited=$(($(now_ms) - started))
bb_log "the dialog came after $waited ms"
[ "$waited" -ge $(((LOGIN_TIMEOUT - 1) * 1000)) ] || bb_fail "the program gave up after $waited ms, before its login timeout"
[ "$waited" -le $(((LOGIN_TIMEOUT + 30) * 1000)) ] || bb_fail "the program waited $waited ms, far beyond its login timeout"
nv_wait_dialog >/dev/null
nv_only_windows "$NV_DIALOG_TITLE"
! bb_window_exists "$SPLASH_TITLE" || bb_fail "a splash window is left after start-up"
expect_reason "$SILENT_DSN" "Timeout expired"
end_with_cancel
bb_log "silent server: splash, then after the login timeout the dialog alone"

# (b) A closed port.
accepted=$(bb_silent_accepted)
bb_write_lib_settings "$CLOSED_DSN" sa ""
: >"$BB_DIR/program.log"
started=$(now_ms)
bb_start_program -- "$NORVEL"
bb_wait_window "$NV_DIALOG_TITLE" 60 >/dev/null || bb_fail "the connection dialog did not appear"
waited=$(($(now_ms) - started))
bb_log "the dialog came after $waited ms"
[ "$waited" -le 10000 ] || bb_fail "a closed port kept the program waiting for $waited ms"
nv_wait_dialog >/dev/null
nv_only_windows "$NV_DIALOG_TITLE"
expect_reason "$CLOSED_DSN" "Unable to connect"
[ "$(bb_silent_accepted)" = "$accepted" ] || bb_fail "the closed-port data source reached the silent server"
end_with_cancel
bb_log "closed port: the dialog alone at once"
bb_log "passed"

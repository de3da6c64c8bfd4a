#!/usr/bin/env bash
# Both ways the program starts, seen from outside, on one database of the shared test server:
#   a good login: the main window and nothing else (no dialog, no box);
#   a wrong password: the connection dialog and nothing else (no error box, no splash, no main
#   window), its fields showing the stored settings once opened; 取消 ends the program and leaves
#   the settings as they were.
#
#   start.sh --norvel PROGRAM
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

NORVEL=
nv_options "--norvel PROGRAM" norvel -- "$@"

bb_init start
nv_need_pg
nv_desktop
bb_odbc_init
DB="bb_start_$$"
nv_pg_library "$DB"
DSN="BbStart$$"
bb_add_pg_dsn "$DSN" 127.0.0.1 "$NORVEL_PG_PORT" Database="$DB"

# A good login.
bb_write_lib_settings "$DSN" "$NORVEL_PG_USER" "$NORVEL_PG_PASSWORD"
bb_start_program -- "$NORVEL"
nv_wait_main >/dev/null
nv_only_windows "$NV_MAIN_TITLE"
[ -z "$(bb_find_window "$NV_DIALOG_TITLE")" ] && [ -z "$(bb_find_window "$NV_ERROR_CAPTION")" ] ||
    bb_fail "a dialog or an error box is on screen beside the main window"
bb_log "good login: the main window alone"
nv_click "$NV_MAIN_TITLE" "push button" "$NV_CLOSE"
bb_wait_program_exit 30 || bb_fail "the program did not end after 关闭"
[ "$BB_PROGRAM_STATUS" = 0 ] || bb_fail "the program ended with status $BB_PROGRAM_STATUS"

# The same data source with a wrong password (the server asks for it: scram over TCP).
bb_write_lib_settings "$DSN" "$NORVEL_PG_USER" "not-the-password"
cp "$BB_CONFIG_DIRS/Kestavo/Lib.conf" "$BB_DIR/settings-before"
bb_start_program -- "$NORVEL"
nv_wait_dialog >/dev/null
nv_only_windows "$NV_DIALOG_TITLE"
# Opening the settings part goes through the event loop after anything start-up may have queued.
nv_click "$NV_DIALOG_TITLE" "push button" "修改数据库连接参数"
nv_wait_state 30 "$NV_DIALOG_TITLE" text "#0" showing
[ "$(bb_a11y text "$NV_DIALOG_TITLE" text "#0")" = "$DSN" ] || bb_fail "the dialog does not show the stored data source name"
nv_only_windows "$NV_DIALOG_TITLE"
for title in "$NV_ERROR_CAPTION" "$NV_MAIN_TITLE" Kestavo; do
    [ -z "$(bb_find_window "$title")" ] || bb_fail "a window '$title' is on screen beside the dialog"
done
bb_log "wrong login: the dialog alone, no error box"
nv_click "$NV_DIALOG_TITLE" "push button" "取消"
bb_wait_program_exit 30 || bb_fail "the program did not end after 取消"
[ "$BB_PROGRAM_STATUS" = 0 ] || bb_fail "the program ended with status $BB_PROGRAM_STATUS"
cmp -s "$BB_CONFIG_DIRS/Kestavo/Lib.conf" "$BB_DIR/settings-before" || bb_fail "取消 changed the settings"
bb_log "passed"

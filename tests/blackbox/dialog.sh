#!/usr/bin/env bash
# The settings dialog saving what a user types, then a new start connecting with it.
#
# The stored settings name a data source that does not exist, so the program opens the dialog. The
# user opens its settings part, types the data source name, the login and the password (Enter
# moving from field to field), and saves: the program ends, and the settings file holds the three
# values (login and password in digit form). A new start, with nothing else changed, connects with
# them: the main window opens, and the server sees the typed login. The login's password holds ";"
# and "}", which a connection string must quote.
#
#   dialog.sh --norvel PROGRAM
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

NORVEL=
nv_options "--norvel PROGRAM" norvel -- "$@"

bb_init dialog
nv_need_pg
nv_desktop
bb_odbc_init
DB="bb_dialog_$$"
nv_pg_library "$DB"
LOGIN="bb_clerk_$$"
PASSWORD='Pw;1}x'
nv_pg -c "CREATE ROLE $LOGIN LOGIN PASSWORD '$PASSWORD'" -c "GRANT ALL ON DATABASE $DB TO $LOGIN" >/dev/null
# The role goes after the database it has rights on.
bb_on_exit "nv_pg -c 'DROP DATABASE IF EXISTS $DB WITH (FORCE)' -c 'DROP ROLE IF EXISTS $LOGIN' >/dev/null 2>&1"
nv_pg_db "$DB" -c "GRANT ALL ON lib_people, lib_jieshu TO $LOGIN" >/dev/null
DSN="BbSaved$$"
bb_add_pg_dsn "$DSN" 127.0.0.1 "$NORVEL_PG_PORT" Database="$DB"
bb_write_lib_settings "NoSuchSource$$" sa ""
SETTINGS="$BB_CONFIG_DIRS/Kestavo/Lib.conf"

bb_start_program -- "$NORVEL"
nv_wait_dialog >/dev/null
nv_click "$NV_DIALOG_TITLE" "push button" "修改数据库连接参数"
nv_wait_state 30 "$NV_DIALOG_TITLE" text "#0" showing
[ "$(bb_a11y text "$NV_DIALOG_TITLE" text "#0")" = "NoSuchSource$$" ] || bb_fail "the dialog does not show the stored name"

nv_click "$NV_DIALOG_TITLE" text "#0"
nv_wait_state 30 "$NV_DIALOG_TITLE" text "#0" focused
bb_key ctrl+a
bb_type "$DSN"
bb_key Return
nv_wait_state 30 "$NV_DIALOG_TITLE" "password text" "#0" focused
bb_key ctrl+a
bb_type "$LOGIN"
bb_key Return
nv_wait_state 30 "$NV_DIALOG_TITLE" "password text" "#1" focused
bb_key ctrl+a
bb_type "$PASSWORD"
bb_key Return
nv_wait_state 30 "$NV_DIALOG_TITLE" "push button" "保存数据库连接参数" focused
bb_wait_until 10 eval '[ "$(bb_a11y text "$NV_DIALOG_TITLE" text "#0")" = "$DSN" ]' ||
    bb_fail "the name field holds '$(bb_a11y text "$NV_DIALOG_TITLE" text "#0")'"
nv_click "$NV_DIALOG_TITLE" "push button" "保存数据库连接参数"
bb_wait_program_exit 30 || bb_fail "the program did not end after saving"
[ "$BB_PROGRAM_STATUS" = 0 ] || bb_fail "the program ended with status $BB_PROGRAM_STATUS"

# The file as the program wrote it, against the digit form computed here.
stored() { sed -n "s/^$1=//p" "$SETTINGS"; }
[ "$(stored ODBCNAME)" = "$DSN" ] || bb_fail "ODBCNAME is '$(stored ODBCNAME)'"
[ "$(stored USERNAME)" = "$(bb_encode_param "$LOGIN")" ] || bb_fail "USERNAME is '$(stored USERNAME)'"
[ "$(stored PASSWORD)" = "$(bb_encode_param "$PASSWORD")" ] || bb_fail "PASSWORD is '$(stored PASSWORD)'"
bb_log "saved: $(tr '\n' ' ' <"$SETTINGS")"

bb_start_program -- "$NORVEL"
nv_wait_main >/dev/null
nv_only_windows "$NV_MAIN_TITLE"
who=$(nv_pg -At -c "SELECT usename FROM pg_stat_activity WHERE datname = '$DB' AND backend_type = 'client backend'")
bb_log "the server sees the program as: $who"
[ "$who" = "$LOGIN" ] || bb_fail "the program is not connected as $LOGIN (but as '$who')"
nv_click "$NV_MAIN_TITLE" "push button" "$NV_CLOSE"
bb_wait_program_exit 30 || bb_fail "the program did not end after 关闭"
[ "$BB_PROGRAM_STATUS" = 0 ] || bb_fail "the program ended with status $BB_PROGRAM_STATUS"
bb_log "passed"

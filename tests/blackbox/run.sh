#!/usr/bin/env bash
# A whole padding run as a user makes it, on the built program under Xvfb and openbox: the main
# window on a good login, the start button dead until the backup is confirmed, the run, the final
# box "处理完成！", the done state; then the database against what the rules predict for
# data/library.sql, and the result memo as the user copies it out.
#
#   run.sh --norvel PROGRAM --backend pg|sqlite
#
# pg: a database on the shared test server, the length left at its initial 9.
# sqlite: an SQLite file, the length typed into the field: 6.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

NORVEL= BACKEND=
nv_options "--norvel PROGRAM --backend pg|sqlite" norvel backend -- "$@"

bb_init "run-$BACKEND"
nv_desktop
bb_odbc_init
nv_library "$BACKEND" run
case $BACKEND in pg) LENGTH=9 ;; sqlite) LENGTH=6 ;; esac
EXPECTED="$NV_DATA/after-$LENGTH.txt"
dump >"$BB_DIR/before.txt"

bb_start_program -- "$NORVEL"
MAIN=$(nv_wait_main)
nv_only_windows "$NV_MAIN_TITLE"

# As it opens: the start button disabled, the check box unchecked with the focus, the length 9,
# no progress bar, an empty memo.
nv_wait_state 5 "$NV_MAIN_TITLE" "push button" "$NV_START" '!enabled'
nv_wait_state 5 "$NV_MAIN_TITLE" "check box" "$NV_BACKUP" focused '!checked' enabled
nv_wait_state 5 "$NV_MAIN_TITLE" "progress bar" "#0" '!showing'
[ "$(bb_a11y text "$NV_MAIN_TITLE" text "#0")" = 9 ] || bb_fail "the length field does not start with 9"
[ -z "$(bb_a11y text "$NV_MAIN_TITLE" text "#1")" ] || bb_fail "the memo does not start empty"

# A click on the start button before the backup is confirmed does nothing. The click on the check
# box after it is handled after it: once the button is enabled, the first click has been handled.
nv_click "$NV_MAIN_TITLE" "push button" "$NV_START"
nv_click "$NV_MAIN_TITLE" "check box" "$NV_BACKUP"
nv_wait_state 30 "$NV_MAIN_TITLE" "push button" "$NV_START" enabled
nv_only_windows "$NV_MAIN_TITLE"
dump | cmp -s - "$BB_DIR/before.txt" || bb_fail "the disabled start button changed the database"
# Unchecked again: disabled again (nv_start_run checks it once more).
nv_click "$NV_MAIN_TITLE" "check box" "$NV_BACKUP"
nv_wait_state 30 "$NV_MAIN_TITLE" "push button" "$NV_START" '!enabled'

if [ "$LENGTH" != 9 ]; then
    nv_click "$NV_MAIN_TITLE" text "#0"
    bb_key ctrl+a
    bb_type "$LENGTH"
    bb_wait_until 10 eval '[ "$(bb_a11y text "$NV_MAIN_TITLE" text "#0")" = "$LENGTH" ]' ||
        bb_fail "the length field shows '$(bb_a11y text "$NV_MAIN_TITLE" text "#0")', not $LENGTH"
fi

started=$SECONDS
nv_start_run
nv_wait_box "$NV_INFO_CAPTION" 120
bb_log "run finished after about $((SECONDS - started)) s; the box says: $NV_BOX_TEXT"
[ "$NV_BOX_TEXT" = "$NV_FINISHED" ] || bb_fail "the final box says '$NV_BOX_TEXT'"
nv_only_windows "$NV_MAIN_TITLE" "$NV_INFO_CAPTION"
# Under openbox the box is wide enough for its caption in the title bar, not "提…".
bb_title_fits "$(bb_find_window "$NV_INFO_CAPTION")" || bb_fail "openbox cuts the title of the box '$NV_INFO_CAPTION'"

# Done while the box is up: the bar hidden, the start button and the check box disabled.
nv_wait_state 5 "$NV_MAIN_TITLE" "progress bar" "#0" '!showing'
nv_wait_state 5 "$NV_MAIN_TITLE" "push button" "$NV_START" '!enabled'
nv_wait_state 5 "$NV_MAIN_TITLE" "check box" "$NV_BACKUP" '!enabled' checked
nv_answer_box "$NV_INFO_CAPTION"

dump >"$BB_DIR/after.txt"
nv_expect_tables "$EXPECTED" "$BB_DIR/after.txt"
bb_log "both tables are as the rules predict for the length $LENGTH"

nv_memo_text >"$BB_DIR/memo.txt"
bb_log "memo: $(tr '\n' '/' <"$BB_DIR/memo.txt")"
nv_expect_memo "$EXPECTED" "$BB_DIR/memo.txt"

# A second run cannot be started: the check box does not react any more.
nv_click "$NV_MAIN_TITLE" "check box" "$NV_BACKUP"
nv_click "$NV_MAIN_TITLE" "push button" "$NV_START"
nv_click "$NV_MAIN_TITLE" text "#0"
nv_wait_state 30 "$NV_MAIN_TITLE" text "#0" focused
nv_wait_state 5 "$NV_MAIN_TITLE" "check box" "$NV_BACKUP" '!enabled' checked
nv_wait_state 5 "$NV_MAIN_TITLE" "push button" "$NV_START" '!enabled'
nv_only_windows "$NV_MAIN_TITLE"

nv_click "$NV_MAIN_TITLE" "push button" "$NV_CLOSE"
bb_wait_program_exit 30 || bb_fail "the program did not end after 关闭"
[ "$BB_PROGRAM_STATUS" = 0 ] || bb_fail "the program ended with status $BB_PROGRAM_STATUS"
dump | cmp -s - "$BB_DIR/after.txt" || bb_fail "the tables changed after the run"
bb_log "passed"

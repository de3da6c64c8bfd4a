#!/usr/bin/env bash
# An error in the middle of a run, seen from outside: a trigger refuses to change one loan (pass 3,
# after passes 1 and 2 have changed both tables inside the run's transaction). The program must
# show the error box "Norvel" with the trigger's message and a stop icon, and no final box; keep
# running with the window as it was when the error came (progress bar shown, start button and check
# box enabled, memo empty) and answering the user; and leave both tables exactly as before.
#
#   error.sh --norvel PROGRAM --backend pg|sqlite
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

NORVEL= BACKEND=
nv_options "--norvel PROGRAM --backend pg|sqlite" norvel backend -- "$@"

# The trigger's message, Chinese so that the way back through the driver is tested too.
MESSAGE="借阅记录b06已冻结，不能修改"

bb_init "error-$BACKEND"
nv_desktop
bb_odbc_init
nv_library "$BACKEND" error
case $BACKEND in
    pg)
        nv_pg_db "$DB" -c "CREATE FUNCTION refuse_update() RETURNS trigger LANGUAGE plpgsql AS \$\$
                             BEGIN RAISE EXCEPTION '$MESSAGE'; END \$\$" \
            -c "CREATE TRIGGER loan_on_hold BEFORE UPDATE ON lib_jieshu FOR EACH ROW
                WHEN (OLD.js_book = 'b06') EXECUTE FUNCTION refuse_update()" ;;
    sqlite)
        sqlite3 -bail "$DB" "CREATE TRIGGER loan_on_hold BEFORE UPDATE ON lib_jieshu
                              WHEN OLD.js_book = 'b06' BEGIN SELECT RAISE(ABORT, '$MESSAGE'); END;" ;;
esac
dump >"$BB_DIR/before.txt"

bb_start_program -- "$NORVEL"
nv_wait_main >/dev/null
nv_start_run
nv_wait_box "$NV_ERROR_CAPTION" 120
bb_log "error box: $(tr '\n' '/' <<<"$NV_BOX_TEXT")"
[[ $NV_BOX_TEXT == *"$MESSAGE"* ]] || bb_fail "the error box does not give the trigger's message"
nv_only_windows "$NV_MAIN_TITLE" "$NV_ERROR_CAPTION"

# The stop icon: a red disc (the information icon has no red at all).
read -r ix iy iw ih < <(bb_a11y extents "$NV_ERROR_CAPTION" image "#0") || bb_fail "the error box has no icon"
bb_screenshot "$BB_DIR/error-box.png"
bb_crop "$BB_DIR/error-box.png" "$ix" "$iy" "$iw" "$ih" "$BB_DIR/icon.png"
red=$(bb_count_colour "$BB_DIR/icon.png" '#d00000' 25)
bb_log "icon ${iw}x$ih, red pixels: $red"
[ "$red" -ge $((iw * ih / 4)) ] || bb_fail "the error box's icon is not the stop icon ($red red pixels)"

# The window as it was when the error came.
nv_wait_state 5 "$NV_MAIN_TITLE" "progress bar" "#0" showing
nv_wait_state 5 "$NV_MAIN_TITLE" "push button" "$NV_START" enabled
nv_wait_state 5 "$NV_MAIN_TITLE" "check box" "$NV_BACKUP" enabled checked
[ -z "$(bb_a11y text "$NV_MAIN_TITLE" text "#1")" ] || bb_fail "the memo got lines from a failed run"
dump | cmp -s - "$BB_DIR/before.txt" || { diff "$BB_DIR/before.txt" <(dump) >&2 || true; bb_fail "the failed run changed the tables"; }
bb_log "tables as before the run"

nv_answer_box "$NV_ERROR_CAPTION"
# Still running and answering: the check box still switches the start button.
bb_program_running || bb_fail "the program ended after the error"
nv_only_windows "$NV_MAIN_TITLE"
nv_click "$NV_MAIN_TITLE" "check box" "$NV_BACKUP"
nv_wait_state 30 "$NV_MAIN_TITLE" "push button" "$NV_START" '!enabled'
nv_click "$NV_MAIN_TITLE" "check box" "$NV_BACKUP"
nv_wait_state 30 "$NV_MAIN_TITLE" "push button" "$NV_START" enabled
dump | cmp -s - "$BB_DIR/before.txt" || bb_fail "the tables changed after the error box"

nv_click "$NV_MAIN_TITLE" "push button" "$NV_CLOSE"
bb_wait_program_exit 30 || bb_fail "the program did not end after 关闭"
[ "$BB_PROGRAM_STATUS" = 0 ] || bb_fail "the program ended with status $BB_PROGRAM_STATUS"
bb_log "passed"

# What the black-box tests know of the program and its databases. Source after lib.sh.
#
#   nv_options USAGE NAME... -- "$@"   reads the script's options: each --NAME VALUE sets the
#                                variable NAME in upper case; --norvel (the built program) is required
#   nv_pad_setup NAME LIBRARY "$@"   the start of a norvel-pad script: reads --pad and --backend
#                                (PAD, BACKEND), makes the work folder NAME-BACKEND, the data sources and
#                                a fresh library (nv_library BACKEND LIBRARY), sets LENGTH and EXPECTED
#                                (data/after-LENGTH.txt), and keeps the tables in $BB_DIR/before.txt
#   nv_desktop                   Xvfb, openbox and the accessibility bus (private to the test)
#   nv_click WINDOW ROLE WHO     clicks the middle of a widget, found as bb_a11y finds it
#   nv_wait_state SECS WINDOW ROLE WHO STATE...   waits until the widget has those states
#   nv_wait_main / nv_wait_dialog   waits for the window (and for it to answer on the
#                                accessibility bus), prints its X window id
#   nv_wait_box CAPTION [SECS]   waits for a message box with that caption; its text in $NV_BOX_TEXT
#   nv_answer_box CAPTION        clicks that box's OK button and waits until the box is gone
#   nv_only_windows TITLE...     the program shows exactly these windows (by title), no others
#   nv_start_run                 confirms the backup and presses the start button
#   nv_memo_text                 the result memo's text as a user copies it (select all, copy)
#   nv_pg SQL... / nv_pg_db DB SQL...   psql on the shared test server (scripts/test's)
#   nv_pg_library DB             a fresh database there holding data/library.sql
#   nv_sqlite_library FILE       the same as an SQLite file
#   nv_library BACKEND NAME      a fresh library on pg or sqlite, reached through a new data source that
#                                the stored settings name: sets DB (the database or file), DSN, and dump
#   nv_dump_pg DB / nv_dump_sqlite FILE   both tables in the form of data/after-*.txt
#   nv_expect_tables EXPECTED DUMPFILE    compares, fails with the difference
#   nv_expect_memo EXPECTED MEMOFILE      the memo's lines against EXPECTED's collisions line

NV_MAIN_TITLE="扩展借书证到统一长度"
NV_DIALOG_TITLE="设置数据库【Lib】连接参数"
NV_BACKUP="我已经备份好数据库"
NV_START="开始处理"
NV_CLOSE="关闭"
NV_INFO_CAPTION="提示信息"
NV_FINISHED="处理完成！"
NV_ERROR_CAPTION="Norvel"
NV_DATA="$BB_LIB_DIR/data"

nv_options() {
    local usage=$1 names=() name
    shift
    while [ "$1" != "--" ]; do names+=("$1"); shift; done
    shift
    while [ $# -gt 0 ]; do
        name=${1#--}
        if [ "$1" = "--$name" ] && [ $# -ge 2 ] && [[ " ${names[*]} " == *" $name "* ]]; then
            printf -v "${name^^}" '%s' "$2"
            shift 2
        else
            echo "usage: $(basename "$0") $usage" >&2
            exit 2
        fi
    done
    [ -x "${NORVEL:-}" ] || { echo "$(basename "$0"): --norvel must name the built program" >&2; exit 2; }
}

nv_pad_setup() {
    local name=$1 library=$2
    shift 2
    PAD= BACKEND=
    NORVEL=/bin/true   # nv_options wants a program; these scripts run norvel-pad
    nv_options "--pad PROGRAM --backend pg|sqlite" pad backend -- "$@"
    [ -x "$PAD" ] || bb_fail "--pad must name the built norvel-pad"
    bb_init "$name-$BACKEND"
    bb_odbc_init
    nv_library "$BACKEND" "$library"
    case $BACKEND in pg) LENGTH=9 ;; sqlite) LENGTH=6 ;; esac
    EXPECTED="$NV_DATA/after-$LENGTH.txt"
    dump >"$BB_DIR/before.txt"
}

nv_desktop() {
    bb_start_xvfb 1024x768x24
    bb_start_wm
    bb_start_a11y
}

nv_click() {
    local x y w h
    read -r x y w h < <(bb_a11y extents "$@") || bb_fail "no widget $2 '$3' in '$1' to click"
    xdotool mousemove "$((x + w / 2))" "$((y + h / 2))" click 1
}

nv_wait_state() {
    local seconds=$1; shift
    bb_wait_until "$seconds" bb_a11y has "$@" 2>/dev/null || {
        bb_log "widget $2 '$3' in '$1': $(bb_a11y states "$1" "$2" "$3" 2>&1)"
        bb_fail "widget $2 '$3' in '$1' did not get: ${*:4}"
    }
}

nv_wait_main() {
    local wid
    wid=$(bb_wait_window "$NV_MAIN_TITLE" "${1:-60}") || bb_fail "the main window did not appear"
    nv_wait_state 30 "$NV_MAIN_TITLE" "check box" "$NV_BACKUP" showing
    echo "$wid"
}

nv_wait_dialog() {
    local wid
    wid=$(bb_wait_window "$NV_DIALOG_TITLE" "${1:-60}") || bb_fail "the connection dialog did not appear"
    nv_wait_state 30 "$NV_DIALOG_TITLE" "push button" "取消" showing
    echo "$wid"
}

nv_box_there() {
    NV_BOX_TEXT=$(bb_a11y alert "$1" 2>/dev/null) && [ -n "$NV_BOX_TEXT" ]
}

# The final box and the error box exclude each other: waiting for one fails as soon as the other shows.
nv_wait_box() {
    local caption=$1 other=$NV_ERROR_CAPTION end=$((SECONDS + ${2:-60}))
    [ "$caption" = "$NV_ERROR_CAPTION" ] && other=$NV_INFO_CAPTION
    until [ -n "$(bb_find_window "$caption")" ]; do
        if [ -n "$(bb_find_window "$other")" ]; then
            nv_box_there "$other" || true
            bb_fail "the box '$other' came instead of '$caption': $NV_BOX_TEXT"
        fi
        [ "$SECONDS" -lt "$end" ] || bb_fail "no message box '$caption' on screen (windows: $(bb_a11y windows 2>&1 | tr '\n\t' '; '))"
        sleep 0.1
    done
    bb_wait_until 30 nv_box_there "$caption" || bb_fail "the box '$caption' cannot be read"
}

nv_answer_box() {
    nv_click "$1" "push button" "#0"
    bb_wait_until 30 eval "[ -z \"\$(bb_find_window \"$1\")\" ]" || bb_fail "the box '$1' did not go away"
}

nv_only_windows() {
    local want have
    want=$(printf '%s\n' "$@" | sort)
    have=$(bb_a11y windows | cut -f2 | sort)
    [ "$have" = "$want" ] || bb_fail "the program shows the windows [$(echo $have)], not [$(echo $want)]"
}

nv_start_run() {
    nv_click "$NV_MAIN_TITLE" "check box" "$NV_BACKUP"
    nv_wait_state 30 "$NV_MAIN_TITLE" "push button" "$NV_START" enabled
    nv_click "$NV_MAIN_TITLE" "push button" "$NV_START"
}

nv_memo_text() {
    nv_click "$NV_MAIN_TITLE" text "#1"
    bb_key ctrl+a ctrl+c
    bb_wait_until 30 bb_clipboard >/dev/null || bb_fail "nothing was copied from the result memo"
    bb_clipboard
}

# --- Databases ------------------------------------------------------------------------------------

nv_pg() {
    "$NORVEL_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$NORVEL_PG_SOCKET" -p "$NORVEL_PG_PORT" -U "$NORVEL_PG_USER" \
        -d postgres "$@"
}

nv_pg_db() {
    local db=$1; shift
    "$NORVEL_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$NORVEL_PG_SOCKET" -p "$NORVEL_PG_PORT" -U "$NORVEL_PG_USER" \
        -d "$db" "$@"
}

nv_need_pg() {
    [ -n "${NORVEL_PG_PORT:-}" ] && [ -n "${NORVEL_PG_SOCKET:-}" ] ||
        bb_fail "no test database server: run through scripts/test (or source its environment)"
    source "$BB_ROOT/scripts/lib/testenv.sh"
}

nv_pg_library() {
    local db=$1
    nv_need_pg
    nv_pg -c "CREATE DATABASE $db" || bb_fail "cannot create the database $db"
    bb_on_exit "nv_pg -c 'DROP DATABASE IF EXISTS $db WITH (FORCE)' >/dev/null 2>&1"
    nv_pg_db "$db" -f "$NV_DATA/library.sql" >/dev/null || bb_fail "cannot load the library into $db"
}

nv_sqlite_library() {
    sqlite3 -bail "$1" <"$NV_DATA/library.sql" || bb_fail "cannot make the SQLite library $1"
}

nv_library() {
    local backend=$1 name=$2
    DSN="Bb${name^}$$"
    case $backend in
        pg)
            nv_need_pg
            DB="bb_${name}_$$"
            nv_pg_library "$DB"
            bb_add_pg_dsn "$DSN" 127.0.0.1 "$NORVEL_PG_PORT" Database="$DB"
            bb_write_lib_settings "$DSN" "$NORVEL_PG_USER" "$NORVEL_PG_PASSWORD"
            dump() { nv_dump_pg "$DB"; } ;;
        sqlite)
            DB="$BB_DIR/library.db"
            nv_sqlite_library "$DB"
            bb_add_sqlite_dsn "$DSN" "$DB"
            bb_write_lib_settings "$DSN" sa ""
            dump() { nv_dump_sqlite "$DB"; } ;;
        *) echo "$(basename "$0"): --backend pg or sqlite" >&2; exit 2 ;;
    esac
}

NV_DUMP_SQL="select 'people', pe_name, pe_id, pe_passwd from lib_people order by pe_name;
select 'loan', js_id, js_libcard from lib_jieshu order by js_id;"

nv_dump_pg() {
    nv_pg_db "$1" -At -F '|' -P null='\N' -c "$NV_DUMP_SQL"
}

nv_dump_sqlite() {
    sqlite3 -bail -separator '|' -nullvalue '\N' "$1" "$NV_DUMP_SQL"
}

nv_expect_tables() {
    local want="$BB_DIR/expected-tables.txt"
    grep -E '^(people|loan)\|' "$1" >"$want"
    diff -u "$want" "$2" >"$BB_DIR/tables.diff" || {
        bb_log "tables differ from what the rules predict (- predicted, + found):"
        sed 's/^/    /' "$BB_DIR/tables.diff" >&2
        bb_fail "the database is not what the rules predict"
    }
}

# The memo holds the collision heading and one line with a blank before every number left alone,
# pass by pass (shortest first); within a pass the database's order, so each pass's numbers are
# compared as a set. Without collisions it holds the success line.
nv_expect_memo() {
    "$BB_PYTHON" - "$1" "$2" <<'PY' || bb_fail "the result memo is not what the rules predict"
import sys
expected = [l.rstrip('\n') for l in open(sys.argv[1], encoding='utf-8') if l.startswith('collisions|')][0]
groups = [g.split() for g in expected.split('|')[1:] if g.split()]
memo = open(sys.argv[2], encoding='utf-8').read().rstrip('\n').split('\n')
if not groups:
    want = ['处理成功完成!']
    ok = memo == want
else:
    heading = '以下条码修改后会与现有的条码重复,因此系统没有改动,请手工修改:'
    want = [heading, ' ' + ' '.join(n for g in groups for n in g)]
    ok = len(memo) == 2 and memo[0] == heading and memo[1].startswith(' ') and '  ' not in memo[1]
    if ok:
        found = memo[1][1:].split(' ')
        at = 0
        for g in groups:
            if sorted(found[at:at + len(g)]) != sorted(g):
                ok = False
            at += len(g)
        ok = ok and at == len(found)
if not ok:
    print('memo found:    %r' % memo, file=sys.stderr)
    print('memo expected: %r (numbers within a pass in any order)' % want, file=sys.stderr)
    sys.exit(1)
PY
}

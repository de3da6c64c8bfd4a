#!/usr/bin/env bash
# norvel-pad as a real process, where only a real process shows it:
#   one SIGINT or SIGTERM while the run waits for a lock another session holds (a lending desk's
#   open transaction): the command ends within about two seconds, status 1, the tables unchanged,
#   no record file; on PostgreSQL its session is gone from the server at once;
#   (PostgreSQL) --lock-timeout gives up after its time with its message, nothing changed;
#   Ctrl+C at the password prompt and at the confirmation on a terminal: the terminal echoes again
#   and the command says only that nothing was done;
#   output cut off after the commit (a pipe into "head", a full pipe and then SIGTERM): the record in
#   place, the status and the words of a committed run;
#   (PostgreSQL) a commit that does not come back (the server ends the session while the commit
#   waits for a synchronous standby that does not exist): status 3, the record in place marked
#   unconfirmed, the database committed;
#   (PostgreSQL) two applies at once: the second waits for the first's commit and finds nothing left;
#   a GBK locale: what the command writes is GBK.
#
#   pad-outcomes.sh --pad PROGRAM --backend pg|sqlite
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

nv_pad_setup pad-outcomes outcomes "$@"

ENVIRONMENT=(env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin HOME="$BB_DIR" LANG=C.UTF-8 XDG_CONFIG_DIRS="$BB_CONFIG_DIRS"
             ODBCSYSINI="$BB_ODBCSYSINI" ODBCINI="$BB_ODBCINI")

unchanged() {
    dump | cmp -s - "$BB_DIR/before.txt" || bb_fail "$1: the tables changed"
}
no_record() {
    ! ls -A "$BB_DIR" | grep -q "^\.\?$1" || bb_fail "$2: a record file was left: $(ls -A "$BB_DIR" | grep "$1")"
}
fresh_library() {
    case $BACKEND in
        pg) nv_pg -c "DROP DATABASE $DB WITH (FORCE)"; nv_pg -c "CREATE DATABASE $DB"
            nv_pg_db "$DB" -f "$NV_DATA/library.sql" >/dev/null ;;
        sqlite) rm -f "$DB"; nv_sqlite_library "$DB" ;;
    esac
    unchanged "the fresh library"
}
# start_pad [VAR=VALUE...] -- ARG...: norvel-pad in the background, output in $BB_DIR/out and err.
start_pad() {
    local extra=()
    while [ "$1" != "--" ]; do extra+=("$1"); shift; done
    shift
    # Emptied here: the background process opens them a moment later, and a wait for its output
    # must not find the last command's.
    : >"$BB_DIR/out"
    : >"$BB_DIR/err"
    "${ENVIRONMENT[@]}" "${extra[@]}" "$PAD" "$@" </dev/null >"$BB_DIR/out" 2>"$BB_DIR/err" &
    PAD_PID=$!
}
finish_pad() {
    set +e; wait "$PAD_PID"; STATUS=$?; set -e
}
now_ms() { date +%s%3N; }

# --- A lending desk holds a lock ------------------------------------------------------------------------
# hold_lock: a session of its own holds what keeps the run from locking the tables until release_lock.
hold_lock() {
    mkfifo "$BB_DIR/lock.in"
    case $BACKEND in
        pg) nv_pg_db "$DB" -At <"$BB_DIR/lock.in" >"$BB_DIR/lock.out" 2>&1 & ;;
        sqlite) sqlite3 "$DB" <"$BB_DIR/lock.in" >"$BB_DIR/lock.out" 2>&1 & ;;
    esac
    LOCKER=$!
    exec 7>"$BB_DIR/lock.in"
    case $BACKEND in
        pg) printf "BEGIN;\nselect pg_backend_pid();\nselect 1 from lib_jieshu where js_libcard='4444' for update;\n" >&7
            bb_wait_until 30 eval '[ "$(wc -l <"$BB_DIR/lock.out")" -ge 2 ]' || bb_fail "the desk session did not lock"
            LOCKER_BACKEND=$(head -n1 "$BB_DIR/lock.out") ;;
        sqlite) printf "begin immediate;\nselect 'locked';\n" >&7
            bb_wait_until 30 grep -q locked "$BB_DIR/lock.out" || bb_fail "the desk session did not lock" ;;
    esac
}
release_lock() {
    case $BACKEND in
        pg) printf 'ROLLBACK;\n\\q\n' >&7 ;;
        sqlite) printf 'rollback;\n.quit\n' >&7 ;;
    esac
    exec 7>&-
    wait "$LOCKER" 2>/dev/null || true
    rm -f "$BB_DIR/lock.in" "$BB_DIR/lock.out"
}
# Waits until norvel-pad waits for the lock (it shows its statements with --sql).
pad_waits() {
    case $BACKEND in
        pg) bb_wait_until 30 eval '[ -n "$(nv_pg -At -c "select 1 from pg_stat_activity where datname='"'$DB'"' and wait_event_type='"'Lock'"'")" ]' ;;
        sqlite) bb_wait_until 30 grep -q 'update lib_people set pe_id=pe_id where 0' "$BB_DIR/err" ;;
    esac || bb_fail "norvel-pad does not wait for the desk's lock: $(cat "$BB_DIR/err")"
}
pad_sessions() {
    nv_pg -At -c "select count(*) from pg_stat_activity where datname='$DB' and pid <> $LOCKER_BACKEND and pid <> pg_backend_pid()"
}

for signal in INT TERM; do
    hold_lock
    start_pad -- --length "$LENGTH" --apply --yes --changes "$BB_DIR/int.csv" --sql
    pad_waits
    sent=$(now_ms)
    kill -s "$signal" "$PAD_PID"
    finish_pad
    took=$(( $(now_ms) - sent ))
    if [ "$BACKEND" = pg ]; then
        # Its session went with it, though the desk still holds the lock it waited for.
        bb_wait_until 1 eval '[ "$(pad_sessions)" = 0 ]' || bb_fail "SIG$signal: norvel-pad's session is still on the server"
    fi
    release_lock
    [ "$STATUS" = 1 ] || bb_fail "SIG$signal while waiting for the lock: status $STATUS ($(cat "$BB_DIR/err"))"
    [ "$took" -le 3000 ] || bb_fail "SIG$signal while waiting for the lock: it took ${took} ms to end"
    tail -n1 "$BB_DIR/err" | grep -q '^norvel-pad: 已中断。改动没有提交' || bb_fail "SIG$signal: no message: $(tail -n3 "$BB_DIR/err")"
    unchanged "SIG$signal while waiting for the lock"
    no_record int.csv "SIG$signal while waiting for the lock"
    bb_log "SIG$signal while waiting for a desk's lock: ended after ${took} ms, status 1, tables unchanged, no record"
done

if [ "$BACKEND" = pg ]; then
    hold_lock
    start_pad -- --length "$LENGTH" --apply --yes --lock-timeout 2 --changes "$BB_DIR/lt.csv"
    started=$(now_ms)
    finish_pad
    took=$(( $(now_ms) - started ))
    release_lock
    [ "$STATUS" = 1 ] || bb_fail "--lock-timeout 2: status $STATUS ($(cat "$BB_DIR/err"))"
    grep -q '等了2秒也没能锁定表lib_people和lib_jieshu' "$BB_DIR/err" || bb_fail "--lock-timeout 2: $(cat "$BB_DIR/err")"
    [ "$took" -le 10000 ] || bb_fail "--lock-timeout 2 took ${took} ms"
    unchanged "--lock-timeout 2"
    no_record lt.csv "--lock-timeout 2"
    bb_log "--lock-timeout 2: gave up after ${took} ms, '$(head -n1 "$BB_DIR/err")'"
fi

# --- Two applies at once (PostgreSQL): the second waits for the first's commit, then finds nothing
# left to do, and its record and summary say so ------------------------------------------------------
if [ "$BACKEND" = pg ]; then
    hold_lock
    for run in first second; do
        "${ENVIRONMENT[@]}" "$PAD" --length "$LENGTH" --apply --yes --changes "$BB_DIR/$run.csv" \
            </dev/null >"$BB_DIR/$run.out" 2>"$BB_DIR/$run.err" &
        eval "${run}_pid=$!"
    done
    bb_wait_until 30 eval '[ "$(nv_pg -At -c "select count(*) from pg_stat_activity where datname='"'$DB'"' and wait_event_type='"'Lock'"'")" -ge 2 ]' \
        || bb_fail "two applies: they do not both wait for the desk's lock"
    release_lock
    set +e; wait "$first_pid"; first_status=$?; wait "$second_pid"; second_status=$?; set -e
    [ "$first_status" = 2 ] && [ "$second_status" = 2 ] \
        || bb_fail "two applies: status $first_status and $second_status: $(cat "$BB_DIR/first.err" "$BB_DIR/second.err")"
    dump >"$BB_DIR/both.txt"
    nv_expect_tables "$EXPECTED" "$BB_DIR/both.txt"
    # One record holds every change; the other only the readers left alone, and its totals are 0.
    changes() { grep -vc -e ',未处理（补0后与现有证号重复）' -e '^原借书证号' "$1" || true; }
    totals() { grep '^ *合计' "$1" | tr -s ' ' | cut -d' ' -f3-; }
    if [ "$(changes "$BB_DIR/first.csv")" = 0 ]; then idle=first; busy=second; else idle=second; busy=first; fi
    [ "$(changes "$BB_DIR/$idle.csv")" = 0 ] && [ "$(changes "$BB_DIR/$busy.csv")" -gt 0 ] \
        || bb_fail "two applies: both records list changes: $(cat "$BB_DIR/first.csv" "$BB_DIR/first.out" "$BB_DIR/second.csv" "$BB_DIR/second.out")"
    [ "$(totals "$BB_DIR/$idle.out")" = "0 0 $(totals "$BB_DIR/$busy.out" | cut -d' ' -f3) 0" ] \
        || bb_fail "two applies: the one that waited claims changes: $(totals "$BB_DIR/$idle.out")"
    grep -q '^原为空、改为借书证号的密码：0$' "$BB_DIR/$idle.out" || bb_fail "two applies: the one that waited claims passwords"
    bb_log "two applies at once: the $idle waited for the $busy's commit and found nothing left to do"
    fresh_library
    rm -f "$BB_DIR"/first.* "$BB_DIR"/second.*
fi

# --- Ctrl+C at a question on a terminal ---------------------------------------------------------------
# on_terminal NAME TEXT KEYS ARG...: norvel-pad on a terminal; KEYS typed once it shows TEXT.
on_terminal() {
    local name=$1 text=$2 keys=$3
    shift 3
    set +e
    "${ENVIRONMENT[@]}" "$BB_PYTHON" "$BB_LIB_DIR/pty_session.py" "$BB_DIR/$name.tty" "$text" "$keys" -- "$PAD" "$@"
    STATUS=$?
    set -e
}
on_terminal password '的密码：' '\x03' --dsn "$DSN" --user someone
[ "$STATUS" = 1 ] || bb_fail "Ctrl+C at the password: status $STATUS: $(cat "$BB_DIR/password.tty")"
[ "$(cat "$BB_DIR/password.tty.echo")" = on ] || bb_fail "Ctrl+C at the password left the terminal without echo"
tr -d '\r' <"$BB_DIR/password.tty" | grep -q '^norvel-pad: 已中断，没有做任何改动。$' ||
    bb_fail "Ctrl+C at the password: $(cat "$BB_DIR/password.tty")"
! grep -q '事务' "$BB_DIR/password.tty" || bb_fail "Ctrl+C at the password speaks of a transaction"
bb_log "Ctrl+C at the password: the terminal echoes, 'nothing was done', status 1"

on_terminal confirm '请输入 yes 执行：' '\x03' --length "$LENGTH" --apply
[ "$STATUS" = 1 ] || bb_fail "Ctrl+C at the confirmation: status $STATUS: $(cat "$BB_DIR/confirm.tty")"
[ "$(cat "$BB_DIR/confirm.tty.echo")" = on ] || bb_fail "Ctrl+C at the confirmation left the terminal without echo"
tr -d '\r' <"$BB_DIR/confirm.tty" | tail -n1 | grep -q '^norvel-pad: 已中断，没有做任何改动。$' ||
    bb_fail "Ctrl+C at the confirmation: $(cat "$BB_DIR/confirm.tty")"
unchanged "Ctrl+C at the confirmation"
bb_log "Ctrl+C at the confirmation: 'nothing was done', status 1, tables unchanged"

# --- Output cut off after the commit --------------------------------------------------------------------
set +e
"${ENVIRONMENT[@]}" "$PAD" --length "$LENGTH" --apply --yes --changes "$BB_DIR/head.csv" </dev/null 2>"$BB_DIR/err" |
    head -n 5 >"$BB_DIR/out"
STATUS=${PIPESTATUS[0]}
set -e
[ "$STATUS" = 2 ] || bb_fail "an apply into 'head -n 5': status $STATUS ($(cat "$BB_DIR/err"))"
dump >"$BB_DIR/after.txt"
nv_expect_tables "$EXPECTED" "$BB_DIR/after.txt"
grep -q '无法写入标准输出' "$BB_DIR/err" || bb_fail "a closed output was not noted: $(cat "$BB_DIR/err")"
grep -q "^norvel-pad: 改动已提交（结果没能全部写到标准输出）。变更记录：$BB_DIR/head.csv。$" "$BB_DIR/err" ||
    bb_fail "standard error does not say that the run was committed: $(cat "$BB_DIR/err")"
[ "$(tail -c 2 "$BB_DIR/head.csv" | od -An -c | tr -d ' ')" = '\r\n' ] || bb_fail "the record is not complete"
ls -A "$BB_DIR" | grep -q '^\.head\.csv' && bb_fail "a hidden record was left"
bb_log "an apply into 'head -n 5': status 2, committed, the record in place, standard error says so"

if [ "$BACKEND" = pg ]; then
    fresh_library
    result=$("${ENVIRONMENT[@]}" "$BB_PYTHON" "$BB_LIB_DIR/blocked_output.py" "$BB_DIR/blocked.csv" "$BB_DIR/err" -- \
             "$PAD" --length "$LENGTH" --apply --yes --changes "$BB_DIR/blocked.csv") || bb_fail "blocked output: $result"
    read -r STATUS took <<<"$result"
    [ "$STATUS" = 2 ] || bb_fail "SIGTERM with the output blocked after the commit: $result ($(cat "$BB_DIR/err"))"
    grep -q "^norvel-pad: 已中断，但改动在此之前已经提交。变更记录：$BB_DIR/blocked.csv。$" "$BB_DIR/err" ||
        bb_fail "SIGTERM with the output blocked after the commit: $(cat "$BB_DIR/err")"
    ! grep -q '回滚' "$BB_DIR/err" || bb_fail "a committed run speaks of a rollback: $(cat "$BB_DIR/err")"
    dump >"$BB_DIR/after.txt"
    nv_expect_tables "$EXPECTED" "$BB_DIR/after.txt"
    bb_log "SIGTERM with the output blocked after the commit: status 2 after ${took} s, 'committed'"
fi

# --- A GBK locale ---------------------------------------------------------------------------------------
mkdir -p "$BB_DIR/locale"
localedef -i zh_CN -f GBK "$BB_DIR/locale/zh_CN.GBK" 2>"$BB_DIR/localedef.log" ||
    bb_fail "cannot make the zh_CN.GBK locale: $(cat "$BB_DIR/localedef.log")"
gbk() {
    set +e
    env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin HOME="$BB_DIR" LOCPATH="$BB_DIR/locale" LANG=zh_CN.GBK XDG_CONFIG_DIRS="$BB_CONFIG_DIRS" \
        ODBCSYSINI="$BB_ODBCSYSINI" ODBCINI="$BB_ODBCINI" "$PAD" "$@" </dev/null >"$BB_DIR/out" 2>"$BB_DIR/err"
    STATUS=$?
    set -e
}
gbk --length "$LENGTH"
iconv -f GBK -t UTF-8 "$BB_DIR/out" >"$BB_DIR/out.utf8" || bb_fail "the preview's output is not GBK"
grep -q "^数据源：$DSN$" "$BB_DIR/out.utf8" || bb_fail "the preview under GBK: $(cat "$BB_DIR/out.utf8")"
! grep -q '数据源' "$BB_DIR/out" || bb_fail "the preview under GBK wrote UTF-8"
gbk --length 1
[ "$STATUS" = 64 ] && iconv -f GBK -t UTF-8 "$BB_DIR/err" | grep -q '借书证长度至少为2' ||
    bb_fail "a message under GBK: $(cat "$BB_DIR/err")"
bb_log "under zh_CN.GBK the output and the messages are GBK"
if [ "$BACKEND" = pg ]; then
    # A password typed in GBK reaches the server as the password it is.
    role="bb_gbk_$$"
    nv_pg -c "create role $role login superuser password '借书证密码'"
    bb_on_exit "nv_pg -c 'drop role if exists $role' >/dev/null 2>&1"
    typed=$(printf '借书证密码' | iconv -f UTF-8 -t GBK | od -An -tx1 | tr -d ' \n' | sed 's/../\\x&/g')
    set +e
    env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin HOME="$BB_DIR" LOCPATH="$BB_DIR/locale" LANG=zh_CN.GBK XDG_CONFIG_DIRS="$BB_CONFIG_DIRS" \
        ODBCSYSINI="$BB_ODBCSYSINI" ODBCINI="$BB_ODBCINI" \
        "$BB_PYTHON" "$BB_LIB_DIR/pty_session.py" "$BB_DIR/gbk.tty" "$role " "$typed\n" -- "$PAD" --length "$LENGTH" --dsn "$DSN" --user "$role"
    STATUS=$?
    set -e
    [ "$STATUS" = 2 ] || bb_fail "a GBK password: status $STATUS: $(iconv -f GBK -t UTF-8 "$BB_DIR/gbk.tty")"
    bb_log "under zh_CN.GBK a password typed in GBK logs in"
fi

[ "$BACKEND" = pg ] || { bb_log "passed"; exit 0; }

# --- A commit that does not come back (a private server of the test's own) ------------------------------
bb_start_private_pg
bb_psql_private -d postgres -c "create database lib"
bb_psql_private -d lib -f "$NV_DATA/library.sql" >/dev/null
# Every commit now waits for a standby that never comes.
bb_psql_private -d postgres -c "alter system set synchronous_standby_names = 'nostandby'" -c "select pg_reload_conf()" >/dev/null
bb_add_pg_dsn BbPrivate$$ 127.0.0.1 "$BB_PG_PORT" Database=lib
start_pad NORVEL_PASSWORD="$BB_PG_PASSWORD" -- --dsn BbPrivate$$ --user norvel --length "$LENGTH" --apply --yes \
    --changes "$BB_DIR/unknown.csv"
committing="select pid from pg_stat_activity where wait_event = 'SyncRep'"
bb_wait_until 60 eval '[ -n "$(bb_psql_private -d postgres -At -c "$committing")" ]' || bb_fail "the commit does not wait"
bb_psql_private -d postgres -At -c "select pg_terminate_backend(pid) from ($committing) c" >/dev/null
finish_pad
bb_psql_private -d postgres -c "alter system reset synchronous_standby_names" -c "select pg_reload_conf()" >/dev/null
[ "$STATUS" = 3 ] || bb_fail "a commit cut off: status $STATUS ($(cat "$BB_DIR/err"))"
grep -q '^norvel-pad: 提交改动时与数据库的连接出错' "$BB_DIR/err" || bb_fail "a commit cut off: $(cat "$BB_DIR/err")"
grep -q '^norvel-pad: 查看方法：在表lib_people中找原借书证号为' "$BB_DIR/err" || bb_fail "no way to check: $(cat "$BB_DIR/err")"
! grep -q '回滚' "$BB_DIR/err" "$BB_DIR/out" || bb_fail "a commit cut off speaks of a rollback"
grep -q "^变更记录：$BB_DIR/unknown.csv，[0-9]*行（未确认：见$BB_DIR/unknown.csv.unconfirmed）$" "$BB_DIR/out" ||
    bb_fail "the record is not named as unconfirmed: $(cat "$BB_DIR/out")"
grep -q '改动可能已经提交，也可能没有' "$BB_DIR/unknown.csv.unconfirmed" || bb_fail "the note does not say what is unknown"
[ "$(bb_psql_private -d lib -At -c "select count(*) from lib_people where pe_id = '$(printf '%0*d' "$LENGTH" 7)'")" = 1 ] ||
    bb_fail "the server did not commit (the case this test stands for)"
bb_log "a commit cut off: status 3, record in place marked unconfirmed, the server committed"
bb_log "passed"

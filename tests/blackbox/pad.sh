#!/usr/bin/env bash
# norvel-pad from outside, without a display, on the black-box library (data/library.sql):
#   a preview leaves both tables byte-identical, and its summary, its collision lines and its record
#   equal what an apply then does and writes on the same data; the apply leaves the tables the
#   window's run leaves (data/after-*.txt, which run.sh checks the window against); the record's
#   rows are the difference of the tables before and after;
#   bad input gives a clear message, status 1 or 64, no change and no record;
#   (PostgreSQL) SIGINT and SIGTERM while a statement of a pass waits, and just before the commit,
#   end the command with status 1 and leave the tables unchanged.
#
#   pad.sh --pad PROGRAM --backend pg|sqlite
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

nv_pad_setup pad pad "$@"
# A terminal command on a server without a display: no Qt GUI or Widgets, no DISPLAY below.
! ldd "$PAD" | grep -Eq 'libQt6(Gui|Widgets)' || bb_fail "norvel-pad links Qt GUI or Widgets"

# pad [ENV=VALUE...] -- ARG...: runs norvel-pad without a terminal; output in $BB_DIR/out, err, status
pad() {
    local extra=()
    while [ "$1" != "--" ]; do extra+=("$1"); shift; done
    shift
    set +e
    env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin HOME="$BB_DIR" LANG=C.UTF-8 XDG_CONFIG_DIRS="$BB_CONFIG_DIRS" \
        ODBCSYSINI="$BB_ODBCSYSINI" ODBCINI="$BB_ODBCINI" "${extra[@]}" "$PAD" "$@" \
        </dev/null >"$BB_DIR/out" 2>"$BB_DIR/err"
    STATUS=$?
    set -e
}

unchanged() {
    dump | cmp -s - "$BB_DIR/before.txt" || bb_fail "$1: the tables changed"
}

# The summary of a run: from the table's heading to the collision lines, without the record line.
summary_of() {
    sed -n '/长度  补0的读者/,$p' "$1" | grep -v -e '^变更记录' -e '^清单：' -e '^处理日志：' -e '^要执行' -e '^处理完成！$'
}

# --- A preview, then the apply with a record ---------------------------------------------------------
pad -- --length "$LENGTH" --changes "$BB_DIR/preview.csv" --sql
[ "$STATUS" = 2 ] || bb_fail "the preview ended with $STATUS, not 2 (numbers left alone): $(cat "$BB_DIR/err")"
unchanged "the preview"
grep -q '^预览' "$BB_DIR/out" || bb_fail "the preview does not say that it is one"
grep -q "^数据源：$DSN$" "$BB_DIR/out" || bb_fail "the summary does not name the data source"
grep -q "update lib_jieshu" "$BB_DIR/err" || bb_fail "--sql did not show the statements"
summary_of "$BB_DIR/out" >"$BB_DIR/preview-summary.txt"
grep -A1 -e '^以下条码' -e '^处理成功' "$BB_DIR/out" >"$BB_DIR/preview-memo.txt"
nv_expect_memo "$EXPECTED" "$BB_DIR/preview-memo.txt"
[ -f "$BB_DIR/preview.csv" ] || bb_fail "the preview wrote no record"
bb_log "preview: status 2, tables unchanged, collision lines as the window shows them"

pad -- --length "$LENGTH" --apply --yes --changes "$BB_DIR/apply.csv"
[ "$STATUS" = 2 ] || bb_fail "the apply ended with $STATUS: $(cat "$BB_DIR/err")"
dump >"$BB_DIR/after.txt"
nv_expect_tables "$EXPECTED" "$BB_DIR/after.txt"
summary_of "$BB_DIR/out" >"$BB_DIR/apply-summary.txt"
diff -u "$BB_DIR/preview-summary.txt" "$BB_DIR/apply-summary.txt" >&2 || bb_fail "the preview's summary is not the apply's"
cmp "$BB_DIR/preview.csv" "$BB_DIR/apply.csv" || bb_fail "the preview's record is not the apply's"
ls -A "$BB_DIR" | grep -q '^\.apply\.csv\.' && bb_fail "the record's temporary file was left behind"
bb_log "apply: the tables the window's run leaves; summary and record as the preview said"

# The record against the difference of the tables.
"$BB_PYTHON" - "$BB_DIR/before.txt" "$BB_DIR/after.txt" "$BB_DIR/apply.csv" "$BB_DIR/apply-summary.txt" "$LENGTH" "$BB_DIR/preview-memo.txt" <<'PY' || bb_fail "the record or the summary does not match the tables"
import csv, sys
from collections import Counter
def load(path):
    people, loans = {}, {}
    for line in open(path, encoding='utf-8'):
        f = line.rstrip('\n').split('|')
        if f[0] == 'people': people[f[1]] = (f[2], f[3])
        elif f[0] == 'loan': loans[f[1]] = f[2]
    return people, loans
bp, bl = load(sys.argv[1]); ap, al = load(sys.argv[2])
trim = lambda s: s.rstrip(' ')
want = Counter()
moved = Counter()
for js, card in bl.items():
    if al[js] != card:
        moved[(trim(card), al[js])] += 1
readers = set()
for name, (card, pw) in bp.items():
    ncard, npw = ap[name]
    if (card, pw) == (ncard, npw): continue
    if pw == card or (pw != '\\N' and trim(pw) == trim(card)) and ncard != card: what = '随证号变更'
    elif pw != '\\N' and trim(pw) == '': what = '原为空，现为证号'
    else: what = '未变'
    readers.add(trim(card))
    want[(trim(card), trim(ncard), what, moved.pop((trim(card), trim(ncard)), 0), '读者')] += 1
for (old, new), n in moved.items():
    want[(old, new, '', n, '仅见于借阅记录')] += 1
rows = list(csv.reader(open(sys.argv[3], encoding='utf-8', newline='')))
assert rows[0] == ['原借书证号', '新借书证号', '密码', '移动的借阅记录', '类别'], rows[0]
# Readers left alone: the collision list's numbers, each with the padded number that is taken.
length = int(sys.argv[5])
memo = open(sys.argv[6], encoding='utf-8').read().split('\n')
listed = memo[memo.index([l for l in memo if l.startswith('以下条码')][0]) + 1].split() if any(l.startswith('以下条码') for l in memo) else []
left = [r for r in rows[1:] if r[4] == '未处理（补0后与现有证号重复）']
for r in left:
    assert r[2] == '' and r[3] == '0' and r[1] == r[0].zfill(length), r
    assert any(trim(c) == r[0] and ap[n][0] == c for n, (c, pw) in bp.items()), r
if sorted(r[0] for r in left) != sorted(listed):
    print('left alone in the record %r, in the list %r' % (sorted(r[0] for r in left), sorted(listed)), file=sys.stderr)
    sys.exit(1)
# Loans that were under a padded reader's new number before the run.
joined = [r for r in rows[1:] if r[4] == '原已在新证号下的借阅记录']
for r in joined:
    assert r[0] == r[1] and r[2] == '' and int(r[3]) == sum(1 for c in bl.values() if trim(c) == r[0]), r
rows = [rows[0]] + [r for r in rows[1:] if r not in left and r not in joined]
got = Counter((r[0], r[1], r[2], int(r[3]), r[4]) for r in rows[1:])
if got != want:
    print('record rows only in the record: %r' % sorted((got - want).elements()), file=sys.stderr)
    print('changes missing from the record: %r' % sorted((want - got).elements()), file=sys.stderr)
    sys.exit(1)
# The summary's totals: readers and loans padded, passwords that follow, empty passwords filled.
summary = open(sys.argv[4], encoding='utf-8').read().split('\n')
totals = [l.split() for l in summary if l.split()[:1] == ['合计']][0][1:]
filled = [l.split('：')[1] for l in summary if l.startswith('原为空')][0]
padded = [k for k in want.elements() if k[0] != k[1]]
figures = [sum(1 for k in padded if k[4] == '读者'), sum(k[3] for k in want.elements()),
           sum(1 for k in padded if k[2] == '随证号变更'), sum(1 for k in want.elements() if k[2] == '原为空，现为证号')]
found = [int(totals[0]), int(totals[1]), int(totals[3]), int(filled)]
if found != figures:
    print('summary totals (readers, loans, passwords following, empty filled): %r, tables say %r' % (found, figures), file=sys.stderr)
    sys.exit(1)
print('%d record rows and the summary totals match the tables' % sum(got.values()), file=sys.stderr)
PY

# --- Taken back from its record: the tables as before the run (trailing blanks never counted) -------
untrailed() { sed 's/ *|/|/g; s/ *$//' "$1"; }
pad -- --undo "$BB_DIR/apply.csv"
[ "$STATUS" = 0 ] || bb_fail "the undo's preview ended with $STATUS: $(cat "$BB_DIR/err")"
dump | cmp -s - "$BB_DIR/after.txt" || bb_fail "the undo's preview changed the tables"
pad -- --undo "$BB_DIR/apply.csv" --apply --yes
[ "$STATUS" = 0 ] || bb_fail "the undo ended with $STATUS: $(cat "$BB_DIR/err")"
dump >"$BB_DIR/undone.txt"
diff -u <(untrailed "$BB_DIR/before.txt") <(untrailed "$BB_DIR/undone.txt") >&2 || bb_fail "the undo did not give back the tables as they were"
pad -- --runs
grep -q '  已撤销$' "$BB_DIR/out" || bb_fail "--runs does not list the run as taken back: $(cat "$BB_DIR/out")"
pad -- --undo "$BB_DIR/apply.csv" --apply --yes
[ "$STATUS" = 1 ] && grep -q '这次处理已经撤销过了' "$BB_DIR/err" || bb_fail "a second undo: status $STATUS: $(cat "$BB_DIR/err")"
bb_log "undo: the tables as before the run, listed as taken back, not taken back twice"

# --- Bad input: a clear message, the status, no change, no record -------------------------------------
rm -f "$BB_DIR"/*.csv "$BB_DIR"/*.csv.run
# Back to the library as it was.
case $BACKEND in
    pg) nv_pg -c "DROP DATABASE $DB WITH (FORCE)"; nv_pg -c "CREATE DATABASE $DB"
        nv_pg_db "$DB" -f "$NV_DATA/library.sql" >/dev/null ;;
    sqlite) rm -f "$DB"; nv_sqlite_library "$DB" ;;
esac
unchanged "the fresh library"
mkdir -p "$BB_DIR/readonly" && chmod 555 "$BB_DIR/readonly"
# name|status|message (an extended regular expression)|env and arguments, separated by blanks
CASES=(
    "invalid length|64|借书证长度“12x”不是整数|-- --length 12x"
    "length below 2|64|借书证长度至少为2，不能是1|-- --length 1"
    "length no column holds|1|超过|-- --length 99999999"
    "unknown data source|1|无法连接数据源NoSuchSource|NORVEL_PASSWORD=x -- --dsn NoSuchSource --user x"
    "record in a missing folder|1|无法写入变更记录|-- --changes $BB_DIR/no/such/folder/r.csv"
    "record path is a folder|64|变更记录$BB_DIR已经存在（文件夹）|-- --changes $BB_DIR"
    "record path is a device|64|变更记录/dev/null已经存在（设备文件）|-- --apply --yes --changes /dev/null"
    "apply without terminal or --yes|64|--yes|-- --apply"
    "unknown option|64|未知的选项--frobnicate|-- --frobnicate"
    "--yes without --apply|64|--yes只和--apply一起使用|-- --yes"
    "--dsn without --user|64|--dsn和--user要一起给出|-- --dsn $DSN"
    "password without terminal|1|NORVEL_PASSWORD|-- --dsn $DSN --user sa"
)
[ "$BACKEND" = pg ] && CASES+=("wrong password|1|无法连接数据源$DSN|NORVEL_PASSWORD=wrong -- --dsn $DSN --user $NORVEL_PG_USER")
[ "$(id -u)" = 0 ] || CASES+=("record in an unwritable folder|1|无法写入变更记录|-- --changes $BB_DIR/readonly/r.csv")
for case in "${CASES[@]}"; do
    IFS='|' read -r name status message args <<<"$case"
    read -ra words <<<"$args"
    pad "${words[@]}"
    [ "$STATUS" = "$status" ] || bb_fail "$name: status $STATUS, not $status ($(cat "$BB_DIR/err"))"
    grep -Eq -- "$message" "$BB_DIR/err" || bb_fail "$name: the message does not say /$message/: $(cat "$BB_DIR/err")"
    [ "$(wc -l <"$BB_DIR/err")" -le 3 ] || bb_fail "$name: more than a short message: $(cat "$BB_DIR/err")"
    unchanged "$name"
    ! ls -A "$BB_DIR" "$BB_DIR/readonly" | grep -q '\.csv' || bb_fail "$name: a record was left"
    bb_log "$name: status $status, '$(head -n1 "$BB_DIR/err")'"
done

# On a terminal --apply asks first; anything but "yes" changes nothing.
set +e
printf 'no\n' | env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin HOME="$BB_DIR" LANG=C.UTF-8 XDG_CONFIG_DIRS="$BB_CONFIG_DIRS" \
    ODBCSYSINI="$BB_ODBCSYSINI" ODBCINI="$BB_ODBCINI" \
    script -qec "$PAD --length $LENGTH --apply" /dev/null >"$BB_DIR/tty.txt" 2>&1
STATUS=$?
set -e
grep -q '请输入 yes' "$BB_DIR/tty.txt" || bb_fail "--apply on a terminal did not ask: $(cat "$BB_DIR/tty.txt")"
grep -q '已取消' "$BB_DIR/tty.txt" || bb_fail "--apply answered 'no' did not say it cancelled"
[ "$STATUS" = 1 ] || bb_fail "--apply answered 'no' ended with $STATUS"
unchanged "--apply answered 'no'"
bb_log "--apply on a terminal asks; 'no' changes nothing"

[ "$BACKEND" = pg ] || { bb_log "passed"; exit 0; }

# --- Interrupts (PostgreSQL): the command is pinned by a lock that one of its statements waits on --
# The run locks both tables first, so a row lock taken before it would stop it there: the pin is a
# gate, a trigger on the chosen rows that waits for an advisory lock the test holds.
# lock TABLE CONDITION: the update of TABLE's rows where CONDITION (on OLD and NEW) waits until
# release_lock.
nv_pg_db "$DB" -c "create function bb_gate() returns trigger language plpgsql as \$\$
    begin perform pg_advisory_lock(4242); perform pg_advisory_unlock(4242); return new; end \$\$" >/dev/null
lock() {
    nv_pg_db "$DB" -c "create trigger bb_pin before update on $1 for each row when ($2) execute function bb_gate()" >/dev/null
    mkfifo "$BB_DIR/lock.in"
    nv_pg_db "$DB" <"$BB_DIR/lock.in" >/dev/null 2>&1 &
    LOCKER=$!
    exec 7>"$BB_DIR/lock.in"
    printf 'select pg_advisory_lock(4242);\n' >&7
    LOCKED_TABLE=$1
}
release_lock() {
    printf '\\q\n' >&7
    exec 7>&-
    wait "$LOCKER" 2>/dev/null || true
    rm -f "$BB_DIR/lock.in"
}
# Once the command is gone (its locks with it).
drop_gate() {
    nv_pg_db "$DB" -c "drop trigger if exists bb_pin on $LOCKED_TABLE" >/dev/null
}
# Waits until a statement of the command waits for a lock; prints the statement's first line.
waiting_statement() {
    local query="select regexp_replace(query, '\s+', ' ', 'g') from pg_stat_activity where datname='$DB' and wait_event_type='Lock'"
    bb_wait_until 30 eval '[ -n "$(nv_pg -At -c "$query")" ]' || bb_fail "no statement of norvel-pad waits"
    nv_pg -At -c "$query" | head -n1
}
server_idle() {
    bb_wait_until 60 eval '[ -z "$(nv_pg -At -c "select 1 from pg_stat_activity where datname='"'"$DB"'"' and pid <> pg_backend_pid() and state <> '"'idle'"'")" ]'
}
start_pad() {
    env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin HOME="$BB_DIR" LANG=C.UTF-8 XDG_CONFIG_DIRS="$BB_CONFIG_DIRS" \
        ODBCSYSINI="$BB_ODBCSYSINI" ODBCINI="$BB_ODBCINI" "$PAD" --apply --yes --changes "$BB_DIR/int.csv" \
        </dev/null >"$BB_DIR/out" 2>"$BB_DIR/err" &
    PAD_PID=$!
}
finish_pad() {
    set +e; wait "$PAD_PID"; STATUS=$?; set -e
}
# A short reader that the run pads: the readers' update, the last statement, pads it.
nv_pg_db "$DB" -c "insert into lib_people values ('99999', '', 'r99')"
dump >"$BB_DIR/before.txt"
for signal in INT TERM; do
    # While the loans are padded: the update waits at the loan '4444'.
    lock lib_jieshu "old.js_libcard = '4444'"
    start_pad
    bb_log "SIG$signal while waiting in: $(waiting_statement)"
    kill -s "$signal" "$PAD_PID"
    finish_pad
    release_lock
    drop_gate
    [ "$STATUS" = 1 ] || bb_fail "SIG$signal while the loans are padded: status $STATUS"
    grep -q '已中断' "$BB_DIR/err" || bb_fail "SIG$signal while the loans are padded: no message: $(cat "$BB_DIR/err")"
    server_idle || bb_fail "the server still works for the stopped command"
    unchanged "SIG$signal while the loans are padded"
    [ ! -e "$BB_DIR/int.csv" ] && ! ls -A "$BB_DIR" | grep -q '^\.int\.csv' || bb_fail "SIG$signal left a record"

    # Just before the commit: the last statement (padding the readers) waits at that reader; the
    # command is stopped, the lock released so that the statement completes, the signal sent, and
    # the command let go on: it must not commit.
    lock lib_people "old.pe_name = 'r99' and old.pe_id <> new.pe_id"
    start_pad
    statement=$(waiting_statement)
    [[ $statement == *"set pe_id = repeat"* ]] || bb_fail "the command waits in '$statement', not in the last statement"
    kill -STOP "$PAD_PID"
    release_lock
    bb_wait_until 30 eval '[ -n "$(nv_pg -At -c "select 1 from pg_stat_activity where datname='"'"$DB"'"' and state='"'idle in transaction'"'")" ]' ||
        bb_fail "the last statement did not complete"
    kill -s "$signal" "$PAD_PID"
    kill -CONT "$PAD_PID"
    finish_pad
    drop_gate
    [ "$STATUS" = 1 ] || bb_fail "SIG$signal before the commit: status $STATUS ($(cat "$BB_DIR/err"))"
    grep -q '已中断' "$BB_DIR/err" || bb_fail "SIG$signal before the commit: no message: $(cat "$BB_DIR/err")"
    server_idle || bb_fail "the server still works for the stopped command"
    unchanged "SIG$signal just before the commit"
    bb_log "SIG$signal while the loans are padded and just before the commit: status 1, tables unchanged"
done
bb_log "passed"

#!/usr/bin/env bash
# Faults in the middle of a long run of the built program (a generated library of some 60,000
# readers and 300,000 loans; a whole run takes several seconds). After every fault both tables must
# be exactly as before the run (checksums over every column of every row): the run is one
# transaction, nothing of it may be left half done, nothing may be lost.
#
#   fault.sh --norvel PROGRAM --mode kill|cut|stop [--readers N --loans M]
#
# kill: the program killed with SIGKILL at several points (shared test server).
# cut:  its connection cut by the server (pg_terminate_backend) (shared test server).
# stop: the server stopped at once (pg_ctl stop -m immediate), then started again: a PostgreSQL
#       instance of this test's own, never the shared one.
# After a cut or a stopped server the program must show the error box "Norvel", keep running and
# answer the user; it is then closed with 关闭. A last, undisturbed run (kill mode) shows that the
# checksums do see a run's changes, and how long a whole run takes.
#
# On PostgreSQL the run is computed as a whole: it works out every card's fate in working tables
# (norvel_fates, ...), then changes the passwords that marking and restoring them would change
# ("settle"), pads the loans, then the readers, each in one update.
#
# Where a fault lands is chosen, not left to timing. Pinned points: before the run, a session of
# the test locks one row that the chosen statement must change (a reader with an empty password and
# a full-length number for the passwords; a loan or reader of the given length that will be padded);
# the program's statement then waits for that lock, which pg_stat_activity shows, and the fault
# comes while it waits, after every earlier statement of the run has done its work in the
# transaction. "Between statements": at the readers' update, the last statement, the program is
# stopped (SIGSTOP), the lock released, and once the server reports the transaction idle (the last
# statement done, the commit not sent) the fault comes. Unpinned points: the fault comes as soon as
# the server shows the chosen statement running; where it landed is read back and reported.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

NORVEL= MODE= READERS=60000 LOANS=300000
nv_options "--norvel PROGRAM --mode kill|cut|stop [--readers N --loans M]" norvel mode readers loans -- "$@"
case $MODE in kill|cut|stop) ;; *) echo "fault.sh: --mode kill, cut or stop" >&2; exit 2 ;; esac

bb_init "fault-$MODE"
nv_desktop
bb_odbc_init
DB="bb_fault_$$"
DSN="BbFault$$"
if [ "$MODE" = stop ]; then
    bb_start_private_pg
    PORT=$BB_PG_PORT
    sql() { PGAPPNAME=${PGAPPNAME:-bb_probe} bb_psql_private -d "$DB" "$@"; }
    bb_psql_private -d postgres -c "CREATE DATABASE $DB"
    bb_write_lib_settings "$DSN" norvel "$BB_PG_PASSWORD"
else
    nv_need_pg
    PORT=$NORVEL_PG_PORT
    sql() { PGAPPNAME=${PGAPPNAME:-bb_probe} nv_pg_db "$DB" "$@"; }
    nv_pg -c "CREATE DATABASE $DB"
    bb_on_exit "nv_pg -c 'DROP DATABASE IF EXISTS $DB WITH (FORCE)' >/dev/null 2>&1"
    bb_write_lib_settings "$DSN" "$NORVEL_PG_USER" "$NORVEL_PG_PASSWORD"
fi
bb_add_pg_dsn "$DSN" 127.0.0.1 "$PORT" Database="$DB"
# The test's own sessions are called bb_...; the program's session is the other one on the database.
psql_bin() { if [ "$MODE" = stop ]; then bb_psql_private "$@"; else nv_pg "$@"; fi; }

started=$SECONDS
PGOPTIONS="-c client_min_messages=warning -c bench.readers=$READERS -c bench.loans=$LOANS" \
    sql -At -v minlen=1 -f "$BB_ROOT/bench/generate-library.sql" >"$BB_DIR/generate.log" ||
    bb_fail "cannot generate the library: $(tail -n 3 "$BB_DIR/generate.log")"
# A reader with an empty password and a full-length number: only the restoring of passwords
# touches it.
sql -c "UPDATE lib_people SET pe_passwd = '' WHERE pe_id = (SELECT min(pe_id) FROM lib_people WHERE length(pe_id) = 10)"
sql -c "VACUUM ANALYZE lib_people, lib_jieshu"
sql -f - <<'SQL'
-- Waits (up to cap seconds) until the program's session runs a statement like pattern; with
-- blocked, until that statement waits for a lock. Returns the session's pid, state, what it waits
-- for, and whether its transaction has written anything.
CREATE FUNCTION bb_wait_for(pattern text, blocked boolean, cap float)
RETURNS TABLE (pid integer, state text, waiting text, wrote boolean) LANGUAGE plpgsql AS $$
DECLARE deadline timestamptz := clock_timestamp() + make_interval(secs => cap);
BEGIN
  LOOP
    PERFORM pg_stat_clear_snapshot();
    RETURN QUERY
      SELECT a.pid, a.state, coalesce(a.wait_event_type, ''), a.backend_xid IS NOT NULL
      FROM pg_stat_activity a
      WHERE a.datname = current_database() AND a.backend_type = 'client backend'
        AND coalesce(a.application_name, '') NOT LIKE 'bb\_%'
        AND a.state = 'active' AND a.query LIKE pattern
        AND (NOT blocked OR a.wait_event_type = 'Lock');
    IF FOUND OR clock_timestamp() > deadline THEN RETURN; END IF;
    PERFORM pg_sleep(0.002);
  END LOOP;
END $$;
SQL
read -r N_READERS N_LOANS < <(sql -At -F ' ' -c "SELECT (SELECT count(*) FROM lib_people), (SELECT count(*) FROM lib_jieshu)")
bb_log "library: $N_READERS readers, $N_LOANS loans (made in $((SECONDS - started)) s)"

checksum() {
    sql -At -c "SELECT md5(string_agg(p::text, ',' ORDER BY pe_id)) FROM lib_people p" \
        -c "SELECT md5(string_agg(j::text, ',' ORDER BY js_id)) FROM lib_jieshu j" | tr '\n' ' '
}
BEFORE=$(checksum)
bb_log "checksums before: $BEFORE"

now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The statements as the program sends them to PostgreSQL (lines end in CR LF; the driver puts a
# savepoint in front), as LIKE patterns.
pattern() {   # kind [pass]
    local n=${2:-}
    case $1 in
        cards) echo "'%create temp table norvel_fates%'" ;;
        settle) echo "'%update lib_people set pe_passwd = pe_id' || chr(13) || '%'" ;;
        loans) echo "'%update lib_jieshu set js_libcard = repeat%'" ;;
        readers) echo "'%update lib_people set pe_id = repeat%'" ;;
    esac
}

# The row whose lock pins the statement: "table key-column key".
pin_row() {   # kind [pass]
    local n=${2:-} key
    case $1 in
        loans) key=$(sql -At -c "SELECT js_id FROM lib_jieshu j WHERE length(js_libcard) = $n AND js_libcard !~ '^0'
                                 AND NOT EXISTS (SELECT 1 FROM lib_people WHERE pe_id = lpad(j.js_libcard, 9, '0'))
                                 ORDER BY js_id LIMIT 1")
               echo "lib_jieshu js_id $key" ;;
        readers) key=$(sql -At -c "SELECT pe_id FROM lib_people p WHERE length(pe_id) = $n AND pe_id !~ '^0'
                                   AND pe_passwd <> pe_id
                                   AND NOT EXISTS (SELECT 1 FROM lib_people q WHERE q.pe_id = lpad(p.pe_id, 9, '0'))
                                   ORDER BY pe_id LIMIT 1")
                 echo "lib_people pe_id $key" ;;
        settle) key=$(sql -At -c "SELECT pe_id FROM lib_people WHERE pe_passwd = '' AND length(pe_id) >= 9 ORDER BY pe_id LIMIT 1")
                echo "lib_people pe_id $key" ;;
    esac
}

# The run locks both tables first, so a row lock taken before it would stop it there. The pin is a
# gate instead: a trigger on the row that waits for an advisory lock the test holds.
sql -c "CREATE FUNCTION bb_gate() RETURNS trigger LANGUAGE plpgsql AS \$\$
        BEGIN PERFORM pg_advisory_lock(4242); PERFORM pg_advisory_unlock(4242); RETURN NEW; END \$\$" >/dev/null
LOCKER_PID=
lock_row() {   # table column key
    [ -n "$3" ] || bb_fail "no row to pin the statement with"
    sql -c "CREATE TRIGGER bb_pin BEFORE UPDATE ON $1 FOR EACH ROW WHEN (OLD.$2 = '$3') EXECUTE FUNCTION bb_gate()" >/dev/null
    PGAPPNAME=bb_locker sql -c "SELECT pg_advisory_lock(4242)" -c "SELECT pg_sleep(3600)" >/dev/null 2>&1 &
    LOCKER_PID=$!
    BB_PIDS+=("$LOCKER_PID")
    bb_wait_until 30 eval "[ \"\$(sql -At -c \"SELECT count(*) FROM pg_stat_activity WHERE application_name = 'bb_locker'
        AND state = 'active' AND query LIKE 'SELECT pg_sleep%'\")\" = 1 ]" || bb_fail "the lock on $1 $3 was not taken"
}

release_row() {
    [ -n "$LOCKER_PID" ] || return 0
    psql_bin -At -d postgres -c "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE application_name = 'bb_locker'" \
        >/dev/null 2>&1 || true
    wait "$LOCKER_PID" 2>/dev/null || true
    LOCKER_PID=
}

# The program's session: gone (after its client died, or after a cut or a restart)?
session_gone() {
    [ "$(sql -At -c "SELECT count(*) FROM pg_stat_activity WHERE pid = $1")" = 0 ]
}

# What the program's session is doing now: "state | waiting | query's first line".
session_now() {
    sql -At -F ' | ' -c "SELECT state, coalesce(wait_event_type, '-'),
                                split_part(regexp_replace(query, '^((SAVEPOINT|RELEASE) [^;]*;)*', ''), chr(13), 1)
                                || coalesce(' ' || substring(query from 'length\(rtrim\([a-z_]+\)\)=[0-9]+'), '')
                         FROM pg_stat_activity WHERE pid = $1"
}

RESULTS=()
TRIAL=0

# trial KIND PASS PIN FAULT
#   KIND/PASS  the statement (cards, settle, loans N, readers N: the pinned row has that length);
#   PIN        pinned, between, unpinned
#   FAULT      kill, cut, stop
trial() {
    local kind=$1 pass=$2 pin=$3 fault=$4 label row t0 t_fault t_done pid state waiting wrote landed after box blocked
    TRIAL=$((TRIAL + 1))
    label="$kind${pass:+ (length $pass)}"
    [ "$pin" = between ] && label="after $label, before the commit"
    [ "$pin" = unpinned ] && label="$label (as soon as it runs)"
    bb_log "--- trial $TRIAL: $fault $label"

    if [ "$pin" != unpinned ]; then
        read -r row < <(pin_row "$kind" "$pass")
        # shellcheck disable=SC2086
        lock_row $row
    fi
    bb_start_program -- "$NORVEL"
    nv_wait_main >/dev/null
    t0=$(now_ms)
    nv_start_run

    blocked=false
    [ "$pin" = unpinned ] || blocked=true
    pid=
    IFS='|' read -r pid state waiting wrote < <(sql -At -c "SELECT * FROM bb_wait_for($(pattern "$kind" "$pass"), $blocked, 120)") || true
    [ -n "$pid" ] || bb_fail "the program never reached: $label (now: $(bb_a11y windows 2>&1 | tr '\n\t' '; '))"
    if [ "$pin" = between ]; then
        kill -STOP "$BB_PROGRAM_PID"
        release_row
        bb_wait_until 60 eval "[ \"\$(sql -At -c 'SELECT state FROM pg_stat_activity WHERE pid = $pid')\" = 'idle in transaction' ]" ||
            bb_fail "the last statement did not end: $(session_now "$pid")"
    fi

    # Where the fault lands: read just before it; a killed program's statement goes on running on the
    # server until it ends, so there it is read just after.
    landed=
    [ "$pin" = unpinned ] && [ "$fault" = kill ] || landed=$(session_now "$pid")
    t_fault=$(now_ms)
    case $fault in
        # (The shell's report of the killed job is not wanted in the log.)
        kill) { kill -KILL "$BB_PROGRAM_PID"; bb_wait_program_exit 30; } 2>/dev/null || bb_fail "the killed program is still there" ;;
        cut) sql -At -c "SELECT pg_terminate_backend($pid)" >/dev/null ;;
        stop) bb_stop_private_pg ;;
    esac
    [ "$pin" = unpinned ] && [ "$fault" = kill ] && landed=$(session_now "$pid" || true)
    [ -n "$landed" ] || landed="(session gone)"
    [ "$wrote" = t ] && landed="$landed; the transaction had written"
    [ "$pin" = between ] && kill -CONT "$BB_PROGRAM_PID" 2>/dev/null || true
    release_row

    box=-
    case $fault in
        kill)
            bb_wait_until 120 session_gone "$pid" || bb_fail "the killed program's session is still on the server: $(session_now "$pid")"
            ;;
        cut|stop)
            nv_wait_box "$NV_ERROR_CAPTION" 120
            box=$(echo "$NV_BOX_TEXT" | head -n1)
            bb_log "error box: $(tr '\n' '/' <<<"$NV_BOX_TEXT")"
            bb_program_running || bb_fail "the program ended after the $fault"
            [ -z "$(bb_find_window "$NV_INFO_CAPTION")" ] || bb_fail "a run that failed said it was done"
            # The window as it was when the error came.
            [ -z "$(bb_a11y text "$NV_MAIN_TITLE" text "#1")" ] || bb_fail "the memo got lines from a failed run"
            nv_wait_state 5 "$NV_MAIN_TITLE" "progress bar" "#0" showing
            nv_wait_state 5 "$NV_MAIN_TITLE" "push button" "$NV_START" enabled
            nv_answer_box "$NV_ERROR_CAPTION"
            # Still answering: the check box still switches the start button.
            nv_click "$NV_MAIN_TITLE" "check box" "$NV_BACKUP"
            nv_wait_state 30 "$NV_MAIN_TITLE" "push button" "$NV_START" '!enabled'
            nv_only_windows "$NV_MAIN_TITLE"
            [ "$fault" = stop ] && bb_restart_private_pg
            nv_click "$NV_MAIN_TITLE" "push button" "$NV_CLOSE"
            bb_wait_program_exit 30 || bb_fail "the program did not end after 关闭"
            [ "$BB_PROGRAM_STATUS" = 0 ] || bb_fail "the program ended with status $BB_PROGRAM_STATUS after the $fault"
            [ "$fault" = cut ] && { bb_wait_until 60 session_gone "$pid" || bb_fail "the cut session is still there"; }
            ;;
    esac
    t_done=$(now_ms)

    after=$(checksum)
    local verdict=unchanged
    [ "$after" = "$BEFORE" ] || verdict=CHANGED
    RESULTS+=("$(printf '%-6s %-55s fault at %5d ms, settled %5d ms later; landed: %s; tables %s' \
        "$fault" "$label" $((t_fault - t0)) $((t_done - t_fault)) "$landed" "$verdict")")
    bb_log "${RESULTS[-1]}"
    [ "$box" = - ] || bb_log "  the box said: $box"
    [ "$verdict" = unchanged ] || bb_fail "after the $fault ($label) the tables are not as before: $after"
    sql -c "DROP TRIGGER IF EXISTS bb_pin ON lib_people" -c "DROP TRIGGER IF EXISTS bb_pin ON lib_jieshu" >/dev/null
    sql -c "VACUUM lib_people, lib_jieshu" >/dev/null
}

case $MODE in
    kill)
        trial cards "" unpinned kill
        trial settle "" pinned kill
        trial loans 2 pinned kill
        trial loans "" unpinned kill
        trial readers 4 pinned kill
        trial readers "" unpinned kill
        trial readers 8 between kill
        ;;
    cut)
        trial readers 3 pinned cut
        trial loans "" unpinned cut
        trial readers 7 between cut
        ;;
    stop)
        trial loans "" unpinned stop
        trial readers 2 pinned stop
        trial readers 6 between stop
        ;;
esac

if [ "$MODE" = kill ]; then
    # The run undisturbed: it changes the tables, and this is how long it takes.
    bb_start_program -- "$NORVEL"
    nv_wait_main >/dev/null
    t0=$(now_ms)
    nv_start_run
    nv_wait_box "$NV_INFO_CAPTION" 300
    t1=$(now_ms)
    [ "$NV_BOX_TEXT" = "$NV_FINISHED" ] || bb_fail "the whole run ended with '$NV_BOX_TEXT'"
    nv_answer_box "$NV_INFO_CAPTION"
    [ "$(checksum)" != "$BEFORE" ] || bb_fail "a whole run left the checksums as they were: they prove nothing"
    short=$(sql -At -c "SELECT count(*) FROM lib_people WHERE length(rtrim(pe_id)) < 9")
    bb_log "a whole run took $((t1 - t0)) ms (from the click to the final box) and changed the tables; $short readers left short (collisions)"
    nv_click "$NV_MAIN_TITLE" "push button" "$NV_CLOSE"
    bb_wait_program_exit 30 || bb_fail "the program did not end after 关闭"
fi

bb_log "summary ($N_READERS readers, $N_LOANS loans):"
for r in "${RESULTS[@]}"; do bb_log "  $r"; done
bb_log "passed: $TRIAL faults, tables unchanged after every one"

#!/usr/bin/env bash
# What a settings file cannot make the programs do, tried from outside on both of them (norvel on
# Qt's offscreen platform, which needs no display), each with only the environment given here:
#   a data source name that names a driver library loads nothing (a library that leaves a mark
#   when loaded), whether it comes from the settings or from norvel-pad's --dsn;
#   run by root, settings in a folder another user owns are refused before anything connects:
#   norvel-pad ends with status 1, norvel opens its dialog, both say which folder and how to mend it;
#   while they hold the password, neither process is dumpable: run by an unprivileged user and
#   caught in a login that never ends, their /proc entries belong to root, and SIGQUIT leaves no
#   core file (where the system writes core files into the working folder).
#
#   trust.sh --norvel PROGRAM --pad PROGRAM --marker LIBRARY
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

NORVEL=
PAD=
MARKER=
nv_options "--norvel PROGRAM --pad PROGRAM --marker LIBRARY" norvel pad marker -- "$@"
[ -x "$PAD" ] && [ -f "$MARKER" ] || bb_fail "usage: trust.sh --norvel PROGRAM --pad PROGRAM --marker LIBRARY"
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: the checks of root's settings and of another user's process need root"
    exit 77
fi

bb_init trust
bb_odbc_init
printf '\n[NorvelFreeTDS]\nDescription=FreeTDS\nDriver=%s/libtdsodbc.so\n' "$(odbc_driver_dir)" >>"$BB_ODBCSYSINI/odbcinst.ini"
bb_start_silent_server 300
# A SQL Server that never answers the login: the programs wait there, password in memory. A system
# data source: unixODBC ignores a user's data source file that the user may not write to.
SILENT_DSN="TdsSilent$$"
printf '\n[%s]\nDriver=NorvelFreeTDS\nServer=127.0.0.1\nPort=%s\nTDS_Version=7.4\n' "$SILENT_DSN" "$BB_SILENT_PORT" \
    >>"$BB_ODBCSYSINI/odbc.ini"
NOBODY_UID=$(id -u nobody)
NOBODY_GID=$(id -g nobody)
mkdir -p "$BB_DIR/home" "$BB_DIR/work"
chown nobody: "$BB_DIR/home" "$BB_DIR/work"
MARK="$BB_DIR/work/marker-loaded"

# start USER VAR=VALUE... -- PROGRAM ARG...: the program as USER (root or nobody) in $BB_DIR/work
# with core files allowed; $PID is the program's own process, its output in $BB_DIR/out and err.
start() {
    local user=$1 extra=() as=()
    shift
    while [ "$1" != -- ]; do extra+=("$1"); shift; done
    shift
    [ "$user" = root ] || as=(setpriv --reuid="$NOBODY_UID" --regid="$NOBODY_GID" --clear-groups)
    (
        cd "$BB_DIR/work"
        ulimit -c unlimited
        exec "${as[@]}" env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin HOME="$BB_DIR/home" LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen \
            XDG_CONFIG_DIRS="$BB_DIR/xdg-config" ODBCSYSINI="$BB_ODBCSYSINI" ODBCINI="$BB_ODBCINI" \
            NORVEL_MARKER_FILE="$MARK" "${extra[@]}" "$@"
    ) >"$BB_DIR/out" 2>"$BB_DIR/err" </dev/null &
    PID=$!
    BB_PIDS+=("$PID")
}

# finish SECONDS: waits for the program to end; its status in $STATUS (124 when it had to be stopped).
finish() {
    local end=$((SECONDS + $1))
    while kill -0 "$PID" 2>/dev/null && [ "$SECONDS" -lt "$end" ]; do sleep 0.1; done
    kill -0 "$PID" 2>/dev/null && kill -KILL "$PID" 2>/dev/null
    STATUS=0
    wait "$PID" 2>/dev/null || STATUS=$?
}

# has_line TEXT: standard error holds the text.
has_line() { grep -qF -- "$1" "$BB_DIR/err"; }

# --- A data source name that is a driver library ---------------------------------------------------
# The marker works: loading the library leaves the mark.
NORVEL_MARKER_FILE="$MARK" "$BB_PYTHON" -c 'import ctypes, sys; ctypes.CDLL(sys.argv[1])' "$MARKER"
[ -e "$MARK" ] || bb_fail "the marker library leaves no mark when loaded"
rm -f "$MARK"

bb_write_lib_settings "DRIVER=$MARKER" sa ""
REFUSED_NAME="数据源名称“DRIVER=$MARKER”"
start root -- "$PAD"
finish 60
[ "$STATUS" = 1 ] || bb_fail "norvel-pad with ODBCNAME=DRIVER=...: status $STATUS ($(cat "$BB_DIR/err"))"
has_line "$REFUSED_NAME" || bb_fail "norvel-pad did not say why: $(cat "$BB_DIR/err")"
[ ! -e "$MARK" ] || bb_fail "norvel-pad loaded the library the settings named"

start root NORVEL_PASSWORD=x -- "$PAD" --dsn "DRIVER=$MARKER" --user sa
finish 60
[ "$STATUS" = 1 ] || bb_fail "norvel-pad --dsn DRIVER=...: status $STATUS ($(cat "$BB_DIR/err"))"
has_line "$REFUSED_NAME" || bb_fail "norvel-pad --dsn did not say why: $(cat "$BB_DIR/err")"
[ ! -e "$MARK" ] || bb_fail "norvel-pad loaded the library --dsn named"

start root -- "$NORVEL"
bb_wait_until 30 has_line "norvel: refusing the connection settings: $REFUSED_NAME" ||
    bb_fail "norvel did not say why it refused the data source name: $(cat "$BB_DIR/err")"
kill -0 "$PID" 2>/dev/null || bb_fail "norvel ended instead of opening its dialog: $(cat "$BB_DIR/err")"
kill -TERM "$PID"
finish 10
[ ! -e "$MARK" ] || bb_fail "norvel loaded the library the settings named"
bb_log "a data source name naming a library: refused by both, nothing loaded"

# --- Root and a settings folder another user owns ---------------------------------------------------
bb_write_lib_settings "$SILENT_DSN" sa "s3cret"
chown nobody "$BB_CONFIG_DIRS/Kestavo"
accepted=$(bb_silent_accepted)
REFUSED_FILE="以root身份运行时不用设置文件$BB_CONFIG_DIRS/Kestavo/Lib.conf，因为root以外的用户可以改动它：$BB_CONFIG_DIRS/Kestavo属于用户nobody"
MEND="请执行chown root '$BB_CONFIG_DIRS/Kestavo'"
start root -- "$PAD"
finish 60
[ "$STATUS" = 1 ] || bb_fail "norvel-pad with settings another user may change: status $STATUS ($(cat "$BB_DIR/err"))"
has_line "$REFUSED_FILE" && has_line "$MEND" || bb_fail "norvel-pad did not say which folder and how to mend it: $(cat "$BB_DIR/err")"
start root -- "$NORVEL"
bb_wait_until 30 has_line "norvel: refusing the connection settings: $REFUSED_FILE" ||
    bb_fail "norvel did not say which folder it distrusts: $(cat "$BB_DIR/err")"
has_line "$MEND" || bb_fail "norvel did not say how to mend it: $(cat "$BB_DIR/err")"
kill -TERM "$PID"
finish 10
[ "$(bb_silent_accepted)" = "$accepted" ] || bb_fail "a program connected with settings it should have refused"
chown root "$BB_CONFIG_DIRS/Kestavo"
bb_log "settings in another user's folder: refused by both before connecting"

# --- Not dumpable while the password is in memory --------------------------------------------------
case $(cat /proc/sys/kernel/core_pattern) in
    '|'* | */*) CORES=no ;;   # cores go to a helper or a fixed folder: only the /proc check applies
    *) CORES=yes ;;
esac

# expect_dumpable yes|no NAME: the running process ($PID, an unprivileged user's) is dumpable or not,
# by the owner of its /proc entries (those of a process that is not dumpable belong to root);
# SIGQUIT then ends it, with or without a core file.
expect_dumpable() {
    local want=$1 name=$2 owner
    owner=$(stat -c %u "/proc/$PID/status")
    if [ "$want" = yes ]; then
        [ "$owner" = "$NOBODY_UID" ] || bb_fail "$name: /proc/$PID/status belongs to uid $owner, not to its user"
    else
        [ "$owner" = 0 ] || bb_fail "$name is dumpable while it holds the password (/proc/$PID/status belongs to uid $owner)"
    fi
    rm -f "$BB_DIR"/work/core*
    kill -QUIT "$PID"
    finish 30
    if [ "$CORES" = yes ]; then
        if [ "$want" = yes ]; then
            compgen -G "$BB_DIR/work/core*" >/dev/null || bb_fail "$name left no core file: the check cannot see core files here"
        else
            ! compgen -G "$BB_DIR/work/core*" >/dev/null || bb_fail "$name left a core file while holding the password"
        fi
    fi
    rm -f "$BB_DIR"/work/core*
}

# The check works: a process of the same user that did nothing about it is dumpable (bash reports
# its "Quit (core dumped)").
start nobody -- /bin/sleep 60
bb_wait_until 10 eval '[ "$(stat -c %u "/proc/$PID" 2>/dev/null)" = "$NOBODY_UID" ]' ||
    bb_fail "sleep did not start as nobody: /proc/$PID belongs to $(stat -c %u "/proc/$PID" 2>&1), $(grep -E '^(Name|State|Uid)' "/proc/$PID/status" 2>&1 | tr '\n\t' '  '), stderr: $(cat "$BB_DIR/err")"
expect_dumpable yes "sleep"

accepted=$(bb_silent_accepted)
start nobody NORVEL_PASSWORD=s3cret -- "$PAD" --dsn "$SILENT_DSN" --user sa
bb_wait_until 30 bb_silent_accepted_at_least $((accepted + 1)) || bb_fail "norvel-pad did not begin its login: $(cat "$BB_DIR/err")"
expect_dumpable no "norvel-pad"

accepted=$(bb_silent_accepted)
start nobody -- "$NORVEL"
bb_wait_until 30 bb_silent_accepted_at_least $((accepted + 1)) || bb_fail "norvel did not begin its login: $(cat "$BB_DIR/err")"
expect_dumpable no "norvel"
bb_log "both programs are not dumpable while they log in (core files checked: $CORES)"
echo "PASS"

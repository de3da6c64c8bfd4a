#!/usr/bin/env bash
# The window program's command line and its start without a display, from outside: every case runs
# the built program with only the environment it names (nothing of the machine's settings or data
# sources), and checks its exit status, its standard output and its standard error.
#   --help / -h and --version answer on standard output and end, with no display and also with a
#   display that does not exist (no Qt application object is made for them);
#   no display, or a display that cannot be opened: one line on standard error that says so and
#   names norvel-pad, status 1 (not Qt's abort);
#   an unknown option or an argument: one line naming the first of them, status 64, whatever else
#   is given;
#   a platform that needs no display (QT_QPA_PLATFORM=offscreen): the program goes on to its window.
#
#   options.sh --norvel PROGRAM --release VERSION
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
source "$(dirname "${BASH_SOURCE[0]}")/norvel.sh"

NORVEL=
RELEASE=
nv_options "--norvel PROGRAM --release VERSION" norvel release -- "$@"
[ -n "$RELEASE" ] || bb_fail "usage: options.sh --norvel PROGRAM --release VERSION"

bb_init options
mkdir -p "$BB_DIR/home" "$BB_DIR/xdg" "$BB_DIR/odbc"
: >"$BB_DIR/odbc/odbcinst.ini"
: >"$BB_DIR/odbc/odbc.ini"
BASE_ENV=(PATH=/usr/bin:/bin HOME="$BB_DIR/home" LANG=C.UTF-8 XDG_CONFIG_DIRS="$BB_DIR/xdg"
          ODBCSYSINI="$BB_DIR/odbc" ODBCINI="$BB_DIR/odbc/odbc.ini")

# run ENV_WORDS ARGS...: the program with the base environment plus ENV_WORDS (blank-separated
# VAR=VALUE, "-" for none); sets STATUS, OUT and ERR.
run() {
    local extra=() status=0
    [ "$1" = - ] || read -ra extra <<<"$1"
    shift
    env -i "${BASE_ENV[@]}" "${extra[@]}" timeout 20 "$NORVEL" "$@" \
        >"$BB_DIR/out" 2>"$BB_DIR/err" </dev/null || status=$?
    STATUS=$status
    OUT=$(cat "$BB_DIR/out")
    ERR=$(cat "$BB_DIR/err")
}

HELP_FIRST="用法: norvel [--help] [--version]"
NO_DISPLAY="norvel: 没有图形显示（DISPLAY和WAYLAND_DISPLAY都没有设置），无法打开窗口；在终端上请用norvel-pad"
cannot_open() { printf 'norvel: 无法打开图形显示“%s”，无法打开窗口；在终端上请用norvel-pad' "$1"; }

# environment | arguments | status | standard output: "=TEXT" exactly, "^TEXT" first line,
# "" empty | standard error, the same way
cases=(
    "-                              |--help            |0 |^$HELP_FIRST         |"
    "-                              |-h                |0 |^$HELP_FIRST         |"
    "DISPLAY=:97                    |--help            |0 |^$HELP_FIRST         |"
    "-                              |--version         |0 |=norvel $RELEASE    |"
    "DISPLAY=:97 QT_QPA_PLATFORM=xcb|--version         |0 |=norvel $RELEASE    |"
    "-                              |                  |1 |                     |=$NO_DISPLAY"
    "DISPLAY= WAYLAND_DISPLAY=      |                  |1 |                     |=$NO_DISPLAY"
    "-                              |--bogus           |64|                     |=norvel: 未知的选项--bogus（见norvel --help）"
    "-                              |--help --bogus    |64|                     |=norvel: 未知的选项--bogus（见norvel --help）"
    "DISPLAY=:97                    |--version=2       |64|                     |=norvel: 未知的选项--version=2（见norvel --help）"
    "-                              |library.db        |64|                     |=norvel: 多余的参数library.db（见norvel --help）"
    "-                              |library.db --bogus|64|                     |=norvel: 多余的参数library.db（见norvel --help）"
    "-                              |--bogus library.db|64|                     |=norvel: 未知的选项--bogus（见norvel --help）"
    "-                              |-help             |64|                     |=norvel: 未知的选项-help（见norvel --help）"
    "-                              |-hx               |64|                     |=norvel: 未知的选项-hx（见norvel --help）"
    "-                              |--help=yes        |64|                     |=norvel: 未知的选项--help=yes（见norvel --help）"
    "DISPLAY=:97                    |                  |1 |                     |=$(cannot_open :97)"
    "DISPLAY=:97 QT_QPA_PLATFORM=xcb|                  |1 |                     |=$(cannot_open :97)"
    "WAYLAND_DISPLAY=wayland-97     |                  |1 |                     |=$(cannot_open wayland-97)"
    "QT_QPA_PLATFORM=nosuchplatform |                  |1 |                     |=$(cannot_open QT_QPA_PLATFORM=nosuchplatform)"
)

# check WHAT ACTUAL EXPECTATION
check() {
    local what=$1 actual=$2 expect=$3
    case "$expect" in
        "") [ -z "$actual" ] || return 1 ;;
        =*) [ "$actual" = "${expect#=}" ] || return 1 ;;
        ^*) [ "$(head -n1 <<<"$actual")" = "${expect#^}" ] || return 1 ;;
    esac
}

trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; printf '%s' "${s%"${s##*[![:space:]]}"}"; }

for row in "${cases[@]}"; do
    IFS='|' read -r envs args status out err <<<"$row"
    envs=$(trim "$envs"); args=$(trim "$args"); status=$(trim "$status"); out=$(trim "$out"); err=$(trim "$err")
    read -ra argv <<<"$args"
    run "$envs" "${argv[@]}"
    label="norvel ${args:-(no arguments)} with ${envs/#-/no display}"
    [ "$STATUS" = "$status" ] || bb_fail "$label: status $STATUS, expected $status (stderr: $ERR)"
    check stdout "$OUT" "$out" || bb_fail "$label: standard output was: $OUT"
    check stderr "$ERR" "$err" || bb_fail "$label: standard error was: $ERR"
    bb_log "ok: $label: status $STATUS"
done

# The help names the settings file and the terminal command.
run - --help
grep -q '/etc/xdg/Kestavo/Lib.conf' <<<"$OUT" || bb_fail "the help does not name the settings file"
grep -q 'norvel-pad' <<<"$OUT" || bb_fail "the help does not name norvel-pad"

# An answer that cannot be written is a failure, not a silent success.
status=0
env -i "${BASE_ENV[@]}" "$NORVEL" --help >/dev/full 2>/dev/null || status=$?
[ "$status" = 1 ] || bb_fail "norvel --help >/dev/full: status $status, expected 1"

# On a platform that needs no display the program goes on to its window: nothing is said about a
# display. Qt's offscreen platform (with the settings dialog, as no data source answers) keeps
# running until stopped.
status=0
# (In a subshell whose own stderr is dropped: bash reports a program killed by a signal there.)
(env -i "${BASE_ENV[@]}" QT_QPA_PLATFORM=offscreen timeout 5 "$NORVEL" >"$BB_DIR/out" 2>"$BB_DIR/err" </dev/null; exit $?) 2>/dev/null \
    || status=$?
! grep -q 'norvel-pad' "$BB_DIR/err" || bb_fail "norvel offscreen said: $(cat "$BB_DIR/err")"
[ "$status" = 124 ] || bb_fail "norvel offscreen ended with status $status: $(cat "$BB_DIR/err")"
bb_log "ok: norvel with QT_QPA_PLATFORM=offscreen goes on to its window"
echo "PASS"

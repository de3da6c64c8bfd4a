#!/usr/bin/env bash
# The connection splash seen from outside: the built program under Xvfb (optionally with openbox),
# its data source pointing at a loopback server that accepts the connection and never answers, so
# the open blocks until the program's login timeout. While it blocks, the screen must show the
# splash fully drawn with the connecting text; afterwards the connection dialog is on screen and
# no splash window is left; the dialog carries the application icon.
#
#   splash.sh --norvel PROGRAM --flashgrab HELPER [--out DIR] [--wm] [--dpi DPI]
#
# --dpi sets the X server's Xft.dpi, from which Qt scales the program's windows: the splash must
# still cover exactly its 400 x 300 pixels and look the same.
#
# What "fully drawn" means is checked three ways on the screenshot of the splash's 400 x 300
# pixels: (1) it equals the offscreen rendering of the splash with the connecting text (HELPER
# writes it; offscreen and X server pixels are the same), (2) below the texts it equals the splash
# picture as ImageMagick decodes it, (3) the status line holds a good amount of blue text and the
# name navy text. A black, blank, half-painted or scaled window fails all three.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

NORVEL= FLASHGRAB= OUT= WM= DPI=
while [ $# -gt 0 ]; do
    case $1 in
        --norvel) NORVEL=$2; shift 2 ;;
        --flashgrab) FLASHGRAB=$2; shift 2 ;;
        --out) OUT=$2; shift 2 ;;
        --wm) WM=1; shift ;;
        --dpi) DPI=$2; shift 2 ;;
        *) echo "usage: $0 --norvel PROGRAM --flashgrab HELPER [--out DIR] [--wm] [--dpi DPI]" >&2; exit 2 ;;
    esac
done
[ -x "$NORVEL" ] && [ -x "$FLASHGRAB" ] || { echo "splash.sh: --norvel and --flashgrab must name the built programs" >&2; exit 2; }

SPLASH_TITLE="Kestavo"
DIALOG_TITLE="设置数据库【Lib】连接参数"
PICTURE="$BB_ROOT/gui/resources/splash.jpg"

bb_init splash
OUT=${OUT:-$BB_DIR/out}
rm -rf "$OUT"
mkdir -p "$OUT"
bb_log "screenshots go to $OUT"

# What the splash must look like, and its picture.
"$FLASHGRAB" "$OUT/expected.png" 2>"$BB_DIR/flashgrab.log" || bb_fail "no offscreen rendering: $(cat "$BB_DIR/flashgrab.log")"
"$BB_CONVERT" "$PICTURE" "$BB_DIR/picture.png"

bb_start_xvfb 1024x768x24
[ -n "$DPI" ] && bb_set_xft_dpi "$DPI"
[ -n "$WM" ] && bb_start_wm
bb_start_silent_server 600
bb_odbc_init
DSN="SplashSilent$$"
bb_add_pg_dsn "$DSN" 127.0.0.1 "$BB_SILENT_PORT"
bb_write_lib_settings "$DSN" sa ""

bb_start_program -- "$NORVEL"

# The connection reaching the server means the program is inside the blocking open: from now on
# it processes no window messages, and the screen shows what it drew before.
bb_wait_until 60 bb_silent_accepted_at_least 1 || bb_fail "the program never connected to the data source's server"
kill -0 "$BB_PROGRAM_PID" 2>/dev/null || bb_fail "the program ended"

SPLASH=$(bb_find_window "$SPLASH_TITLE")
[ -n "$SPLASH" ] || bb_fail "no splash window on screen while the connection opens"
bb_screenshot "$OUT/during.png"
# The screenshot only counts if it was taken while the open still blocked.
[ -z "$(bb_find_window "$DIALOG_TITLE")" ] || bb_fail "the open was over before the screenshot"

read -r X Y W H < <(bb_window_geometry "$SPLASH")
read -r SW SH < <(xdpyinfo | awk '/dimensions:/ { split($2, d, "x"); print d[1], d[2] }')
bb_log "splash window $SPLASH at $X,$Y size ${W}x$H on a ${SW}x$SH screen"
[ "$W" = 400 ] && [ "$H" = 300 ] || bb_fail "the splash is ${W}x$H, not 400x300"
[ "$X" = $(((SW - 400) / 2)) ] && [ "$Y" = $(((SH - 300) / 2)) ] || bb_fail "the splash is not centred: $X,$Y"

bb_crop "$OUT/during.png" "$X" "$Y" 400 300 "$OUT/splash.png"

# (1) As the splash renders itself, within a hair (anti-aliasing may differ by a step).
diff=$(bb_diff_pixels "$OUT/splash.png" "$OUT/expected.png" 2)
bb_log "pixels differing from the offscreen rendering: $diff"
[ "$diff" -le 40 ] || bb_fail "the splash on screen differs from its rendering in $diff pixels (see $OUT)"

# (2) The picture, 1:1 at 0,0, below the status line and the icon.
bb_crop "$OUT/splash.png" 0 90 400 210 "$BB_DIR/below.png"
bb_crop "$BB_DIR/picture.png" 0 90 400 210 "$BB_DIR/picture-below.png"
diff=$(bb_diff_pixels "$BB_DIR/below.png" "$BB_DIR/picture-below.png" 2)
bb_log "pixels differing from the picture: $diff"
[ "$diff" -le 40 ] || bb_fail "the splash does not show its picture ($diff pixels differ)"

# (3) The connecting text in blue at 16,56 (about 210 pixels of 15-pixel glyphs), the name in navy.
bb_crop "$OUT/splash.png" 16 50 260 30 "$BB_DIR/status.png"
bb_crop "$OUT/splash.png" 328 20 72 24 "$BB_DIR/name.png"
blue=$(bb_count_colour "$BB_DIR/status.png" '#0000ff' 20)
navy=$(bb_count_colour "$BB_DIR/name.png" '#000080' 15)
bb_log "blue text pixels: $blue, navy: $navy"
[ "$blue" -ge 400 ] || bb_fail "no status text on the splash ($blue blue pixels)"
[ "$navy" -ge 40 ] || bb_fail "no name on the splash ($navy navy pixels)"

# After the login timeout: the dialog, and no splash window at all (not merely hidden).
DIALOG=$(bb_wait_window "$DIALOG_TITLE" 120) || bb_fail "the connection dialog did not appear"
bb_screenshot "$OUT/after.png"
! bb_window_exists "$SPLASH_TITLE" || bb_fail "a splash window is left after start-up"
kill -0 "$BB_PROGRAM_PID" 2>/dev/null || bb_fail "the program ended"
bb_log "dialog $DIALOG on screen, splash gone"

# With a raised dpi the scaling must really be in force, or the splash's check above proves nothing:
# the dialog, by design wider than the splash, is then wider than the splash scaled would be.
if [ -n "$DPI" ]; then
    read -r _ _ DW _ < <(bb_window_geometry "$DIALOG")
    bb_log "the dialog is $DW pixels wide at $DPI dpi"
    [ "$DW" -ge $((400 * DPI / 96)) ] || bb_fail "the program's windows are not scaled at $DPI dpi"
fi

# The windows carry the application icon.
icons=$(bb_window_icon_sizes "$DIALOG")
bb_log "the dialog's icon sizes: ${icons:-none}"
[[ " $icons " == *" 32x32 "* ]] || bb_fail "the dialog has no application icon"

bb_log "passed"

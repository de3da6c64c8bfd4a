#!/usr/bin/env bash
# The Debian package: made from the build, installed on this machine with apt (its dependencies
# resolved), its files where a desktop expects them, and the installed /usr/bin/norvel started under
# Xvfb on a demo library until its main window shows. The package is removed again afterwards
# (unless it was installed before the test). Needs root.
#
#   package.sh --build BUILD_DIR
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

BUILD=
while [ $# -gt 0 ]; do
    case "$1" in
        --build) BUILD=$2; shift ;;
        *) bb_fail "unknown argument $1" ;;
    esac
    shift
done
[ -n "$BUILD" ] || bb_fail "usage: package.sh --build BUILD_DIR"
[ "$(id -u)" = 0 ] || bb_fail "installing a package needs root"

bb_init package
was_installed=0
dpkg-query -W -f='${Status}' norvel 2>/dev/null | grep -q 'install ok installed' && was_installed=1
remove_package() {
    if [ "$was_installed" = 0 ]; then
        DEBIAN_FRONTEND=noninteractive apt-get purge -y -qq norvel >/dev/null 2>&1 || true
    fi
    bb_cleanup
}
trap remove_package EXIT

# Make and inspect the package.
(cd "$BB_DIR" && cpack -G DEB --config "$BUILD/CPackConfig.cmake" -B "$BB_DIR/pkg" >"$BB_DIR/cpack.log" 2>&1) \
    || bb_fail "cpack failed: $(tail -n 20 "$BB_DIR/cpack.log")"
deb=$(ls "$BB_DIR"/pkg/norvel_*.deb)
bb_log "made $(basename "$deb")"
fields=$(dpkg-deb -f "$deb" Package Depends Recommends)
for dep in libqt6sql6-odbc unixodbc qt6-qpa-plugins fonts-wqy-microhei qt6-translations-l10n libjpeg62-turbo libqt6widgets6; do
    grep -q "$dep" <<<"$fields" || bb_fail "the package does not depend on $dep: $fields"
done
for rec in tdsodbc odbc-postgresql; do
    grep -q "Recommends:.*$rec" <<<"$fields" || bb_fail "the package does not recommend $rec"
done

# Install it as an administrator would, dependencies resolved by apt.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$BB_DIR/apt.log" 2>&1 \
    || bb_fail "apt-get install failed: $(tail -n 20 "$BB_DIR/apt.log")"
dpkg-query -W -f='${Status}' norvel | grep -q 'install ok installed' || bb_fail "norvel is not installed"
[ -x /usr/bin/norvel ] || bb_fail "/usr/bin/norvel is missing"
desktop=/usr/share/applications/norvel.desktop
grep -qx 'Exec=norvel' "$desktop" || bb_fail "the desktop entry does not start norvel"
grep -qx 'Name=Norvel' "$desktop" || bb_fail "the desktop entry has no Name"
grep -qx 'Name\[zh_CN\]=扩展借书证到统一长度' "$desktop" || bb_fail "the desktop entry has no Chinese name"
grep -qx 'Icon=norvel' "$desktop" || bb_fail "the desktop entry names no icon"
for size in 32 48 64 128 256; do
    [ -s "/usr/share/icons/hicolor/${size}x${size}/apps/norvel.png" ] || bb_fail "no ${size}px icon"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$desktop" || bb_fail "the desktop entry does not validate"
fi
bb_log "installed: /usr/bin/norvel, desktop entry, icons"

# Start the installed program on a demo library.
bb_start_xvfb
bb_odbc_init
sqlite3 "$BB_DIR/library.db" <"$BB_ROOT/scripts/demo/demo-library.sql"
printf '\n[LibODBC]\nDriver=%s/libsqlite3odbc.so\nDatabase=%s\n' "$(odbc_driver_dir)" "$BB_DIR/library.db" >>"$BB_ODBCINI"
bb_write_lib_settings LibODBC sa ""
bb_start_program -- /usr/bin/norvel
wid=$(bb_wait_window "扩展借书证到统一长度" 60) || bb_fail "the installed program did not open its main window"
[ -n "$(bb_window_icon_sizes "$wid")" ] || bb_fail "the main window has no icon"
bb_log "the installed program shows its main window ($(bb_window_geometry "$wid"))"
echo "PASS"

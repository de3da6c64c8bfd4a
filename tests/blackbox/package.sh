#!/usr/bin/env bash
# The Debian package: made from the build and checked with lintian (no errors; everything it says is
# kept in the log), its documentation (copyright in the machine-readable format with the project's
# licence text, changelog of this version, manual pages that man formats without a warning);
# installed on this machine with apt (its dependencies resolved), its files where a desktop expects
# them, both programs answering --version, and the installed /usr/bin/norvel started under Xvfb on a
# demo library with the package's example settings file, until its main window shows. Then removing
# and reinstalling keep the settings file the program wrote, and purging removes it (and its
# folder once empty). The package is removed again afterwards (unless it was installed before the
# test; then the purge is not tried). Needs root.
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
version=$(dpkg-deb -f "$deb" Version)
bb_log "made $(basename "$deb")"
fields=$(dpkg-deb -f "$deb" Package Depends Recommends)
for dep in libqt6sql6-odbc unixodbc qt6-qpa-plugins fonts-wqy-microhei qt6-translations-l10n libjpeg62-turbo libqt6widgets6; do
    grep -q "$dep" <<<"$fields" || bb_fail "the package does not depend on $dep: $fields"
done
for rec in tdsodbc odbc-postgresql; do
    grep -q "Recommends:.*$rec" <<<"$fields" || bb_fail "the package does not recommend $rec"
done

# lintian: an error fails the test; warnings and notes are logged.
lintian_status=0
lintian --fail-on error --display-info --pedantic "$deb" >"$BB_DIR/lintian.out" 2>&1 || lintian_status=$?
grep -v 'running with root privileges' "$BB_DIR/lintian.out" >"$BB_DIR/lintian.log" || true
[ "$lintian_status" = 0 ] && ! grep -q '^E: ' "$BB_DIR/lintian.log" \
    || bb_fail "lintian (status $lintian_status): $(cat "$BB_DIR/lintian.log")"
bb_log "lintian: no errors, $(grep -c '^W: ' "$BB_DIR/lintian.log" || true) warnings"
while read -r line; do bb_log "  $line"; done <"$BB_DIR/lintian.log"

# Its documentation, read from the package itself (a machine may be set to leave /usr/share/doc
# out when installing).
root="$BB_DIR/root"
dpkg-deb -x "$deb" "$root"
doc="$root/usr/share/doc/norvel"
head -n1 "$doc/copyright" | grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
    || bb_fail "the copyright file is not in the machine-readable format"
# The licence text in the copyright file is the project's LICENSE, word for word.
diff <(awk 'BEGIN { RS = "" } /^License: Expat\n/' "$doc/copyright" | sed -n '/^ /{s/^ //;s/^\.$//;p}') \
     <(sed -n '/^Permission is hereby granted/,$p' "$BB_ROOT/LICENSE") >"$BB_DIR/licence.diff" \
    || bb_fail "the licence text in the copyright file differs from LICENSE: $(cat "$BB_DIR/licence.diff")"
changelog_version=$(zcat "$doc/changelog.gz" | dpkg-parsechangelog -l - -S Version)
[ "$changelog_version" = "$version" ] \
    || bb_fail "the changelog's latest entry is for $changelog_version, the package is $version"
[ -s "$doc/README.md.gz" ] || bb_fail "no README in /usr/share/doc/norvel"
[ -s "$doc/examples/Lib.conf" ] || bb_fail "no example settings file"
for page in norvel norvel-pad; do
    file="$root/usr/share/man/man1/$page.1.gz"
    [ -s "$file" ] || bb_fail "no manual page $page(1)"
    LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$file" \
        >/dev/null 2>"$BB_DIR/man.log" || bb_fail "man cannot format $page(1): $(cat "$BB_DIR/man.log")"
    [ ! -s "$BB_DIR/man.log" ] || bb_fail "man warns about $page(1): $(cat "$BB_DIR/man.log")"
    zcat "$file" | grep -q "^\.TH .* \"norvel $version\"" || bb_fail "$page(1) is not the page of version $version"
done
bb_log "documentation: copyright, changelog $changelog_version, README, example settings, manual pages"

# Install it as an administrator would, dependencies resolved by apt.
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$deb" >"$BB_DIR/apt.log" 2>&1 \
    || bb_fail "apt-get install failed: $(tail -n 20 "$BB_DIR/apt.log")"
dpkg-query -W -f='${Status}' norvel | grep -q 'install ok installed' || bb_fail "norvel is not installed"
for program in norvel norvel-pad; do
    [ -x /usr/bin/$program ] || bb_fail "/usr/bin/$program is missing"
    answer=$(env -i NORVEL_JOURNAL_DIR="$BB_DIR/journal" PATH=/usr/bin:/bin /usr/bin/$program --version 2>&1) \
        || bb_fail "/usr/bin/$program --version failed: $answer"
    [ "$answer" = "$program $version" ] || bb_fail "/usr/bin/$program --version says: $answer"
done
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
[ "$(stat -c '%a %U' /var/lib/norvel/runs 2>/dev/null)" = "700 root" ] \
    || bb_fail "the journal folder /var/lib/norvel/runs is not root's with mode 0700: $(stat -c '%a %U' /var/lib/norvel/runs 2>&1)"
bb_log "installed: /usr/bin/norvel and /usr/bin/norvel-pad (both answer --version), desktop entry, icons, the journal folder"

# Start the installed program on a demo library, with the package's example settings file as the
# settings (its comments kept) and only the data source's name changed: a name the program would
# not use by itself, so the main window shows only if the file was read.
bb_start_xvfb
bb_odbc_init
sqlite3 "$BB_DIR/library.db" <"$BB_ROOT/scripts/demo/demo-library.sql"
dsn="PkgLib$$"
bb_add_sqlite_dsn "$dsn" "$BB_DIR/library.db"
BB_CONFIG_DIRS="$BB_DIR/xdg-config"
mkdir -p "$BB_CONFIG_DIRS/Kestavo"
sed "s/^ODBCNAME=LibODBC\$/ODBCNAME=$dsn/" "$doc/examples/Lib.conf" >"$BB_CONFIG_DIRS/Kestavo/Lib.conf"
grep -qx "ODBCNAME=$dsn" "$BB_CONFIG_DIRS/Kestavo/Lib.conf" || bb_fail "the example has no line ODBCNAME=LibODBC"
bb_start_program -- /usr/bin/norvel
wid=$(bb_wait_window "扩展借书证到统一长度" 60) || bb_fail "the installed program did not open its main window"
[ -n "$(bb_window_icon_sizes "$wid")" ] || bb_fail "the main window has no icon"
bb_log "the installed program shows its main window ($(bb_window_geometry "$wid")) with the example settings"

# Removing, reinstalling and purging, with the settings file the program's dialog writes.
if [ "$was_installed" = 1 ]; then
    bb_log "norvel was installed before the test: removing and purging it are not tried"
    echo "PASS"
    exit 0
fi
settings=/etc/xdg/Kestavo
if [ -e "$settings" ]; then
    # This machine's own settings are put back afterwards.
    mv "$settings" "$BB_DIR/saved-settings"
    bb_on_exit "rm -rf '$settings'; mv '$BB_DIR/saved-settings' '$settings'"
else
    bb_on_exit "rm -rf '$settings'"
fi
mkdir -p "$settings"
printf '[General]\nODBCNAME=%s\nUSERNAME=\nPASSWORD=\n' "$dsn" >"$settings/Lib.conf"
printf 'kept\n' >"$settings/Other.conf"
apt_quiet() { DEBIAN_FRONTEND=noninteractive apt-get "$@" -y -qq >"$BB_DIR/apt.log" 2>&1 || bb_fail "apt-get $*: $(tail -n 20 "$BB_DIR/apt.log")"; }
apt_quiet remove norvel
[ -f "$settings/Lib.conf" ] || bb_fail "removing the package removed the settings file"
apt_quiet install --no-install-recommends "$deb"
apt_quiet install --reinstall --no-install-recommends "$deb"
[ -f "$settings/Lib.conf" ] || bb_fail "reinstalling the package removed the settings file"
# Purged with another file beside it: the settings file goes, the folder and the other file stay;
# so does a record in the journal.
journal_record=/var/lib/norvel/runs/bb-package-$$.csv
printf 'a record\n' >"$journal_record"
bb_on_exit "rm -f '$journal_record'"
apt_quiet purge norvel
[ -f "$journal_record" ] || bb_fail "purging the package removed a record from the journal"
rm -f "$journal_record"
[ ! -e "$settings/Lib.conf" ] || bb_fail "purging the package left the settings file"
[ -f "$settings/Other.conf" ] || bb_fail "purging the package removed a file that is not its own"
# Purged alone in its folder: the folder goes too.
rm "$settings/Other.conf"
printf '[General]\nODBCNAME=%s\n' "$dsn" >"$settings/Lib.conf"
apt_quiet install --no-install-recommends "$deb"
apt_quiet purge norvel
[ ! -e "$settings" ] || bb_fail "purging the package left the empty folder $settings"
[ ! -e /var/lib/norvel ] || bb_fail "purging the package left the empty journal folder"
bb_log "remove and reinstall keep /etc/xdg/Kestavo/Lib.conf; purge removes it, and its folder when empty"
echo "PASS"

# Debian packages the project needs, by purpose. Sourced by the scripts in scripts/.

# norvel_report_failures: from here on, a command that stops the script (set -e) first says which
# command it was, where, and its status. Call it right after sourcing this file.
norvel_report_failures() {
    set -E
    trap 'norvel_failed $? "$BASH_COMMAND" "${BASH_SOURCE[0]:-$0}" "$LINENO"' ERR
}
norvel_failed() {
    echo "norvel: failed (status $1) at ${3#"${ROOT:-}/"} line $4: $2" >&2
}

# libxlsxwriter's pkg-config file asks for -lz, and its -dev package does not bring zlib's.
NORVEL_BUILD_PACKAGES=(g++ make cmake pkg-config qt6-base-dev libqt6sql6-odbc libjpeg62-turbo-dev unixodbc-dev
                       libxlsxwriter-dev zlib1g-dev)
NORVEL_RUN_PACKAGES=(libqt6sql6-odbc unixodbc odbc-postgresql libsqliteodbc tdsodbc fonts-wqy-microhei
                     qt6-translations-l10n qt6-qpa-plugins libgl1 libegl1 libxkbcommon-x11-0 sqlite3)
NORVEL_TEST_PACKAGES=(postgresql postgresql-client dpkg-dev file desktop-file-utils lintian xvfb xauth xdotool x11-utils x11-xserver-utils imagemagick
                      xclip openbox procps iproute2 dbus at-spi2-core python3 python3-pyatspi gir1.2-atspi-2.0
                      util-linux python3-openpyxl locales)

# install_packages PKG...: installs what is missing (no recommends), quietly; does nothing when
# everything is there already.
install_packages() {
    local missing=() p
    for p in "$@"; do
        [[ " ${missing[*]} " == *" $p "* ]] && continue
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "norvel: these Debian packages are missing and only root can install them: ${missing[*]}" >&2
        return 1
    fi
    echo "norvel: installing ${#missing[@]} Debian packages and what they need (a minute or two the first time): ${missing[*]}" >&2
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq >/dev/null
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The folder of the Debian ODBC drivers (multiarch).
odbc_driver_dir() {
    local f
    f=$(dpkg -L odbc-postgresql 2>/dev/null | grep '/psqlodbcw\.so$' | head -n1)
    if [ -n "$f" ]; then dirname "$f"; else echo "/usr/lib/$(gcc -dumpmachine 2>/dev/null || echo x86_64-linux-gnu)/odbc"; fi
}

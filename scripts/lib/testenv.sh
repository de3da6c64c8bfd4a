# A private test environment: a PostgreSQL server on loopback run as the postgres user on a free
# port, and private ODBC driver and data source files. Sourced by scripts/test (and bench/).
#
# testenv_start DIR   starts it under DIR and exports what the tests read:
#   ODBCSYSINI, ODBCINI            private unixODBC files (drivers NorvelPostgreSQL, NorvelSQLite, NorvelFreeTDS)
#   NORVEL_PG_HOST/PORT/USER/PASSWORD/DRIVER, NORVEL_PG_SOCKET, NORVEL_SQLITE_DRIVER, NORVEL_TEST_DIR
# testenv_stop        stops the server it started, by its data directory.

# The programs of the newest PostgreSQL installed; empty while there is none (this file is sourced
# before the packages are installed, so it must not fail then).
testenv_pg_bin() {
    local dirs
    dirs=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null) || true
    printf '%s\n' "$dirs" | sort -V | tail -n1
}
NORVEL_PG_BIN=${NORVEL_PG_BIN:-$(testenv_pg_bin)}

free_port() {
    local p
    for _ in $(seq 1 200); do
        p=$(( 20000 + RANDOM % 40000 ))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then echo "$p"; return 0; fi
    done
    return 1
}

testenv_start() {
    local dir=$1
    [ -n "$NORVEL_PG_BIN" ] || NORVEL_PG_BIN=$(testenv_pg_bin)
    if [ ! -x "$NORVEL_PG_BIN/initdb" ]; then
        echo "norvel: no PostgreSQL server programs in /usr/lib/postgresql/*/bin (the package postgresql is missing)" >&2
        return 1
    fi
    mkdir -p "$dir"
    NORVEL_TEST_DIR=$(cd "$dir" && pwd)
    export NORVEL_TEST_DIR
    chmod 755 "$NORVEL_TEST_DIR"
    local pgdata="$NORVEL_TEST_DIR/pgdata" sock="$NORVEL_TEST_DIR/pgsock" logs="$NORVEL_TEST_DIR/pglog"
    rm -rf "$pgdata" "$sock" "$logs"
    mkdir -p "$pgdata" "$sock" "$logs"
    chown postgres:postgres "$pgdata" "$sock" "$logs"
    chmod 700 "$pgdata"

    export NORVEL_PG_HOST=127.0.0.1 NORVEL_PG_USER=norvel NORVEL_PG_PASSWORD='norvel-test-pw'
    export NORVEL_PG_SOCKET="$sock" NORVEL_PG_DATA="$pgdata"
    local pwfile="$NORVEL_TEST_DIR/pgpw"
    echo "$NORVEL_PG_PASSWORD" >"$pwfile"; chown postgres "$pwfile"; chmod 600 "$pwfile"
    runuser -u postgres -- "$NORVEL_PG_BIN/initdb" -D "$pgdata" -U norvel --pwfile="$pwfile" \
        -E UTF8 --locale=C.UTF-8 -A scram-sha-256 >"$logs/initdb.log" 2>&1 \
        || { cat "$logs/initdb.log" >&2; return 1; }
    rm -f "$pwfile"
    # Stock settings but for the place it listens on; "sa" with an empty password is the program's
    # design login, let in without a password from loopback only.
    cat >"$pgdata/pg_hba.conf" <<HBA
local all all trust
host all sa 127.0.0.1/32 trust
host all all 127.0.0.1/32 scram-sha-256
HBA
    local attempt
    for attempt in 1 2 3 4 5; do
        NORVEL_PG_PORT=$(free_port)
        if runuser -u postgres -- "$NORVEL_PG_BIN/pg_ctl" -D "$pgdata" -l "$logs/postgresql.log" -w -t 60 \
            -o "-c listen_addresses=127.0.0.1 -c port=$NORVEL_PG_PORT -c unix_socket_directories=$sock" start >/dev/null; then
            break
        fi
        NORVEL_PG_PORT=
    done
    [ -n "$NORVEL_PG_PORT" ] || { echo "norvel: PostgreSQL did not start" >&2; tail -n 20 "$logs/postgresql.log" >&2; return 1; }
    export NORVEL_PG_PORT
    psql_admin -c "CREATE ROLE sa LOGIN SUPERUSER" >/dev/null

    local drivers; drivers=$(odbc_driver_dir)
    export ODBCSYSINI="$NORVEL_TEST_DIR/odbc" ODBCINI="$NORVEL_TEST_DIR/odbc/user-odbc.ini"
    export NORVEL_PG_DRIVER=NorvelPostgreSQL NORVEL_SQLITE_DRIVER=NorvelSQLite
    mkdir -p "$ODBCSYSINI"
    cat >"$ODBCSYSINI/odbcinst.ini" <<INI
[NorvelPostgreSQL]
Description=PostgreSQL (Unicode) for the tests
Driver=$drivers/psqlodbcw.so

[NorvelSQLite]
Description=SQLite 3 for the tests
Driver=$drivers/libsqlite3odbc.so

[NorvelFreeTDS]
Description=FreeTDS
Driver=$drivers/libtdsodbc.so
INI
    : >"$ODBCSYSINI/odbc.ini"
    : >"$ODBCINI"
}

# psql as the test superuser over the private socket.
psql_admin() {
    "$NORVEL_PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 -h "$NORVEL_PG_SOCKET" -p "$NORVEL_PG_PORT" -U norvel -d "${PGDATABASE:-postgres}" "$@"
}

testenv_stop() {
    [ -n "${NORVEL_PG_DATA:-}" ] && [ -f "$NORVEL_PG_DATA/postmaster.pid" ] || return 0
    runuser -u postgres -- "$NORVEL_PG_BIN/pg_ctl" -D "$NORVEL_PG_DATA" -m immediate -w stop >/dev/null 2>&1 || true
}

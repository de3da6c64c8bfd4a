# What the benchmark scripts share: psql on the private server of scripts/lib/testenv.sh, medians,
# table checksums, cheap copies of a template database, and the synthetic library. Source after
# testenv_start; ROOT is the project's top folder.

sql() { psql_admin -At -c "$1"; }
median() { sort -n | awk '{a[NR]=$1} END {print (NR % 2) ? a[(NR+1)/2] : int((a[NR/2] + a[NR/2+1]) / 2)}'; }
checksum() {
    PGDATABASE=$1 psql_admin -At -c "SELECT md5(string_agg(pe_id || '|' || coalesce(pe_passwd, '~'), ',' ORDER BY pe_id)) FROM lib_people" \
        -c "SELECT md5(string_agg(js_id || '|' || coalesce(js_libcard, '~'), ',' ORDER BY js_id)) FROM lib_jieshu" | tr '\n' ' '
}
copy_of() { sql "DROP DATABASE IF EXISTS $2" >/dev/null; sql "CREATE DATABASE $2 TEMPLATE $1 STRATEGY FILE_COPY" >/dev/null; sql "CHECKPOINT" >/dev/null; }
# A copy goes as soon as it is checked: autovacuum cleaning up after its run must not overlap the next run.
drop_copy() { sql "DROP DATABASE IF EXISTS $1 WITH (FORCE)" >/dev/null; }

generate() {   # template readers loans minlen
    echo "generating $1: $2 readers, $3 loans, card numbers from $4 digits ..."
    sql "CREATE DATABASE $1" >/dev/null
    PGDATABASE=$1 PGOPTIONS="$PGOPTIONS -c bench.readers=$2 -c bench.loans=$3" psql_admin -At -v minlen="$4" \
        -f "$ROOT/bench/generate-library.sql" | tail -n1 | awk -F'|' '{print "  made " $1 " readers (" $3 " shorter than 9), " $2 " loans"}'
}

# shellcheck shell=bash
# Helpers to run a private, disposable PostgreSQL server for demos and tests.
# Source this file, then:
#
#     pg_start_throwaway
#     trap pg_stop_throwaway EXIT
#     pg_psql -c 'CREATE DATABASE erp'
#
# pg_start_throwaway exports PGTMP_DIR (data, socket and log live there) and
# PGTMP_PORT (TCP port on 127.0.0.1; user "postgres", trust authentication).
# PostgreSQL refuses to run as root, so when called by root the server runs
# as the "postgres" system user.

# Prints the PostgreSQL server bin directory: $ZOR_PG_BINDIR when set,
# otherwise the newest /usr/lib/postgresql/*/bin that has initdb.
pg_bindir() {
    if [ -n "${ZOR_PG_BINDIR:-}" ]; then
        printf '%s\n' "$ZOR_PG_BINDIR"
        return 0
    fi
    local dir best=""
    while IFS= read -r dir; do
        if [ -x "$dir/initdb" ]; then
            best=$dir
        fi
    done < <(printf '%s\n' /usr/lib/postgresql/*/bin | sort -V)
    if [ -z "$best" ]; then
        echo "pg-throwaway: no PostgreSQL server found under /usr/lib/postgresql (run scripts/install-deps)" >&2
        return 1
    fi
    printf '%s\n' "$best"
}

# Runs a server-side command (initdb, pg_ctl) as the user owning the cluster,
# from inside the cluster directory so no foreign cwd gets in the way.
_pg_as_server() {
    if [ "$(id -u)" = 0 ]; then
        (cd "$PGTMP_DIR" && runuser -u postgres -- "$@")
    else
        (cd "$PGTMP_DIR" && "$@")
    fi
}

# True when something already accepts TCP connections on 127.0.0.1:$1.
_pg_port_busy() {
    local port=$1
    if command -v ss >/dev/null 2>&1; then
        if [ -n "$(ss -Hltn "sport = :$port" 2>/dev/null)" ]; then
            return 0
        fi
    fi
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null
}

# Prints a TCP port on 127.0.0.1 that is free right now.
_pg_free_port() {
    local port
    if command -v python3 >/dev/null 2>&1; then
        port=$(python3 -c '
import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])
s.close()' 2>/dev/null) || port=""
        if [ -n "$port" ] && ! _pg_port_busy "$port"; then
            printf '%s\n' "$port"
            return 0
        fi
    fi
    # Start at a random offset so concurrent callers rarely collide.
    local start=$((25432 + RANDOM % 2000)) i
    for ((i = 0; i < 2000; i++)); do
        port=$((start + i))
        if ! _pg_port_busy "$port"; then
            printf '%s\n' "$port"
            return 0
        fi
    done
    echo "pg-throwaway: no free TCP port found" >&2
    return 1
}

# Creates and starts the throwaway server; exports PGTMP_DIR and PGTMP_PORT.
pg_start_throwaway() {
    local bindir base
    bindir=$(pg_bindir) || return 1

    if [ "$(id -u)" = 0 ]; then
        if ! id postgres >/dev/null 2>&1; then
            echo "pg-throwaway: running as root but there is no 'postgres' user to run the server" >&2
            return 1
        fi
        # The postgres user must be able to reach the directory.
        base=/tmp
    else
        base=${TMPDIR:-/tmp}
    fi

    PGTMP_DIR=$(mktemp -d "$base/zorpg.XXXXXX") || return 1
    export PGTMP_DIR
    PGTMP_BINDIR=$bindir
    if [ "$(id -u)" = 0 ]; then
        chown postgres: "$PGTMP_DIR" || { pg_stop_throwaway; return 1; }
    fi

    if ! _pg_as_server "$bindir/initdb" -D "$PGTMP_DIR/data" -A trust -N -U postgres \
            -E UTF8 --locale=C.UTF-8 >"$PGTMP_DIR/initdb.log" 2>&1; then
        rm -rf "$PGTMP_DIR/data"
        if ! _pg_as_server "$bindir/initdb" -D "$PGTMP_DIR/data" -A trust -N -U postgres \
                -E UTF8 --no-locale >"$PGTMP_DIR/initdb.log" 2>&1; then
            echo "pg-throwaway: initdb failed:" >&2
            cat "$PGTMP_DIR/initdb.log" >&2
            pg_stop_throwaway
            return 1
        fi
    fi

    # Another process may grab the chosen port between the probe and the
    # server start, so try a few ports before giving up.
    local attempt port
    for attempt in 1 2 3 4 5; do
        port=$(_pg_free_port) || { pg_stop_throwaway; return 1; }
        if _pg_as_server "$bindir/pg_ctl" -D "$PGTMP_DIR/data" -w -t 60 \
                -l "$PGTMP_DIR/log" \
                -o "-F -k '$PGTMP_DIR' -p $port -c listen_addresses=127.0.0.1" \
                start >/dev/null 2>&1; then
            PGTMP_PORT=$port
            export PGTMP_PORT
            return 0
        fi
    done

    echo "pg-throwaway: could not start PostgreSQL; server log:" >&2
    cat "$PGTMP_DIR/log" >&2 2>/dev/null || true
    pg_stop_throwaway
    return 1
}

# Stops the throwaway server and deletes its directory. Safe to call twice
# and meant to be installed with: trap pg_stop_throwaway EXIT
pg_stop_throwaway() {
    if [ -n "${PGTMP_DIR:-}" ] && [ -d "$PGTMP_DIR" ]; then
        if [ -f "$PGTMP_DIR/data/postmaster.pid" ]; then
            _pg_as_server "${PGTMP_BINDIR:-$(pg_bindir)}/pg_ctl" -D "$PGTMP_DIR/data" \
                -m immediate -w -t 60 stop >/dev/null 2>&1 || true
        fi
        rm -rf "$PGTMP_DIR"
    fi
    unset PGTMP_DIR PGTMP_PORT PGTMP_BINDIR
    return 0
}

# psql connected to the throwaway server as "postgres"; stops at the first
# error. Extra arguments go to psql (e.g. -d erp -f file.sql).
pg_psql() {
    local psql
    if [ -x /usr/bin/psql ]; then
        psql=/usr/bin/psql
    elif command -v psql >/dev/null 2>&1; then
        psql=$(command -v psql)
    else
        psql="$(pg_bindir)/psql" || return 1
    fi
    "$psql" -X -q -v ON_ERROR_STOP=1 -h 127.0.0.1 -p "$PGTMP_PORT" -U postgres "$@"
}

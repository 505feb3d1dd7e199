#include "store/snapshot_push.h"

#include <algorithm>
#include <exception>

#include "cli/console.h"
#include "cli/run_config.h"
#include "store/pg.h"
#include "store/snapshot_schema.h"

namespace zor {

namespace {

const Value NULL_VALUE{};

// The value that fills column `column` (0..13): looked up by key, so the record's own entry order
// does not matter; the usual order is tried first.
const Value& value_for(const Record& record, std::size_t column) {
    const std::string_view key = COLUMN_KEYS[column];
    if (column < record.size() && record[column].key == key) return record[column].value;
    for (const Entry& e : record) {
        if (e.key == key) return e.value;
    }
    return NULL_VALUE;
}

// Writes the rows of one page into the upsert statement in place of its "%s".
void build_page(pg_conn* conn, std::string& statement, std::string_view head, std::string_view tail,
                const std::vector<Record>& rows, std::size_t start, std::size_t end,
                const std::string& timestamp_literal) {
    statement.clear();
    statement.reserve(head.size() + tail.size() + (end - start) * 400);
    statement += head;
    for (std::size_t i = start; i < end; ++i) {
        statement += i == start ? "(" : ", (";
        for (std::size_t c = 0; c < 14; ++c) {
            append_literal(conn, statement, value_for(rows[i], c));
            statement += ", ";
        }
        statement += timestamp_literal;
        statement += ')';
    }
    statement += tail;
}

// One INSERT ... ON CONFLICT statement per page, sent in list order, each after the previous one
// has succeeded; the next page's text is built while the server works on the current one. An
// error ends the batch: the pages before it stay written (autocommit), the ones after it are not
// sent.
void batch_upsert(pg_conn* conn, const std::string& insert_query, const std::vector<Record>& rows,
                  const std::string& timestamp_literal) {
    const auto placeholder = insert_query.find("%s");
    const std::string_view head(insert_query.data(), placeholder);
    const std::string_view tail(insert_query.data() + placeholder + 2, insert_query.size() - placeholder - 2);
    std::string current;
    std::string next;
    if (rows.empty()) return;
    build_page(conn, current, head, tail, rows, 0, std::min(rows.size(), PAGE_SIZE), timestamp_literal);
    for (std::size_t start = 0; start < rows.size(); start += PAGE_SIZE) {
        send_statement(conn, current);
        const std::size_t next_start = start + PAGE_SIZE;
        std::exception_ptr build_error;
        if (next_start < rows.size()) {
            try {
                build_page(conn, next, head, tail, rows, next_start, std::min(rows.size(), next_start + PAGE_SIZE),
                           timestamp_literal);
            } catch (const std::exception&) {
                build_error = std::current_exception();  // reported after the page in flight ends
            }
        }
        finish_statement(conn);
        if (build_error) std::rethrow_exception(build_error);
        std::swap(current, next);
    }
}

}  // namespace

std::string build_insert_query() {
    std::string columns;
    std::string updates;
    for (const Column& c : colunas_tabela) {
        if (!columns.empty()) columns += ", ";
        columns += c.name;
        if (c.name == "idCliente" || c.name == "dataCadastro" || c.name == "zorIdentification") continue;
        if (!updates.empty()) updates += ", ";
        updates += std::string(c.name) + " = EXCLUDED." + std::string(c.name);
    }
    return "\n        INSERT INTO zor_clientes (" + columns +
           ")\n        VALUES %s\n        ON CONFLICT (idCliente, dataCadastro, zorIdentification)\n        DO UPDATE SET\n        " +
           updates + ";\n    ";
}

void sendPostgresClientes(const std::vector<Record>& descoberta) {
    const RunConfig& cfg = run_config();
    Connection conn;
    try {
        conn = connect({cfg.postgres_ip, cfg.postgres_port, cfg.pg_db, cfg.pg_user, cfg.pg_password});
        say("Conectado ao PostgreSQL com sucesso.");
    } catch (const std::exception& e) {
        say(std::string("Erro ao conectar ao PostgreSQL: ") + e.what());
        return;
    }

    ensure_schema(conn.get());

    const DateTime timestamp_now = get_timestamp();
    std::string timestamp_literal;
    append_literal(conn.get(), timestamp_literal, timestamp_now);

    say("Enviando " + std::to_string(descoberta.size()) + " registros (Clientes) com UPSERT...");
    const std::string insert_query = build_insert_query();
    try {
        batch_upsert(conn.get(), insert_query, descoberta, timestamp_literal);
        say("UPSERT em zor_clientes concluído com sucesso!");
    } catch (const std::exception& e) {
        say(std::string("Erro durante UPSERT em zor_clientes: ") + e.what());
    }

    try {
        execute(conn.get(), std::string(RETENTION_STATEMENT));
        say("Registros antigos (mais de 1 dia) apagados.");
    } catch (const std::exception& e) {
        say(std::string("Erro ao apagar registros antigos: ") + e.what());
    }
}

}  // namespace zor

#include "store/snapshot_push.h"

#include <algorithm>
#include <exception>

#include "cli/console.h"
#include "cli/run_config.h"
#include "store/pg.h"
#include "store/snapshot_schema.h"

namespace zor {

namespace {

// Writes the rows of one page into the upsert statement in place of its "%s": `rows` records from
// `it` on, which is left at the record after them. The statement keeps its buffer from page to page.
void build_page(pg_conn* conn, Quoting quoting, std::string& statement, std::string_view head, std::string_view tail,
                RecordList::const_iterator& it, std::size_t rows, const std::string& timestamp_literal) {
    statement.clear();
    statement.reserve(head.size() + tail.size() + rows * 400);
    statement += head;
    for (std::size_t i = 0; i < rows; ++i, ++it) {
        statement += i == 0 ? "(" : ", (";
        for (const ValueView& value : *it) {
            append_literal(conn, quoting, statement, value);
            statement += ", ";
        }
        statement += timestamp_literal;
        statement += ')';
    }
    statement += tail;
}

// One INSERT ... ON CONFLICT statement per page, sent in list order, each after the previous one
// has succeeded; the next page's text is built while the server works on the current one (libpq
// holds its own copy of a statement once sent). An error ends the batch: the pages before it stay
// written (autocommit), the ones after it are not sent.
void batch_upsert(pg_conn* conn, const std::string& insert_query, const RecordList& rows,
                  const std::string& timestamp_literal) {
    const auto placeholder = insert_query.find("%s");
    const std::string_view head(insert_query.data(), placeholder);
    const std::string_view tail(insert_query.data() + placeholder + 2, insert_query.size() - placeholder - 2);
    if (rows.empty()) return;
    const Quoting quoting = text_quoting(conn);
    std::string page;
    RecordList::const_iterator it = rows.begin();
    build_page(conn, quoting, page, head, tail, it, std::min(rows.size(), PAGE_SIZE), timestamp_literal);
    for (std::size_t start = 0; start < rows.size(); start += PAGE_SIZE) {
        send_statement(conn, page);
        const std::size_t next_start = start + PAGE_SIZE;
        std::exception_ptr build_error;
        if (next_start < rows.size()) {
            try {
                build_page(conn, quoting, page, head, tail, it, std::min(rows.size() - next_start, PAGE_SIZE),
                           timestamp_literal);
            } catch (const std::exception&) {
                build_error = std::current_exception();  // reported after the page in flight ends
            }
        }
        finish_statement(conn);
        if (build_error) std::rethrow_exception(build_error);
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
    RecordList packed;
    for (const Record& record : descoberta) append_entries(packed, record);
    sendPostgresClientes(packed);
}

void sendPostgresClientes(const RecordList& descoberta) {
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

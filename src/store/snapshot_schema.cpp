#include "store/snapshot_schema.h"

#include <algorithm>
#include <cctype>
#include <set>

#include "cli/console.h"
#include "store/pg.h"

namespace zor {

const std::string COLUMNS_QUERY =
    "\n            SELECT column_name FROM information_schema.columns WHERE table_name = 'zor_clientes';\n        ";

std::string create_table_statement(bool nulls_not_distinct) {
    std::string colunas_sql;
    for (const Column& c : colunas_tabela) {
        if (!colunas_sql.empty()) colunas_sql += ", ";
        colunas_sql += c.name;
        colunas_sql += ' ';
        colunas_sql += c.type;
    }
    return "\n            CREATE TABLE IF NOT EXISTS zor_clientes (\n                " + colunas_sql +
           ",\n                UNIQUE " + (nulls_not_distinct ? "NULLS NOT DISTINCT " : "") +
           "(idCliente, dataCadastro, zorIdentification)\n            );\n        ";
}

void ensure_schema(pg_conn* conn) {
    // Each operation is guarded on its own: ordinary errors are printed and the step goes on.
    // A TimeoutException is not one of them and ends the run.
    // CREATE TABLE IF NOT EXISTS needs the CREATE right on the schema even when the table is
    // there, so a store user with rights on the table alone would see an error on every run: the
    // statement is only sent when the table is missing (or when that cannot be told).
    bool exists = false;
    try {
        const std::vector<Row> rows = query(conn, "SELECT to_regclass('zor_clientes') IS NOT NULL;");
        exists = rows.size() == 1 && rows[0].size() == 1 && rows[0][0] == Value{std::string("t")};
    } catch (const std::exception&) {
        exists = false;
    }
    if (!exists) {
        try {
            execute(conn, create_table_statement(server_version(conn) >= 150000));
        } catch (const std::exception& e) {
            say(std::string("Erro ao criar tabela zor_clientes: ") + e.what());
        }
    }

    std::set<std::string> colunas_existentes;
    try {
        for (const Row& row : query(conn, COLUMNS_QUERY)) {
            if (const auto* name = std::get_if<std::string>(&row.at(0))) colunas_existentes.insert(*name);
        }
    } catch (const std::exception& e) {
        say(std::string("Erro ao consultar colunas da tabela zor_clientes: ") + e.what());
        colunas_existentes.clear();
    }

    for (const Column& c : colunas_tabela) {
        std::string lower(c.name);
        std::transform(lower.begin(), lower.end(), lower.begin(),
                       [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
        if (colunas_existentes.count(lower) != 0) continue;
        const std::string name(c.name);
        try {
            execute(conn, "ALTER TABLE zor_clientes ADD COLUMN " + name + " " + std::string(c.type) + ";");
            say("Coluna '" + name + "' adicionada à tabela zor_clientes.");
        } catch (const std::exception& e) {
            say("Erro ao adicionar coluna '" + name + "': " + e.what());
        }
    }
}

}  // namespace zor

#include "store/snapshot_schema.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "store/pg.h"

namespace zor {

namespace {

// The btree indexes of the table that the unqualified statements reach, one row per index with
// the lower-case names of its key columns joined by "," (one row with NULL when it has none), and
// whether the store user may create indexes on it: CREATE INDEX needs ownership of the table (not
// only rights on it) and the CREATE right on its schema, where the index goes. No row when there
// is no such table. Partial indexes and indexes left invalid by a failed build do not count.
const std::string INDEXES_QUERY =
    "SELECT pg_has_role(c.relowner, 'USAGE') AND has_schema_privilege(c.relnamespace, 'CREATE'), k.colunas "
    "FROM pg_class c "
    "LEFT JOIN LATERAL (SELECT (SELECT string_agg(coalesce(a.attname, '?'), ',' ORDER BY o.n) "
    "FROM unnest(i.indkey::int2[]) WITH ORDINALITY AS o(attnum, n) "
    "LEFT JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = o.attnum) AS colunas "
    "FROM pg_index i JOIN pg_class ic ON ic.oid = i.indexrelid JOIN pg_am am ON am.oid = ic.relam "
    "WHERE i.indrelid = c.oid AND i.indisvalid AND i.indpred IS NULL AND am.amname = 'btree') AS k ON true "
    "WHERE c.oid = to_regclass('zor_clientes') AND c.relkind = 'r';";

struct IndexState {
    bool table = false;
    bool may_create = false;
    std::vector<std::string> key_columns;  // of each index, as INDEXES_QUERY gives them
};

std::string lower_case(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    return lower;
}

// What the catalogue says about the table's indexes; nothing when it cannot be read.
std::optional<IndexState> read_indexes(pg_conn* conn) {
    try {
        IndexState state;
        for (const Row& row : query(conn, INDEXES_QUERY)) {
            state.table = true;
            state.may_create = row.at(0) == Value{std::string("t")};
            if (const auto* columns = std::get_if<std::string>(&row.at(1))) state.key_columns.push_back(*columns);
        }
        return state;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// True when some index of the table begins with the key columns of `index`, so it serves the same
// statements.
bool served(const IndexState& state, const Index& index) {
    std::string wanted;
    for (char ch : lower_case(index.columns)) {
        if (ch != ' ') wanted += ch;
    }
    for (const std::string& columns : state.key_columns) {
        if (columns == wanted || columns.rfind(wanted + ",", 0) == 0) return true;
    }
    return false;
}

// Gives the table the indexes it lacks. A table that the store user may not index (another role
// owns it, or the user may not create in its schema) is left as it is, without a message and
// without a statement that would fail on every run: the runs go on as before, only slower.
void ensure_indexes(pg_conn* conn, bool created) {
    std::optional<IndexState> state = read_indexes(conn);
    if (!state) {
        if (!created) return;
        state = IndexState{true, true, {}};
    }
    if (!state->table || !state->may_create) return;
    for (const Index& index : indices_tabela) {
        if (served(*state, index)) continue;
        try {
            execute(conn, create_index_statement(index));
        } catch (const std::exception& e) {
            // Runs that share the store may create the same index at the same moment: the one
            // that loses the race gets a duplicate-name error although the index is there.
            const std::optional<IndexState> now = read_indexes(conn);
            if (now && served(*now, index)) continue;
            say("Erro ao criar índice " + std::string(index.name) + ": " + e.what());
        }
    }
}

}  // namespace

std::string create_index_statement(const Index& index) {
    return "CREATE INDEX IF NOT EXISTS " + std::string(index.name) + " ON zor_clientes (" +
           std::string(index.columns) + ");";
}

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
    bool created = false;
    if (!exists) {
        try {
            execute(conn, create_table_statement(server_version(conn) >= 150000));
            created = true;
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
        if (colunas_existentes.count(lower_case(c.name)) != 0) continue;
        const std::string name(c.name);
        try {
            execute(conn, "ALTER TABLE zor_clientes ADD COLUMN " + name + " " + std::string(c.type) + ";");
            say("Coluna '" + name + "' adicionada à tabela zor_clientes.");
        } catch (const std::exception& e) {
            say("Erro ao adicionar coluna '" + name + "': " + e.what());
        }
    }

    // After the migration, so that the indexed columns exist on an older table.
    ensure_indexes(conn, created);
}

}  // namespace zor

// The schema step of the snapshot store against a real PostgreSQL: creation of zor_clientes,
// migration of narrower tables and the messages of every failure.

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "process_library/process_library.h"
#include "store/pg.h"
#include "store/snapshot_schema.h"
#include "support.h"

using namespace zor_test;

namespace {

// Every column as the catalogue reports it, in table order.
const std::string FULL_LAYOUT =
    "idcliente integer, razaosocial text, cpfcnpj text, valordivida double precision, titulosdivida integer, "
    "contatocliente text, primeirovencimento timestamp without time zone, diasatraso integer, cidade text, "
    "pop text, bairro text, datacadastro timestamp without time zone, "
    "datacriacaotitulo timestamp without time zone, zoridentification text, "
    "timestamp timestamp without time zone";

zor::Connection open_store(const std::string& db, const std::string& user = "", const std::string& password = "") {
    const Cluster& c = cluster();
    return zor::connect({"127.0.0.1", c.port, db, user.empty() ? c.user : user, user.empty() ? c.password : password});
}

// Runs the schema step and returns what it printed.
std::string schema_step(pg_conn* conn) {
    return captured_stdout([&] { zor::ensure_schema(conn); });
}

std::string schema_step_on(const std::string& db) {
    zor::Connection conn = open_store(db);
    return schema_step(conn.get());
}

// "name type, ..." of zor_clientes in the given schema, in column order.
std::string layout(const std::string& db, const std::string& schema = "public") {
    return query_value(db,
                       "SELECT string_agg(column_name || ' ' || data_type, ', ' ORDER BY ordinal_position) "
                       "FROM information_schema.columns WHERE table_schema = '" +
                           schema + "' AND table_name = 'zor_clientes'");
}

// Each constraint of public.zor_clientes as "kind nulls-not-distinct column,column,...".
std::vector<TextRow> constraints(const std::string& db) {
    return query_sql(db,
                     "SELECT c.contype::text || ' ' || i.indnullsnotdistinct::text || ' ' || "
                     "(SELECT string_agg(a.attname, ',' ORDER BY k.n) "
                     "   FROM unnest(i.indkey::int2[]) WITH ORDINALITY k(attnum, n) "
                     "   JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum) "
                     "FROM pg_constraint c LEFT JOIN pg_index i ON i.indexrelid = c.conindid "
                     "WHERE c.conrelid = 'public.zor_clientes'::regclass ORDER BY c.conname");
}

// Each index of public.zor_clientes other than the row key, as "name: column,column", by name.
std::vector<TextRow> added_indexes(const std::string& db) {
    return query_sql(db,
                     "SELECT ic.relname || ': ' || (SELECT string_agg(a.attname, ',' ORDER BY k.n) "
                     "   FROM unnest(i.indkey::int2[]) WITH ORDINALITY k(attnum, n) "
                     "   JOIN pg_attribute a ON a.attrelid = i.indrelid AND a.attnum = k.attnum) "
                     "FROM pg_index i JOIN pg_class ic ON ic.oid = i.indexrelid "
                     "WHERE i.indrelid = 'public.zor_clientes'::regclass AND NOT i.indisunique ORDER BY ic.relname");
}

const std::vector<TextRow> BOTH_INDEXES{{"zor_clientes_timestamp_idx: timestamp"},
                                        {"zor_clientes_zoridentification_timestamp_idx: zoridentification,timestamp"}};

// Errors that the server of this test process has logged so far. The server writes an error to
// its log before it answers, and nothing else uses this cluster while a test runs.
int server_errors() {
    std::ifstream log(cluster().dir + "/log");
    int count = 0;
    for (std::string line; std::getline(log, line);) {
        if (line.find("ERROR:") != std::string::npos) ++count;
    }
    return count;
}

// The complete table as an earlier version created it: the row key and no other index.
const std::string COMPLETE_TABLE =
    "CREATE TABLE zor_clientes (idCliente INT, razaoSocial TEXT, cpfCnpj TEXT, valorDivida DOUBLE PRECISION, "
    "titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, diasAtraso INT, cidade TEXT, "
    "pop TEXT, bairro TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, zorIdentification TEXT, "
    "timestamp TIMESTAMP, UNIQUE (idCliente, dataCadastro, zorIdentification));";

// The lines the schema step starts its messages with; error texts may continue on further lines.
bool opens_message(std::string_view line) {
    for (std::string_view start : {"Erro ao criar tabela zor_clientes: ", "Erro ao consultar colunas da tabela zor_clientes: ",
                                   "Erro ao adicionar coluna '", "Coluna '", "Erro ao criar índice "}) {
        if (line.substr(0, start.size()) == start) return true;
    }
    return false;
}

std::vector<std::string> messages(const std::string& out) {
    std::vector<std::string> result;
    std::size_t pos = 0;
    while (pos < out.size()) {
        std::size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(pos, end - pos);
        if (result.empty() || opens_message(line)) {
            result.push_back(line);
        } else {
            result.back() += "\n" + line;
        }
        pos = end + 1;
    }
    return result;
}

// A printed message: exactly `start` when `fragment` is empty, else `start` then an error text
// holding `fragment`.
struct Expected {
    std::string start;
    std::string fragment;
};

void expect_messages(const std::string& out, const std::vector<Expected>& expected) {
    SCOPED_TRACE("printed:\n" + out);
    ASSERT_TRUE(out.empty() || out.back() == '\n');
    const std::vector<std::string> got = messages(out);
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE("message " + std::to_string(i + 1));
        if (expected[i].fragment.empty()) {
            EXPECT_EQ(got[i], expected[i].start);
        } else {
            EXPECT_EQ(got[i].substr(0, expected[i].start.size()), expected[i].start);
            EXPECT_NE(got[i].find(expected[i].fragment, expected[i].start.size()), std::string::npos);
        }
    }
}

std::string added(std::string_view column) {
    return "Coluna '" + std::string(column) + "' adicionada à tabela zor_clientes.";
}

// A login role of its own for one test; roles belong to the whole cluster.
std::string create_role(const std::string& db) {
    const std::string role = "papel_" + db;
    exec_sql("postgres", "CREATE ROLE " + role + " LOGIN PASSWORD 'senha do papel'");
    return role;
}

}  // namespace

TEST(SnapshotSchema, EmptyStoreGetsTheFullTableWithItsRowKeySilently) {
    const std::string db = create_database("schema");
    EXPECT_EQ(schema_step_on(db), "");

    EXPECT_EQ(layout(db), FULL_LAYOUT);
    EXPECT_EQ(query_value(db, "SELECT count(*) FROM information_schema.columns WHERE table_name = 'zor_clientes' "
                              "AND (is_nullable <> 'YES' OR column_default IS NOT NULL)"),
              "0");
    // One constraint: the row key, whose NULLs match each other.
    EXPECT_EQ(constraints(db), (std::vector<TextRow>{{"u true idcliente,datacadastro,zoridentification"}}));
    // Besides the row key, the indexes of the retention and of the read of one host.
    EXPECT_EQ(added_indexes(db), BOTH_INDEXES);
    EXPECT_EQ(query_value(db, "SELECT count(*) FROM pg_index WHERE indrelid = 'public.zor_clientes'::regclass"), "3");

    // A second run finds the table complete: nothing printed, nothing changed, nothing failed.
    const int errors = server_errors();
    EXPECT_EQ(schema_step_on(db), "");
    EXPECT_EQ(layout(db), FULL_LAYOUT);
    EXPECT_EQ(constraints(db).size(), 1u);
    EXPECT_EQ(added_indexes(db), BOTH_INDEXES);
    EXPECT_EQ(server_errors(), errors);
}

TEST(SnapshotSchema, ExistingTableGainsTheMissingIndexesOnlyWhenItsUserMayCreateThem) {
    struct Case {
        const char* name;
        std::string setup;  // after the superuser has made the table; $papel stands for the test's role
        bool as_role;       // the store user is that role (else the superuser)
        std::vector<TextRow> indexes;
    };
    const std::string GRANTS = "GRANT SELECT, INSERT, UPDATE, DELETE ON zor_clientes TO $papel;";
    const std::string SCHEMA_RIGHT = "GRANT CREATE ON SCHEMA public TO $papel;";
    const Case cases[] = {
        {"superuser", "", false, BOTH_INDEXES},
        {"owner", "ALTER TABLE zor_clientes OWNER TO $papel;" + SCHEMA_RIGHT, true, BOTH_INDEXES},
        {"member of the owning role",
         "CREATE ROLE $papel_dono; ALTER TABLE zor_clientes OWNER TO $papel_dono; GRANT $papel_dono TO $papel;" +
             SCHEMA_RIGHT,
         true, BOTH_INDEXES},
        // CREATE INDEX needs ownership: rights on the table are not enough, and nothing is tried.
        {"rights on the table, not its owner", GRANTS + SCHEMA_RIGHT, true, {}},
        {"member of the owning role without inheriting its rights",
         "CREATE ROLE $papel_dono; ALTER TABLE zor_clientes OWNER TO $papel_dono; ALTER ROLE $papel NOINHERIT; "
         "GRANT $papel_dono TO $papel; " +
             GRANTS + SCHEMA_RIGHT,
         true, {}},
        // The index goes into the table's schema.
        {"owner without the CREATE right on the schema", "ALTER TABLE zor_clientes OWNER TO $papel;", true, {}},
        {"an index of another name that begins with the same columns counts",
         "CREATE INDEX do_dba ON zor_clientes (zorIdentification, timestamp, idCliente);", false,
         {{"do_dba: zoridentification,timestamp,idcliente"}, {"zor_clientes_timestamp_idx: timestamp"}}},
        {"a partial index, or one with the columns the other way round, does not",
         "CREATE INDEX parcial ON zor_clientes (timestamp) WHERE idCliente > 100; "
         "CREATE INDEX invertido ON zor_clientes (timestamp, zorIdentification);",
         false, {{"invertido: timestamp,zoridentification"}, {"parcial: timestamp"}, BOTH_INDEXES[1]}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string db = create_database("schema");
        const std::string role = create_role(db);
        std::string setup = c.setup;
        for (std::size_t at; (at = setup.find("$papel")) != std::string::npos;) setup.replace(at, 6, role);
        exec_sql(db, COMPLETE_TABLE + "INSERT INTO zor_clientes (idCliente, timestamp) VALUES (1, LOCALTIMESTAMP);" + setup);
        zor::Connection conn = c.as_role ? open_store(db, role, "senha do papel") : open_store(db);

        // Twice: the second run is the common one, with the table as the first left it.
        for (int run = 1; run <= 2; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            const int errors = server_errors();
            EXPECT_EQ(schema_step(conn.get()), "");
            EXPECT_EQ(server_errors(), errors);
            EXPECT_EQ(added_indexes(db), c.indexes);
        }
        EXPECT_EQ(layout(db), FULL_LAYOUT);
        EXPECT_EQ(query_value(db, "SELECT count(*) FROM zor_clientes"), "1");
    }
}

TEST(SnapshotSchema, OperatorsGuideGivesTheStatementsThatTheRunsSend) {
    const std::string guide = source_file("docs/operators.md");
    for (const zor::Index& index : zor::indices_tabela) {
        EXPECT_NE(guide.find(zor::create_index_statement(index)), std::string::npos) << index.name;
    }
}

TEST(SnapshotSchema, StoreUserWhoDoesNotOwnTheTableRunsExactlyAsBefore) {
    const std::string erp = create_erp_database();
    load_many_clients(erp, 3);
    const std::string db = create_database("schema");
    const std::string role = create_role(db);
    exec_sql(db, COMPLETE_TABLE + "GRANT SELECT, INSERT, UPDATE, DELETE ON zor_clientes TO " + role + ";");
    std::vector<std::string> params = discovery_args(erp, db, "loja");
    params[11] = role;
    params[12] = "senha do papel";

    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const int errors = server_errors();
        const ProcessResult r = run_process(with_program(params));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out,
                  "Conectado ao PostgreSQL com sucesso.\n"
                  "Enviando 3 registros (Clientes) com UPSERT...\n"
                  "UPSERT em zor_clientes concluído com sucesso!\n"
                  "Registros antigos (mais de 1 dia) apagados.\n"
                  "OK\n");
        EXPECT_EQ(server_errors(), errors);
    }
    EXPECT_EQ(query_value(db, "SELECT count(*) || ' ' || count(DISTINCT timestamp) FROM zor_clientes "
                              "WHERE zoridentification = 'loja'"),
              "3 1");
    EXPECT_TRUE(added_indexes(db).empty());
}

TEST(SnapshotSchema, IndexThatCannotBeBuiltIsReportedAndTheStepGoesOn) {
    const std::string db = create_database("schema");
    const std::string role = create_role(db);
    exec_sql(db, COMPLETE_TABLE + "ALTER TABLE zor_clientes OWNER TO " + role + "; GRANT CREATE ON SCHEMA public TO " +
                     role + "; ALTER ROLE " + role + " SET lock_timeout = '200ms';");
    // A write in progress in another session keeps CREATE INDEX waiting past the lock time-out.
    zor::Connection writer = open_store(db);
    zor::execute(writer.get(), "BEGIN; INSERT INTO zor_clientes (idCliente) VALUES (1);");
    zor::Connection conn = open_store(db, role, "senha do papel");

    expect_messages(schema_step(conn.get()),
                    {{"Erro ao criar índice zor_clientes_timestamp_idx: ", "lock timeout"},
                     {"Erro ao criar índice zor_clientes_zoridentification_timestamp_idx: ", "lock timeout"}});
    EXPECT_EQ(zor::query(conn.get(), "SELECT 1").size(), 1u);

    // Once the write is over, the next run builds them.
    zor::execute(writer.get(), "COMMIT;");
    EXPECT_EQ(schema_step(conn.get()), "");
    EXPECT_EQ(added_indexes(db), BOTH_INDEXES);
}

TEST(SnapshotSchema, RunsThatBuildTheSameIndexAtOnceStaySilent) {
    const std::string db = create_database("schema");
    // Enough rows that the first build is still going when the second checks for the index name.
    exec_sql(db, COMPLETE_TABLE + "INSERT INTO zor_clientes (idCliente, zorIdentification, timestamp) "
                                  "SELECT i, 'loja', LOCALTIMESTAMP - i * INTERVAL '1 second' "
                                  "FROM generate_series(1, 300000) AS i;");
    // Both runs wait behind a write in progress, then build at the same moment when it ends.
    zor::Connection writer = open_store(db);
    zor::execute(writer.get(), "BEGIN; INSERT INTO zor_clientes (idCliente) VALUES (1);");
    zor::Connection first = open_store(db);
    zor::Connection second = open_store(db);

    const std::string out = captured_stdout([&] {
        std::thread a([&] { zor::ensure_schema(first.get()); });
        std::thread b([&] { zor::ensure_schema(second.get()); });
        const bool both_wait = wait_until(
            [&] {
                return query_value(db, "SELECT count(*) FROM pg_stat_activity WHERE datname = '" + db +
                                           "' AND wait_event_type = 'Lock'") == "2";
            },
            60);
        zor::execute(writer.get(), "COMMIT;");
        a.join();
        b.join();
        EXPECT_TRUE(both_wait);
    });
    EXPECT_EQ(out, "");
    EXPECT_EQ(added_indexes(db), BOTH_INDEXES);
}

TEST(SnapshotSchema, CompleteTableOfAnEarlierVersionIsLeftAsItIs) {
    const std::string db = create_database("schema");
    // Made before the row key matched NULLs, with a column of its own.
    exec_sql(db,
             "CREATE TABLE zor_clientes (idCliente INT, razaoSocial TEXT, cpfCnpj TEXT, valorDivida DOUBLE PRECISION, "
             "titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, diasAtraso INT, cidade TEXT, "
             "pop TEXT, bairro TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, zorIdentification TEXT, "
             "timestamp TIMESTAMP, observacao TEXT, UNIQUE (idCliente, dataCadastro, zorIdentification));"
             "INSERT INTO zor_clientes (idCliente, razaoSocial, observacao) VALUES (7, 'Antiga', 'fica');");

    EXPECT_EQ(schema_step_on(db), "");

    EXPECT_EQ(layout(db), FULL_LAYOUT + ", observacao text");
    EXPECT_EQ(constraints(db), (std::vector<TextRow>{{"u false idcliente,datacadastro,zoridentification"}}));
    EXPECT_EQ(query_value(db, "SELECT idcliente || ' ' || razaosocial || ' ' || observacao FROM zor_clientes"),
              "7 Antiga fica");
}

TEST(SnapshotSchema, NarrowerTablesGainExactlyTheMissingColumns) {
    struct Case {
        const char* name;
        std::string setup;
        std::vector<std::string> printed;
        std::string layout;  // of public.zor_clientes afterwards
        std::string check;   // a query over the kept rows and the added columns
        std::string check_result;
    };
    const Case cases[] = {
        {"table without zorIdentification and timestamp",
         "CREATE TABLE zor_clientes (idCliente INT, razaoSocial TEXT, cpfCnpj TEXT, valorDivida DOUBLE PRECISION, "
         "titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, diasAtraso INT, cidade TEXT, "
         "pop TEXT, bairro TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP);"
         "INSERT INTO zor_clientes (idCliente, razaoSocial) VALUES (1, 'Primeira'), (2, 'Segunda');",
         {added("zorIdentification"), added("timestamp")},
         FULL_LAYOUT,
         "SELECT string_agg(idcliente || razaosocial, ',' ORDER BY idcliente) || ' ' || count(zoridentification) || "
         "' ' || count(timestamp) FROM zor_clientes",
         "1Primeira,2Segunda 0 0"},
        {"same-named table in another schema holding the missing pop",
         "CREATE SCHEMA outro; CREATE TABLE outro.zor_clientes (pop TEXT);"
         "CREATE TABLE public.zor_clientes (idCliente INT, razaoSocial TEXT, cpfCnpj TEXT, "
         "valorDivida DOUBLE PRECISION, titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, "
         "diasAtraso INT, cidade TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, "
         "zorIdentification TEXT, timestamp TIMESTAMP);"
         "INSERT INTO public.zor_clientes (idCliente) VALUES (1), (2);",
         {added("bairro")},
         "idcliente integer, razaosocial text, cpfcnpj text, valordivida double precision, titulosdivida integer, "
         "contatocliente text, primeirovencimento timestamp without time zone, diasatraso integer, cidade text, "
         "datacadastro timestamp without time zone, datacriacaotitulo timestamp without time zone, "
         "zoridentification text, timestamp timestamp without time zone, bairro text",
         "SELECT (SELECT count(*) || ' ' || count(bairro) FROM public.zor_clientes) || ' / ' || "
         "(SELECT string_agg(column_name, ',') FROM information_schema.columns WHERE table_schema = 'outro')",
         "2 0 / pop"},
        {"quoted mixed-case idCliente",
         "CREATE TABLE zor_clientes (\"idCliente\" INT, razaoSocial TEXT, cpfCnpj TEXT, "
         "valorDivida DOUBLE PRECISION, titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, "
         "diasAtraso INT, cidade TEXT, pop TEXT, bairro TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, "
         "zorIdentification TEXT, timestamp TIMESTAMP);"
         "INSERT INTO zor_clientes (\"idCliente\") VALUES (1), (2);",
         {added("idCliente")},
         "idCliente integer" + FULL_LAYOUT.substr(std::string("idcliente integer").size()) + ", idcliente integer",
         "SELECT count(*) || ' ' || count(\"idCliente\") || ' ' || count(idcliente) FROM zor_clientes",
         "2 2 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string db = create_database("schema");
        exec_sql(db, c.setup);

        std::vector<Expected> printed;
        for (const std::string& line : c.printed) printed.push_back({line, ""});
        expect_messages(schema_step_on(db), printed);

        EXPECT_EQ(layout(db), c.layout);
        EXPECT_EQ(query_value(db, c.check), c.check_result);
        // The migration never adds the row key.
        EXPECT_TRUE(constraints(db).empty());
    }
}

TEST(SnapshotSchema, UserWithoutCreateRightsGetsOneMessagePerFailedOperation) {
    const std::string db = create_database("schema");
    const std::string role = create_role(db);  // public schema: usage only
    zor::Connection conn = open_store(db, role, "senha do papel");

    std::vector<Expected> expected{{"Erro ao criar tabela zor_clientes: ", "permission denied for schema public"}};
    for (const zor::Column& c : zor::colunas_tabela) {
        expected.push_back({"Erro ao adicionar coluna '" + std::string(c.name) + "': ",
                            "relation \"zor_clientes\" does not exist"});
    }
    expect_messages(schema_step(conn.get()), expected);

    // The connection is still usable after all those failures.
    const std::vector<zor::Row> rows = zor::query(conn.get(), "SELECT 41 + 1");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], zor::Row{zor::Value{std::int64_t{42}}});
    EXPECT_EQ(query_value(db, "SELECT count(*) FROM pg_class WHERE relname = 'zor_clientes'"), "0");
}

TEST(SnapshotSchema, UnreadableCatalogueMakesEveryAdditionBeTriedAndFail) {
    const std::string db = create_database("schema");
    const std::string role = create_role(db);
    exec_sql(db, "GRANT CREATE ON SCHEMA public TO " + role + "; REVOKE ALL ON information_schema.columns FROM PUBLIC;");
    zor::Connection conn = open_store(db, role, "senha do papel");

    std::vector<Expected> expected{
        {"Erro ao consultar colunas da tabela zor_clientes: ", "permission denied for view columns"}};
    for (const zor::Column& c : zor::colunas_tabela) {
        std::string lower(c.name);
        for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        expected.push_back({"Erro ao adicionar coluna '" + std::string(c.name) + "': ",
                            "column \"" + lower + "\" of relation \"zor_clientes\" already exists"});
    }
    expect_messages(schema_step(conn.get()), expected);

    // The create itself went through, and the table is unchanged by the failed additions.
    EXPECT_EQ(layout(db), FULL_LAYOUT);
    EXPECT_EQ(zor::query(conn.get(), "SELECT 1").size(), 1u);
}

TEST(SnapshotSchema, TimeoutWhileAddingAColumnIsNotTakenForAnOrdinaryFailure) {
    const std::string db = create_database("schema");
    exec_sql(db,
             "CREATE TABLE zor_clientes (idCliente INT, razaoSocial TEXT, cpfCnpj TEXT, valorDivida DOUBLE PRECISION, "
             "titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, diasAtraso INT, cidade TEXT, "
             "pop TEXT, bairro TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, zorIdentification TEXT);");
    // Another session keeps the table busy, so adding the timestamp column waits.
    zor::Connection locker = open_store(db);
    zor::execute(locker.get(), "BEGIN; LOCK TABLE zor_clientes IN ACCESS SHARE MODE;");
    zor::Connection conn = open_store(db);

    const BoundedRun run = run_with_bound(1, [&] { zor::ensure_schema(conn.get()); });
    EXPECT_TRUE(run.timed_out);
    EXPECT_EQ(run.out, "");
}

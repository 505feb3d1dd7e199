// Whole discovery runs with the ERP and the store behind PgBouncer, in transaction and in session
// pooling: whatever the databases' settings, the console output (debug table included) and the
// stored rows are, to the byte, those of a run connected straight to the server.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support.h"

using namespace zor_test;

namespace {

// Values that LATIN1 can hold. Client 1's debt is a sum of doubles (0.1 + 0.2); client 2 was
// registered at infinity, client 4 before Christ; client 3 is missing from admcore_cliente.
const char* const FIXTURE = R"SQL(
ALTER TABLE financeiro_titulo ALTER COLUMN valor TYPE double precision;
INSERT INTO admcore_cidade (codigo, cidade) VALUES ('100', '(Centro-Sul) S.J. d''Oeste'), ('200', 'Alfa');
INSERT INTO admcore_pop (id, codigo, cidade) VALUES (1, 100, 'POP [Sul].'), (2, 200, 'POP Alfa');
INSERT INTO admcore_endereco (id, bairro) VALUES (501, 'Jardim São-João'), (502, '');
INSERT INTO admcore_pessoa (id, nome, cpfcnpj) VALUES
    (201, 'João da Silva', '123.456.789-09'),
    (202, 'Maria Conceição Müller', '987.654.321-00'),
    (204, 'Ângela Ünal', '111.222.333-44');
INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES (1, 201, 501), (2, 202, 502), (4, 204, 501);
INSERT INTO admcore_contato (id, contato) VALUES (1, '(11) 9999-0001'), (2, '(11) 9999-0002');
INSERT INTO admcore_clientecontato (cliente_id, contato_id) VALUES (1, 2), (1, 1), (4, 1);
INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro) VALUES
    (1, 1, '2022-07-15 09:45:30.75'), (1, 2, '2023-01-01 00:00:00'),
    (2, 2, 'infinity'), (4, 1, '0044-03-15 10:00:00 BC');
INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento, data_documento) VALUES
    (1, 0.1, 1, CURRENT_DATE - 3, '2024-02-01 08:00:00.5'),
    (1, 0.2, 1, CURRENT_DATE - 5, '2024-02-03 10:00:00'),
    (1, 999.00, 2, CURRENT_DATE - 9, NULL),
    (2, NULL, 1, CURRENT_DATE - 1, NULL),
    (3, 10.00, 1, CURRENT_DATE - 2, '2024-03-05 00:00:00'),
    (4, 123456.789, 1, CURRENT_DATE - 40, '1999-12-31 23:59:59.999999'),
    (4, 1e-7, 1, CURRENT_DATE - 30, NULL);
)SQL";

// A table of an older version: the schema step adds the columns it lacks.
const char* const OLDER_TABLE = R"SQL(
CREATE TABLE zor_clientes (idCliente INT, razaoSocial TEXT, dataCadastro TIMESTAMP, zorIdentification TEXT,
                           timestamp TIMESTAMP, UNIQUE (idCliente, dataCadastro, zorIdentification));
)SQL";

// A table whose client id refuses one value: the page that holds client 11000 is rejected.
const char* const REFUSING_TABLE = R"SQL(
CREATE DOMAIN id_limitado AS INT CHECK (VALUE <> 11000);
CREATE TABLE zor_clientes (idCliente id_limitado, razaoSocial TEXT, cpfCnpj TEXT, valorDivida DOUBLE PRECISION,
    titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, diasAtraso INT, cidade TEXT, pop TEXT,
    bairro TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, zorIdentification TEXT, timestamp TIMESTAMP,
    UNIQUE (idCliente, dataCadastro, zorIdentification));
)SQL";

// The table's columns and every stored value but the run timestamp, the reals by their bits, as
// one text.
std::string stored(const std::string& store) {
    const std::vector<TextRow> rows = query_sql(store, R"SQL(
        SET DateStyle = ISO; SET extra_float_digits = 3;
        SELECT (SELECT string_agg(column_name || ' ' || data_type, ', ' ORDER BY ordinal_position)
                FROM information_schema.columns WHERE table_name = 'zor_clientes'), NULL
        UNION ALL
        SELECT * FROM (
            SELECT ROW(idcliente, razaosocial, cpfcnpj, valordivida, titulosdivida, contatocliente,
                       primeirovencimento, diasatraso, cidade, pop, bairro, datacadastro, datacriacaotitulo,
                       zoridentification)::text,
                   encode(float8send(valordivida), 'hex')
            FROM zor_clientes
            ORDER BY idcliente NULLS FIRST, datacadastro NULLS FIRST, zoridentification) AS r
    )SQL");
    std::string text;
    for (const TextRow& row : rows) {
        for (const auto& v : row) text += v.value_or("NULL") + " ";
        text += "\n";
    }
    return text;
}

struct PushRun {
    ProcessResult result;
    std::string rows;
};

// A debug discovery into `store`, emptied first and then prepared with `store_sql`.
PushRun run_debug_discovery(const std::string& erp, const std::string& store, const char* store_sql,
                            const std::string& port) {
    exec_sql(store, std::string("DROP TABLE IF EXISTS zor_clientes; DROP DOMAIN IF EXISTS id_limitado;") + store_sql);
    PushRun run;
    run.result = run_process(with_program(discovery_args(erp, store, "debug", "discovery_clientes", port)));
    run.rows = stored(store);
    return run;
}

TEST(ThroughPgBouncer, DiscoveriesStoreExactlyWhatADirectRunStores) {
    const std::string latin1 = "ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0";
    struct Case {
        const char* what;
        std::string erp_options;
        const char* erp_setting;
        int many_clients;  // instead of the fixture
        std::string store_options;
        const char* store_setting;
        const char* store_sql;
        bool upsert_fails;
    };
    const Case cases[] = {
        {"defaults", "", "", 0, "", "", "", false},
        {"ERP DateStyle SQL, DMY", "", "DateStyle = 'SQL, DMY'", 0, "", "", "", false},
        {"ERP DateStyle German", "", "DateStyle = 'German'", 0, "", "", "", false},
        {"ERP DateStyle Postgres, MDY", "", "DateStyle = 'Postgres, MDY'", 0, "", "", "", false},
        {"ERP IntervalStyle sql_standard", "", "IntervalStyle = 'sql_standard'", 0, "", "", "", false},
        {"ERP floats printed with 15 digits", "", "extra_float_digits = 0", 0, "", "", "", false},
        {"ERP in LATIN1", latin1, "", 0, "", "", "", false},
        {"store in LATIN1 with DateStyle German and an older table", "", "", 0, latin1, "DateStyle = 'German'",
         OLDER_TABLE, false},
        {"two pages", "", "", 12000, "", "", "", false},
        {"a page the database rejects", "", "", 12000, "", "", REFUSING_TABLE, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // The ERP is only read: the three runs share it, and the store is emptied before each.
        const std::string erp = create_database("erp", c.erp_options);
        if (*c.erp_setting != '\0') exec_sql("postgres", "ALTER DATABASE " + erp + " SET " + c.erp_setting);
        exec_sql(erp, source_file("samples/erp_schema.sql"));
        if (c.many_clients > 0) {
            load_many_clients(erp, c.many_clients);
        } else {
            exec_sql(erp, FIXTURE);
        }

        const std::string store = create_database("store", c.store_options);
        if (*c.store_setting != '\0') exec_sql("postgres", "ALTER DATABASE " + store + " SET " + c.store_setting);

        const PushRun direct = run_debug_discovery(erp, store, c.store_sql, "");
        ASSERT_EQ(direct.result.status, 0) << direct.result.out << direct.result.err;
        const std::string& out = direct.result.out;
        ASSERT_GE(out.size(), 3u);
        EXPECT_EQ(out.substr(out.size() - 3), "OK\n");
        EXPECT_NE(out.find("Conectado ao PostgreSQL com sucesso.\n"), std::string::npos) << out;
        EXPECT_NE(out.find("Registros antigos (mais de 1 dia) apagados.\n"), std::string::npos) << out;
        EXPECT_NE(out.find(c.upsert_fails ? "Erro durante UPSERT em zor_clientes: "
                                          : "UPSERT em zor_clientes concluído com sucesso!\n"),
                  std::string::npos)
            << out;

        for (const char* mode : {"transaction", "session"}) {
            SCOPED_TRACE(mode);
            const PushRun pooled = run_debug_discovery(erp, store, c.store_sql, pgbouncer_port(mode));
            EXPECT_EQ(pooled.result.status, 0) << pooled.result.err;
            EXPECT_EQ(pooled.result.err, direct.result.err);
            EXPECT_TRUE(pooled.result.out == direct.result.out)
                << "through PgBouncer:\n" << pooled.result.out.substr(0, 4000) << "\ndirect:\n"
                << direct.result.out.substr(0, 4000);
            EXPECT_TRUE(pooled.rows == direct.rows)
                << "through PgBouncer:\n" << pooled.rows.substr(0, 4000) << "\ndirect:\n" << direct.rows.substr(0, 4000);
        }
    }
}

// The fixture's values arrive whole, in statement pooling too: the comparison above is not
// between two equally wrong runs.
TEST(ThroughPgBouncer, FixtureValuesArriveWhole) {
    const std::string erp = create_erp_database();
    exec_sql(erp, FIXTURE);
    const std::string store = create_database("store");
    for (const char* mode : {"transaction", "session", "statement"}) {
        SCOPED_TRACE(mode);
        const PushRun pooled = run_debug_discovery(erp, store, "", pgbouncer_port(mode));
        ASSERT_EQ(pooled.result.status, 0) << pooled.result.err;
        ASSERT_GE(pooled.result.out.size(), 3u);
        EXPECT_EQ(pooled.result.out.substr(pooled.result.out.size() - 3), "OK\n");
        for (const char* part : {"(1,\"João da Silva\",123.456.789-09,0.30000000000000004,2,",
                                 "\"2022-07-15 09:45:30\",\"2024-02-01 08:00:00\",debug) 3fd3333333333334",
                                 ",infinity,,debug)", "\"0044-03-15 10:00:00 BC\""}) {
            EXPECT_NE(pooled.rows.find(part), std::string::npos) << part << "\nin:\n" << pooled.rows;
        }
    }
}

}  // namespace

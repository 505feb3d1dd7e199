// Whole discovery runs of the program: ERP in, snapshot rows and console messages out.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support.h"

using namespace zor_test;

namespace {

std::string push_messages(int count) {
    return "Conectado ao PostgreSQL com sucesso.\n"
           "Enviando " + std::to_string(count) + " registros (Clientes) com UPSERT...\n"
           "UPSERT em zor_clientes concluído com sucesso!\n"
           "Registros antigos (mais de 1 dia) apagados.\n";
}

const std::string DEBUG_PREAMBLE = "Modo debug ativado.\n\x1b[0;32m\nVersão do script: 1.0.0\x1b[1;36m \n\n\x1b[1;36m..." +
                                   std::string(45, '=') + " Clientes " + std::string(46, '=') + "...\n\x1b[0;0m\n";

// No run may show a password, whatever happens.
void expect_no_password(const ProcessResult& r, const std::vector<std::string>& others = {}) {
    std::vector<std::string> secrets = others;
    secrets.push_back(cluster().password);
    for (const std::string& s : secrets) {
        EXPECT_EQ(r.out.find(s), std::string::npos) << "password '" << s << "' on standard output:\n" << r.out;
        EXPECT_EQ(r.err.find(s), std::string::npos) << "password '" << s << "' on standard error:\n" << r.err;
    }
}

ProcessResult run_discovery(const std::vector<std::string>& params) {
    ProcessResult r = run_process(with_program(params));
    EXPECT_FALSE(r.timed_out);
    expect_no_password(r);
    return r;
}

ProcessResult run_discovery(const std::string& erp, const std::string& store, const std::string& identification) {
    return run_discovery(discovery_args(erp, store, identification));
}

std::string days_ago(int n) {
    return query_value("postgres", "SELECT to_char(CURRENT_DATE - " + std::to_string(n) + ", 'YYYY-MM-DD')") +
           " 00:00:00.000000";
}

std::string sql_literal(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}

bool store_has_table(const std::string& store) {
    return query_value(store, "SELECT count(*) FROM pg_class WHERE relname = 'zor_clientes'") != "0";
}

// The stored columns that come from the records, timestamps with their microseconds, in client order.
std::vector<TextRow> stored_rows(const std::string& store) {
    return query_sql(store, R"SQL(
        SELECT idcliente::text, razaosocial, cpfcnpj, valordivida::text, titulosdivida::text, contatocliente,
               to_char(primeirovencimento, 'YYYY-MM-DD HH24:MI:SS.US'), diasatraso::text, cidade, pop, bairro,
               to_char(datacadastro, 'YYYY-MM-DD HH24:MI:SS.US'),
               to_char(datacriacaotitulo, 'YYYY-MM-DD HH24:MI:SS.US'), zoridentification
        FROM zor_clientes ORDER BY idcliente NULLS FIRST, datacadastro NULLS FIRST, zoridentification
    )SQL");
}

std::string show(const std::vector<TextRow>& rows) {
    std::string s;
    for (const TextRow& row : rows) {
        for (const auto& v : row) s += (v ? "'" + *v + "'" : std::string("NULL")) + " ";
        s += "\n";
    }
    return s;
}

// Values that are all representable in LATIN1, so the same fixture loads into any ERP encoding.
const char* const FIXTURE = R"SQL(
INSERT INTO admcore_cidade (codigo, cidade) VALUES ('100', '(Centro-Sul) S.J. d''Oeste'), ('200', 'Alfa');
INSERT INTO admcore_pop (id, codigo, cidade) VALUES (1, 100, 'POP [Sul].'), (2, 200, 'POP Alfa');
INSERT INTO admcore_endereco (id, bairro) VALUES (501, 'Jardim São-João'), (502, '');
INSERT INTO admcore_pessoa (id, nome, cpfcnpj) VALUES
    (201, 'João da Silva', '123.456.789-09'),
    (202, 'Maria Conceição Müller', '987.654.321-00');
INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES (1, 201, 501), (2, 202, 502);
INSERT INTO admcore_contato (id, contato) VALUES (1, '(11) 9999-0001'), (2, '(11) 9999-0002');
INSERT INTO admcore_clientecontato (cliente_id, contato_id) VALUES (1, 2), (1, 1);
INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro) VALUES
    (1, 1, '2022-07-15 09:45:30.75'), (1, 2, '2023-01-01 00:00:00');
INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento, data_documento) VALUES
    (1, 100.25, 1, CURRENT_DATE - 3, '2024-02-01 08:00:00.5'),
    (1, 50.50, 1, CURRENT_DATE - 5, '2024-02-03 10:00:00'),
    (1, 999.00, 2, CURRENT_DATE - 9, NULL),
    (2, NULL, 1, CURRENT_DATE - 1, NULL),
    (3, 10.00, 1, CURRENT_DATE - 2, '2024-03-05 00:00:00');
)SQL";

std::vector<TextRow> fixture_stored_rows(const std::string& identification) {
    using S = std::optional<std::string>;
    const S none;
    return {
        {S("1"), S("João da Silva"), S("123.456.789-09"), S("150.75"), S("2"), S("(11) 9999-0001 | (11) 9999-0002"),
         days_ago(5), S("5"), S("CentroSul SJ dOeste | Alfa"), S("POP Sul"), S("Jardim SãoJoão"),
         S("2022-07-15 09:45:30.000000"), S("2024-02-01 08:00:00.000000"), identification},
        {S("2"), S("Maria Conceição Müller"), S("987.654.321-00"), S("0"), S("0"), none, days_ago(1), S("1"),
         S("Sem cidade"), S("Sem pop"), S("Sem bairro"), none, none, identification},
        {S("3"), none, none, S("10"), S("1"), none, days_ago(2), S("2"), S("Sem cidade"), S("Sem pop"),
         S("Sem bairro"), none, S("2024-03-05 00:00:00.000000"), identification},
    };
}

TEST(DiscoveryRun, NormalRunStoresEveryClient) {
    const std::string erp = create_erp_database();
    const std::string store = create_database("store");
    exec_sql(erp, FIXTURE);
    const ProcessResult r = run_discovery(erp, store, "zbx-host");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, push_messages(3) + "OK\n");
    const auto rows = stored_rows(store);
    EXPECT_EQ(rows, fixture_stored_rows("zbx-host")) << show(rows);
    // One run timestamp for every row of the push.
    EXPECT_EQ(query_sql(store, "SELECT count(DISTINCT timestamp)::text, count(timestamp)::text FROM zor_clientes"),
              (std::vector<TextRow>{{std::string("1"), std::string("3")}}));
}

std::string pad(const std::string& text, std::size_t width) {
    std::size_t chars = 0;
    for (unsigned char c : text) chars += (c & 0xC0) != 0x80;
    return text + std::string(width > chars ? width - chars : 0, ' ');
}

TEST(DiscoveryRun, DebugRunPrintsPreambleAndTableThenStores) {
    const std::string erp = create_erp_database();
    const std::string store = create_database("store");
    exec_sql(erp, R"SQL(
        INSERT INTO admcore_pessoa (id, nome, cpfcnpj) VALUES (201, 'Conceição Ltda', '12.345.678/0001-90');
        INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES (7, 201, NULL);
        INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento, data_documento) VALUES
            (7, NULL, 1, CURRENT_DATE - 4, '2024-03-05 10:20:30.75');
    )SQL");
    const std::string first_due = days_ago(4).substr(0, 19);
    // Key width 22 ("{#DATA_CRIACAO_TITULO}"), value width 19 (a date-time); NULL values print the key only.
    const std::pair<std::string, std::string> entries[] = {
        {"{#CLIENTE_ID}", "7"},
        {"{#RAZAOSOCIAL}", "Conceição Ltda"},
        {"{#CPF_CNPJ}", "12.345.678/0001-90"},
        {"{#VALOR_DIVIDA}", "0"},
        {"{#TITULOS_EM_ATRASO}", "0"},
        {"{#CONTATO}", ""},
        {"{#PRIMEIRO_VENCIMENTO}", first_due},
        {"{#DIAS_ATRASO}", "4"},
        {"{#CIDADE}", "Sem cidade"},
        {"{#POP}", "Sem pop"},
        {"{#BAIRRO}", "Sem bairro"},
        {"{#DATA_CADASTRO}", ""},
        {"{#DATA_CRIACAO_TITULO}", "2024-03-05 10:20:30"},
        {"{#ZOR_IDENTIFICATION}", "debug"},
    };
    std::string table;
    for (const auto& [key, value] : entries) {
        table += value.empty() ? pad(key, 22) + "\n" : pad(key, 22) + " " + pad(value, 19) + "\n";
    }
    table += "\n";

    const ProcessResult r = run_discovery(erp, store, "debug");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    ASSERT_GE(r.out.size(), DEBUG_PREAMBLE.size());
    EXPECT_EQ(r.out.substr(0, DEBUG_PREAMBLE.size()), DEBUG_PREAMBLE);
    EXPECT_EQ(r.out, DEBUG_PREAMBLE + table + push_messages(1) + "OK\n");
    EXPECT_EQ(query_sql(store, "SELECT idcliente::text, zoridentification FROM zor_clientes"),
              (std::vector<TextRow>{{std::string("7"), std::string("debug")}}));
}

TEST(DiscoveryRun, OnlyTheExactTextDebugTurnsOnDebugOutput) {
    for (const std::string identification : {"Debug", "DEBUG", "debug ", " debug", "debugging"}) {
        SCOPED_TRACE("'" + identification + "'");
        const std::string erp = create_erp_database();
        const std::string store = create_database("store");
        exec_sql(erp, FIXTURE);
        const ProcessResult r = run_discovery(erp, store, identification);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, push_messages(3) + "OK\n");
        EXPECT_EQ(query_sql(store, "SELECT DISTINCT zoridentification FROM zor_clientes"),
                  (std::vector<TextRow>{{identification}}));
    }
}

TEST(DiscoveryRun, NoOverdueClientStillRunsThePush) {
    struct Case {
        const char* identification;
        std::string expected_out;
    };
    const Case cases[] = {
        {"zbx-host", push_messages(0) + "OK\n"},
        {"debug", DEBUG_PREAMBLE + push_messages(0) + "OK\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identification);
        const std::string erp = create_erp_database();
        const std::string store = create_database("store");
        exec_sql(erp, R"SQL(
            INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES (1, NULL, NULL);
            INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento) VALUES
                (1, 10, 1, CURRENT_DATE), (1, 10, 2, CURRENT_DATE - 3);
        )SQL");
        const ProcessResult r = run_discovery(erp, store, c.identification);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(r.out, c.expected_out);
        EXPECT_TRUE(store_has_table(store));
        EXPECT_EQ(query_value(store, "SELECT count(*) FROM zor_clientes"), "0");
    }
}

// A failing fetch ends the run before anything is printed or the store is opened. Every ERP here
// holds overdue clients, so a setting that reached a real database by another road would show.
TEST(DiscoveryRun, ErpFailuresEndTheRunBeforeTheStore) {
    struct Case {
        const char* what;
        const char* erp_sql;
        std::function<void(std::vector<std::string>&, const std::string& erp)> change;
        std::function<std::string(const std::vector<std::string>&)> stderr_part;
    };
    const auto nothing = [](std::vector<std::string>&, const std::string&) {};
    const auto any = [](const std::vector<std::string>&) { return std::string(); };
    const auto missing_database = [](const std::vector<std::string>& p) {
        return "database \"" + p[4] + "\" does not exist";
    };
    const Case cases[] = {
        {"wrong ERP password", "", [](auto& p, auto&) { p[6] = "senha-errada-123"; },
         [](auto&) { return std::string("password authentication failed"); }},
        {"unknown ERP user", "", [](auto& p, auto&) { p[5] = "usuario_inexistente"; },
         [](auto&) { return std::string("usuario_inexistente"); }},
        {"missing ERP database", "", [](auto& p, auto&) { p[4] = "erp_inexistente"; }, missing_database},
        {"missing ERP table", "DROP TABLE admcore_cidade;", nothing,
         [](auto&) { return std::string("admcore_cidade"); }},
        {"missing ERP column", "ALTER TABLE financeiro_titulo DROP COLUMN data_documento;", nothing,
         [](auto&) { return std::string("data_documento"); }},
        {"port not a number", "", [](auto& p, auto&) { p[3] = "54x32"; },
         [](auto&) { return std::string("54x32"); }},
        {"nothing listens on the port", "", [](auto& p, auto&) { p[3] = "1"; }, any},
        {"URI as database name", "", [](auto& p, auto&) { p[4] = "postgresql://postgres@127.0.0.1/postgres"; },
         missing_database},
        {"URI of the real ERP as database name", "",
         [](auto& p, const std::string& erp) { p[4] = "postgresql://postgres@127.0.0.1:" + p[3] + "/" + erp; },
         missing_database},
        {"keyword pair as database name", "", [](auto& p, auto&) { p[4] = "dbname=postgres"; }, missing_database},
        {"keywords of the real ERP as database name", "",
         [](auto& p, const std::string& erp) { p[4] = "host=127.0.0.1 port=" + p[3] + " dbname=" + erp; },
         missing_database},
        {"quote that would close a connection-string value", "",
         [](auto& p, const std::string& erp) { p[4] = "inexistente' dbname='" + erp; }, missing_database},
        {"password that would add a second password", "",
         [](auto& p, auto&) { p[6] = "x' password='" + p[6]; },
         [](auto&) { return std::string("password authentication failed"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string erp = create_erp_database();
        const std::string store = create_database("store");
        exec_sql(erp, FIXTURE);
        if (*c.erp_sql != '\0') exec_sql(erp, c.erp_sql);
        std::vector<std::string> params = discovery_args(erp, store, "zbx-host");
        c.change(params, erp);
        const ProcessResult r = run_discovery(params);
        expect_no_password(r, {params[6]});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_FALSE(r.err.empty());
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.back(), '\n');
        EXPECT_NE(r.err.find(c.stderr_part(params)), std::string::npos) << r.err;
        EXPECT_FALSE(store_has_table(store)) << "the store was opened";
    }
}

// Text values go into the store byte for byte, whatever SQL they look like.
TEST(DiscoveryRun, HostileTextsAreStoredByteForByte) {
    const std::string name = "O'Brien\\'); DROP TABLE zor_clientes; --";
    const std::string cpf = "$$ E'\\\\' $$; SELECT 1; /* 12.345 */ \\";
    const std::string contacts[] = {
        "'; DELETE FROM zor_clientes WHERE true; --",
        "fim com barra \\",
        "\xF0\x9F\x98\x80 e\xCC\x81 \xC3\xB1 \"aspas\"",
    };
    const std::string city = "Cidade'); DROP TABLE x; -- \\ $$";
    const std::string pop = "E'\\x41' \xF0\x9F\x98\x80";
    const std::string bairro = "a\xCC\x81\xCC\xA7 -- fim";
    const std::string identification = "zbx'); DROP TABLE zor_clientes; --";

    const std::string erp = create_erp_database();
    const std::string store = create_database("store");
    exec_sql(erp, "INSERT INTO admcore_cidade (codigo, cidade) VALUES ('100', " + sql_literal(city) + ");"
                  "INSERT INTO admcore_pop (id, codigo, cidade) VALUES (1, 100, " + sql_literal(pop) + ");"
                  "INSERT INTO admcore_endereco (id, bairro) VALUES (501, " + sql_literal(bairro) + ");"
                  "INSERT INTO admcore_pessoa (id, nome, cpfcnpj) VALUES (201, " + sql_literal(name) + ", " +
                  sql_literal(cpf) + ");"
                  "INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES (1, 201, 501);"
                  "INSERT INTO admcore_contato (id, contato) VALUES (1, " + sql_literal(contacts[0]) + "), (2, " +
                  sql_literal(contacts[1]) + "), (3, " + sql_literal(contacts[2]) + ");"
                  "INSERT INTO admcore_clientecontato (cliente_id, contato_id) VALUES (1, 3), (1, 2), (1, 1);"
                  "INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro) VALUES "
                  "(1, 1, '2024-01-01 00:00:00');"
                  "INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento) VALUES "
                  "(1, 10, 1, CURRENT_DATE - 1);");
    ASSERT_EQ(query_value(erp, "SELECT nome FROM admcore_pessoa"), name) << "the fixture itself";

    const ProcessResult r = run_discovery(erp, store, identification);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, push_messages(1) + "OK\n");
    using S = std::optional<std::string>;
    const std::vector<TextRow> expected{{
        S(name), S(cpf), S(contacts[0] + " | " + contacts[1] + " | " + contacts[2]),
        // City, POP and neighbourhood lose ( ) [ ] ' - . and nothing else.
        S("Cidade; DROP TABLE x;  \\ $$"), S("E\\x41 \xF0\x9F\x98\x80"), S("a\xCC\x81\xCC\xA7  fim"),
        S(identification),
    }};
    EXPECT_EQ(query_sql(store, "SELECT razaosocial, cpfcnpj, contatocliente, cidade, pop, bairro, zoridentification "
                               "FROM zor_clientes"),
              expected);
    EXPECT_EQ(query_value(erp, "SELECT count(*) FROM admcore_pessoa"), "1");
}

// What the run stores must not depend on the encoding, date style or float output of either
// database.
TEST(DiscoveryRun, DatabaseSettingsDoNotChangeTheStoredRows) {
    const std::string latin1 = "ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0";
    struct Case {
        const char* what;
        std::string erp_options;
        const char* erp_setting;
        std::string store_options;
        const char* store_setting;
    };
    const Case cases[] = {
        {"defaults", "", "", "", ""},
        {"ERP DateStyle SQL, DMY", "", "DateStyle = 'SQL, DMY'", "", ""},
        {"ERP DateStyle German", "", "DateStyle = 'German'", "", ""},
        {"ERP floats printed with few digits", "", "extra_float_digits = -15", "", ""},
        {"ERP floats printed with 15 digits", "", "extra_float_digits = 0", "", ""},
        {"ERP DateStyle Postgres, MDY", "", "DateStyle = 'Postgres, MDY'", "", ""},
        {"ERP IntervalStyle sql_standard", "", "IntervalStyle = 'sql_standard'", "", ""},
        {"ERP in LATIN1", latin1, "", "", ""},
        {"ERP in LATIN1 with DateStyle SQL, DMY", latin1, "DateStyle = 'SQL, DMY'", "", ""},
        {"store DateStyle German", "", "", "", "DateStyle = 'German'"},
        {"store DateStyle SQL, DMY", "", "", "", "DateStyle = 'SQL, DMY'"},
        {"store in LATIN1", "", "", latin1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string erp = create_database("erp", c.erp_options);
        const std::string store = create_database("store", c.store_options);
        if (*c.erp_setting != '\0') exec_sql("postgres", "ALTER DATABASE " + erp + " SET " + c.erp_setting);
        if (*c.store_setting != '\0') exec_sql("postgres", "ALTER DATABASE " + store + " SET " + c.store_setting);
        exec_sql(erp, source_file("samples/erp_schema.sql"));
        exec_sql(erp, FIXTURE);
        const ProcessResult r = run_discovery(erp, store, "zbx-host");
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.out, push_messages(3) + "OK\n");
        const auto rows = stored_rows(store);
        EXPECT_EQ(rows, fixture_stored_rows("zbx-host")) << show(rows);
        EXPECT_EQ(query_value(store, "SELECT octet_length(convert_to(razaosocial, 'UTF8'))::text "
                                     "FROM zor_clientes WHERE idcliente = 2"),
                  std::to_string(std::string("Maria Conceição Müller").size()));
    }
}

// A second push of the same client refreshes its one row, also when it has no contract (its
// registration date is NULL): the row key then matches on NULL too.
TEST(DiscoveryRun, PushingAClientAgainKeepsOneRowWithTheNewValues) {
    if (std::stoi(query_value("postgres", "SHOW server_version_num")) < 150000) {
        GTEST_SKIP() << "a row key whose NULLs match needs PostgreSQL 15";
    }
    struct Case {
        const char* what;
        const char* contract_sql;
        std::optional<std::string> data_cadastro;
    };
    const Case cases[] = {
        {"client with contract",
         "INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro) VALUES (1, NULL, '2023-04-05 06:07:08');",
         "2023-04-05 06:07:08"},
        {"client without contract", "", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string erp = create_erp_database();
        const std::string store = create_database("store");
        exec_sql(erp, std::string(R"SQL(
            INSERT INTO admcore_pessoa (id, nome, cpfcnpj) VALUES (201, 'Nome Antigo', '1');
            INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES (1, 201, NULL);
            INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento) VALUES (1, 10, 1, CURRENT_DATE - 2);
        )SQL") + c.contract_sql);
        ProcessResult r = run_discovery(erp, store, "zbx-host");
        ASSERT_EQ(r.out, push_messages(1) + "OK\n");
        const std::string first_timestamp = query_value(store, "SELECT timestamp::text FROM zor_clientes");

        exec_sql(erp, R"SQL(
            UPDATE admcore_pessoa SET nome = 'Nome Novo';
            INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento) VALUES (1, 5.5, 1, CURRENT_DATE - 8);
        )SQL");
        r = run_discovery(erp, store, "zbx-host");
        ASSERT_EQ(r.out, push_messages(1) + "OK\n");
        EXPECT_EQ(query_sql(store, "SELECT idcliente::text, razaosocial, valordivida::text, titulosdivida::text, "
                                   "diasatraso::text, datacadastro::text, timestamp > " +
                                       sql_literal(first_timestamp) + "::timestamp FROM zor_clientes"),
                  (std::vector<TextRow>{{std::string("1"), std::string("Nome Novo"), std::string("15.5"),
                                         std::string("2"), std::string("8"), c.data_cadastro, std::string("t")}}));

        // Another identification is another row.
        r = run_discovery(erp, store, "outro-host");
        ASSERT_EQ(r.out, push_messages(1) + "OK\n");
        EXPECT_EQ(query_value(store, "SELECT count(*) FROM zor_clientes"), "2");
    }
}

}  // namespace

// The overdue-client fetch against a real ERP database: which titles count, how the aggregates
// come out, how every value is decoded, and that neither the server's own settings nor unusual
// column types nor odd connection settings change the result.

#include <gtest/gtest.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cli/run_config.h"
#include "cli/value.h"
#include "discovery/overdue_query.h"
#include "store/pg.h"
#include "support.h"

using namespace zor_test;
using zor::DateTime;
using zor::Row;
using zor::Value;

namespace {

const Value NUL{};
Value I(std::int64_t v) { return v; }
Value R(double v) { return v; }
Value T(const char* v) { return std::string(v); }
Value DT(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int us = 0) { return DateTime{y, mo, d, h, mi, s, us}; }

// CURRENT_DATE - n of the test server, at midnight (the server decides what "today" is).
Value days_ago(int n) {
    const std::string text =
        query_value("postgres", "SELECT to_char(CURRENT_DATE - " + std::to_string(n) + ", 'YYYY-MM-DD')");
    DateTime d;
    std::from_chars(text.data(), text.data() + 4, d.year);
    std::from_chars(text.data() + 5, text.data() + 7, d.month);
    std::from_chars(text.data() + 8, text.data() + 10, d.day);
    return d;
}

std::string describe(const Value& v) {
    switch (v.index()) {
        case 0: return "NULL";
        case 1: return "integer " + zor::text_form(v);
        case 2: return "real " + zor::text_form(v);
        case 3: return "text '" + zor::text_form(v) + "'";
        default: return "date-time " + zor::text_form(v);
    }
}

zor::RunConfig erp_settings(const std::string& db) {
    zor::RunConfig c;
    c.mode = "discovery_clientes";
    c.db_ip = "127.0.0.1";
    c.db_port = cluster().port;
    c.db_name = db;
    c.db_user = cluster().user;
    c.db_password = cluster().password;
    c.zabbix_host = "teste";
    c.full_form = true;
    return c;
}

// The rows of the fetch, ordered by client id (NULL first): the statement itself has no order.
std::vector<Row> fetch(const zor::RunConfig& settings) {
    zor::set_run_config(settings);
    std::vector<Row> rows = zor::fetch_overdue_clients();
    auto key = [](const Row& r) {
        const auto* id = r.empty() ? nullptr : std::get_if<std::int64_t>(&r[0]);
        return id == nullptr ? std::numeric_limits<std::int64_t>::min() : *id;
    };
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) { return key(a) < key(b); });
    return rows;
}
std::vector<Row> fetch(const std::string& db) { return fetch(erp_settings(db)); }

struct ExpectedRow {
    const char* what;
    Row row;
};

void expect_rows(const std::vector<Row>& actual, const std::vector<ExpectedRow>& expected) {
    std::string got;
    for (const Row& r : actual) got += (r.empty() ? "(empty row)" : describe(r[0])) + "\n";
    ASSERT_EQ(actual.size(), expected.size()) << "client ids fetched:\n" << got;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].what);
        ASSERT_EQ(actual[i].size(), 13u);
        for (std::size_t c = 0; c < 13; ++c) {
            EXPECT_EQ(describe(actual[i][c]), describe(expected[i].row[c])) << "row position " << c;
        }
    }
}

// Every value is exact in binary, so a sum in numeric and in double precision agree.
const char* const FIXTURE = R"SQL(
INSERT INTO admcore_cidade (codigo, cidade) VALUES ('100', 'Alfa'), ('200', 'Beta-Sul');
INSERT INTO admcore_pop (id, codigo, cidade) VALUES
    (1, 100, 'POP Alfa'), (2, 200, 'POP Beta'), (4, 999, 'POP Órfão');
INSERT INTO admcore_endereco (id, bairro) VALUES (501, 'Centro'), (502, '');
INSERT INTO admcore_pessoa (id, nome, cpfcnpj) VALUES
    (201, 'Ana Conceição', '123.456.789-09'),
    (202, 'Bruno Müller', '987.654.321-00'),
    (203, 'Padaria D''Ávila Ltda', '12.345.678/0001-90'),
    (204, 'Carla Simões', '111.444.777-35'),
    (205, 'Davi Sá', '222.555.888-46'),
    (206, 'Elisa Araújo', '333.666.999-57');
INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES
    (1, 201, 501), (2, 202, 502), (3, 203, NULL), (4, 204, 501), (5, 205, 501), (6, 206, 501);
INSERT INTO admcore_contato (id, contato) VALUES
    (1, '9999-0002'), (2, '9999-0001'), (3, '9999-0002'), (4, 'contato@padaria.example');
INSERT INTO admcore_clientecontato (cliente_id, contato_id) VALUES
    (1, 1), (1, 2), (1, 3), (3, 4), (999, 2);
INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro) VALUES
    (1, 2, '2023-05-01 10:00:00'),
    (1, 1, '2022-07-15 09:45:30.25'),
    (2, 4, '2024-03-05 10:20:30.75'),
    (999, 1, '2020-01-01 00:00:00');
INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento, data_documento) VALUES
    (1, 100.25, 1, CURRENT_DATE - 3, '2024-02-01 08:00:00'),
    (1, 50.50, 1, CURRENT_DATE - 5, '2024-02-03 10:00:00'),
    (1, NULL, 1, CURRENT_DATE - 9, '2024-01-20 12:00:00'),
    (1, 1000.00, 2, CURRENT_DATE - 20, '2023-01-01 00:00:00'),
    (1, 500.00, 1, CURRENT_DATE, '2023-01-02 00:00:00'),
    (1, 700.00, 1, CURRENT_DATE + 10, '2023-01-03 00:00:00'),
    (2, 80.00, 1, CURRENT_DATE - 1, '2024-03-01 07:08:09'),
    (3, NULL, 1, CURRENT_DATE - 4, NULL),
    (3, NULL, 1, CURRENT_DATE - 6, NULL),
    (4, 10.00, 1, CURRENT_DATE, NULL),
    (5, 20.00, 2, CURRENT_DATE - 2, NULL),
    (5, 21.00, 0, CURRENT_DATE - 2, NULL),
    (5, 22.00, 3, CURRENT_DATE - 2, NULL),
    (5, 23.00, NULL, CURRENT_DATE - 2, NULL),
    (6, 30.00, 1, CURRENT_DATE + 1, NULL),
    (999, 10.50, 1, CURRENT_DATE - 7, '2024-02-29 23:59:59'),
    (NULL, 5.25, 1, CURRENT_DATE - 2, NULL);
)SQL";

// The rows of FIXTURE. Clients 4 (due today only), 5 (overdue but never status 1) and 6 (not yet
// due) have no row.
std::vector<ExpectedRow> fixture_rows() {
    return {
        {"titles without client id: one row with a NULL id",
         {NUL, NUL, NUL, I(1), R(5.25), NUL, days_ago(2), I(2), NUL, NUL, NUL, NUL, NUL}},
        {"client 1: NULL valor not counted but its due date is the earliest; paid, due-today and future "
         "titles ignored; duplicate contacts; two contracts in two cities",
         {I(1), T("Ana Conceição"), T("123.456.789-09"), I(2), R(150.75), T("9999-0001 | 9999-0002"), days_ago(9),
          I(9), T("Alfa | Beta-Sul"), T("POP Beta"), T("Centro"), DT(2022, 7, 15, 9, 45, 30, 250000),
          DT(2024, 1, 20, 12, 0, 0)}},
        {"client 2: due yesterday, no contact, POP without city, empty neighbourhood, fractional seconds kept",
         {I(2), T("Bruno Müller"), T("987.654.321-00"), I(1), R(80.0), NUL, days_ago(1), I(1), NUL, T("POP Órfão"),
          T(""), DT(2024, 3, 5, 10, 20, 30, 750000), DT(2024, 3, 1, 7, 8, 9)}},
        {"client 3: every valor NULL, no contract, no address, no document date",
         {I(3), T("Padaria D'Ávila Ltda"), T("12.345.678/0001-90"), I(0), NUL, T("contato@padaria.example"),
          days_ago(6), I(6), NUL, NUL, NUL, NUL, NUL}},
        {"client 999: missing from admcore_cliente, its contact and contract links are not reached",
         {I(999), NUL, NUL, I(1), R(10.5), NUL, days_ago(7), I(7), NUL, NUL, NUL, NUL, DT(2024, 2, 29, 23, 59, 59)}},
    };
}

TEST(OverdueQuery, FixtureClientsDecodeToTheirRows) {
    const std::string erp = create_erp_database();
    exec_sql(erp, FIXTURE);
    expect_rows(fetch(erp), fixture_rows());
}

TEST(OverdueQuery, NothingOverdueGivesAnEmptyResult) {
    const std::string erp = create_erp_database();
    EXPECT_TRUE(fetch(erp).empty()) << "empty ERP";
    exec_sql(erp, R"SQL(
        INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES (1, NULL, NULL);
        INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento) VALUES
            (1, 10, 1, CURRENT_DATE), (1, 10, 1, CURRENT_DATE + 30), (1, 10, 2, CURRENT_DATE - 30);
    )SQL");
    EXPECT_TRUE(fetch(erp).empty()) << "titles due today, not yet due, or paid";
}

// Rows are read in binary form and text in the client's own encoding, so no setting of the ERP
// database can change what is decoded.
TEST(OverdueQuery, ServerSettingsDoNotChangeTheRows) {
    struct Case {
        const char* what;
        const char* create_options;
        const char* setting;
    };
    const Case cases[] = {
        {"default UTF-8 database", "", ""},
        {"DateStyle SQL, DMY", "", "DateStyle = 'SQL, DMY'"},
        {"DateStyle German", "", "DateStyle = 'German'"},
        {"DateStyle Postgres, MDY", "", "DateStyle = 'Postgres, MDY'"},
        {"floats printed with few digits", "", "extra_float_digits = -15"},
        {"floats printed with 15 digits", "", "extra_float_digits = 0"},
        {"IntervalStyle sql_standard", "", "IntervalStyle = 'sql_standard'"},
        {"LATIN1 encoding", "ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0", ""},
        {"LATIN1 encoding and DateStyle German",
         "ENCODING 'LATIN1' LC_COLLATE 'C' LC_CTYPE 'C' TEMPLATE template0", "DateStyle = 'German'"},
    };
    const std::vector<ExpectedRow> expected = fixture_rows();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string erp = create_database("erp", c.create_options);
        if (*c.setting != '\0') exec_sql("postgres", "ALTER DATABASE " + erp + " SET " + c.setting);
        exec_sql(erp, source_file("samples/erp_schema.sql"));
        exec_sql(erp, FIXTURE);
        expect_rows(fetch(erp), expected);
    }
}

// The ERP owns its column types; the statement and the decoding must cope with the usual variants.
TEST(OverdueQuery, UnusualColumnTypesStillDecode) {
    enum Adjust { NONE, CADASTRO_AT_MIDNIGHT, DOCUMENTO_AT_MIDNIGHT };
    struct Case {
        const char* what;
        const char* alter;
        Adjust adjust;
    };
    const Case cases[] = {
        {"client ids bigint",
         "ALTER TABLE financeiro_titulo ALTER COLUMN cliente_id TYPE bigint;"
         "ALTER TABLE admcore_cliente ALTER COLUMN id TYPE bigint;"
         "ALTER TABLE admcore_clientecontato ALTER COLUMN cliente_id TYPE bigint;"
         "ALTER TABLE admcore_clientecontrato ALTER COLUMN cliente_id TYPE bigint;",
         NONE},
        {"valor double precision", "ALTER TABLE financeiro_titulo ALTER COLUMN valor TYPE double precision;", NONE},
        {"valor numeric(30,10)", "ALTER TABLE financeiro_titulo ALTER COLUMN valor TYPE numeric(30,10);", NONE},
        {"valor real", "ALTER TABLE financeiro_titulo ALTER COLUMN valor TYPE real;", NONE},
        {"data_cadastro date", "ALTER TABLE admcore_clientecontrato ALTER COLUMN data_cadastro TYPE date;",
         CADASTRO_AT_MIDNIGHT},
        {"data_cadastro and data_documento timestamptz",
         "ALTER TABLE admcore_clientecontrato ALTER COLUMN data_cadastro TYPE timestamptz;"
         "ALTER TABLE financeiro_titulo ALTER COLUMN data_documento TYPE timestamptz;",
         NONE},
        {"data_documento date", "ALTER TABLE financeiro_titulo ALTER COLUMN data_documento TYPE date;",
         DOCUMENTO_AT_MIDNIGHT},
        {"status smallint, POP code bigint, texts varchar",
         "ALTER TABLE financeiro_titulo ALTER COLUMN status TYPE smallint;"
         "ALTER TABLE admcore_pop ALTER COLUMN codigo TYPE bigint;"
         "ALTER TABLE admcore_pop ALTER COLUMN cidade TYPE varchar(80);"
         "ALTER TABLE admcore_cidade ALTER COLUMN cidade TYPE varchar(80);"
         "ALTER TABLE admcore_cidade ALTER COLUMN codigo TYPE varchar(10);"
         "ALTER TABLE admcore_pessoa ALTER COLUMN nome TYPE varchar(200);"
         "ALTER TABLE admcore_pessoa ALTER COLUMN cpfcnpj TYPE varchar(20);"
         "ALTER TABLE admcore_contato ALTER COLUMN contato TYPE varchar(60);"
         "ALTER TABLE admcore_endereco ALTER COLUMN bairro TYPE varchar(80);",
         NONE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string erp = create_erp_database();
        exec_sql(erp, c.alter);
        exec_sql(erp, FIXTURE);
        std::vector<ExpectedRow> expected = fixture_rows();
        const std::size_t position = c.adjust == CADASTRO_AT_MIDNIGHT ? 11 : 12;
        for (ExpectedRow& e : expected) {
            if (auto* dt = std::get_if<DateTime>(&e.row[position]); dt != nullptr && c.adjust != NONE) {
                *dt = DateTime{dt->year, dt->month, dt->day};
            }
        }
        expect_rows(fetch(erp), expected);
    }
}

// A sum of doubles keeps every bit, whatever the server would print: 0.1 + 0.2 is not 0.3.
TEST(OverdueQuery, SumOfRealsIsTheExactDouble) {
    for (const char* setting : {"", "extra_float_digits = 0", "extra_float_digits = -15"}) {
        SCOPED_TRACE(setting);
        const std::string erp = create_erp_database();
        if (*setting != '\0') exec_sql("postgres", "ALTER DATABASE " + erp + " SET " + setting);
        exec_sql(erp, R"SQL(
            ALTER TABLE financeiro_titulo ALTER COLUMN valor TYPE double precision;
            INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento) VALUES
                (7, 0.1, 1, CURRENT_DATE - 2), (7, 0.2, 1, CURRENT_DATE - 3);
        )SQL");
        expect_rows(fetch(erp), {{"client 7", {I(7), NUL, NUL, I(2), R(0.30000000000000004), NUL, days_ago(3), I(3), NUL,
                                               NUL, NUL, NUL, NUL}}});
    }
}

// Every type a result column may have, read on a database whose settings change every text form
// (dates, reals, bytea, time zone): each value must be what its ISO text reads as, and a type
// that cannot be read must say so and leave the connection usable.
TEST(ColumnDecoding, EveryTypeReadsAsItsIsoText) {
    const std::string db = create_database("tipos");
    exec_sql("postgres", "ALTER DATABASE " + db +
                             " SET DateStyle = 'German'; ALTER DATABASE " + db +
                             " SET extra_float_digits = 0; ALTER DATABASE " + db +
                             " SET IntervalStyle = 'sql_standard'; ALTER DATABASE " + db +
                             " SET bytea_output = 'escape'; ALTER DATABASE " + db +
                             " SET TimeZone = 'America/Sao_Paulo'");
    exec_sql(db, R"SQL(
        CREATE EXTENSION citext;
        CREATE DOMAIN nome_curto AS varchar(40);
        CREATE DOMAIN quantia AS numeric(12, 2);
        CREATE DOMAIN quantia_positiva AS quantia CHECK (VALUE > 0);
        CREATE DOMAIN contagem AS int4;
        CREATE DOMAIN prazo AS interval;
        CREATE TYPE situacao AS ENUM ('aberto', 'pago');
    )SQL");
    struct Case {
        const char* expression;
        std::optional<Value> expected;  // besides what the ISO text reads as
    };
    const Case cases[] = {
        {"1::int2", I(1)},
        {"(-32768)::int2", I(-32768)},
        {"2147483647", I(2147483647)},
        {"(-9223372036854775808)::int8", I(std::numeric_limits<std::int64_t>::min())},
        {"4294967295::oid", I(4294967295)},
        {"0.1::float4", R(0.1)},
        {"'-Infinity'::float4", {}},
        {"3.4028235e38::float4", {}},
        {"0.1::float8 + 0.2::float8", R(0.30000000000000004)},
        {"5e-324::float8", {}},
        {"1.7976931348623157e308::float8", {}},
        {"'NaN'::float8", {}},
        {"0::numeric", I(0)},
        {"(-123)::numeric", I(-123)},
        {"10000::numeric", I(10000)},
        {"150.75::numeric", R(150.75)},
        {"5.00::numeric", R(5.0)},
        {"0.1::numeric + 0.2::numeric", R(0.3)},
        {"(-0.5)::numeric", R(-0.5)},
        {"0.00001234::numeric", R(0.00001234)},
        {"1e-30::numeric", R(1e-30)},
        {"100000000.0001::numeric", R(100000000.0001)},
        {"9223372036854775807::numeric", I(std::numeric_limits<std::int64_t>::max())},
        {"9223372036854775808::numeric", R(9223372036854775808.0)},
        {"123456789012345678901234567890.123456789::numeric", {}},
        {"1e19::numeric(30, 10)", R(1e19)},
        {"'NaN'::numeric", {}},
        {"'Infinity'::numeric", {}},
        {"'-Infinity'::numeric", {}},
        {"12.5::quantia_positiva", R(12.5)},
        {"'2024-02-29'::date", DT(2024, 2, 29)},
        {"'2000-01-01'::date", DT(2000, 1, 1)},
        {"'1999-12-31'::date", DT(1999, 12, 31)},
        {"'0001-01-01'::date", DT(1, 1, 1)},
        {"'0044-03-15 BC'::date", T("0044-03-15 BC")},
        {"'4713-01-01 BC'::date", {}},
        {"'10000-01-01'::date", T("10000-01-01")},
        {"'infinity'::date", T("infinity")},
        {"'-infinity'::date", T("-infinity")},
        {"'2022-07-15 09:45:30.25'::timestamp", DT(2022, 7, 15, 9, 45, 30, 250000)},
        {"'1999-12-31 23:59:59.999999'::timestamp", DT(1999, 12, 31, 23, 59, 59, 999999)},
        {"'1900-03-01 00:00:01'::timestamp", DT(1900, 3, 1, 0, 0, 1)},
        {"'0044-03-15 10:00:00.5 BC'::timestamp", T("0044-03-15 10:00:00.5 BC")},
        {"'294276-12-31 23:59:59.999999'::timestamp", {}},
        {"'infinity'::timestamp", T("infinity")},
        {"'-infinity'::timestamp", T("-infinity")},
        {"'2024-03-01 10:00:00-03'::timestamptz", T("2024-03-01 13:00:00+00")},
        {"'1999-12-31 23:59:59.5+00'::timestamptz", {}},
        {"'infinity'::timestamptz", T("infinity")},
        {"'09:45:30.25'::time", T("09:45:30.25")},
        {"'24:00:00'::time", {}},
        {"true", T("t")},
        {"false", T("f")},
        {"'Ação ½'::text", T("Ação ½")},
        {"'Müller'::varchar(10)", {}},
        {"'ab'::char(4)", T("ab  ")},
        {"'zor_clientes'::name", {}},
        {"'x'::\"char\"", {}},
        {"'{\"a\": [1, \"é\"]}'::json", {}},
        {"'{\"a\": [1, \"é\"]}'::jsonb", {}},
        {"'\\x00ff10'::bytea", T("\\x00ff10")},
        {"'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'::uuid", {}},
        {"'Conceição'::nome_curto", T("Conceição")},
        {"'Ção'::citext", T("Ção")},
        {"'pago'::situacao", T("pago")},
        {"7::contagem", I(7)},
        {"'zor_clientes'::information_schema.sql_identifier", T("zor_clientes")},
        {"NULL::quantia", NUL},
    };
    // The text the server writes with ISO dates, exact reals and hex bytea, and the base type of
    // each value's type (through two levels of domains), all in one query.
    std::string oracle = "SET DateStyle = ISO; SET extra_float_digits = 3; SET bytea_output = hex; "
                         "SET TimeZone = UTC; SELECT ";
    for (const Case& c : cases) {
        if (&c != cases) oracle += ", ";
        const std::string e = std::string("(") + c.expression + ")";
        oracle += e + ", (SELECT CASE WHEN b.typbasetype = 0 THEN b.oid ELSE b.typbasetype END FROM pg_type b "
                      "WHERE b.oid = (SELECT CASE WHEN t.typbasetype = 0 THEN t.oid ELSE t.typbasetype END "
                      "FROM pg_type t WHERE t.oid = pg_typeof(" + e + ")))::int8";
    }
    const TextRow texts = query_sql(db, oracle).at(0);

    zor::Connection conn = zor::connect({"127.0.0.1", cluster().port, db, cluster().user, cluster().password});
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.expression);
        const std::vector<Row> rows = zor::query(conn.get(), std::string("SELECT ") + c.expression);
        ASSERT_EQ(rows.size(), 1u);
        ASSERT_EQ(rows[0].size(), 1u);
        const std::optional<std::string>& text = texts[2 * i];
        Value from_text;
        if (text) {
            from_text = zor::decode_field(static_cast<unsigned int>(std::stoul(texts[2 * i + 1].value())),
                                          text->data(), text->size());
        }
        EXPECT_EQ(describe(rows[0][0]), describe(from_text)) << "ISO text: " << text.value_or("NULL");
        if (c.expected) {
            EXPECT_EQ(describe(rows[0][0]), describe(*c.expected));
        }
    }

    const char* const unreadable[] = {"'1 day 02:03:04'::interval", "'2 days'::prazo", "ARRAY[1, 2]", "point(1, 2)",
                                      "'1.5'::money"};
    for (const char* expression : unreadable) {
        SCOPED_TRACE(expression);
        try {
            zor::query(conn.get(), std::string("SELECT 1 AS um, ") + expression + " AS valor");
            ADD_FAILURE() << "read";
        } catch (const zor::DatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find("coluna \"valor\" de tipo não suportado: "), std::string::npos)
                << e.what();
        }
        EXPECT_EQ(zor::query(conn.get(), "SELECT 2").at(0).at(0), I(2)) << "connection left usable";
    }
}

TEST(OverdueQuery, ClientIdBeyond32BitsDecodesWhole) {
    const std::string erp = create_erp_database();
    exec_sql(erp, R"SQL(
        ALTER TABLE financeiro_titulo ALTER COLUMN cliente_id TYPE bigint;
        ALTER TABLE admcore_cliente ALTER COLUMN id TYPE bigint;
        INSERT INTO admcore_pessoa (id, nome, cpfcnpj) VALUES (1, 'Grande', '1');
        INSERT INTO admcore_cliente (id, pessoa_id, endereco_id) VALUES (9000000000, 1, NULL);
        INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento) VALUES
            (9000000000, 1.5, 1, CURRENT_DATE - 2);
    )SQL");
    expect_rows(fetch(erp), {{"client 9000000000",
                              {I(9000000000), T("Grande"), T("1"), I(1), R(1.5), NUL, days_ago(2), I(2), NUL, NUL, NUL,
                               NUL, NUL}}});
}

// Database names and passwords reach the server as they are: never parsed as a connection string.
TEST(OverdueQuery, ConnectionSettingsAreTakenLiterally) {
    const std::string odd_name = "zor erp 'aspas' \"duplas\" = sim \\ fim";
    {
        std::string quoted;
        for (char ch : odd_name) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        exec_sql("postgres", "CREATE DATABASE \"" + quoted + "\"");
    }
    exec_sql(odd_name, source_file("samples/erp_schema.sql"));
    exec_sql(odd_name, FIXTURE);
    expect_rows(fetch(odd_name), fixture_rows());

    const std::string odd_password = "a b'c\"d=e\\f postgresql://x host=y";
    exec_sql("postgres", "CREATE ROLE zor_leitor LOGIN PASSWORD 'a b''c\"d=e\\f postgresql://x host=y'");
    exec_sql(odd_name, "GRANT SELECT ON ALL TABLES IN SCHEMA public TO zor_leitor");
    zor::RunConfig reader = erp_settings(odd_name);
    reader.db_user = "zor_leitor";
    reader.db_password = odd_password;
    expect_rows(fetch(reader), fixture_rows());

    reader.db_password = "a b'c\"d=e\\f postgresql://x";
    EXPECT_THROW(fetch(reader), zor::DatabaseError) << "a password cut at a blank must not connect";
}

TEST(OverdueQuery, ConnectionStringsAsDatabaseNameAreMissingDatabases) {
    // The targets exist and hold overdue clients: read as connection strings, these names would work.
    const std::string erp = create_erp_database();
    exec_sql(erp, FIXTURE);
    const std::string names[] = {
        "postgresql://postgres@127.0.0.1/postgres",
        "postgresql://" + cluster().user + "@127.0.0.1:" + cluster().port + "/" + erp,
        "postgres://127.0.0.1:" + cluster().port + "/" + erp,
        "dbname=postgres",
        "dbname=" + erp,
        "host=127.0.0.1 dbname=" + erp,
        "dbname='" + erp + "'",
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        try {
            fetch(erp_settings(name));
            ADD_FAILURE() << "connected";
        } catch (const zor::DatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find("database \"" + name + "\" does not exist"), std::string::npos)
                << e.what();
        }
    }
}

TEST(OverdueQuery, FailuresRaiseDatabaseErrors) {
    struct Case {
        const char* what;
        const char* sql;
        std::function<void(zor::RunConfig&)> change;
        const char* message_part;
    };
    const Case cases[] = {
        {"wrong password", "", [](zor::RunConfig& c) { c.db_password = "errada"; }, "password authentication failed"},
        {"unknown user", "", [](zor::RunConfig& c) { c.db_user = "ninguem"; }, "ninguem"},
        {"port not a number", "", [](zor::RunConfig& c) { c.db_port = "cinco"; }, "cinco"},
        {"nothing listens on the port", "", [](zor::RunConfig& c) { c.db_port = "1"; }, ""},
        {"missing table", "DROP TABLE admcore_endereco;", [](zor::RunConfig&) {}, "admcore_endereco"},
        {"missing column", "ALTER TABLE admcore_pessoa DROP COLUMN cpfcnpj;", [](zor::RunConfig&) {}, "cpfcnpj"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string erp = create_erp_database();
        exec_sql(erp, FIXTURE);
        if (*c.sql != '\0') exec_sql(erp, c.sql);
        zor::RunConfig settings = erp_settings(erp);
        c.change(settings);
        try {
            fetch(settings);
            ADD_FAILURE() << "no error";
        } catch (const zor::DatabaseError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message_part), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).find(cluster().password), std::string::npos) << e.what();
        }
    }
}

}  // namespace

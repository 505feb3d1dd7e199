// The snapshot push against a real PostgreSQL: paged upsert by row key, one-day retention, the
// messages of every step and what reaches the table.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/run_config.h"
#include "process_library/process_library.h"
#include "store/pg.h"
#include "store/snapshot_push.h"
#include "store/snapshot_schema.h"
#include "support.h"

using namespace zor_test;

namespace {

const std::string CONNECTED = "Conectado ao PostgreSQL com sucesso.";
const std::string DONE = "UPSERT em zor_clientes concluído com sucesso!";
const std::string PURGED = "Registros antigos (mais de 1 dia) apagados.";
const std::string UPSERT_FAILED = "Erro durante UPSERT em zor_clientes: ";
const std::string CONNECT_FAILED = "Erro ao conectar ao PostgreSQL: ";

std::string sending(std::size_t n) { return "Enviando " + std::to_string(n) + " registros (Clientes) com UPSERT..."; }

// The 15 columns as a create statement writes them.
const std::string COLUMNS_SQL =
    "idCliente INT, razaoSocial TEXT, cpfCnpj TEXT, valorDivida DOUBLE PRECISION, titulosDivida INT, "
    "contatoCliente TEXT, primeiroVencimento TIMESTAMP, diasAtraso INT, cidade TEXT, pop TEXT, bairro TEXT, "
    "dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, zorIdentification TEXT, timestamp TIMESTAMP";

// The first 14 columns, for reading rows back.
const std::string STORED_COLUMNS =
    "idcliente, razaosocial, cpfcnpj, valordivida, titulosdivida, contatocliente, primeirovencimento, diasatraso, "
    "cidade, pop, bairro, datacadastro, datacriacaotitulo, zoridentification";

void point_store_at(const std::string& db, const std::string& port = "", const std::string& password = "") {
    const Cluster& c = cluster();
    zor::RunConfig cfg;
    cfg.postgres_ip = "127.0.0.1";
    cfg.postgres_port = port.empty() ? c.port : port;
    cfg.pg_db = db;
    cfg.pg_user = c.user;
    cfg.pg_password = password.empty() ? c.password : password;
    zor::set_run_config(cfg);
}

// Runs the push against the store set by point_store_at and returns what it printed.
std::string push(const std::vector<zor::Record>& records) {
    return captured_stdout([&] { zor::sendPostgresClientes(records); });
}

// A fresh store database, pointed at.
std::string new_store() {
    const std::string db = create_database("store");
    point_store_at(db);
    return db;
}

// A fresh store whose table already exists and notes every INSERT statement that reaches it as
// one row of zor_paginas: rows inserted, lowest and highest client id.
std::string store_with_page_log() {
    const std::string db = new_store();
    {
        const Cluster& c = cluster();
        zor::Connection conn = zor::connect({"127.0.0.1", c.port, db, c.user, c.password});
        zor::ensure_schema(conn.get());
    }
    exec_sql(db,
             "CREATE TABLE zor_paginas (n SERIAL, linhas BIGINT, primeiro INT, ultimo INT);"
             "CREATE FUNCTION anota_pagina() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN "
             "INSERT INTO zor_paginas (linhas, primeiro, ultimo) SELECT count(*), min(idcliente), max(idcliente) "
             "FROM novas; RETURN NULL; END $$;"
             "CREATE TRIGGER anota_pagina AFTER INSERT ON zor_clientes REFERENCING NEW TABLE AS novas "
             "FOR EACH STATEMENT EXECUTE FUNCTION anota_pagina();");
    return db;
}

std::vector<TextRow> pages(const std::string& db) {
    return query_sql(db, "SELECT linhas::text, primeiro::text, ultimo::text FROM zor_paginas ORDER BY n");
}

// A complete record of an overdue client.
zor::Record client(std::int64_t id, const std::string& identification = "loja") {
    return {
        {"{#CLIENTE_ID}", id},
        {"{#RAZAOSOCIAL}", "Cliente " + std::to_string(id)},
        {"{#CPF_CNPJ}", std::string("123.456.789-09")},
        {"{#VALOR_DIVIDA}", 150.75},
        {"{#TITULOS_EM_ATRASO}", std::int64_t{3}},
        {"{#CONTATO}", std::string("(19) 99999-0000")},
        {"{#PRIMEIRO_VENCIMENTO}", zor::DateTime{2024, 1, 10}},
        {"{#DIAS_ATRASO}", std::int64_t{45}},
        {"{#CIDADE}", std::string("Campinas")},
        {"{#POP}", std::string("POP Centro")},
        {"{#BAIRRO}", std::string("Cambui")},
        {"{#DATA_CADASTRO}", zor::DateTime{2020, 5, 4, 8, 30, 0}},
        {"{#DATA_CRIACAO_TITULO}", zor::DateTime{2023, 12, 1}},
        {"{#ZOR_IDENTIFICATION}", identification},
    };
}

// client(id) as the table holds it, without the timestamp.
TextRow stored_client(std::int64_t id, const std::string& identification = "loja") {
    return {std::to_string(id), "Cliente " + std::to_string(id), "123.456.789-09", "150.75", "3",
            "(19) 99999-0000", "2024-01-10 00:00:00", "45", "Campinas", "POP Centro", "Cambui",
            "2020-05-04 08:30:00", "2023-12-01 00:00:00", identification};
}

void set(zor::Record& record, std::string_view key, zor::Value value) {
    for (zor::Entry& e : record) {
        if (e.key == key) {
            e.value = std::move(value);
            return;
        }
    }
    ADD_FAILURE() << "no entry " << key;
}

std::vector<TextRow> stored_rows(const std::string& db) {
    return query_sql(db, "SELECT " + STORED_COLUMNS + " FROM zor_clientes ORDER BY idcliente, razaosocial");
}

// The lines that open a message of the push or of the schema step; error texts may continue on
// further lines.
bool opens_message(std::string_view line) {
    for (std::string_view start : {"Conectado ", "Enviando ", "UPSERT em ", "Registros antigos ", "Erro ", "Coluna '"}) {
        if (line.substr(0, start.size()) == start) return true;
    }
    return false;
}

// A printed message: exactly `start` when `fragment` is empty, else `start` then an error text
// holding `fragment`.
struct Expected {
    std::string start;
    std::string fragment;
};

void expect_messages(const std::string& out, const std::vector<Expected>& expected) {
    SCOPED_TRACE("printed:\n" + out.substr(0, 4000));
    ASSERT_TRUE(out.empty() || out.back() == '\n');
    std::vector<std::string> got;
    std::size_t pos = 0;
    while (pos < out.size()) {
        const std::size_t end = out.find('\n', pos);
        const std::string line = out.substr(pos, end - pos);
        if (got.empty() || opens_message(line)) {
            got.push_back(line);
        } else {
            got.back() += "\n" + line;
        }
        pos = end + 1;
    }
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

void expect_success(const std::string& out, std::size_t rows) {
    expect_messages(out, {{CONNECTED, ""}, {sending(rows), ""}, {DONE, ""}, {PURGED, ""}});
}

void expect_upsert_failure(const std::string& out, std::size_t rows, const std::string& fragment) {
    expect_messages(out, {{CONNECTED, ""}, {sending(rows), ""}, {UPSERT_FAILED, fragment}, {PURGED, ""}});
}

// A loopback port that refuses connections: bound, never listening, for as long as it lives.
struct ClosedPort {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    std::string port;
    ClosedPort() {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) ADD_FAILURE() << "bind";
        socklen_t len = sizeof addr;
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
        port = std::to_string(ntohs(addr.sin_port));
    }
    ~ClosedPort() { close(fd); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
};

}  // namespace

TEST(SnapshotPush, EmptyListSendsNoInsertButStillPurges) {
    const std::string db = store_with_page_log();
    exec_sql(db, "INSERT INTO zor_clientes (idCliente, zorIdentification, timestamp) "
                 "VALUES (1, 'loja', (NOW() - INTERVAL '2 days')::timestamp)");
    exec_sql(db, "TRUNCATE zor_paginas");

    expect_success(push({}), 0);

    EXPECT_TRUE(pages(db).empty());
    EXPECT_EQ(query_value(db, "SELECT count(*) FROM zor_clientes"), "0");
}

TEST(SnapshotPush, FirstPushCreatesTheTableAndStoresEveryColumn) {
    const std::string db = new_store();
    expect_success(push({client(1), client(2, "filial")}), 2);

    EXPECT_EQ(stored_rows(db), (std::vector<TextRow>{stored_client(1), stored_client(2, "filial")}));
    // Both rows carry the one run timestamp, taken from the clock of this machine.
    EXPECT_EQ(query_value(db, "SELECT count(DISTINCT timestamp) FROM zor_clientes"), "1");
    EXPECT_EQ(query_value(db, "SELECT count(*) FROM zor_clientes "
                              "WHERE timestamp BETWEEN LOCALTIMESTAMP - INTERVAL '10 minutes' AND LOCALTIMESTAMP"),
              "2");
}

TEST(SnapshotPush, RowsGoInPagesOfTenThousandInListOrder) {
    const std::string db = store_with_page_log();
    std::vector<zor::Record> records;
    for (std::int64_t id = 1; id <= 25000; ++id) records.push_back(client(id));

    expect_success(push(records), 25000);

    EXPECT_EQ(pages(db), (std::vector<TextRow>{{"10000", "1", "10000"}, {"10000", "10001", "20000"},
                                                {"5000", "20001", "25000"}}));
    EXPECT_EQ(query_value(db, "SELECT count(*) || ' ' || count(DISTINCT idcliente) || ' ' || count(DISTINCT timestamp) "
                              "FROM zor_clientes WHERE razaosocial = 'Cliente ' || idcliente"),
              "25000 25000 1");
}

TEST(SnapshotPush, FailedPageKeepsEarlierPagesAndSkipsLaterOnes) {
    const std::string db = store_with_page_log();
    exec_sql(db, "INSERT INTO zor_clientes (idCliente, zorIdentification, timestamp) "
                 "VALUES (99999, 'loja', (NOW() - INTERVAL '2 days')::timestamp)");
    exec_sql(db, "TRUNCATE zor_paginas");
    std::vector<zor::Record> records;
    for (std::int64_t id = 1; id <= 25000; ++id) records.push_back(client(id));
    set(records[14999], "{#DIAS_ATRASO}", std::string("abc"));  // in the second page

    expect_upsert_failure(push(records), 25000, "invalid input syntax for type integer: \"abc\"");

    EXPECT_EQ(pages(db), (std::vector<TextRow>{{"10000", "1", "10000"}}));
    EXPECT_EQ(query_value(db, "SELECT count(*) || ' ' || min(idcliente) || ' ' || max(idcliente) FROM zor_clientes"),
              "10000 1 10000");
}

TEST(SnapshotPush, SameRowKeyTwiceInOnePageRejectsThePage) {
    const std::string db = new_store();
    zor::Record again = client(7);
    set(again, "{#RAZAOSOCIAL}", std::string("Outro nome"));

    expect_upsert_failure(push({client(6), client(7), again}), 3, "cannot affect row a second time");

    EXPECT_EQ(query_value(db, "SELECT count(*) FROM zor_clientes"), "0");
}

TEST(SnapshotPush, SecondPushUpdatesOrAddsByRowKey) {
    struct Case {
        const char* name;
        void (*adjust)(zor::Record& first, zor::Record& second);
        const char* rows;  // count of rows after both pushes
    };
    const Case cases[] = {
        {"same client", [](zor::Record&, zor::Record&) {}, "1"},
        {"client without contract",
         [](zor::Record& first, zor::Record& second) {
             set(first, "{#DATA_CADASTRO}", {});
             set(second, "{#DATA_CADASTRO}", {});
         },
         "1"},
        {"client without id",
         [](zor::Record& first, zor::Record& second) {
             set(first, "{#CLIENTE_ID}", {});
             set(second, "{#CLIENTE_ID}", {});
         },
         "1"},
        {"another identification",
         [](zor::Record&, zor::Record& second) { set(second, "{#ZOR_IDENTIFICATION}", std::string("filial")); }, "2"},
        {"another registration date",
         [](zor::Record&, zor::Record& second) { set(second, "{#DATA_CADASTRO}", zor::DateTime{2021, 1, 1}); }, "2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string db = new_store();
        zor::Record first = client(5);
        zor::Record second = client(5);
        set(second, "{#RAZAOSOCIAL}", std::string("Nome novo"));
        set(second, "{#VALOR_DIVIDA}", 300.5);
        set(second, "{#DIAS_ATRASO}", std::int64_t{46});
        set(second, "{#BAIRRO}", zor::Value{});
        c.adjust(first, second);

        expect_success(push({first}), 1);
        const std::string first_timestamp = query_value(db, "SELECT timestamp FROM zor_clientes");
        expect_success(push({second}), 1);

        EXPECT_EQ(query_value(db, "SELECT count(*) FROM zor_clientes"), c.rows);
        EXPECT_EQ(query_value(db, "SELECT count(*) FROM zor_clientes WHERE razaosocial = 'Nome novo' "
                                  "AND valordivida = 300.5 AND diasatraso = 46 AND bairro IS NULL "
                                  "AND timestamp > '" + first_timestamp + "'"),
                  "1");
    }
}

TEST(SnapshotPush, RetentionDropsRowsUnwrittenForADayOfEveryIdentification) {
    const std::string db = new_store();
    exec_sql(db, "CREATE TABLE zor_clientes (" + COLUMNS_SQL +
                     ", UNIQUE NULLS NOT DISTINCT (idCliente, dataCadastro, zorIdentification));"
                     "INSERT INTO zor_clientes (idCliente, dataCadastro, zorIdentification, timestamp) VALUES "
                     "(1, NULL, 'outra', (NOW() - INTERVAL '2 days')::timestamp),"
                     "(2, NULL, 'outra', (NOW() - INTERVAL '23 hours')::timestamp),"
                     "(3, NULL, 'loja', (NOW() - INTERVAL '2 days')::timestamp),"
                     "(4, '2020-05-04 08:30:00', 'loja', (NOW() - INTERVAL '2 days')::timestamp);");

    // Client 4 is seen again and so refreshed before the purge.
    expect_success(push({client(4), client(10)}), 2);

    EXPECT_EQ(query_value(db, "SELECT string_agg(idcliente || ' ' || zoridentification, ', ' ORDER BY idcliente) "
                              "FROM zor_clientes"),
              "2 outra, 4 loja, 10 loja");
}

TEST(SnapshotPush, ColumnsAreFilledByKeyWhateverTheEntryOrder) {
    const std::string db = new_store();
    const zor::Record full = client(8);
    const zor::Record shuffled(full.rbegin(), full.rend());
    zor::Record partial;
    for (const zor::Entry& e : client(9)) {
        if (e.key != "{#CONTATO}" && e.key != "{#DATA_CRIACAO_TITULO}") partial.push_back(e);
    }

    expect_success(push({shuffled, partial}), 2);

    TextRow without_keys = stored_client(9);
    without_keys[5] = std::nullopt;
    without_keys[12] = std::nullopt;
    EXPECT_EQ(stored_rows(db), (std::vector<TextRow>{stored_client(8), without_keys}));
}

TEST(SnapshotPush, ValuesReachTheTableInTheirOwnKind) {
    struct Case {
        const char* name;
        zor::Value debt;
        const char* stored_debt;  // a float8 literal the stored value must equal
        zor::Value first_due;
        const char* stored_first_due;
    };
    const Case cases[] = {
        {"large real", 1e16, "1e16", zor::DateTime{2024, 2, 29, 23, 59, 58, 123456}, "2024-02-29 23:59:58.123456"},
        {"real without exact binary form", 0.1, "0.1", zor::DateTime{1999, 12, 31, 0, 0, 0, 1}, "1999-12-31 00:00:00.000001"},
        {"integer zero", std::int64_t{0}, "0", zor::DateTime{2024, 1, 1}, "2024-01-01 00:00:00"},
        {"negative real", -1234.5678, "-1234.5678", zor::Value{}, ""},
    };
    const std::string db = new_store();
    std::vector<zor::Record> records;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        records.push_back(client(static_cast<std::int64_t>(i)));
        set(records.back(), "{#VALOR_DIVIDA}", cases[i].debt);
        set(records.back(), "{#PRIMEIRO_VENCIMENTO}", cases[i].first_due);
    }
    expect_success(push(records), records.size());

    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const std::string where = " FROM zor_clientes WHERE idcliente = " + std::to_string(i);
        EXPECT_EQ(query_value(db, "SELECT valordivida = " + std::string(cases[i].stored_debt) + "::float8" + where), "t");
        EXPECT_EQ(query_value(db, "SELECT primeirovencimento" + where), cases[i].stored_first_due);
    }
}

TEST(SnapshotPush, HostileTextsAreStoredByteForByte) {
    std::string megabyte;
    while (megabyte.size() < (1u << 20)) megabyte += "x'y\\z$$%s;--\n\t\"";
    const std::vector<std::string> texts = {
        "O'Brien & Filhos",
        "''",
        "\\",
        "\\'",
        "$$",
        "$tag$ corpo $tag$",
        "E'\\\\'",
        "a'); DROP TABLE zor_clientes; --",
        "-- comentário",
        "/* aberto",
        "%s",
        "%% 100%",
        "tab\tnova\nlinha\r\nfim",
        "\x01\x02\x1b[31m\x7f",
        "😀 👍🏽 🇧🇷",
        "e\u0301 a\u0303 \u200b",
        "São João ÇÃÕ",
        "",
        megabyte,
    };
    const std::string db = new_store();
    std::vector<zor::Record> records;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        records.push_back(client(static_cast<std::int64_t>(i)));
        set(records.back(), "{#RAZAOSOCIAL}", texts[i]);
        set(records.back(), "{#BAIRRO}", texts[i]);
        // Short enough for the row key's index.
        if (texts[i].size() < 1000) set(records.back(), "{#ZOR_IDENTIFICATION}", texts[i]);
    }

    expect_success(push(records), texts.size());

    const std::vector<TextRow> rows =
        query_sql(db, "SELECT razaosocial, bairro, zoridentification FROM zor_clientes ORDER BY idcliente");
    ASSERT_EQ(rows.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE("text " + std::to_string(i));
        EXPECT_TRUE(rows[i][0] == texts[i]) << "razaosocial differs";
        EXPECT_TRUE(rows[i][1] == texts[i]) << "bairro differs";
        if (texts[i].size() < 1000) {
            EXPECT_TRUE(rows[i][2] == texts[i]) << "zoridentification differs";
        }
    }
}

TEST(SnapshotPush, FailedConnectionPrintsOneMessageAndReturns) {
    ClosedPort closed;
    struct Case {
        const char* name;
        std::string port;
        std::string password;
        std::string database;
        std::string fragment;
    };
    const Case cases[] = {
        {"nothing listening", closed.port, "", "postgres", "Connection refused"},
        {"wrong password", "", "senha errada", "postgres", "password authentication failed for user \"postgres\""},
        {"missing database", "", "", "nao_existe_h3", "database \"nao_existe_h3\" does not exist"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        point_store_at(c.database, c.port, c.password);
        std::string out;
        EXPECT_NO_THROW(out = push({client(1)}));
        expect_messages(out, {{CONNECT_FAILED, c.fragment}});
    }
}

TEST(SnapshotPush, TableNotMatchingTheUpsertFailsItButRetentionStillRuns) {
    struct Case {
        const char* name;
        std::string columns;
        std::string fragment;
    };
    const Case cases[] = {
        {"no unique row key", COLUMNS_SQL, "there is no unique or exclusion constraint matching the ON CONFLICT"},
        {"cidade stored as integer",
         std::string(COLUMNS_SQL).replace(COLUMNS_SQL.find("cidade TEXT"), 11, "cidade INT") +
             ", UNIQUE (idCliente, dataCadastro, zorIdentification)",
         "invalid input syntax for type integer: \"Campinas\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string db = new_store();
        exec_sql(db, "CREATE TABLE zor_clientes (" + c.columns + ");"
                     "INSERT INTO zor_clientes (idCliente, zorIdentification, timestamp) VALUES "
                     "(1, 'velha', (NOW() - INTERVAL '2 days')::timestamp), (2, 'recente', LOCALTIMESTAMP);");

        expect_upsert_failure(push({client(10), client(11)}), 2, c.fragment);

        EXPECT_EQ(query_value(db, "SELECT string_agg(idcliente::text, ',') FROM zor_clientes"), "2");
    }
}

TEST(SnapshotPush, TimeoutDuringTheUpsertIsNotTakenForAnOrdinaryFailure) {
    const std::string db = store_with_page_log();
    // Another session holds a lock that makes the insert wait.
    const Cluster& c = cluster();
    zor::Connection locker = zor::connect({"127.0.0.1", c.port, db, c.user, c.password});
    zor::execute(locker.get(), "BEGIN; LOCK TABLE zor_clientes IN SHARE MODE;");

    const BoundedRun run = run_with_bound(2, [&] { zor::sendPostgresClientes({client(1)}); });
    const std::string& out = run.out;
    EXPECT_TRUE(run.timed_out);
    // Neither the upsert's failure message nor the retention follow.
    EXPECT_EQ(out, CONNECTED + "\n" + sending(1) + "\n");
    locker.reset();
    EXPECT_EQ(query_value(db, "SELECT count(*) FROM zor_clientes"), "0");
}

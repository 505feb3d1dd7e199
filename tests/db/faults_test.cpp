// Faults of servers, settings and concurrency: the run stays bounded, reports clearly and never
// loses or half-writes stored rows.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "store/snapshot_schema.h"
#include "support.h"

using namespace zor_test;

namespace {

std::string timeout_line() {
    return "Tempo limite de execução excedido: a execução passou de " + std::to_string(short_limit_seconds()) +
           " segundos.";
}

std::string count_rows(const std::string& store, const std::string& ident) {
    return query_value(store, "SELECT count(*) FROM zor_clientes WHERE zoridentification = '" + ident + "'");
}

const std::string SUCCESS_TAIL = "UPSERT em zor_clientes concluído com sucesso!\nRegistros antigos (mais de 1 dia) apagados.\nOK\n";

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

TEST(Faults, SilentServersAndEndlessQueriesEndAtTheBound) {
    SilentServer silent;
    const std::string erp = create_erp_database();
    exec_sql(erp, source_file("samples/erp_sample.sql"));
    const std::string store = create_database("store");

    // An ERP whose titles never come: the statement reads a view that sleeps.
    const std::string sleepy = create_erp_database();
    exec_sql(sleepy, "ALTER TABLE financeiro_titulo RENAME TO titulo_real;"
                     "CREATE VIEW financeiro_titulo AS SELECT t.* FROM titulo_real t, (SELECT pg_sleep(600)) s;");

    struct Case {
        const char* name;
        std::string erp_db;
        bool silent_erp;
        bool silent_store;
    } cases[] = {
        {"silent ERP", erp, true, false},
        {"silent store", erp, false, true},
        {"endless ERP query", sleepy, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> p = discovery_args(c.erp_db, store, "silent");
        if (c.silent_erp) p[3] = silent.port();
        if (c.silent_store) p[9] = silent.port();
        ProcessResult r = run_process(with_program(p, short_limit_program()), 120);
        EXPECT_FALSE(r.timed_out);
        EXPECT_EQ(r.status, 0) << r.out << r.err;
        EXPECT_EQ(r.out, timeout_line() + "\n");
        EXPECT_EQ(r.err, "");
        EXPECT_LT(r.seconds, short_limit_seconds() + 15.0);
    }
    // The cancelled statement does not go on running on the server.
    EXPECT_TRUE(wait_until(
        [&] {
            return query_value("postgres", "SELECT count(*) FROM pg_stat_activity WHERE datname = '" + sleepy +
                                               "' AND state = 'active'") == "0";
        },
        20));
}

TEST(Faults, StoreThatDiesMidPushLosesNoCommittedPageAndHalfWritesNone) {
    const std::string erp = create_erp_database();
    load_many_clients(erp, 25000);
    OwnCluster store_cluster;
    const Cluster& sc = store_cluster.info;
    auto store_sql = [&](const std::string& sql) {
        // The store lives on its own cluster: reach it through the program's own kind of settings.
        std::vector<std::string> argv{"/usr/bin/psql", "-X", "-q", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-h", "127.0.0.1",
                                      "-p", sc.port, "-U", sc.user, "-d", "postgres", "-c", sql};
        ProcessResult r = run_process(argv, 60, {"PGPASSWORD=" + sc.password});
        if (r.status != 0) throw std::runtime_error(r.err);
        std::string out = r.out;
        while (!out.empty() && out.back() == '\n') out.pop_back();
        return out;
    };
    // The table exists, and every statement that writes it takes a while, so the run can be
    // caught between pages.
    // The test clusters commit asynchronously for speed; a committed page must survive the
    // immediate stop here, as it does on a real server.
    store_sql("ALTER DATABASE postgres SET synchronous_commit = on");
    store_sql(zor::create_table_statement(true));
    store_sql("CREATE FUNCTION slow() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN PERFORM pg_sleep(1.5); RETURN NULL; END $$;"
              "CREATE TRIGGER slow AFTER INSERT ON zor_clientes FOR EACH STATEMENT EXECUTE FUNCTION slow();");

    std::vector<std::string> p = discovery_args(erp, "postgres", "dies");
    p[9] = sc.port;
    p[11] = sc.user;
    p[12] = sc.password;
    Spawned sp = spawn_process(with_program(p));
    ASSERT_TRUE(wait_until([&] { return store_sql("SELECT count(*) FROM zor_clientes") != "0"; }, 120));
    store_cluster.stop_immediately();
    ProcessResult r = finish(sp, 120);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("Erro durante UPSERT em zor_clientes: "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Erro ao apagar registros antigos: "), std::string::npos) << r.out;
    EXPECT_TRUE(ends_with(r.out, "OK\n")) << r.out;

    store_cluster.start();
    const int stored = std::stoi(store_sql("SELECT count(*) FROM zor_clientes"));
    EXPECT_GE(stored, 10000);
    EXPECT_LT(stored, 25000);
    EXPECT_EQ(stored % 10000, 0) << "only whole pages are ever written";

    store_sql("DROP TRIGGER slow ON zor_clientes");
    ProcessResult again = run_process(with_program(p), 180);
    EXPECT_EQ(again.status, 0);
    EXPECT_TRUE(ends_with(again.out, SUCCESS_TAIL)) << again.out;
    EXPECT_EQ(store_sql("SELECT count(*) || '/' || count(DISTINCT idcliente) FROM zor_clientes"), "25000/25000");
}

TEST(Faults, ConcurrentPushesOfDifferentIdentificationsKeepExactlyTheirRows) {
    const std::string erp = create_erp_database();
    load_many_clients(erp, 25000);
    const std::string store = create_database("store");
    for (int processes : {2, 4}) {
        for (int round = 0; round < 2; ++round) {
            SCOPED_TRACE(std::to_string(processes) + " processes, round " + std::to_string(round));
            std::vector<Spawned> running;
            for (int i = 0; i < processes; ++i) {
                running.push_back(spawn_process(with_program(discovery_args(erp, store, "conc-" + std::to_string(i)))));
            }
            for (auto& sp : running) {
                ProcessResult r = finish(sp, 300);
                EXPECT_EQ(r.status, 0) << r.err;
                EXPECT_TRUE(ends_with(r.out, SUCCESS_TAIL)) << r.out;
                EXPECT_EQ(r.out.find("deadlock"), std::string::npos) << r.out;
            }
            for (int i = 0; i < processes; ++i) {
                EXPECT_EQ(count_rows(store, "conc-" + std::to_string(i)), "25000");
            }
            EXPECT_EQ(query_value(store, "SELECT count(*) FROM (SELECT idcliente, datacadastro, zoridentification FROM "
                                         "zor_clientes GROUP BY 1, 2, 3 HAVING count(*) > 1) d"),
                      "0");
        }
    }
}

TEST(Faults, OverlappingRunsOfOneIdentificationLoseNoRow) {
    const std::string erp = create_erp_database();
    load_many_clients(erp, 25000);
    const std::string store = create_database("store");
    std::vector<Spawned> running;
    for (int i = 0; i < 2; ++i) running.push_back(spawn_process(with_program(discovery_args(erp, store, "overlap"))));
    for (auto& sp : running) {
        ProcessResult r = finish(sp, 300);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_TRUE(ends_with(r.out, "OK\n")) << r.out;
        // A deadlock, if the server reports one, is only the upsert's failure message.
        if (r.out.find("deadlock") != std::string::npos) {
            EXPECT_NE(r.out.find("Erro durante UPSERT em zor_clientes: "), std::string::npos) << r.out;
        }
    }
    ProcessResult next = run_process(with_program(discovery_args(erp, store, "overlap")), 300);
    EXPECT_TRUE(ends_with(next.out, SUCCESS_TAIL)) << next.out;
    EXPECT_EQ(count_rows(store, "overlap"), "25000");
}

TEST(Faults, StoreUserWithRightsOnTheTableOnlyPushesWithoutErrors) {
    const std::string erp = create_erp_database();
    exec_sql(erp, source_file("samples/erp_sample.sql"));
    const std::string store = create_database("store");
    exec_sql(store, zor::create_table_statement(true));
    const std::string role = "table_only_" + std::to_string(getpid());
    exec_sql("postgres", "CREATE ROLE " + role + " LOGIN PASSWORD 'p'");
    exec_sql(store, "REVOKE CREATE ON SCHEMA public FROM PUBLIC;"
                    "GRANT SELECT, INSERT, UPDATE, DELETE ON zor_clientes TO " + role);
    std::vector<std::string> p = discovery_args(erp, store, "rights");
    p[11] = role;
    p[12] = "p";
    ProcessResult r = run_process(with_program(p));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Conectado ao PostgreSQL com sucesso.\nEnviando 10 registros (Clientes) com UPSERT...\n" + SUCCESS_TAIL);
    EXPECT_EQ(count_rows(store, "rights"), "10");
}

TEST(Faults, EmptyHostNeverMeansTheLocalDefaultServer) {
    const std::string erp = create_erp_database();
    exec_sql(erp, source_file("samples/erp_sample.sql"));
    const std::string store = create_database("store");
    struct Case {
        const char* name;
        std::size_t position;
        int status;
        std::string out;
    } cases[] = {
        {"ERP", 2, 1, ""},
        {"store", 8, 0,
         "Erro ao conectar ao PostgreSQL: host vazio: informe o endereço do servidor PostgreSQL\nOK\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> p = discovery_args(erp, store, "empty-host");
        p[c.position] = "";
        ProcessResult r = run_process(with_program(p));
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
        if (c.status == 1) {
            EXPECT_NE(r.err.find("host vazio"), std::string::npos) << r.err;
        }
    }
}

TEST(Faults, ServerTimeZoneDoesNotShiftStoredDates) {
    const std::string erp = create_erp_database();
    exec_sql(erp, "ALTER DATABASE " + erp + " SET TimeZone = 'Asia/Tokyo';"
                  "INSERT INTO admcore_pessoa VALUES (1, 'Ana', '1');"
                  "INSERT INTO admcore_cliente VALUES (1, 1, NULL);"
                  "INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro) VALUES (1, NULL, '2024-03-05 10:20:30.75');"
                  "INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento, data_documento) "
                  "VALUES (1, 10, 1, '2024-03-05', '2024-02-01 23:30:00');");
    const std::string store = create_database("store");
    ProcessResult r = run_process(with_program(discovery_args(erp, store, "tz")), 120, {"TZ=America/Sao_Paulo"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = query_sql(store, "SELECT primeirovencimento::text, datacadastro::text, datacriacaotitulo::text FROM zor_clientes");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0].value_or(""), "2024-03-05 00:00:00");
    EXPECT_EQ(rows[0][1].value_or(""), "2024-03-05 10:20:30");
    EXPECT_EQ(rows[0][2].value_or(""), "2024-02-01 23:30:00");
}

// Passwords given on the command line must not be readable by other users of the machine: the
// program blanks them from its own arguments, and a background job receives them another way.

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "process_library/launcher.h"
#include "support.h"

using namespace zor_test;

namespace {

const std::string ERP_PASSWORD = "erp senha 'x'=1 $$";
const std::string STORE_PASSWORD = "store \"pw\" postgresql://y";

std::string joined(const std::vector<std::string>& args) {
    std::string s;
    for (const auto& a : args) s += a + '\x01';
    return s;
}

void expect_no_password(const std::string& text) {
    EXPECT_EQ(text.find(ERP_PASSWORD), std::string::npos) << text;
    EXPECT_EQ(text.find(STORE_PASSWORD), std::string::npos) << text;
    EXPECT_EQ(text.find("erp senha"), std::string::npos) << text;
    EXPECT_EQ(text.find("\"pw\""), std::string::npos) << text;
}

// Roles with passwords of their own, so that logging in proves the right password arrived.
struct Roles {
    std::string erp;
    std::string store;
    Roles() {
        erp = create_erp_database();
        exec_sql(erp, source_file("samples/erp_sample.sql"));
        store = create_database("store");
        static int n = 0;
        const std::string suffix = std::to_string(getpid()) + "_" + std::to_string(n++);
        erp_user = "erp_reader_" + suffix;
        store_user = "store_writer_" + suffix;
        exec_sql("postgres", "CREATE ROLE " + erp_user + " LOGIN PASSWORD 'erp senha ''x''=1 $$'");
        exec_sql("postgres", "CREATE ROLE " + store_user + " LOGIN PASSWORD 'store \"pw\" postgresql://y'");
        exec_sql(erp, "GRANT SELECT ON ALL TABLES IN SCHEMA public TO " + erp_user);
        exec_sql(store, "GRANT ALL ON SCHEMA public TO " + store_user);
    }
    std::string erp_user;
    std::string store_user;

    std::vector<std::string> params(const std::string& ident, const std::string& mode = "discovery_clientes") const {
        std::vector<std::string> p = discovery_args(erp, store, ident, mode);
        p[5] = erp_user;
        p[6] = ERP_PASSWORD;
        p[11] = store_user;
        p[12] = STORE_PASSWORD;
        return p;
    }
};

// Pid of the process whose arguments hold `needle` (and are not this test's), or -1.
int find_process(const std::string& needle) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const int pid = std::stoi(name);
        if (pid == getpid()) continue;
        if (joined(proc_cmdline(pid)).find(needle) != std::string::npos) return pid;
    }
    return -1;
}

}  // namespace

TEST(Passwords, BlankedFromTheArgumentsOfARunWaitingOnAServer) {
    Roles roles;
    SilentServer silent;
    std::vector<std::string> p = roles.params("ident-pw-wait");
    p[3] = silent.port();  // the ERP accepts and never answers
    Spawned sp = spawn_process(with_program(p, short_limit_program()));
    ASSERT_TRUE(wait_until([&] { return silent.accepted() > 0; }, 20));

    const std::vector<std::string> args = proc_cmdline(sp.pid);
    ASSERT_EQ(args.size(), 15u);
    EXPECT_EQ(args[1], "discovery_clientes");
    EXPECT_EQ(args[2], p[1]);
    EXPECT_EQ(args[4], silent.port());
    EXPECT_EQ(args.back(), "ident-pw-wait");
    EXPECT_EQ(args[7].find_first_not_of('x'), std::string::npos) << args[7];
    EXPECT_EQ(args[13].find_first_not_of('x'), std::string::npos) << args[13];
    expect_no_password(joined(args));

    ProcessResult r = finish(sp, 60);
    EXPECT_EQ(r.status, 0);
    expect_no_password(r.out + r.err);
}

TEST(Passwords, BackgroundJobGetsThemThroughAPipeAndFillsTheStore) {
    Roles roles;
    const std::string ident = "ident-pw-launch-" + std::to_string(getpid());
    ProcessResult r = run_process(with_program(roles.params(ident, "launch_discovery_clientes")), 60);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");

    // The job logs in with both passwords and stores the sample's clients.
    ASSERT_TRUE(wait_until(
        [&] {
            try {
                return query_value(roles.store, "SELECT count(*) FROM zor_clientes WHERE zoridentification = '" +
                                                    ident + "'") == "10";
            } catch (const std::exception&) {
                return false;  // table not created yet
            }
        },
        60));
    ASSERT_TRUE(wait_until([&] { return find_process(ident) < 0; }, 60));

    // Its output, reported by a next launch, holds no password either; all went well, so the
    // next launch prints nothing.
    std::ifstream log(zor::job_log_path(ident));
    std::string text((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("OK\n"), std::string::npos) << text;
    expect_no_password(text);
    ProcessResult again = run_process(with_program(roles.params(ident, "launch_discovery_clientes")), 60);
    EXPECT_EQ(again.out, "");
    ASSERT_TRUE(wait_until([&] { return find_process(ident) < 0; }, 60));
}

TEST(Passwords, BackgroundJobArgumentsHoldNone) {
    Roles roles;
    SilentServer silent;
    const std::string ident = "ident-pw-bg-" + std::to_string(getpid());
    std::vector<std::string> p = roles.params(ident, "launch_discovery_clientes");
    p[3] = silent.port();
    ProcessResult r = run_process(with_program(p, short_limit_program()), 60);
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    ASSERT_TRUE(wait_until([&] { return silent.accepted() > 0; }, 20));
    const int pid = find_process(ident);
    ASSERT_GT(pid, 0);
    const std::vector<std::string> args = proc_cmdline(pid);
    ASSERT_EQ(args.size(), 15u);
    EXPECT_EQ(args[1], "discovery_clientes");
    EXPECT_EQ(args[7], "");
    EXPECT_EQ(args[13], "");
    EXPECT_EQ(args.back(), ident);
    expect_no_password(joined(args));
    // It ends by itself at its bound.
    EXPECT_TRUE(wait_until([&] { return find_process(ident) < 0; }, 60));
}

TEST(Passwords, WrongPasswordsKeepTheirUsualOutcome) {
    Roles roles;
    struct Case {
        const char* name;
        std::size_t position;  // parameter index of the password to spoil
        int status;
        const char* stdout_start;
    } cases[] = {
        {"store", 12, 0, "Erro ao conectar ao PostgreSQL: "},
        {"erp", 6, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> p = roles.params("ident-pw-wrong");
        p[c.position] += "-wrong";
        ProcessResult r = run_process(with_program(p), 60);
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(r.out.rfind(c.stdout_start, 0), 0u) << r.out;
        if (c.status == 0) {
            EXPECT_EQ(r.out.find('\n'), r.out.size() - 4) << "only the connection message and OK";
            EXPECT_EQ(r.out.substr(r.out.size() - 3), "OK\n");
            EXPECT_NE(r.out.find("password authentication failed"), std::string::npos) << r.out;
        } else {
            EXPECT_EQ(r.out, "");
            EXPECT_NE(r.err.find("password authentication failed"), std::string::npos) << r.err;
        }
        expect_no_password(r.out + r.err);
    }
}

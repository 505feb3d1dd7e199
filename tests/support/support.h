#pragma once
// Test support: a throwaway PostgreSQL cluster for this test process, SQL helpers, and a runner
// that starts the real program as a process.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <thread>
#include <string>
#include <string_view>
#include <vector>

namespace zor_test {

/// The cluster of this test process: started on first use, stopped and removed at exit.
struct Cluster {
    std::string dir;       // temporary directory holding data, socket and log
    std::string port;      // TCP port on 127.0.0.1
    std::string user;      // superuser name
    std::string password;  // superuser password (host connections need it)
};
const Cluster& cluster();

/// PgBouncer in front of the cluster of this test process, listening on a free loopback port with
/// `pool_mode` "transaction", "session" or "statement" and otherwise the package's defaults (no startup
/// parameter ignored); the cluster's superuser logs in with its password. Started on first use
/// for each mode, stopped with the cluster. Returns its port.
const std::string& pgbouncer_port(const std::string& pool_mode);

/// Creates a new database with a unique name built from `prefix`; returns its name.
std::string create_database(std::string_view prefix, std::string_view extra_options = "");

/// Runs SQL (one or more statements) on a database as the superuser; throws on error.
void exec_sql(const std::string& db, const std::string& sql);

/// Runs a query and returns every row as texts (nullopt for NULL).
using TextRow = std::vector<std::optional<std::string>>;
std::vector<TextRow> query_sql(const std::string& db, const std::string& sql);

/// The one value of a query returning one row and one column ("" for NULL).
std::string query_value(const std::string& db, const std::string& sql);

/// Contents of a file of the source tree, by its path relative to the repository root.
std::string source_file(const std::string& relative_path);

/// Creates a database with the ERP tables (empty); returns its name.
std::string create_erp_database(std::string_view extra_options = "");

/// Fills an ERP database with `n` overdue clients (ids 1..n), each with one contract and address.
void load_many_clients(const std::string& db, int n);

struct ProcessResult {
    int status = -1;        // exit status, or -1 when killed by a signal
    int signal = 0;         // the signal that ended it, if any
    bool timed_out = false; // killed by the runner after the time limit
    double seconds = 0;
    std::string out;
    std::string err;
};

/// Runs `argv` (argv[0] is the executable path) with a time limit, capturing both streams.
/// `env` entries ("NAME=value") are added to the environment.
ProcessResult run_process(const std::vector<std::string>& argv, int time_limit_seconds = 180,
                          const std::vector<std::string>& env = {});

/// A process started in the background with its output going to files; `finish` waits for it.
struct Spawned {
    int pid = -1;
    std::string out_path;
    std::string err_path;
};
Spawned spawn_process(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
/// Waits (at most `time_limit_seconds`, then kills it) and collects what it wrote.
ProcessResult finish(Spawned& process, int time_limit_seconds = 180);

/// A second, independent cluster that a test can stop and start again (for server failures).
struct OwnCluster {
    Cluster info;
    OwnCluster();
    ~OwnCluster();
    OwnCluster(const OwnCluster&) = delete;
    OwnCluster& operator=(const OwnCluster&) = delete;
    void stop_immediately();
    void start();
    bool running = false;
};

/// A loopback TCP listener that accepts every connection and never answers, until stopped; then
/// it closes the connections it holds, so their clients see the server go away.
class SilentServer {
  public:
    SilentServer();
    ~SilentServer();
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;

    const std::string& port() const { return port_; }
    /// Connections accepted so far.
    int accepted() const { return accepted_.load(); }
    /// A client socket connected to this server.
    int connect_client() const;
    void stop();

  private:
    void serve();
    int fd_ = -1;
    int stop_[2] = {-1, -1};
    std::string port_;
    std::thread thread_;
    std::vector<int> connections_;  // touched by the serving thread until it is joined
    std::atomic<int> accepted_{0};
};

/// Test fixture for code that reads the local time zone: tests pick one with use_zone, and the
/// process's own TZ comes back afterwards.
class LocalZone : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    static void use_zone(const char* zone);

  private:
    std::optional<std::string> saved_;
};

/// Polls `pred` every 50 ms until it holds or `seconds` have passed; its last answer.
template <typename Pred>
bool wait_until(Pred pred, int seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        if (pred()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return pred();
}

/// Runs `work` and returns what it printed on standard output.
std::string captured_stdout(const std::function<void()>& work);

/// Runs `work` inside a run-time limiter of `seconds`, capturing what it prints.
struct BoundedRun {
    bool timed_out = false;
    std::string out;
};
BoundedRun run_with_bound(int seconds, const std::function<void()>& work);

/// The arguments of a process as /proc shows them (empty when it has gone).
std::vector<std::string> proc_cmdline(int pid);

/// Path of the built program, and of its variant with a bound of a few seconds.
std::string program();
std::string short_limit_program();
int short_limit_seconds();

/// The 14 parameters of a discovery against the ERP and store databases of the test cluster.
/// `port` (the cluster's own when empty) is the port of both databases.
std::vector<std::string> discovery_args(const std::string& erp_db, const std::string& store_db,
                                        const std::string& zabbix_host,
                                        const std::string& mode = "discovery_clientes",
                                        const std::string& port = "");

/// program() followed by the given parameters.
std::vector<std::string> with_program(const std::vector<std::string>& params, const std::string& path = "");

}  // namespace zor_test

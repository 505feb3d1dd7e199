#include "support.h"

#include "process_library/process_library.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace zor_test {

namespace {

bool running_as_root() { return geteuid() == 0; }

std::string pg_bindir() {
    if (const char* env = std::getenv("ZOR_PG_BINDIR")) return env;
    std::string best;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const std::string bin = entry.path().string() + "/bin";
        if (std::filesystem::exists(bin + "/initdb")) {
            if (best.empty() || std::stoi(entry.path().filename().string()) > std::stoi(std::filesystem::path(best).parent_path().filename().string())) {
                best = bin;
            }
        }
    }
    if (best.empty()) throw std::runtime_error("no PostgreSQL server under /usr/lib/postgresql (run scripts/install-deps)");
    return best;
}

// Server commands run as the unprivileged postgres user when the tests run as root.
std::vector<std::string> as_server_user(std::vector<std::string> argv) {
    if (!running_as_root()) return argv;
    argv.insert(argv.begin(), {"/usr/sbin/runuser", "-u", "postgres", "--"});
    return argv;
}

std::string free_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("bind");
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    close(fd);
    return std::to_string(ntohs(addr.sin_port));
}

void check(const ProcessResult& r, const std::string& what) {
    if (r.status != 0) throw std::runtime_error(what + " failed (" + std::to_string(r.status) + "): " + r.out + r.err);
}

void own_by_server_user(const std::string& path) {
    if (!running_as_root()) return;
    passwd* pw = getpwnam("postgres");
    if (pw == nullptr) throw std::runtime_error("the tests run as root and need the user postgres");
    if (chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0) throw std::runtime_error("chown " + path);
}

bool pg_ctl_start(Cluster& c) {
    return run_process(as_server_user({pg_bindir() + "/pg_ctl", "-D", c.dir + "/data", "-l", c.dir + "/log", "-w", "-t",
                                       "60", "-o",
                                       "-F -k " + c.dir + " -p " + c.port +
                                           " -c listen_addresses=127.0.0.1 -c max_connections=200 -c fsync=off"
                                           " -c synchronous_commit=off -c full_page_writes=off",
                                       "start"}),
                       120)
               .status == 0;
}

void pg_ctl_stop(const Cluster& c) {
    run_process(as_server_user({pg_bindir() + "/pg_ctl", "-D", c.dir + "/data", "-m", "immediate", "-w", "stop"}), 60);
}

Cluster make_cluster() {
    Cluster c;
    char tmpl[] = "/tmp/zor-test-pg-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
    c.dir = tmpl;
    c.user = "postgres";
    c.password = "senha de teste";
    own_by_server_user(c.dir);
    std::ofstream(c.dir + "/pwfile") << c.password << '\n';
    own_by_server_user(c.dir + "/pwfile");
    check(run_process(as_server_user({pg_bindir() + "/initdb", "-D", c.dir + "/data", "-U", c.user, "-E", "UTF8",
                                      "--locale=C.UTF-8", "--auth-local=trust", "--auth-host=scram-sha-256",
                                      "--pwfile=" + c.dir + "/pwfile", "-N"}),
                      120),
          "initdb");
    for (int attempt = 0; attempt < 5; ++attempt) {
        c.port = free_port();
        if (pg_ctl_start(c)) return c;
    }
    throw std::runtime_error("could not start the test PostgreSQL; see " + c.dir + "/log");
}

void remove_cluster(Cluster& c) {
    if (c.dir.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(c.dir, ec);
    c.dir.clear();
}

// A PgBouncer started by this process, known by the pid it wrote.
struct Bouncer {
    std::string mode;
    std::string port;
    int pid = -1;
};

// Whether `pid` still runs (a daemon that ended may stay a zombie until its parent reaps it).
bool running(int pid) {
    if (kill(pid, 0) != 0) return false;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const auto close = line.rfind(')');
    return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

void stop_bouncer(const Bouncer& b) {
    if (b.pid <= 0) return;
    kill(b.pid, SIGTERM);
    if (!wait_until([&] { return !running(b.pid); }, 10)) kill(b.pid, SIGKILL);
}

struct ClusterHolder {
    Cluster c;
    bool started = false;
    std::vector<Bouncer> bouncers;

    ~ClusterHolder() { stop(); }

    void stop() {
        for (const Bouncer& b : bouncers) stop_bouncer(b);
        bouncers.clear();
        if (started) pg_ctl_stop(c);
        started = false;
        remove_cluster(c);
    }
};

ClusterHolder& holder() {
    static ClusterHolder h;
    return h;
}

struct ConnDeleter {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResDeleter {
    void operator()(PGresult* r) const { PQclear(r); }
};

std::unique_ptr<PGconn, ConnDeleter> open_db(const std::string& db) {
    const Cluster& c = cluster();
    const char* keys[] = {"host", "port", "dbname", "user", "password", nullptr};
    const char* values[] = {"127.0.0.1", c.port.c_str(), db.c_str(), c.user.c_str(), c.password.c_str(), nullptr};
    std::unique_ptr<PGconn, ConnDeleter> conn(PQconnectdbParams(keys, values, 0));
    if (PQstatus(conn.get()) != CONNECTION_OK) throw std::runtime_error(std::string("connect: ") + PQerrorMessage(conn.get()));
    PQsetClientEncoding(conn.get(), "UTF8");
    return conn;
}

// The argument and environment vectors of a process to start: the environment is this process's
// plus `extra` ("NAME=value").
struct ExecArgs {
    std::vector<std::string> args;
    std::vector<std::string> envs;
    std::vector<char*> argv;
    std::vector<char*> envp;
    ExecArgs(const std::vector<std::string>& a, const std::vector<std::string>& extra) : args(a) {
        for (char** e = environ; *e; ++e) envs.emplace_back(*e);
        envs.insert(envs.end(), extra.begin(), extra.end());
        for (auto& x : args) argv.push_back(x.data());
        argv.push_back(nullptr);
        for (auto& x : envs) envp.push_back(x.data());
        envp.push_back(nullptr);
    }
};

std::string read_all(int fd) {
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) s.append(buf, static_cast<std::size_t>(n));
    return s;
}

}  // namespace

const Cluster& cluster() {
    ClusterHolder& h = holder();
    if (!h.started) {
        h.c = make_cluster();
        h.started = true;
        // Also stop the cluster when a test ends the process early.
        std::atexit([] { holder().stop(); });
    }
    return h.c;
}

namespace {

bool accepts_login(const std::string& port) {
    const Cluster& c = cluster();
    const char* keys[] = {"host", "port", "dbname", "user", "password", "connect_timeout", nullptr};
    const char* values[] = {"127.0.0.1", port.c_str(), "postgres", c.user.c_str(), c.password.c_str(), "5", nullptr};
    std::unique_ptr<PGconn, ConnDeleter> conn(PQconnectdbParams(keys, values, 0));
    return PQstatus(conn.get()) == CONNECTION_OK;
}

Bouncer start_bouncer(const std::string& mode) {
    const Cluster& c = cluster();
    const std::string dir = c.dir + "/pgbouncer-" + mode;
    std::filesystem::create_directories(dir);
    own_by_server_user(dir);
    std::string quoted_password;
    for (char ch : c.password) quoted_password += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    std::ofstream(dir + "/userlist.txt") << '"' << c.user << "\" \"" << quoted_password << "\"\n";
    own_by_server_user(dir + "/userlist.txt");
    for (int attempt = 0; attempt < 5; ++attempt) {
        Bouncer b;
        b.mode = mode;
        b.port = free_port();
        // Round robin over a few server connections: in transaction pooling, consecutive
        // statements of one client then run on different server sessions.
        std::ofstream(dir + "/pgbouncer.ini")
            << "[databases]\n* = host=127.0.0.1 port=" << c.port << "\n\n[pgbouncer]\n"
            << "listen_addr = 127.0.0.1\nlisten_port = " << b.port << "\nunix_socket_dir =\n"
            << "auth_type = scram-sha-256\nauth_file = " << dir << "/userlist.txt\n"
            << "pool_mode = " << mode << "\nserver_round_robin = 1\ndefault_pool_size = 4\n"
            << "max_client_conn = 100\nlogfile = " << dir << "/pgbouncer.log\npidfile = " << dir
            << "/pgbouncer.pid\n";
        own_by_server_user(dir + "/pgbouncer.ini");
        std::filesystem::remove(dir + "/pgbouncer.pid");
        const ProcessResult r = run_process(as_server_user({"/usr/sbin/pgbouncer", "-d", dir + "/pgbouncer.ini"}), 60);
        if (r.status != 0) continue;
        wait_until([&] { return std::filesystem::exists(dir + "/pgbouncer.pid"); }, 10);
        std::ifstream(dir + "/pgbouncer.pid") >> b.pid;
        if (b.pid > 0 && wait_until([&] { return accepts_login(b.port); }, 20)) return b;
        stop_bouncer(b);
    }
    throw std::runtime_error("could not start pgbouncer (" + mode + "); see " + dir + "/pgbouncer.log");
}

}  // namespace

const std::string& pgbouncer_port(const std::string& pool_mode) {
    cluster();
    ClusterHolder& h = holder();
    for (const Bouncer& b : h.bouncers) {
        if (b.mode == pool_mode) return b.port;
    }
    h.bouncers.push_back(start_bouncer(pool_mode));
    return h.bouncers.back().port;
}

std::string create_database(std::string_view prefix, std::string_view extra_options) {
    static std::atomic<int> counter{0};
    const std::string name = std::string(prefix) + "_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    exec_sql("postgres", "CREATE DATABASE " + name + " " + std::string(extra_options));
    return name;
}

void exec_sql(const std::string& db, const std::string& sql) {
    auto conn = open_db(db);
    std::unique_ptr<PGresult, ResDeleter> r(PQexec(conn.get(), sql.c_str()));
    const auto st = PQresultStatus(r.get());
    if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
        throw std::runtime_error("SQL failed: " + std::string(PQresultErrorMessage(r.get())) + "\n" + sql.substr(0, 500));
    }
}

std::vector<TextRow> query_sql(const std::string& db, const std::string& sql) {
    auto conn = open_db(db);
    std::unique_ptr<PGresult, ResDeleter> r(PQexec(conn.get(), sql.c_str()));
    if (PQresultStatus(r.get()) != PGRES_TUPLES_OK) {
        throw std::runtime_error("query failed: " + std::string(PQresultErrorMessage(r.get())) + "\n" + sql);
    }
    std::vector<TextRow> rows;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
        TextRow row;
        for (int j = 0; j < PQnfields(r.get()); ++j) {
            if (PQgetisnull(r.get(), i, j)) {
                row.emplace_back(std::nullopt);
            } else {
                row.emplace_back(std::string(PQgetvalue(r.get(), i, j), static_cast<std::size_t>(PQgetlength(r.get(), i, j))));
            }
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string query_value(const std::string& db, const std::string& sql) {
    auto rows = query_sql(db, sql);
    if (rows.size() != 1 || rows[0].size() != 1) throw std::runtime_error("expected one value from: " + sql);
    return rows[0][0].value_or("");
}

std::string source_file(const std::string& relative_path) {
    std::ifstream in(std::string(ZOR_SOURCE_DIR) + "/" + relative_path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + relative_path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string create_erp_database(std::string_view extra_options) {
    std::string db = create_database("erp", extra_options);
    exec_sql(db, source_file("samples/erp_schema.sql"));
    return db;
}

void load_many_clients(const std::string& db, int n) {
    const std::string N = std::to_string(n);
    exec_sql(db, "INSERT INTO admcore_pessoa SELECT g, 'Cliente ' || g, lpad(g::text, 11, '0') FROM generate_series(1," + N + ") g;"
                 "INSERT INTO admcore_endereco SELECT g, 'Bairro ' || (g % 50) FROM generate_series(1," + N + ") g;"
                 "INSERT INTO admcore_cliente SELECT g, g, g FROM generate_series(1," + N + ") g;"
                 "INSERT INTO admcore_pop VALUES (1, 3550308, 'São Paulo (Centro)');"
                 "INSERT INTO admcore_cidade VALUES ('3550308', 'São Paulo');"
                 "INSERT INTO admcore_clientecontrato (cliente_id, pop_id, data_cadastro) "
                 "  SELECT g, 1, timestamp '2020-01-01' + g * interval '1 minute' FROM generate_series(1," + N + ") g;"
                 "INSERT INTO admcore_contato SELECT g, '(11) 9' || lpad(g::text, 8, '0') FROM generate_series(1," + N + ") g;"
                 "INSERT INTO admcore_clientecontato (cliente_id, contato_id) SELECT g, g FROM generate_series(1," + N + ") g;"
                 "INSERT INTO financeiro_titulo (cliente_id, valor, status, data_vencimento, data_documento) "
                 "  SELECT g, 99.90 + g % 7, 1, CURRENT_DATE - 10 - g % 30, timestamp '2024-01-01 08:00' FROM generate_series(1," + N + ") g;");
}

ProcessResult run_process(const std::vector<std::string>& argv, int time_limit_seconds, const std::vector<std::string>& env) {
    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    ExecArgs exec(argv, env);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        setpgid(0, 0);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        execve(exec.argv[0], exec.argv.data(), exec.envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    ProcessResult result;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_fds = 2;
    const auto deadline = start + std::chrono::seconds(time_limit_seconds);
    char buf[65536];
    while (open_fds > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            result.timed_out = true;
            kill(-pid, SIGKILL);
            break;
        }
        int n = poll(fds, 2, static_cast<int>(left));
        if (n < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            ssize_t got = read(fds[i].fd, buf, sizeof buf);
            if (got <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_fds;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<std::size_t>(got));
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) {
            std::string rest = read_all(f.fd);
            close(f.fd);
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

Spawned spawn_process(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
    static std::atomic<int> counter{0};
    Spawned sp;
    const std::string base = "/tmp/zor-test-out-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
    sp.out_path = base + ".out";
    sp.err_path = base + ".err";
    ExecArgs exec(argv, env);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        setpgid(0, 0);
        int in = open("/dev/null", O_RDONLY);
        int out = open(sp.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(sp.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        execve(exec.argv[0], exec.argv.data(), exec.envp.data());
        _exit(127);
    }
    sp.pid = pid;
    return sp;
}

ProcessResult finish(Spawned& sp, int time_limit_seconds) {
    ProcessResult result;
    const auto start = std::chrono::steady_clock::now();
    int status = 0;
    for (;;) {
        pid_t got = waitpid(sp.pid, &status, WNOHANG);
        if (got == sp.pid) break;
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(time_limit_seconds)) {
            result.timed_out = true;
            kill(-sp.pid, SIGKILL);
            waitpid(sp.pid, &status, 0);
            break;
        }
        usleep(20000);
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    std::ifstream out(sp.out_path, std::ios::binary), err(sp.err_path, std::ios::binary);
    std::ostringstream o, e;
    o << out.rdbuf();
    e << err.rdbuf();
    result.out = o.str();
    result.err = e.str();
    unlink(sp.out_path.c_str());
    unlink(sp.err_path.c_str());
    sp.pid = -1;
    return result;
}

OwnCluster::OwnCluster() : info(make_cluster()), running(true) {}

OwnCluster::~OwnCluster() {
    if (running) pg_ctl_stop(info);
    remove_cluster(info);
}

void OwnCluster::stop_immediately() {
    pg_ctl_stop(info);
    running = false;
}

void OwnCluster::start() {
    if (!pg_ctl_start(info)) throw std::runtime_error("could not restart the cluster; see " + info.dir + "/log");
    running = true;
}

SilentServer::SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd_, 64) != 0) {
        throw std::runtime_error("silent server: bind/listen");
    }
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = std::to_string(ntohs(addr.sin_port));
    if (pipe2(stop_, O_CLOEXEC) != 0) throw std::runtime_error("silent server: pipe");
    thread_ = std::thread([this] { serve(); });
}

SilentServer::~SilentServer() { stop(); }

void SilentServer::serve() {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) != 0) {
            const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c >= 0) {
                connections_.push_back(c);  // held open, never answered
                ++accepted_;
            }
        }
    }
}

void SilentServer::stop() {
    if (!thread_.joinable()) return;
    ssize_t ignored = write(stop_[1], "x", 1);
    (void)ignored;
    thread_.join();
    for (int c : connections_) close(c);
    connections_.clear();
    close(fd_);
    close(stop_[0]);
    close(stop_[1]);
}

int SilentServer::connect_client() const {
    const int c = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<unsigned short>(std::stoi(port_)));
    if (c < 0 || ::connect(c, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        throw std::runtime_error("silent server: connect");
    }
    return c;
}

void LocalZone::SetUp() {
    if (const char* tz = std::getenv("TZ")) saved_ = tz;
}

void LocalZone::TearDown() {
    if (saved_) {
        setenv("TZ", saved_->c_str(), 1);
    } else {
        unsetenv("TZ");
    }
    tzset();
}

void LocalZone::use_zone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

std::vector<std::string> proc_cmdline(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    const std::string raw = s.str();
    std::vector<std::string> args;
    std::size_t pos = 0;
    while (pos < raw.size()) {
        std::size_t nul = raw.find('\0', pos);
        if (nul == std::string::npos) nul = raw.size();
        args.push_back(raw.substr(pos, nul - pos));
        pos = nul + 1;
    }
    return args;
}

std::string captured_stdout(const std::function<void()>& work) {
    testing::internal::CaptureStdout();
    try {
        work();
    } catch (...) {
        testing::internal::GetCapturedStdout();
        throw;
    }
    return testing::internal::GetCapturedStdout();
}

BoundedRun run_with_bound(int seconds, const std::function<void()>& work) {
    BoundedRun run;
    run.out = captured_stdout([&] {
        try {
            zor::RuntimeLimiter guard = zor::runtime_limiter(seconds);
            zor::enter(guard);
            work();
        } catch (const zor::TimeoutException&) {
            run.timed_out = true;
        }
    });
    return run;
}

std::string program() { return ZOR_PROGRAM; }
std::string short_limit_program() { return ZOR_SHORT_LIMIT_PROGRAM; }
int short_limit_seconds() { return ZOR_SHORT_LIMIT_SECONDS; }

std::vector<std::string> discovery_args(const std::string& erp_db, const std::string& store_db,
                                        const std::string& zabbix_host, const std::string& mode,
                                        const std::string& port) {
    const Cluster& c = cluster();
    const std::string& p = port.empty() ? c.port : port;
    return {mode, "host", "127.0.0.1", p, erp_db, c.user, c.password, "1",
            "127.0.0.1", p, store_db, c.user, c.password, zabbix_host};
}

std::vector<std::string> with_program(const std::vector<std::string>& params, const std::string& path) {
    std::vector<std::string> argv{path.empty() ? program() : path};
    argv.insert(argv.end(), params.begin(), params.end());
    return argv;
}

}  // namespace zor_test

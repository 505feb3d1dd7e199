// The command line of the real program: parameter count, version banner, mode dispatch, exit
// statuses, and the background job of "launch_discovery_clientes".

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "process_library/launcher.h"
#include "process_library/process_library.h"
#include "support.h"

using namespace zor_test;

namespace {

// ---------------------------------------------------------------------------------------------
// Loopback ports

// A loopback port that is bound but not listening: every connection to it is refused at once.
class ClosedPort {
public:
    ClosedPort() {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("bind");
        socklen_t len = sizeof addr;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = std::to_string(ntohs(addr.sin_port));
    }
    ~ClosedPort() { close(fd_); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    const std::string& port() const { return port_; }

private:
    int fd_ = -1;
    std::string port_;
};


// The 14 parameters of the full form with both databases at the given port.
std::vector<std::string> full_form(const std::string& mode, const std::string& port,
                                   const std::string& zabbix_host = "cli-test") {
    return {mode,        "host", "127.0.0.1", port,    "erp",       "erp_user",      "senha-erp",
            "1",         "127.0.0.1", port,   "store", "store_user", "senha-store", zabbix_host};
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string count_message(int count) {
    return "Erro de execução, parâmetros incorretos. São esperados 15 argumentos. Foram inputados: " +
           std::to_string(count) + " parâmetros.\n";
}

// ---------------------------------------------------------------------------------------------
// Parameter count

TEST(CommandLine, WrongParameterCountIsRefused) {
    for (int count : {0, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 15, 30}) {
        SCOPED_TRACE("parameters: " + std::to_string(count));
        // The first parameter is "version": the count is checked before any mode is looked at.
        std::vector<std::string> params(static_cast<std::size_t>(count), "p");
        if (count > 0) params[0] = "version";
        const ProcessResult r = run_process(with_program(params), 60);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, count_message(count));
        EXPECT_EQ(r.err, "");
    }
}

// ---------------------------------------------------------------------------------------------
// Version banner

// Runs the program from a given directory, so that a relative path can be argument 0.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& dir) : saved_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~WorkingDirectory() { std::filesystem::current_path(saved_); }

private:
    std::filesystem::path saved_;
};

void expect_banner(const ProcessResult& r, const std::string& second_line) {
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    const std::vector<std::string> lines = lines_of(r.out);
    ASSERT_EQ(lines.size(), 2u) << r.out;
    EXPECT_EQ(r.out.back(), '\n');
    EXPECT_GT(lines[0].size(), 1u);
    EXPECT_EQ(lines[0].front(), ' ') << "the rights notice begins with one space";
    EXPECT_EQ(lines[1], second_line);
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << "the banner carries no colour";
}

TEST(CommandLine, VersionBannerInBothForms) {
    const ClosedPort nothing;
    const std::string path = program();
    ASSERT_EQ(path.find("./"), std::string::npos) << path;
    const std::filesystem::path as_path(path);
    const std::string dir = as_path.parent_path().string();
    const std::string name = as_path.filename().string();

    struct Case {
        std::string name;
        std::string argv0;
        bool full;
        std::string second_line;
    };
    const Case cases[] = {
        {"short form", path, false, path + "  1.0.0"},
        {"full form", path, true, path + "  1.0.0"},
        {"dot-slash inside the path", dir + "/./" + name, false, dir + "/ " + name + "  1.0.0"},
        {"full form, dot-slash inside the path", dir + "/./" + name, true, dir + "/ " + name + "  1.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> params =
            c.full ? full_form("version", nothing.port()) : std::vector<std::string>{"version"};
        expect_banner(run_process(with_program(params, c.argv0), 60), c.second_line);
    }

    SCOPED_TRACE("started as ./name");
    const WorkingDirectory here(dir);
    expect_banner(run_process(with_program({"version"}, "./" + name), 60), " " + name + "  1.0.0");
}

// ---------------------------------------------------------------------------------------------
// Modes

TEST(CommandLine, FullFormModesThatMatchNoRuleDoNothing) {
    const ClosedPort nothing;
    for (const char* mode : {"Version", "VERSION", "discovery_clientes ", " discovery_clientes", "Discovery_clientes",
                             "zabbix_check", "--help", "-v", "", "LAUNCH_discovery_clientes", "launch-discovery"}) {
        SCOPED_TRACE(std::string("mode '") + mode + "'");
        const ProcessResult r = run_process(with_program(full_form(mode, nothing.port())), 60);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "");
    }
}

TEST(CommandLine, ShortFormOtherThanVersionFails) {
    for (const char* mode : {"discovery_clientes", "x", "Version", "launch_discovery_clientes", "", "--help"}) {
        SCOPED_TRACE(std::string("mode '") + mode + "'");
        const ProcessResult r = run_process(with_program({mode}), 60);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        const std::vector<std::string> lines = lines_of(r.err);
        ASSERT_EQ(lines.size(), 1u) << r.err;
        EXPECT_EQ(r.err.back(), '\n');
        EXPECT_NE(lines[0].find("zor_clientes_postgres"), std::string::npos) << r.err;
    }
}

TEST(CommandLine, UnknownLaunchJobFails) {
    const ClosedPort nothing;
    struct Case {
        const char* mode;
        const char* job;
    };
    for (const Case& c : {Case{"launch_unknownjob", "unknownjob"}, Case{"xlaunch_fooy", "fooy"}}) {
        SCOPED_TRACE(c.mode);
        const ProcessResult r = run_process(with_program(full_form(c.mode, nothing.port())), 60);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        const std::vector<std::string> lines = lines_of(r.err);
        ASSERT_EQ(lines.size(), 1u) << r.err;
        EXPECT_NE(lines[0].find(c.job), std::string::npos) << r.err;
    }
}

// ---------------------------------------------------------------------------------------------
// Background job of "launch_discovery_clientes"

std::vector<std::string> cmdline_of(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::vector<std::string> args;
    std::string arg;
    for (char ch; in.get(ch);) {
        if (ch == '\0') {
            args.push_back(arg);
            arg.clear();
        } else {
            arg += ch;
        }
    }
    return args;
}

// Processes whose last argument is `identification` and whose mode is "discovery_clientes".
std::vector<std::string> jobs_for(const std::string& identification) {
    std::vector<std::string> pids;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        const std::vector<std::string> args = cmdline_of(pid);
        if (args.size() >= 2 && args.back() == identification && args[1] == "discovery_clientes") pids.push_back(pid);
    }
    return pids;
}

// Field 6 (session) and field 3 (state) of /proc/PID/stat, read after the command name.
struct ProcStat {
    char state = '?';
    long session = -1;
};
std::optional<ProcStat> stat_of(const std::string& pid) {
    std::ifstream in("/proc/" + pid + "/stat");
    std::string text;
    if (!std::getline(in, text)) return std::nullopt;
    const auto close_paren = text.rfind(')');
    if (close_paren == std::string::npos) return std::nullopt;
    std::istringstream fields(text.substr(close_paren + 1));
    ProcStat s;
    long ppid = 0, pgrp = 0;
    fields >> s.state >> ppid >> pgrp >> s.session;
    return s;
}

bool gone(const std::string& pid) {
    const auto s = stat_of(pid);
    return !s || s->state == 'Z' || s->state == 'X';
}

// Waits up to `seconds` for `condition`; returns whether it came true.
template <typename Condition>
bool eventually(Condition condition, double seconds) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Whether another open file description holds the job's lock right now.
bool lock_is_held(const std::string& identification) {
    const std::string path = zor::job_lock_path(identification);
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return held;
}

std::string unique_identification(const char* what) {
    static int counter = 0;
    return std::string("zor-cli-") + what + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter) + "-" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

class LaunchTest : public ::testing::Test {
protected:
    // The ERP and store settings point at a server that accepts and never answers, so a started
    // job stays in its first connection until the test stops the server.
    SilentServer server_;
    std::string identification_;

    void TearDown() override {
        server_.stop();
        // Whatever happened, leave no job behind.
        for (const std::string& pid : jobs_for(identification_)) {
            eventually([&] { return gone(pid); }, 30);
        }
        std::filesystem::remove(zor::job_lock_path(identification_));
        std::filesystem::remove(zor::job_log_path(identification_));
    }

    // Launches a job, waits until it is in its first connection and returns its process id.
    std::string start_job() {
        const ProcessResult r = run_process(with_program(launch_params()), 30);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        std::vector<std::string> pids;
        if (!eventually([&] { return !(pids = jobs_for(identification_)).empty(); }, 10)) return "";
        EXPECT_TRUE(eventually([&] { return server_.accepted() >= 1; }, 20));
        return pids.front();
    }

    std::vector<std::string> launch_params() const {
        return {"launch_discovery_clientes", "erp host", "127.0.0.1",  server_.port(), "erp db",
                "erp_user",                  "senha-erp", "",          "127.0.0.1",    server_.port(),
                "store",                     "store_user", "senha store", identification_};
    }
};

TEST_F(LaunchTest, StartsADetachedJobAndReturnsAtOnce) {
    identification_ = unique_identification("launch");
    const std::vector<std::string> params = launch_params();
    const ProcessResult r = run_process(with_program(params), 30);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_LT(r.seconds, 10.0) << "the launch must not wait for the job";

    std::vector<std::string> pids;
    ASSERT_TRUE(eventually([&] { return !(pids = jobs_for(identification_)).empty(); }, 10))
        << "no background job found";
    ASSERT_EQ(pids.size(), 1u);
    const std::string pid = pids.front();

    // The same program, in discovery mode, with the other parameters as given and no passwords.
    const std::vector<std::string> args = cmdline_of(pid);
    ASSERT_EQ(args.size(), 15u);
    std::vector<std::string> expected = params;
    expected[0] = "discovery_clientes";
    expected[6] = "";
    expected[12] = "";
    EXPECT_EQ(std::vector<std::string>(args.begin() + 1, args.end()), expected);
    std::error_code ec;
    EXPECT_EQ(std::filesystem::read_symlink("/proc/" + pid + "/exe", ec), std::filesystem::canonical(program()));

    // Detached: a session of its own, outside the caller's.
    const auto stat = stat_of(pid);
    ASSERT_TRUE(stat.has_value());
    EXPECT_NE(stat->session, static_cast<long>(getsid(0)));

    // It works on the ERP (its first connection) and holds the lock of its identification.
    EXPECT_TRUE(eventually([&] { return server_.accepted() >= 1; }, 20));
    EXPECT_TRUE(lock_is_held(identification_));

    // Once the server goes away the job ends by itself and frees the lock.
    server_.stop();
    EXPECT_TRUE(eventually([&] { return gone(pid); }, 30)) << "the background job did not end";
    EXPECT_FALSE(lock_is_held(identification_));
}

TEST_F(LaunchTest, StartsNoSecondJobWhileOneRuns) {
    identification_ = unique_identification("busy");

    // Stand in for a running job by holding its lock.
    const std::string lock_path = zor::job_lock_path(identification_);
    int lock_fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(lock_fd, 0);
    ASSERT_EQ(flock(lock_fd, LOCK_EX), 0);

    const ProcessResult busy = run_process(with_program(launch_params()), 30);
    EXPECT_EQ(busy.status, 0);
    EXPECT_EQ(busy.out, "");
    EXPECT_EQ(busy.err, "");
    // Give a wrongly started job the time to show itself.
    EXPECT_FALSE(eventually([&] { return !jobs_for(identification_).empty() || server_.accepted() > 0; }, 3));
    close(lock_fd);

    // With the lock free, the same launch does start a job.
    const ProcessResult free_now = run_process(with_program(launch_params()), 30);
    EXPECT_EQ(free_now.status, 0);
    EXPECT_EQ(free_now.out, "");
    EXPECT_EQ(free_now.err, "");
    EXPECT_TRUE(eventually([&] { return server_.accepted() >= 1; }, 20));
    EXPECT_EQ(jobs_for(identification_).size(), 1u);
}

TEST_F(LaunchTest, NextLaunchTellsHowThePreviousJobFailed) {
    identification_ = unique_identification("report");
    const std::string pid = start_job();
    ASSERT_FALSE(pid.empty()) << "no background job found";
    server_.stop();  // the job's ERP connection fails
    ASSERT_TRUE(eventually([&] { return gone(pid); }, 30));

    const ProcessResult r = run_process(with_program(launch_params()), 30);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("zor_clientes_postgres"), std::string::npos) << "the failure of the job was not reported: " << r.out;
    EXPECT_EQ(r.out.back(), '\n');
}

}  // namespace

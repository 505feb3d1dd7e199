#include "process_library/process_library.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>

extern char** environ;

namespace zor {

namespace {

using Clock = std::chrono::steady_clock;

std::optional<Clock::time_point> g_deadline;
int g_limit_seconds = 0;
LaunchContext g_launch;

// The backstop writes this from a signal handler, so it is prepared beforehand.
char g_backstop_text[256];
std::size_t g_backstop_length = 0;

constexpr const char* SECRETS_FD_VARIABLE = "ZOR_LAUNCH_SECRETS_FD";
constexpr int SECRETS_FD = 3;
constexpr int LOCK_FD = 4;

std::string timeout_text(int limit) {
    return "Tempo limite de execução excedido: a execução passou de " + std::to_string(limit) + " segundos.";
}

extern "C" void backstop_handler(int) {
    // Only async-signal-safe calls here: the main flow is stuck in a wait that cannot poll.
    ssize_t ignored = write(STDOUT_FILENO, g_backstop_text, g_backstop_length);
    (void)ignored;
    _exit(0);
}

void disarm() {
    alarm(0);
    g_deadline.reset();
}

// Moves a descriptor out of the low range so that dup2 onto 3 and 4 cannot clobber it.
int move_high(int fd) {
    int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
    if (high < 0) return -1;
    close(fd);
    return high;
}

[[noreturn]] void fail_child(int report_fd) {
    int err = errno;
    ssize_t ignored = write(report_fd, &err, sizeof err);
    (void)ignored;
    _exit(127);
}

std::string system_error(const std::string& what) { return what + ": " + std::strerror(errno); }

// Lines that a background discovery writes when all went well; anything else is worth telling.
bool is_success_line(std::string_view line) {
    if (line.empty() || line == "OK" || line == "Conectado ao PostgreSQL com sucesso." ||
        line == "UPSERT em zor_clientes concluído com sucesso!" || line == "Registros antigos (mais de 1 dia) apagados.") {
        return true;
    }
    constexpr std::string_view sending = "Enviando ";
    constexpr std::string_view sending_end = " registros (Clientes) com UPSERT...";
    return line.size() > sending.size() + sending_end.size() && line.substr(0, sending.size()) == sending &&
           line.substr(line.size() - sending_end.size()) == sending_end;
}

// What the previous background job of this identification reported, other than success: printed
// by the next launch, so that the Zabbix item shows it.
std::string previous_job_report(const std::string& log_path) {
    int fd = open(log_path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return "";
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    close(fd);
    if (text.empty()) return "";
    std::string report;
    std::string_view last;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string::npos) nl = text.size();
        std::string_view line(text.data() + pos, nl - pos);
        if (!line.empty()) last = line;
        if (!is_success_line(line)) {
            report += line;
            report += '\n';
        }
        pos = nl + 1;
    }
    if (report.empty() && last != "OK") report = "A execução anterior em segundo plano terminou sem concluir (sem \"OK\").\n";
    return report;
}

void start_background_discovery() {
    const LaunchContext& ctx = g_launch;
    if (ctx.params.size() < 2) throw std::runtime_error("launch: parâmetros insuficientes para o job em segundo plano");

    // One background job per identification: it holds this lock until it ends or dies.
    const std::string lock_path = job_lock_path(ctx.params.back());
    int lock_fd = open(lock_path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lock_fd < 0) throw std::runtime_error(system_error("launch: não foi possível abrir " + lock_path));
    if (flock(lock_fd, LOCK_EX | LOCK_NB) != 0) {
        const bool busy = errno == EWOULDBLOCK;
        std::string err = system_error("launch: não foi possível travar " + lock_path);
        close(lock_fd);
        if (busy) return;  // the previous job is still running: nothing new is started
        throw std::runtime_error(err);
    }

    const std::string log_path = job_log_path(ctx.params.back());
    const std::string previous = previous_job_report(log_path);
    if (!previous.empty()) {
        std::fwrite(previous.data(), 1, previous.size(), stdout);
        std::fflush(stdout);
    }
    unlink(log_path.c_str());  // a fresh file of our own, never one planted in its place
    int log_fd = open(log_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (log_fd < 0) {
        std::string err = system_error("launch: não foi possível criar " + log_path);
        close(lock_fd);
        throw std::runtime_error(err);
    }

    std::vector<std::string> args;
    args.push_back(ctx.program_path);
    args.push_back("discovery_clientes");
    std::string secrets;
    for (std::size_t i = 1; i < ctx.params.size(); ++i) {
        bool secret = false;
        for (std::size_t s : ctx.secret_positions) secret = secret || s == i;
        if (secret) {
            secrets += std::to_string(ctx.params[i].size()) + '\n' + ctx.params[i];
            args.emplace_back();
        } else {
            args.push_back(ctx.params[i]);
        }
    }
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);

    std::string env_entry = std::string(SECRETS_FD_VARIABLE) + "=" + std::to_string(SECRETS_FD);
    std::vector<char*> envp;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, SECRETS_FD_VARIABLE, std::strlen(SECRETS_FD_VARIABLE)) != 0) envp.push_back(*e);
    }
    envp.push_back(env_entry.data());
    envp.push_back(nullptr);

    int secret_pipe[2];
    int report_pipe[2];
    if (pipe2(secret_pipe, O_CLOEXEC) != 0) {
        close(lock_fd);
        close(log_fd);
        throw std::runtime_error(system_error("launch: pipe"));
    }
    if (pipe2(report_pipe, O_CLOEXEC) != 0) {
        close(lock_fd);
        close(log_fd);
        close(secret_pipe[0]);
        close(secret_pipe[1]);
        throw std::runtime_error(system_error("launch: pipe"));
    }
    // The secrets are small: they fit in the pipe's buffer and wait there for the job to read them.
    ssize_t written = write(secret_pipe[1], secrets.data(), secrets.size());
    close(secret_pipe[1]);
    if (written != static_cast<ssize_t>(secrets.size())) {
        close(lock_fd);
        close(log_fd);
        close(secret_pipe[0]);
        close(report_pipe[0]);
        close(report_pipe[1]);
        throw std::runtime_error("launch: falha ao passar as senhas ao job em segundo plano");
    }

    std::fflush(nullptr);
    pid_t first = fork();
    if (first < 0) {
        close(lock_fd);
        close(log_fd);
        close(secret_pipe[0]);
        close(report_pipe[0]);
        close(report_pipe[1]);
        throw std::runtime_error(system_error("launch: fork"));
    }
    if (first == 0) {
        // Leave the caller's session and process group, so Zabbix's kill of the check's group
        // does not reach the job; the second fork makes it an orphan that init reaps.
        int report = move_high(report_pipe[1]);
        int secret_read = move_high(secret_pipe[0]);
        int lock_high = move_high(lock_fd);
        int log_high = move_high(log_fd);
        if (report < 0 || secret_read < 0 || lock_high < 0 || log_high < 0) _exit(127);
        if (setsid() < 0) fail_child(report);
        pid_t second = fork();
        if (second < 0) fail_child(report);
        if (second > 0) _exit(0);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull < 0) fail_child(report);
        if (dup2(devnull, STDIN_FILENO) < 0 || dup2(log_high, STDOUT_FILENO) < 0 ||
            dup2(log_high, STDERR_FILENO) < 0 || dup2(secret_read, SECRETS_FD) < 0 || dup2(lock_high, LOCK_FD) < 0) {
            fail_child(report);
        }
        // Nothing else of this process is handed on to the job.
        for (int fd = LOCK_FD + 1; fd < 1024; ++fd) {
            if (fd != report) close(fd);
        }
        execve("/proc/self/exe", argv.data(), envp.data());
        fail_child(report);
    }
    close(lock_fd);
    close(log_fd);
    close(secret_pipe[0]);
    close(report_pipe[1]);
    int status = 0;
    while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    int child_errno = 0;
    ssize_t got;
    while ((got = read(report_pipe[0], &child_errno, sizeof child_errno)) < 0 && errno == EINTR) {
    }
    close(report_pipe[0]);
    if (got > 0) {
        errno = child_errno;
        throw std::runtime_error(system_error("launch: falha ao iniciar o job em segundo plano"));
    }
}

}  // namespace

RuntimeLimiter::~RuntimeLimiter() {
    if (entered) disarm();
}

RuntimeLimiter runtime_limiter(int limit) { return RuntimeLimiter(limit); }

void enter(RuntimeLimiter& guard) {
    g_limit_seconds = guard.limit_seconds;
    g_deadline = Clock::now() + std::chrono::seconds(guard.limit_seconds);
    guard.entered = true;

    std::string text = timeout_text(guard.limit_seconds) + "\n";
    g_backstop_length = std::min(text.size(), sizeof g_backstop_text);
    std::memcpy(g_backstop_text, text.data(), g_backstop_length);
    struct sigaction action {};
    action.sa_handler = backstop_handler;
    sigemptyset(&action.sa_mask);
    sigaction(SIGALRM, &action, nullptr);
    alarm(static_cast<unsigned>(guard.limit_seconds + BACKSTOP_GRACE_SECONDS));
}

void leave(RuntimeLimiter& guard) {
    if (!guard.entered) return;
    const bool passed = g_deadline && Clock::now() >= *g_deadline;
    disarm();
    guard.entered = false;
    if (passed) throw TimeoutException{timeout_text(guard.limit_seconds)};
}

int milliseconds_left() {
    if (!g_deadline) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*g_deadline - Clock::now()).count();
    if (left <= 0) return 0;
    return left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
}

void raise_timeout() { throw TimeoutException{timeout_text(g_limit_seconds)}; }

void check_deadline() {
    if (g_deadline && Clock::now() >= *g_deadline) raise_timeout();
}

void wait_for_socket(int fd, bool for_write) {
    pollfd p{fd, static_cast<short>(for_write ? POLLOUT : POLLIN), 0};
    for (;;) {
        check_deadline();
        int ready = poll(&p, 1, milliseconds_left());
        if (ready > 0) return;
        if (ready == 0) raise_timeout();
        if (errno != EINTR) throw std::runtime_error(system_error("poll"));
    }
}

void set_launch_context(LaunchContext context) { g_launch = std::move(context); }

void launch(std::string_view mode) {
    constexpr std::string_view marker = "launch_";
    const auto at = mode.find(marker);
    const std::string_view job = at == std::string_view::npos ? mode : mode.substr(at + marker.size());
    if (job == "discovery_clientes") {
        start_background_discovery();
        return;
    }
    throw std::runtime_error("launch: job desconhecido '" + std::string(job) + "'");
}

std::vector<std::string> receive_launch_secrets() {
    const char* fd_text = std::getenv(SECRETS_FD_VARIABLE);
    if (fd_text == nullptr) return {};
    const int fd = std::atoi(fd_text);
    unsetenv(SECRETS_FD_VARIABLE);
    std::string data;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        data.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    std::vector<std::string> secrets;
    std::size_t pos = 0;
    while (pos < data.size()) {
        const auto nl = data.find('\n', pos);
        if (nl == std::string::npos) break;
        const std::size_t len = std::strtoull(data.c_str() + pos, nullptr, 10);
        if (nl + 1 + len > data.size()) break;
        secrets.push_back(data.substr(nl + 1, len));
        pos = nl + 1 + len;
    }
    return secrets;
}

std::string job_log_path(std::string_view identification) {
    std::string path = job_lock_path(identification);
    return path.substr(0, path.size() - 5) + ".log";
}

std::string job_lock_path(std::string_view identification) {
    std::string safe;
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a, so that names cleaned alike stay apart
    for (unsigned char c : identification) {
        hash = (hash ^ c) * 1099511628211ULL;
        if (safe.size() < 64) safe += (std::isalnum(c) || c == '.' || c == '-' || c == '_') ? static_cast<char>(c) : '_';
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    // The user id is part of the name: a job started by hand as another user (root, say) must not
    // leave files that the zabbix user can no longer open.
    return "/tmp/zor_clientes_postgres-" + std::to_string(geteuid()) + "-" + safe + "-" + hex + ".lock";
}

}  // namespace zor

#include "process_library/launcher.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>

extern char** environ;

namespace zor {

namespace {

LaunchContext g_launch;

constexpr const char* SECRETS_FD_VARIABLE = "ZOR_LAUNCH_SECRETS_FD";
constexpr int SECRETS_FD = 3;
constexpr int LOCK_FD = 4;

constexpr const char* FOLDER_NAME = "zor_clientes_postgres";

std::string system_error(const std::string& what) { return what + ": " + std::strerror(errno); }

// An open file descriptor, closed when it goes out of scope.
struct Descriptor {
    int fd = -1;

    Descriptor() = default;
    explicit Descriptor(int value) : fd(value) {}
    Descriptor(Descriptor&& other) noexcept : fd(std::exchange(other.fd, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd, other.fd);
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
};

struct DirCloser {
    void operator()(DIR* dir) const noexcept { closedir(dir); }
};
using dir_ptr = std::unique_ptr<DIR, DirCloser>;

// The folder of this user's job files, open: every file in it is opened relative to `dir`, so
// that nothing renamed or linked on the way to it can send a file elsewhere.
struct StateFolder {
    std::string path;
    Descriptor dir;
};

// What the check of one candidate folder found.
struct FolderCheck {
    Descriptor dir;        // open when the folder passed
    bool foreign = false;  // missing, not a real folder, or another user's
    std::string problem;   // why it did not pass
};

std::string octal_mode(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Opens `name` in `parent` without following a link, then checks what the descriptor is: a real
// folder of the effective user that no one else may enter. In a folder that fails this, another
// user could read, replace or block the job's files.
FolderCheck check_folder(int parent, const std::string& name) {
    FolderCheck check;
    const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        check.foreign = true;
        struct stat entry {};
        if (fstatat(parent, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(entry.st_mode)) {
            check.problem = "é um link simbólico";
        } else if (err == ENOTDIR) {
            check.problem = "não é uma pasta";
        } else {
            check.problem = std::strerror(err);
        }
        return check;
    }
    Descriptor dir(fd);
    struct stat st {};
    if (fstat(dir.fd, &st) != 0) {
        check.foreign = true;
        check.problem = std::strerror(errno);
        return check;
    }
    if (!S_ISDIR(st.st_mode)) {
        check.foreign = true;
        check.problem = "não é uma pasta";
        return check;
    }
    if (st.st_uid != geteuid()) {
        check.foreign = true;
        check.problem = "pertence ao uid " + std::to_string(st.st_uid) + ", não ao uid " + std::to_string(geteuid());
        return check;
    }
    if ((st.st_mode & 07777) != 0700) {
        check.problem = "modo " + octal_mode(st.st_mode) + ", esperado 0700";
        return check;
    }
    check.dir = std::move(dir);
    return check;
}

[[noreturn]] void refuse_folder(const std::string& path, const std::string& problem) {
    throw std::runtime_error("launch: pasta de estado recusada: " + path + " (" + problem + "); nenhum job foi iniciado");
}

// Gives a folder just made mode 0700 whatever the umask took away.
void settle_mode(int parent, const char* name) {
    Descriptor made(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (made.fd >= 0) (void)fchmod(made.fd, 0700);
}

// Makes `name` in `parent` unless something already has that name; the check that follows
// judges whatever is there.
void make_folder(int parent, const char* name) {
    if (mkdirat(parent, name, 0700) == 0) settle_mode(parent, name);
}

// The first by name of this user's private folders in /tmp (`prefix` and six characters), so
// that every launch of the user settles on the same one.
std::optional<std::string> first_private_folder(int tmp, const std::string& prefix) {
    Descriptor listing(openat(tmp, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (listing.fd < 0) throw std::runtime_error(system_error("launch: não foi possível ler /tmp"));
    dir_ptr dir(fdopendir(listing.fd));
    if (!dir) throw std::runtime_error(system_error("launch: não foi possível ler /tmp"));
    listing.fd = -1;  // closedir closes it now
    std::optional<std::string> first;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string_view name(entry->d_name);
        if (name.size() != prefix.size() + 6 || name.substr(0, prefix.size()) != prefix) continue;
        struct stat st {};
        if (fstatat(tmp, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != geteuid()) {
            continue;  // another user's, or a link: never ours
        }
        if (!first || name < *first) first = std::string(name);
    }
    return first;
}

// A folder of the user's own in /tmp when another user holds the plain name there: the name has a
// random ending that no one can plant in advance.
StateFolder private_tmp_folder(int tmp, const std::string& prefix) {
    std::optional<std::string> name = first_private_folder(tmp, prefix);
    if (!name) {
        std::string made_path = "/tmp/" + prefix + "XXXXXX";
        if (mkdtemp(made_path.data()) == nullptr) {
            throw std::runtime_error(system_error("launch: não foi possível criar " + made_path));
        }
        const std::string made = made_path.substr(std::strlen("/tmp/"));
        settle_mode(tmp, made.c_str());
        // Two first launches at the same moment may each have made one: both keep the first.
        name = first_private_folder(tmp, prefix);
        if (!name) name = made;
        if (*name != made) unlinkat(tmp, made.c_str(), AT_REMOVEDIR);
    }
    const std::string path = "/tmp/" + *name;
    FolderCheck check = check_folder(tmp, *name);
    if (!check.problem.empty()) refuse_folder(path, check.problem);
    return {path, std::move(check.dir)};
}

// Folders of the user's session (XDG_RUNTIME_DIR) count only when private to the effective user:
// a run as root with another user's environment must not write there.
std::optional<std::string> private_runtime_folder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime == nullptr || runtime[0] != '/') return std::nullopt;
    Descriptor dir(open(runtime, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat st {};
    if (dir.fd < 0 || fstat(dir.fd, &st) != 0 || st.st_uid != geteuid() || (st.st_mode & 077) != 0) {
        return std::nullopt;
    }
    std::string path = runtime;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

// Finds, makes when needed, opens and checks this user's state folder; see state_folder().
StateFolder open_state_folder() {
    if (const std::optional<std::string> runtime = private_runtime_folder()) {
        const std::string path = (*runtime == "/" ? "" : *runtime) + "/" + FOLDER_NAME;
        Descriptor parent(open(runtime->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (parent.fd < 0) refuse_folder(path, std::strerror(errno));
        make_folder(parent.fd, FOLDER_NAME);
        FolderCheck check = check_folder(parent.fd, FOLDER_NAME);
        if (!check.problem.empty()) refuse_folder(path, check.problem);
        return {path, std::move(check.dir)};
    }

    // Only root can make the package's folder under /run: it is used when it is this user's.
    const std::string package = PACKAGE_STATE_FOLDER;
    const std::string package_parent = package.substr(0, package.rfind('/'));
    const std::string package_name = package.substr(package.rfind('/') + 1);
    Descriptor run(open(package_parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (run.fd >= 0) {
        FolderCheck check = check_folder(run.fd, package_name);
        if (!check.foreign) {
            if (!check.problem.empty()) refuse_folder(package, check.problem);
            return {package, std::move(check.dir)};
        }
    }

    Descriptor tmp(open("/tmp", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (tmp.fd < 0) throw std::runtime_error(system_error("launch: não foi possível abrir /tmp"));
    const std::string name = std::string(FOLDER_NAME) + "-" + std::to_string(geteuid());
    make_folder(tmp.fd, name.c_str());
    FolderCheck check = check_folder(tmp.fd, name);
    if (!check.foreign) {
        if (!check.problem.empty()) refuse_folder("/tmp/" + name, check.problem);
        return {"/tmp/" + name, std::move(check.dir)};
    }
    // Anyone can make an entry of that name in /tmp before this user does; such an entry is
    // never used, nor may it stop the user's jobs.
    return private_tmp_folder(tmp.fd, name + ".");
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
std::string previous_job_report(int folder, const std::string& log_name) {
    Descriptor log(openat(folder, log_name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (log.fd < 0) return "";
    std::string text;
    char buf[65536];
    ssize_t n;
    while ((n = read(log.fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
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

    const StateFolder folder = open_state_folder();
    const std::string stem = job_file_stem(ctx.params.back());

    // One background job per identification: it holds this lock until it ends or dies.
    const std::string lock_name = stem + ".lock";
    const std::string lock_path = folder.path + "/" + lock_name;
    Descriptor lock(openat(folder.dir.fd, lock_name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (lock.fd < 0) throw std::runtime_error(system_error("launch: não foi possível abrir " + lock_path));
    if (flock(lock.fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) return;  // the previous job is still running: nothing new is started
        throw std::runtime_error(system_error("launch: não foi possível travar " + lock_path));
    }

    const std::string log_name = stem + ".log";
    const std::string previous = previous_job_report(folder.dir.fd, log_name);
    if (!previous.empty()) {
        std::fwrite(previous.data(), 1, previous.size(), stdout);
        std::fflush(stdout);
    }
    unlinkat(folder.dir.fd, log_name.c_str(), 0);  // a fresh file for the new job
    Descriptor log(openat(folder.dir.fd, log_name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (log.fd < 0) throw std::runtime_error(system_error("launch: não foi possível criar " + folder.path + "/" + log_name));

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

    int pipe_ends[2];
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error(system_error("launch: pipe"));
    Descriptor secret_read(pipe_ends[0]);
    Descriptor secret_write(pipe_ends[1]);
    if (pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error(system_error("launch: pipe"));
    Descriptor report_read(pipe_ends[0]);
    Descriptor report_write(pipe_ends[1]);
    // The secrets are small: they fit in the pipe's buffer and wait there for the job to read them.
    const ssize_t written = write(secret_write.fd, secrets.data(), secrets.size());
    secret_write = Descriptor();
    if (written != static_cast<ssize_t>(secrets.size())) {
        throw std::runtime_error("launch: falha ao passar as senhas ao job em segundo plano");
    }

    std::fflush(nullptr);
    pid_t first = fork();
    if (first < 0) throw std::runtime_error(system_error("launch: fork"));
    if (first == 0) {
        // Leave the caller's session and process group, so Zabbix's kill of the check's group
        // does not reach the job; the second fork makes it an orphan that init reaps.
        int report = move_high(report_write.fd);
        int secret_high = move_high(secret_read.fd);
        int lock_high = move_high(lock.fd);
        int log_high = move_high(log.fd);
        if (report < 0 || secret_high < 0 || lock_high < 0 || log_high < 0) _exit(127);
        if (setsid() < 0) fail_child(report);
        pid_t second = fork();
        if (second < 0) fail_child(report);
        if (second > 0) _exit(0);
        int devnull = open("/dev/null", O_RDWR);
        if (devnull < 0) fail_child(report);
        if (dup2(devnull, STDIN_FILENO) < 0 || dup2(log_high, STDOUT_FILENO) < 0 ||
            dup2(log_high, STDERR_FILENO) < 0 || dup2(secret_high, SECRETS_FD) < 0 || dup2(lock_high, LOCK_FD) < 0) {
            fail_child(report);
        }
        // Nothing else of this process is handed on to the job.
        for (int fd = LOCK_FD + 1; fd < 1024; ++fd) {
            if (fd != report) close(fd);
        }
        execve("/proc/self/exe", argv.data(), envp.data());
        fail_child(report);
    }
    lock = Descriptor();
    log = Descriptor();
    secret_read = Descriptor();
    report_write = Descriptor();
    int status = 0;
    while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
    }
    int child_errno = 0;
    ssize_t got;
    while ((got = read(report_read.fd, &child_errno, sizeof child_errno)) < 0 && errno == EINTR) {
    }
    if (got > 0) {
        errno = child_errno;
        throw std::runtime_error(system_error("launch: falha ao iniciar o job em segundo plano"));
    }
}

}  // namespace

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

std::string state_folder() { return open_state_folder().path; }

std::string job_file_stem(std::string_view identification) {
    std::string safe;
    std::uint64_t hash = 1469598103934665603ULL;  // FNV-1a, so that names cleaned alike stay apart
    for (unsigned char c : identification) {
        hash = (hash ^ c) * 1099511628211ULL;
        if (safe.size() < 64) safe += (std::isalnum(c) || c == '.' || c == '-' || c == '_') ? static_cast<char>(c) : '_';
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return safe + "-" + hex;
}

std::string job_log_path(std::string_view identification) {
    return state_folder() + "/" + job_file_stem(identification) + ".log";
}

std::string job_lock_path(std::string_view identification) {
    return state_folder() + "/" + job_file_stem(identification) + ".lock";
}

}  // namespace zor

#include "cli/run.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "cli/console.h"
#include "cli/run_config.h"
#include "discovery/client_discovery_record.h"
#include "process_library/launcher.h"
#include "process_library/process_library.h"

namespace zor {

namespace {

// Positions of the two passwords among the parameters after the program name (0-based).
constexpr std::size_t DB_PASSWORD_POSITION = 6;
constexpr std::size_t PG_PASSWORD_POSITION = 12;

int dispatch(const RunConfig& cfg) {
    if (cfg.mode == "version") return get_version(std::cout);
    if (!cfg.full_form) throw std::runtime_error("o modo '" + cfg.mode + "' exige os 14 parâmetros");
    if (cfg.mode == "discovery_clientes") return discovery_clientes();
    if (cfg.mode.find("launch_") != std::string::npos) launch(cfg.mode);
    return 0;
}

// The generic error report is one line, whatever line breaks the error text holds.
std::string one_line(std::string text) {
    std::string out;
    bool blank = false;
    for (char c : text) {
        if (c == '\n' || c == '\t' || c == '\r' || c == ' ') {
            blank = true;
            continue;
        }
        if (blank && !out.empty()) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

void report_error(const std::string& text) {
    std::cout.flush();
    std::cerr << "zor_clientes_postgres: erro: " << one_line(text) << '\n';
    std::cerr.flush();
}

}  // namespace

std::string count_message(int count) {
    return "Erro de execução, parâmetros incorretos. São esperados 15 argumentos. Foram inputados: " +
           std::to_string(count) + " parâmetros.";
}

int run_program(int argc, char** argv, int runtime_limit) {
    const int count = argc - 1;
    if (count != 1 && count != FULL_FORM_PARAMETERS) {
        say(count_message(count));
        return 1;
    }
    // With TZ unset, glibc checks /etc/localtime again on every local-time conversion (a system
    // call per date of every client); naming that same file once spares it.
    setenv("TZ", ":/etc/localtime", 0);
    set_program_path(argv[0] != nullptr ? argv[0] : "");
    RunConfig cfg = parse_run_config(count, argv + 1);
    if (cfg.full_form) {
        // A background job gets the real passwords through the launcher's pipe, not its arguments.
        std::vector<std::string> secrets = receive_launch_secrets();
        if (secrets.size() == 2) {
            cfg.db_password = std::move(secrets[0]);
            cfg.pg_password = std::move(secrets[1]);
        }
        // Other local users can read every process's arguments: keep the passwords out of them.
        // The bytes are overwritten with a filler rather than NULs, so that /proc still shows
        // 15 arguments with the identification last.
        for (std::size_t pos : {DB_PASSWORD_POSITION, PG_PASSWORD_POSITION}) {
            char* arg = argv[pos + 1];
            std::memset(arg, 'x', std::strlen(arg));
        }
        LaunchContext launch_context{program_path(), {}, {DB_PASSWORD_POSITION, PG_PASSWORD_POSITION}};
        for (const std::string* field :
             {&cfg.mode, &cfg.host, &cfg.db_ip, &cfg.db_port, &cfg.db_name, &cfg.db_user, &cfg.db_password,
              &cfg.pop_id, &cfg.postgres_ip, &cfg.postgres_port, &cfg.pg_db, &cfg.pg_user, &cfg.pg_password,
              &cfg.zabbix_host}) {
            launch_context.params.push_back(*field);
        }
        set_launch_context(std::move(launch_context));
    }
    set_run_config(std::move(cfg));

    try {
        RuntimeLimiter guard = runtime_limiter(runtime_limit);
        enter(guard);
        const int status = dispatch(run_config());
        leave(guard);
        return status;
    } catch (const TimeoutException& e) {
        say(e.text);
        return 0;
    } catch (const std::exception& e) {
        report_error(e.what());
        return 1;
    } catch (...) {
        report_error("erro desconhecido");
        return 1;
    }
}

}  // namespace zor

#include "cli/run_config.h"

#include <stdexcept>

namespace zor {

namespace {
RunConfig g_config;
std::string g_program_path;
}  // namespace

RunConfig parse_run_config(int count, const char* const* p) {
    RunConfig c;
    if (count == 1) {
        c.mode = p[0];
        return c;
    }
    if (count != FULL_FORM_PARAMETERS) throw std::invalid_argument("contagem de parâmetros inválida");
    c.mode = p[0];
    c.host = p[1];
    c.db_ip = p[2];
    c.db_port = p[3];
    c.db_name = p[4];
    c.db_user = p[5];
    c.db_password = p[6];
    c.pop_id = p[7];
    c.postgres_ip = p[8];
    c.postgres_port = p[9];
    c.pg_db = p[10];
    c.pg_user = p[11];
    c.pg_password = p[12];
    c.zabbix_host = p[13];
    c.full_form = true;
    return c;
}

const RunConfig& run_config() { return g_config; }
void set_run_config(RunConfig config) { g_config = std::move(config); }

const std::string& program_path() { return g_program_path; }
void set_program_path(std::string path) { g_program_path = std::move(path); }

}  // namespace zor

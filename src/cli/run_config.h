#pragma once
/// The settings of one run, taken verbatim from the positional parameters.

#include <string>
#include <string_view>

namespace zor {

inline constexpr std::string_view VERSION = "1.0.0";

#ifndef ZOR_RUNTIME_LIMIT
#define ZOR_RUNTIME_LIMIT 300
#endif
/// Bound of one run, in seconds, handed to the run-time limiter. A test build may lower it.
constexpr int RUNTIME_LIMIT = ZOR_RUNTIME_LIMIT;

/// Every field is the parameter's text exactly as received; in the short form only `mode` is set.
struct RunConfig {
    std::string mode;
    std::string host;
    std::string db_ip;
    std::string db_port;
    std::string db_name;
    std::string db_user;
    std::string db_password;
    std::string pop_id;
    std::string postgres_ip;
    std::string postgres_port;
    std::string pg_db;
    std::string pg_user;
    std::string pg_password;
    std::string zabbix_host;
    bool full_form = false;
};

/// Number of parameters after the program name in the full form.
inline constexpr int FULL_FORM_PARAMETERS = 14;

/// Fills the settings from the parameters after the program name (1 or 14 of them).
RunConfig parse_run_config(int count, const char* const* params);

/// The settings of this run; set once at start, read-only afterwards.
const RunConfig& run_config();
void set_run_config(RunConfig config);

/// The program path as the process received it (argument 0).
const std::string& program_path();
void set_program_path(std::string path);

}  // namespace zor

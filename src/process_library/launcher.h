#pragma once
/// The background launcher: the state folder of this user's jobs, the files of each job in it and
/// the pipe that hands the passwords to a job.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zor {

/// What `launch` needs of this run: the program path, the parameters after it, and which of
/// them are secrets that must not show in the background job's arguments.
struct LaunchContext {
    std::string program_path;
    std::vector<std::string> params;
    std::vector<std::size_t> secret_positions;  // indexes into params
};
void set_launch_context(LaunchContext context);

/// Runs the job that a "launch_" mode names (the text after "launch_"). "discovery_clientes"
/// starts this program again as a detached background job and returns at once, after printing
/// what the previous job of the same identification reported other than success.
void launch(std::string_view mode);

/// In a background job: the secrets that the launcher passed through an inherited pipe, in the
/// order of their positions; empty when this process was not started by the launcher.
std::vector<std::string> receive_launch_secrets();

/// The folder that the installed package prepares for the zabbix user's jobs (a tmpfiles.d entry).
inline constexpr const char* PACKAGE_STATE_FOLDER = "/run/zor_clientes_postgres";

/// The folder where this user's background jobs keep their lock and log files, made when
/// missing and checked (a real folder of the effective user, mode 0700). In order:
/// $XDG_RUNTIME_DIR/zor_clientes_postgres when that runtime folder is the user's own and private;
/// PACKAGE_STATE_FOLDER when it belongs to the user; else /tmp/zor_clientes_postgres-<uid>, or,
/// when another user holds that name, a private /tmp/zor_clientes_postgres-<uid>.XXXXXX.
/// Throws std::runtime_error naming the folder when the folder fails its check.
std::string state_folder();

/// Name, inside the state folder, of the files of the job for `identification` (without the
/// ".lock" or ".log" ending).
std::string job_file_stem(std::string_view identification);

/// Where a background job for `identification` writes its output; the next launch reports what
/// in it is not the usual success.
std::string job_log_path(std::string_view identification);

/// The lock file that a background job for `identification` holds while it runs; one per user
/// and identification, in the user's state folder.
std::string job_lock_path(std::string_view identification);

}  // namespace zor

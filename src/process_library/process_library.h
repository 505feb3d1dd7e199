#pragma once
/// The process library: the run-time bound, deadline-aware waits and the background launcher.

#include <string>
#include <string_view>
#include <vector>

namespace zor {

/// The limiter's report that the run exceeded its bound. Deliberately not a std::exception, so
/// that handlers of ordinary errors let it through to the top of the program.
struct TimeoutException {
    std::string text;
    const char* what() const noexcept { return text.c_str(); }
};

/// Scoped guard of the run-time bound. Entering it arms the deadline; leaving it checks it.
struct RuntimeLimiter {
    int limit_seconds = 0;
    bool entered = false;

    explicit RuntimeLimiter(int limit) : limit_seconds(limit) {}
    RuntimeLimiter(const RuntimeLimiter&) = delete;
    RuntimeLimiter& operator=(const RuntimeLimiter&) = delete;
    /// Disarms the deadline and the backstop; never throws.
    ~RuntimeLimiter();
};

/// Creates the guard for a bound of `limit` seconds.
RuntimeLimiter runtime_limiter(int limit);

/// Arms the deadline, and a backstop that ends the process a few seconds after it whatever
/// the program is waiting on.
void enter(RuntimeLimiter& guard);

/// Leaves the guard normally: raises TimeoutException when the deadline has passed.
void leave(RuntimeLimiter& guard);

/// Seconds past the deadline after which the backstop writes the time-out text and exits 0.
inline constexpr int BACKSTOP_GRACE_SECONDS = 5;

/// Milliseconds left until the deadline (0 when it has passed), or -1 when no deadline is armed.
int milliseconds_left();

/// Raises TimeoutException when an armed deadline has passed.
void check_deadline();

/// Raises the TimeoutException of the armed bound.
[[noreturn]] void raise_timeout();

/// Waits until `fd` is readable (or writable); raises TimeoutException when the deadline passes.
void wait_for_socket(int fd, bool for_write);

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

/// Where a background job for `identification` writes its output; the next launch reports what
/// in it is not the usual success.
std::string job_log_path(std::string_view identification);

/// Name of the lock file that a background job for `identification` holds while it runs; one per
/// user and identification, under /tmp.
std::string job_lock_path(std::string_view identification);

}  // namespace zor

#pragma once
/// The process library: the run-time bound and the waits that honour it. The background launcher
/// is in launcher.h.

#include <string>

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

}  // namespace zor

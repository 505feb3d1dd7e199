#include "process_library/process_library.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace zor {

namespace {

using Clock = std::chrono::steady_clock;

std::optional<Clock::time_point> g_deadline;
int g_limit_seconds = 0;

// The backstop writes this from a signal handler, so it is prepared beforehand.
char g_backstop_text[256];
std::size_t g_backstop_length = 0;

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

std::string system_error(const std::string& what) { return what + ": " + std::strerror(errno); }

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

}  // namespace zor

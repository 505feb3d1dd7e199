// The run-time limiter: the deadline, the waits that honour it, and the program's report of a
// time-out.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "process_library/process_library.h"
#include "store/pg.h"
#include "support.h"

using namespace zor_test;

namespace {

static_assert(!std::is_base_of_v<std::exception, zor::TimeoutException>,
              "a time-out must pass the handlers of ordinary errors");


double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// How a call ended: by a time-out, by an ordinary error, or normally.
enum class Outcome { returned, ordinary_error, timeout };

template <typename Call>
Outcome outcome_of(Call call, std::string* text = nullptr) {
    try {
        try {
            call();
        } catch (const std::exception& e) {
            if (text) *text = e.what();
            return Outcome::ordinary_error;
        }
    } catch (const zor::TimeoutException& e) {
        if (text) *text = e.text;
        return Outcome::timeout;
    }
    return Outcome::returned;
}

// ---------------------------------------------------------------------------------------------
// The deadline

TEST(RuntimeLimiter, NoDeadlineWhenNotEntered) {
    EXPECT_EQ(zor::milliseconds_left(), -1);
    EXPECT_NO_THROW(zor::check_deadline());
    {
        zor::RuntimeLimiter guard = zor::runtime_limiter(60);
        EXPECT_EQ(zor::milliseconds_left(), -1) << "creating the guard does not arm it";
        zor::enter(guard);
        const int left = zor::milliseconds_left();
        EXPECT_GT(left, 50000);
        EXPECT_LE(left, 60000);
        EXPECT_NO_THROW(zor::leave(guard));
        EXPECT_EQ(zor::milliseconds_left(), -1) << "leaving disarms the deadline";
    }
    {
        zor::RuntimeLimiter guard = zor::runtime_limiter(60);
        zor::enter(guard);
    }
    EXPECT_EQ(zor::milliseconds_left(), -1) << "a guard that goes out of scope disarms the deadline";
}

TEST(RuntimeLimiter, LeavingAfterTheDeadlineRaisesTheTimeout) {
    zor::RuntimeLimiter guard = zor::runtime_limiter(1);
    zor::enter(guard);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(zor::milliseconds_left(), 0);
    std::string text;
    EXPECT_EQ(outcome_of([&] { zor::leave(guard); }, &text), Outcome::timeout);
    EXPECT_FALSE(text.empty());
    EXPECT_EQ(zor::milliseconds_left(), -1);
}

TEST(RuntimeLimiter, DeadlinePassedIsRaisedByTheCheck) {
    zor::RuntimeLimiter guard = zor::runtime_limiter(1);
    zor::enter(guard);
    EXPECT_EQ(outcome_of([] { zor::check_deadline(); }), Outcome::returned);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(outcome_of([] { zor::check_deadline(); }), Outcome::timeout);
}

// ---------------------------------------------------------------------------------------------
// Waits that honour the deadline

TEST(RuntimeLimiter, ConnectToAServerThatNeverAnswersTimesOut) {
    SilentServer server;
    zor::RuntimeLimiter guard = zor::runtime_limiter(2);
    zor::enter(guard);
    const auto start = std::chrono::steady_clock::now();
    std::string text;
    const Outcome outcome =
        outcome_of([&] { zor::connect({"127.0.0.1", server.port(), "erp", "user", "secret"}); }, &text);
    const double elapsed = seconds_since(start);
    EXPECT_EQ(outcome, Outcome::timeout) << text;
    EXPECT_GE(elapsed, 1.5) << "gave up before the deadline";
    EXPECT_LT(elapsed, 15.0);
    EXPECT_GE(server.accepted(), 1) << "the connection never reached the server";
}

TEST(RuntimeLimiter, WaitForASocketThatStaysSilentTimesOut) {
    SilentServer server;
    const int client = server.connect_client();
    zor::RuntimeLimiter guard = zor::runtime_limiter(2);
    zor::enter(guard);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome_of([&] { zor::wait_for_socket(client, false); }), Outcome::timeout);
    const double elapsed = seconds_since(start);
    EXPECT_GE(elapsed, 1.5);
    EXPECT_LT(elapsed, 15.0);
    close(client);
}

TEST(RuntimeLimiter, WaitForAReadySocketReturns) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
    ASSERT_EQ(write(pair[1], "x", 1), 1);

    // With no deadline armed the wait has no bound and simply returns when the socket is ready.
    EXPECT_EQ(outcome_of([&] { zor::wait_for_socket(pair[0], false); }), Outcome::returned);
    EXPECT_EQ(outcome_of([&] { zor::wait_for_socket(pair[0], true); }), Outcome::returned);

    zor::RuntimeLimiter guard = zor::runtime_limiter(60);
    zor::enter(guard);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(outcome_of([&] { zor::wait_for_socket(pair[0], false); }), Outcome::returned);
    EXPECT_EQ(outcome_of([&] { zor::wait_for_socket(pair[0], true); }), Outcome::returned);
    EXPECT_LT(seconds_since(start), 5.0);
    EXPECT_NO_THROW(zor::leave(guard));
    close(pair[0]);
    close(pair[1]);
}

// ---------------------------------------------------------------------------------------------
// The program's report of a time-out

// The time-out text of the limiter for a bound of `seconds`.
std::string timeout_text(int seconds) {
    zor::RuntimeLimiter guard = zor::runtime_limiter(seconds);
    zor::enter(guard);
    std::string text;
    EXPECT_EQ(outcome_of([] { zor::raise_timeout(); }, &text), Outcome::timeout);
    zor::leave(guard);
    return text;
}

TEST(RuntimeLimiter, ProgramReportsTheTimeoutAndEndsWithStatusZero) {
    const int bound = short_limit_seconds();
    const std::string expected = timeout_text(bound) + "\n";
    ASSERT_GT(expected.size(), 1u);

    SilentServer erp;
    const std::vector<std::string> params = {"discovery_clientes", "host", "127.0.0.1", erp.port(), "erp",
                                             "erp_user",           "senha", "1",        "127.0.0.1", erp.port(),
                                             "store",              "store_user", "senha", "limiter-test"};
    const ProcessResult r = run_process(with_program(params, short_limit_program()), bound + 60);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, expected) << "the time-out text is the only line on standard output";
    EXPECT_EQ(r.err, "");
    EXPECT_GE(r.seconds, bound - 0.5);
    EXPECT_LT(r.seconds, bound + 10.0);
    EXPECT_GE(erp.accepted(), 1);
}

}  // namespace

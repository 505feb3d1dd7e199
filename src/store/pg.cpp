#include "store/pg.h"

#include <libpq-fe.h>

#include <charconv>
#include <cmath>
#include <cstring>

#include "process_library/process_library.h"

namespace zor {

namespace {

struct ResultClearer {
    void operator()(PGresult* r) const noexcept { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultClearer>;

// Type OIDs of the built-in types that are decoded to something other than text.
constexpr Oid INT8OID = 20, INT2OID = 21, INT4OID = 23, OIDOID = 26, FLOAT4OID = 700, FLOAT8OID = 701,
              NUMERICOID = 1700, DATEOID = 1082, TIMESTAMPOID = 1114;

std::string trimmed(const char* message) {
    std::string text = message == nullptr ? "" : message;
    while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
    return text;
}

void ignore_notice(void*, const char*) {}

[[noreturn]] void fail(PGconn* conn) { throw DatabaseError(trimmed(PQerrorMessage(conn))); }

// Parses "YYYY-MM-DD" or "YYYY-MM-DD HH:MM:SS[.ffffff]" (ISO date style); false for anything else
// (BC dates, infinity), which then travels as text.
bool parse_datetime(std::string_view s, bool with_time, DateTime& dt) {
    auto number = [&](std::size_t pos, std::size_t len, int& out) {
        if (pos + len > s.size()) return false;
        for (std::size_t i = pos; i < pos + len; ++i) {
            if (s[i] < '0' || s[i] > '9') return false;
        }
        std::from_chars(s.data() + pos, s.data() + pos + len, out);
        return true;
    };
    if (s.size() < 10 || s[4] != '-' || s[7] != '-') return false;
    if (!number(0, 4, dt.year) || !number(5, 2, dt.month) || !number(8, 2, dt.day)) return false;
    if (!with_time) return s.size() == 10;
    if (s.size() < 19 || s[10] != ' ' || s[13] != ':' || s[16] != ':') return false;
    if (!number(11, 2, dt.hour) || !number(14, 2, dt.minute) || !number(17, 2, dt.second)) return false;
    if (s.size() == 19) return true;
    if (s[19] != '.' || s.size() > 26 || s.size() < 21) return false;
    std::string frac(s.substr(20));
    frac.resize(6, '0');
    return number(0, 0, dt.microsecond) && (std::from_chars(frac.data(), frac.data() + 6, dt.microsecond).ec == std::errc{}) &&
           frac.find_first_not_of("0123456789") == std::string::npos;
}

// Cancels the statement in flight, so it does not go on running on the server after the run
// gave up on it.
void cancel_running(PGconn* conn) {
    if (PGcancel* cancel = PQgetCancel(conn)) {
        char errbuf[256];
        PQcancel(cancel, errbuf, sizeof errbuf);
        PQfreeCancel(cancel);
    }
}

// Queues the statement and pushes all of it to the server, waiting no longer than the deadline.
void send_query(PGconn* conn, const std::string& sql, bool single_row) {
    if (PQsendQuery(conn, sql.c_str()) == 0) fail(conn);
    if (single_row) PQsetSingleRowMode(conn);
    try {
        int flushing;
        while ((flushing = PQflush(conn)) == 1) {
            wait_for_socket(PQsocket(conn), true);
            if (PQconsumeInput(conn) == 0) fail(conn);
        }
        if (flushing < 0) fail(conn);
    } catch (const TimeoutException&) {
        cancel_running(conn);
        throw;
    }
}

// Waits for every result of the statement in flight and hands each to `on_result`.
template <typename OnResult>
void collect(PGconn* conn, OnResult&& on_result) {
    try {
        std::string error;
        for (;;) {
            while (PQisBusy(conn) != 0) {
                wait_for_socket(PQsocket(conn), false);
                if (PQconsumeInput(conn) == 0) fail(conn);
            }
            Result result(PQgetResult(conn));
            if (!result) break;
            switch (PQresultStatus(result.get())) {
                case PGRES_TUPLES_OK:
                case PGRES_SINGLE_TUPLE:
                case PGRES_COMMAND_OK:
                case PGRES_EMPTY_QUERY:
                    if (error.empty()) on_result(result.get());
                    break;
                default:
                    // Keep the first error but drain the rest, so the connection stays usable.
                    if (error.empty()) error = trimmed(PQresultErrorMessage(result.get()));
                    if (error.empty()) error = trimmed(PQerrorMessage(conn));
                    break;
            }
        }
        if (!error.empty()) throw DatabaseError(error);
    } catch (const TimeoutException&) {
        cancel_running(conn);
        throw;
    }
}

}  // namespace

void ConnectionCloser::operator()(pg_conn* conn) const noexcept { PQfinish(conn); }

Connection connect(const ConnectParams& p) {
    // Values are passed as keywords with database-name expansion off, so a password or database
    // name holding spaces, quotes, "=" or a URI is taken literally. The encoding and date style
    // are fixed here so that decoding never depends on the server's own settings.
    const char* keywords[] = {"host", "port", "dbname", "user", "password", "client_encoding", "options", nullptr};
    const char* values[] = {p.host.c_str(),     p.port.c_str(), p.dbname.c_str(),
                            p.user.c_str(),     p.password.c_str(), "UTF8",
                            "-c DateStyle=ISO,YMD -c extra_float_digits=3", nullptr};
    // libpq reads an empty host as "the local default socket": that would be a connection to
    // some other server than the one the operator named.
    if (p.host.empty()) throw DatabaseError("host vazio: informe o endereço do servidor PostgreSQL");
    Connection conn(PQconnectStartParams(keywords, values, 0));
    if (!conn) throw DatabaseError("sem memória para a conexão");
    if (PQstatus(conn.get()) == CONNECTION_BAD) fail(conn.get());
    PostgresPollingStatusType state = PGRES_POLLING_WRITING;
    for (;;) {
        switch (state) {
            case PGRES_POLLING_OK:
                if (PQsetnonblocking(conn.get(), 1) != 0) fail(conn.get());
                // Server notices ("relation already exists, skipping") are not for the operator.
                PQsetNoticeProcessor(conn.get(), ignore_notice, nullptr);
                return conn;
            case PGRES_POLLING_FAILED:
                fail(conn.get());
            case PGRES_POLLING_READING:
                wait_for_socket(PQsocket(conn.get()), false);
                break;
            default:
                wait_for_socket(PQsocket(conn.get()), true);
                break;
        }
        state = PQconnectPoll(conn.get());
    }
}

Value decode_field(unsigned int type, const char* text, std::size_t length) {
    std::string_view s(text, length);
    switch (type) {
        case INT8OID:
        case INT2OID:
        case INT4OID:
        case OIDOID: {
            std::int64_t v = 0;
            auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec == std::errc{} && ptr == s.data() + s.size()) return v;
            break;
        }
        case NUMERICOID:
            if (s.find_first_not_of("-0123456789") == std::string_view::npos) {
                std::int64_t v = 0;
                auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
                if (ec == std::errc{} && ptr == s.data() + s.size()) return v;
            }
            [[fallthrough]];
        case FLOAT4OID:
        case FLOAT8OID: {
            double v = 0;
            auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
            if (ec == std::errc{} && ptr == s.data() + s.size()) return v;
            break;
        }
        case DATEOID:
        case TIMESTAMPOID: {
            DateTime dt;
            if (parse_datetime(s, type == TIMESTAMPOID, dt)) return dt;
            break;
        }
        default:
            break;
    }
    return std::string(s);
}

void for_each_row(PGconn* conn, const std::string& sql, const std::function<void(Row&&)>& on_row) {
    // Single-row mode: each row comes in a result of its own, freed once decoded, so a large
    // result is never held whole by libpq.
    send_query(conn, sql, true);
    collect(conn, [&](PGresult* r) {
        const int nrows = PQntuples(r);
        const int ncols = PQnfields(r);
        Row row;
        for (int i = 0; i < nrows; ++i) {
            row.clear();  // a row whose values were moved out keeps its buffer for the next one
            row.reserve(static_cast<std::size_t>(ncols));
            for (int c = 0; c < ncols; ++c) {
                if (PQgetisnull(r, i, c) != 0) {
                    row.emplace_back(std::monostate{});
                    continue;
                }
                row.push_back(decode_field(PQftype(r, c), PQgetvalue(r, i, c),
                                           static_cast<std::size_t>(PQgetlength(r, i, c))));
            }
            on_row(std::move(row));
        }
    });
}

std::vector<Row> query(PGconn* conn, const std::string& sql) {
    std::vector<Row> rows;
    for_each_row(conn, sql, [&](Row&& row) { rows.push_back(std::move(row)); });
    return rows;
}

void execute(PGconn* conn, const std::string& sql) {
    send_statement(conn, sql);
    finish_statement(conn);
}

void send_statement(PGconn* conn, const std::string& sql) { send_query(conn, sql, false); }

void finish_statement(PGconn* conn) {
    collect(conn, [](PGresult*) {});
}

void append_literal(PGconn* conn, std::string& out, const Value& value) {
    struct Visitor {
        PGconn* conn;
        std::string& out;
        void operator()(std::monostate) const { out += "NULL"; }
        void operator()(std::int64_t i) const {
            char buf[24];
            auto res = std::to_chars(buf, buf + sizeof buf, i);
            out.append(buf, res.ptr);
        }
        void operator()(double d) const {
            out += '\'';
            if (std::isnan(d)) {
                out += "NaN";
            } else if (std::isinf(d)) {
                out += d < 0 ? "-Infinity" : "Infinity";
            } else {
                char buf[32];
                auto res = std::to_chars(buf, buf + sizeof buf, d);
                out.append(buf, res.ptr);
            }
            out += "'::float8";
        }
        void operator()(const std::string& s) const {
            const std::size_t start = out.size();
            out.resize(start + 1 + 2 * s.size() + 1);
            out[start] = '\'';
            int error = 0;
            const std::size_t n = PQescapeStringConn(conn, out.data() + start + 1, s.data(), s.size(), &error);
            if (error != 0) throw DatabaseError(trimmed(PQerrorMessage(conn)));
            out.resize(start + 1 + n);
            out += '\'';
        }
        void operator()(const DateTime& dt) const {
            out += '\'';
            out += datetime_text(dt);
            out += "'::timestamp";
        }
    };
    std::visit(Visitor{conn, out}, value);
}

}  // namespace zor

namespace zor {
int server_version(PGconn* conn) { return PQserverVersion(conn); }
}  // namespace zor

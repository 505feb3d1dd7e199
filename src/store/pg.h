#pragma once
/// The small libpq layer shared by the ERP fetch and the store: connect, run, decode, quote.

#include <functional>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/value.h"

struct pg_conn;

namespace zor {

/// Any failure reported by the client library or the server; the text is libpq's, as it comes.
struct DatabaseError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct ConnectionCloser {
    void operator()(pg_conn* conn) const noexcept;
};
using Connection = std::unique_ptr<pg_conn, ConnectionCloser>;

/// The five settings of a connection, each passed to libpq as a literal keyword value.
struct ConnectParams {
    std::string host;
    std::string port;
    std::string dbname;
    std::string user;
    std::string password;
};

/// Opens a connection (client encoding UTF-8, no other startup setting, so poolers such as
/// PgBouncer accept it), waiting no longer than the run's deadline. Raises DatabaseError, or TimeoutException when the deadline passes.
Connection connect(const ConnectParams& params);

using Row = std::vector<Value>;

/// Runs one statement without parameters and hands every row, decoded by column type, to
/// `on_row` as soon as it arrives: no more than one row is held at a time. Rows are read in
/// binary form, so no server or session setting changes the values; no session state is used.
/// Integers, reals, numeric, date, timestamp (BC, five-digit years and infinity as the server's
/// ISO text), timestamptz (UTC text), time, boolean ("t"/"f"), bytea (hex text), uuid and every
/// text-like type are read; a column of any other type raises DatabaseError naming it.
void for_each_row(pg_conn* conn, const std::string& sql, const std::function<void(Row&&)>& on_row);

/// for_each_row, each row handed on as views of its values: a text points into libpq's result,
/// which lives only for the call, so a row costs no allocation of its own.
void for_each_row_view(pg_conn* conn, const std::string& sql,
                       const std::function<void(std::span<const ValueView>)>& on_row);

/// Runs one statement without parameters and returns all its rows decoded by column type.
/// A query still running at the deadline is cancelled before TimeoutException is raised.
std::vector<Row> query(pg_conn* conn, const std::string& sql);

/// Runs one statement without parameters and discards whatever rows it returns.
void execute(pg_conn* conn, const std::string& sql);

/// Sends one statement without parameters and returns without waiting for its result.
void send_statement(pg_conn* conn, const std::string& sql);

/// Waits for the statement sent last, discarding its rows; raises its error.
void finish_statement(pg_conn* conn);

/// How text literals are quoted on a connection: by doubling the quotes where strings are standard
/// conforming (backslashes taken literally), else by libpq.
enum class Quoting { DOUBLED_QUOTES, LIBPQ };

/// The quoting that suits the connection.
Quoting text_quoting(pg_conn* conn);

/// Appends `value` to `out` as an SQL literal of its own kind, quoted for this connection.
void append_literal(pg_conn* conn, std::string& out, const Value& value);

/// Appends `value` to `out` as an SQL literal of its own kind, quoted as `quoting` says.
void append_literal(pg_conn* conn, Quoting quoting, std::string& out, const ValueView& value);

/// Decodes one text-format field of the given type OID into a value (ISO date style, exact
/// floats): what the binary reading gives for the same value.
Value decode_field(unsigned int type_oid, const char* text, std::size_t length);

}  // namespace zor

namespace zor {
/// The server's version number as libpq reports it (150004 for 15.4).
int server_version(pg_conn* conn);
}  // namespace zor

#include "store/pg.h"

#include <libpq-fe.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

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
// Further built-in types whose binary form is read.
constexpr Oid BOOLOID = 16, BYTEAOID = 17, CHAROID = 18, NAMEOID = 19, TEXTOID = 25, JSONOID = 114,
              UNKNOWNOID = 705, BPCHAROID = 1042, VARCHAROID = 1043, TIMEOID = 1083, TIMESTAMPTZOID = 1184,
              UUIDOID = 2950, JSONBOID = 3802;

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
// Rows are asked for in binary form (one statement, no parameters, same text) or in the simple
// protocol when none are read.
void send_query(PGconn* conn, const std::string& sql, bool rows_wanted) {
    const int queued = rows_wanted ? PQsendQueryParams(conn, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1)
                                   : PQsendQuery(conn, sql.c_str());
    if (queued == 0) fail(conn);
    if (rows_wanted) PQsetSingleRowMode(conn);
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

// ---- Binary forms of the result columns -------------------------------------------------------
// Rows arrive in the server's binary format, which no session setting (DateStyle, IntervalStyle,
// extra_float_digits, bytea_output) changes; text arrives as bytes in the client encoding.

// How the binary form of one column is read.
enum class Kind { unresolved, unsupported, int2, int4, int8, oid, float4, float8, numeric, date, timestamp,
                  timestamptz, time, boolean, text, jsonb, bytea, uuid };

Kind kind_of(Oid type) {
    switch (type) {
        case INT2OID: return Kind::int2;
        case INT4OID: return Kind::int4;
        case INT8OID: return Kind::int8;
        case OIDOID: return Kind::oid;
        case FLOAT4OID: return Kind::float4;
        case FLOAT8OID: return Kind::float8;
        case NUMERICOID: return Kind::numeric;
        case DATEOID: return Kind::date;
        case TIMESTAMPOID: return Kind::timestamp;
        case TIMESTAMPTZOID: return Kind::timestamptz;
        case TIMEOID: return Kind::time;
        case BOOLOID: return Kind::boolean;
        case CHAROID:
        case NAMEOID:
        case TEXTOID:
        case JSONOID:
        case UNKNOWNOID:
        case BPCHAROID:
        case VARCHAROID: return Kind::text;
        case JSONBOID: return Kind::jsonb;
        case BYTEAOID: return Kind::bytea;
        case UUIDOID: return Kind::uuid;
        default: return Kind::unresolved;
    }
}

// Send functions whose binary form is the value's text in the client encoding (the types of
// extensions and domains are only known by these).
bool sends_text(std::string_view send_function) {
    const auto dot = send_function.rfind('.');
    if (dot != std::string_view::npos) send_function.remove_prefix(dot + 1);
    for (std::string_view f : {"textsend", "varcharsend", "bpcharsend", "namesend", "charsend", "unknownsend",
                               "citextsend", "enum_send", "json_send"}) {
        if (send_function == f) return true;
    }
    return false;
}

[[noreturn]] void malformed(std::string_view type) {
    throw DatabaseError("valor binário malformado do tipo " + std::string(type));
}

std::uint64_t read_be(const char* p, std::size_t n) {
    std::uint64_t v = 0;
    for (std::size_t i = 0; i < n; ++i) v = (v << 8) | static_cast<unsigned char>(p[i]);
    return v;
}
std::int16_t read_i16(const char* p) { return static_cast<std::int16_t>(static_cast<std::uint16_t>(read_be(p, 2))); }
std::int32_t read_i32(const char* p) { return static_cast<std::int32_t>(static_cast<std::uint32_t>(read_be(p, 4))); }
std::int64_t read_i64(const char* p) { return static_cast<std::int64_t>(read_be(p, 8)); }

// Appends `v` (not negative) with at least `width` digits.
void append_digits(std::string& out, std::int64_t v, int width) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    const int n = static_cast<int>(res.ptr - buf);
    if (n < width) out.append(static_cast<std::size_t>(width - n), '0');
    out.append(buf, res.ptr);
}

constexpr std::int64_t USECS_PER_DAY = 86400000000;
constexpr std::int64_t DAYS_FROM_1970_TO_2000 = 10957;

std::int64_t floor_div(std::int64_t a, std::int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// Days since 1970-01-01 to a date of the proleptic Gregorian calendar, the server's own; year 0
// is 1 BC.
void civil_from_days(std::int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
}

// HH:MM:SS with the fraction of a second, trailing zeros dropped, as the server writes a time.
void append_time(std::string& out, std::int64_t usecs) {
    append_digits(out, usecs / 3600000000, 2);
    out += ':';
    append_digits(out, usecs / 60000000 % 60, 2);
    out += ':';
    append_digits(out, usecs / 1000000 % 60, 2);
    if (std::int64_t frac = usecs % 1000000; frac != 0) {
        std::string digits;
        append_digits(digits, frac, 6);
        while (digits.back() == '0') digits.pop_back();
        out += '.';
        out += digits;
    }
}

// The server's ISO text of a date or date-time: "0044-03-15 BC", "10000-01-01 00:00:00".
std::string iso_text(int y, int m, int d, bool with_time, std::int64_t usecs_of_day, std::string_view zone) {
    std::string out;
    append_digits(out, y <= 0 ? 1 - static_cast<std::int64_t>(y) : y, 4);
    out += '-';
    append_digits(out, m, 2);
    out += '-';
    append_digits(out, d, 2);
    if (with_time) {
        out += ' ';
        append_time(out, usecs_of_day);
        out += zone;
    }
    if (y <= 0) out += " BC";
    return out;
}

// Days (and microseconds of the day) since 2000-01-01: a date-time for the years 1 to 9999, the
// server's ISO text for any other (BC, five-digit years), so no date is ever shifted or clipped.
Value date_value(std::int64_t days, bool with_time, std::int64_t usecs_of_day) {
    int y = 0, m = 0, d = 0;
    civil_from_days(days + DAYS_FROM_1970_TO_2000, y, m, d);
    if (y < 1 || y > 9999) return iso_text(y, m, d, with_time, usecs_of_day, "");
    const auto us = static_cast<int>(usecs_of_day % 1000000);
    const auto secs = static_cast<int>(usecs_of_day / 1000000);
    return DateTime{y, m, d, secs / 3600, secs / 60 % 60, secs % 60, us};
}

// NUMERIC: base-10000 digits with a weight, a sign and a display scale. Written out as the
// server writes its text, then read like that text: whole numbers as integers when they fit,
// everything else as the double nearest to the exact decimal value.
Value numeric_value(const char* p, std::size_t n) {
    if (n < 8) malformed("numeric");
    const int ndigits = read_i16(p);
    const int weight = read_i16(p + 2);
    const auto sign = static_cast<std::uint16_t>(read_be(p + 4, 2));
    const int dscale = read_i16(p + 6);
    if (ndigits < 0 || dscale < 0 || n != 8 + 2 * static_cast<std::size_t>(ndigits)) malformed("numeric");
    std::string text;
    switch (sign) {
        case 0xC000: text = "NaN"; break;
        case 0xD000: text = "Infinity"; break;
        case 0xF000: text = "-Infinity"; break;
        case 0x0000:
        case 0x4000: {
            auto digit = [&](int i) -> int {
                if (i < 0 || i >= ndigits) return 0;
                const int v = read_i16(p + 8 + 2 * i);
                if (v < 0 || v > 9999) malformed("numeric");
                return v;
            };
            if (sign == 0x4000) text += '-';
            if (weight < 0) text += '0';
            for (int i = 0; i <= weight; ++i) append_digits(text, digit(i), i == 0 ? 1 : 4);
            if (dscale > 0) {
                text += '.';
                const std::size_t point = text.size();
                for (int i = weight + 1; text.size() - point < static_cast<std::size_t>(dscale); ++i) {
                    append_digits(text, digit(i), 4);
                }
                text.resize(point + static_cast<std::size_t>(dscale));
            }
            break;
        }
        default: malformed("numeric");
    }
    return decode_field(NUMERICOID, text.data(), text.size());
}

Value binary_value(Kind kind, const char* p, std::size_t n) {
    switch (kind) {
        case Kind::int2:
            if (n != 2) malformed("smallint");
            return std::int64_t{read_i16(p)};
        case Kind::int4:
            if (n != 4) malformed("integer");
            return std::int64_t{read_i32(p)};
        case Kind::int8:
            if (n != 8) malformed("bigint");
            return read_i64(p);
        case Kind::oid:
            if (n != 4) malformed("oid");
            return static_cast<std::int64_t>(read_be(p, 4));
        case Kind::float4: {
            if (n != 4) malformed("real");
            // Read through its shortest text, as a real written by the server reads back.
            const auto f = std::bit_cast<float>(static_cast<std::uint32_t>(read_be(p, 4)));
            char buf[32];
            auto res = std::to_chars(buf, buf + sizeof buf, f);
            double v = 0;
            std::from_chars(buf, res.ptr, v);
            return v;
        }
        case Kind::float8:
            if (n != 8) malformed("double precision");
            return std::bit_cast<double>(read_be(p, 8));
        case Kind::numeric: return numeric_value(p, n);
        case Kind::date: {
            if (n != 4) malformed("date");
            const std::int32_t days = read_i32(p);
            if (days == std::numeric_limits<std::int32_t>::max()) return std::string("infinity");
            if (days == std::numeric_limits<std::int32_t>::min()) return std::string("-infinity");
            return date_value(days, false, 0);
        }
        case Kind::timestamp:
        case Kind::timestamptz: {
            if (n != 8) malformed("timestamp");
            const std::int64_t usecs = read_i64(p);
            if (usecs == std::numeric_limits<std::int64_t>::max()) return std::string("infinity");
            if (usecs == std::numeric_limits<std::int64_t>::min()) return std::string("-infinity");
            const std::int64_t days = floor_div(usecs, USECS_PER_DAY);
            const std::int64_t of_day = usecs - days * USECS_PER_DAY;
            if (kind == Kind::timestamp) return date_value(days, true, of_day);
            // With a zone: the instant in UTC, as text that says so.
            int y = 0, m = 0, d = 0;
            civil_from_days(days + DAYS_FROM_1970_TO_2000, y, m, d);
            return iso_text(y, m, d, true, of_day, "+00");
        }
        case Kind::time: {
            if (n != 8) malformed("time");
            const std::int64_t usecs = read_i64(p);
            if (usecs < 0 || usecs > USECS_PER_DAY) malformed("time");
            std::string out;
            append_time(out, usecs);
            return out;
        }
        case Kind::boolean:
            if (n != 1) malformed("boolean");
            return std::string(*p != 0 ? "t" : "f");
        case Kind::text: return std::string(p, n);
        case Kind::jsonb:
            if (n < 1 || *p != 1) malformed("jsonb");
            return std::string(p + 1, n - 1);
        case Kind::bytea: {
            static constexpr char HEX[] = "0123456789abcdef";
            std::string out = "\\x";
            out.reserve(2 + 2 * n);
            for (std::size_t i = 0; i < n; ++i) {
                const auto b = static_cast<unsigned char>(p[i]);
                out += HEX[b >> 4];
                out += HEX[b & 15];
            }
            return out;
        }
        case Kind::uuid: {
            if (n != 16) malformed("uuid");
            static constexpr char HEX[] = "0123456789abcdef";
            std::string out;
            for (std::size_t i = 0; i < 16; ++i) {
                if (i == 4 || i == 6 || i == 8 || i == 10) out += '-';
                const auto b = static_cast<unsigned char>(p[i]);
                out += HEX[b >> 4];
                out += HEX[b & 15];
            }
            return out;
        }
        case Kind::unresolved:
        case Kind::unsupported: break;
    }
    malformed("desconhecido");
}

// The view of one binary field. Texts are read in place; a value that binary_value composes as
// text (numeric, bytea, BC dates and the like) keeps its text in `owned`.
ValueView binary_view(Kind kind, const char* p, std::size_t n, std::string& owned) {
    switch (kind) {
        case Kind::text: return std::string_view(p, n);
        default: break;
    }
    // Numbers and date-times come back as they are, without a heap block.
    Value v = binary_value(kind, p, n);
    if (auto* s = std::get_if<std::string>(&v)) {
        owned = std::move(*s);
        return std::string_view(owned);
    }
    return view_of(v);
}

// A type that only the catalogue can explain (a domain, an extension's type), as looked up.
struct ResolvedType {
    Oid oid;
    Kind kind;
    std::string name;
};

// Runs the statement with binary results and hands every decoded row to `on_row`. A column of
// a type not known here is looked up in `resolved`; without that list, the types to look up are
// put in `unknown` and false is returned without handing on a single row (the result is drained).
bool stream_rows(PGconn* conn, const std::string& sql, const std::vector<ResolvedType>* resolved,
                 std::vector<Oid>& unknown, const std::function<void(std::span<const ValueView>)>& on_row) {
    // Single-row mode: each row comes in a result of its own, freed once decoded, so a large
    // result is never held whole by libpq.
    send_query(conn, sql, true);
    std::vector<Kind> kinds;
    std::string unsupported;
    bool planned = false;
    bool skipping = false;
    std::vector<ValueView> row;
    std::vector<std::string> owned;
    collect(conn, [&](PGresult* r) {
        const int nrows = PQntuples(r);
        if (skipping || nrows == 0) return;
        const int ncols = PQnfields(r);
        if (!planned) {
            // The column types are the same in every row: how to read each is settled once.
            planned = true;
            kinds.resize(static_cast<std::size_t>(ncols));
            for (int c = 0; c < ncols; ++c) {
                const Oid type = PQftype(r, c);
                Kind kind = kind_of(type);
                if (kind == Kind::unresolved && resolved != nullptr) {
                    kind = Kind::unsupported;
                    std::string name = std::to_string(type);
                    for (const ResolvedType& t : *resolved) {
                        if (t.oid == type) {
                            kind = t.kind;
                            name = t.name;
                        }
                    }
                    if (kind == Kind::unsupported && unsupported.empty()) {
                        const char* column = PQfname(r, c);
                        unsupported = "coluna \"" + std::string(column == nullptr ? "" : column) +
                                      "\" de tipo não suportado: " + name;
                    }
                }
                if (kind == Kind::unresolved) unknown.push_back(type);
                kinds[static_cast<std::size_t>(c)] = kind;
            }
            skipping = !unknown.empty() || !unsupported.empty();
            if (skipping) return;
        }
        row.resize(static_cast<std::size_t>(ncols));
        owned.resize(static_cast<std::size_t>(ncols));
        for (int i = 0; i < nrows; ++i) {
            for (int c = 0; c < ncols; ++c) {
                const auto col = static_cast<std::size_t>(c);
                if (PQgetisnull(r, i, c) != 0) {
                    row[col] = std::monostate{};
                    continue;
                }
                row[col] = binary_view(kinds[col], PQgetvalue(r, i, c), static_cast<std::size_t>(PQgetlength(r, i, c)),
                                       owned[col]);
            }
            on_row(row);
        }
    });
    if (!unsupported.empty()) throw DatabaseError(unsupported);
    return unknown.empty();
}

// Looks up in the catalogue how to read each of `types`: a domain by its base type (should one
// ever be described as itself), any other type as text when its binary form is its text.
std::vector<ResolvedType> resolve_types(PGconn* conn, const std::vector<Oid>& types) {
    std::string list;
    for (Oid t : types) {
        if (!list.empty()) list += ',';
        list += std::to_string(t);
    }
    const std::string sql =
        "WITH RECURSIVE chain(start, oid, depth) AS ("
        " SELECT t.oid, t.oid, 0 FROM pg_catalog.pg_type t WHERE t.oid = ANY ('{" + list + "}'::pg_catalog.oid[])"
        " UNION ALL"
        " SELECT c.start, t.typbasetype, c.depth + 1 FROM chain c JOIN pg_catalog.pg_type t ON t.oid = c.oid"
        " WHERE t.typbasetype <> 0 AND c.depth < 32)"
        " SELECT DISTINCT ON (c.start) c.start::pg_catalog.int8, c.oid::pg_catalog.int8, t.typsend::pg_catalog.text,"
        " pg_catalog.format_type(c.start, NULL)"
        " FROM chain c JOIN pg_catalog.pg_type t ON t.oid = c.oid ORDER BY c.start, c.depth DESC";
    std::vector<ResolvedType> resolved;
    std::vector<Oid> none;
    stream_rows(conn, sql, nullptr, none, [&](std::span<const ValueView> r) {
        if (r.size() < 4) return;
        const auto* start = std::get_if<std::int64_t>(&r[0]);
        const auto* base = std::get_if<std::int64_t>(&r[1]);
        const auto* send = std::get_if<std::string_view>(&r[2]);
        const auto* name = std::get_if<std::string_view>(&r[3]);
        if (start == nullptr || base == nullptr) return;
        Kind kind = kind_of(static_cast<Oid>(*base));
        if (kind == Kind::unresolved) kind = send != nullptr && sends_text(*send) ? Kind::text : Kind::unsupported;
        resolved.push_back({static_cast<Oid>(*start), kind, name != nullptr ? std::string(*name) : std::to_string(*start)});
    });
    return resolved;
}

}  // namespace

void ConnectionCloser::operator()(pg_conn* conn) const noexcept { PQfinish(conn); }

Connection connect(const ConnectParams& p) {
    // Values are passed as keywords with database-name expansion off, so a password or database
    // name holding spaces, quotes, "=" or a URI is taken literally. Only the encoding is fixed
    // here: connection poolers refuse other startup settings ("options"), and rows are read in
    // binary form, which no server setting changes.
    const char* keywords[] = {"host", "port", "dbname", "user", "password", "client_encoding", nullptr};
    const char* values[] = {p.host.c_str(),     p.port.c_str(),     p.dbname.c_str(),
                            p.user.c_str(),     p.password.c_str(), "UTF8",
                            nullptr};
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
    Row row;
    for_each_row_view(conn, sql, [&](std::span<const ValueView> views) {
        row.clear();
        for (const ValueView& v : views) row.push_back(value_of(v));
        on_row(std::move(row));
    });
}

void for_each_row_view(PGconn* conn, const std::string& sql,
                       const std::function<void(std::span<const ValueView>)>& on_row) {
    std::vector<Oid> unknown;
    if (stream_rows(conn, sql, nullptr, unknown, on_row)) return;
    // Some column has a type of no fixed OID (an extension's): it is looked up and the statement
    // runs again. Domains need no look-up: the server describes their columns by the base type.
    const std::vector<ResolvedType> resolved = resolve_types(conn, unknown);
    std::vector<Oid> none;
    stream_rows(conn, sql, &resolved, none, on_row);
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

Quoting text_quoting(PGconn* conn) {
    const char* standard = PQparameterStatus(conn, "standard_conforming_strings");
    return standard != nullptr && std::strcmp(standard, "on") == 0 ? Quoting::DOUBLED_QUOTES : Quoting::LIBPQ;
}

void append_literal(PGconn* conn, std::string& out, const Value& value) {
    append_literal(conn, text_quoting(conn), out, view_of(value));
}

void append_literal(PGconn* conn, Quoting quoting, std::string& out, const ValueView& value) {
    struct Visitor {
        PGconn* conn;
        Quoting quoting;
        std::string& out;
        void operator()(std::monostate) const { out += "NULL"; }
        void operator()(std::int64_t i) const { append_integer(out, i); }
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
        void operator()(std::string_view s) const {
            out += '\'';
            if (quoting == Quoting::DOUBLED_QUOTES) {
                // The connection's encoding is UTF-8, where no byte of a multibyte character is a
                // quote, and backslashes are literal: doubling each quote is the whole quoting. The
                // text ends at a zero byte, as libpq's quoting ends it.
                const char* chunk = s.data();
                const char* const end = s.data() + s.size();
                for (const char* p = chunk; p != end; ++p) {
                    if (*p == '\'') {
                        out.append(chunk, p + 1);  // the quote once here, once more with the next chunk
                        chunk = p;
                    } else if (*p == '\0') {
                        out.append(chunk, p);
                        chunk = end;
                        break;
                    }
                }
                out.append(chunk, end);
            } else {
                const std::size_t start = out.size();
                out.resize(start + 2 * s.size() + 1);  // room for the zero byte libpq ends with
                int error = 0;
                const std::size_t n = PQescapeStringConn(conn, out.data() + start, s.data(), s.size(), &error);
                if (error != 0) throw DatabaseError(trimmed(PQerrorMessage(conn)));
                out.resize(start + n);
            }
            out += '\'';
        }
        void operator()(const DateTime& dt) const {
            out += '\'';
            append_datetime_text(out, dt);
            out += "'::timestamp";
        }
    };
    std::visit(Visitor{conn, quoting, out}, value);
}

}  // namespace zor

namespace zor {
int server_version(PGconn* conn) { return PQserverVersion(conn); }
}  // namespace zor

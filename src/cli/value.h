#pragma once
/// The values that travel from the ERP through the records to the store and the console.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace zor {

/// A calendar date and wall-clock time with no zone attached (a timestamp without time zone).
struct DateTime {
    int year = 1970;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int microsecond = 0;

    friend bool operator==(const DateTime&, const DateTime&) = default;
};

/// Absent (NULL), integer, real (double precision), text or date-time.
using Value = std::variant<std::monostate, std::int64_t, double, std::string, DateTime>;

/// One entry of a record: a key and its value. Keys are static texts (macro names).
struct Entry {
    std::string_view key;
    Value value;
};

/// An ordered map from keys to values, walked in insertion order.
using Record = std::vector<Entry>;

/// A value whose text, if any, is held elsewhere: in a packed record or a result buffer.
using ValueView = std::variant<std::monostate, std::int64_t, double, std::string_view, DateTime>;

inline bool is_null(const Value& v) { return std::holds_alternative<std::monostate>(v); }
inline bool is_null(const ValueView& v) { return std::holds_alternative<std::monostate>(v); }

/// The view of a value; a text stays where `v` holds it.
ValueView view_of(const Value& v);

/// The value of a view, its text copied.
Value value_of(const ValueView& v);

/// Shortest text that reads back as the same double: fixed notation for 1e-4 <= |x| < 1e16
/// (and zero) with at least one digit after the point, exponent notation otherwise (1e+16, 1.5e-05).
std::string real_text(double x);

/// 2024-03-01 00:00:00, with .ffffff only when the microsecond part is not zero.
std::string datetime_text(const DateTime& dt);

/// Appends datetime_text(dt) to `out`.
void append_datetime_text(std::string& out, const DateTime& dt);

/// Appends the decimal digits of `i` (a "-" first when negative).
void append_integer(std::string& out, std::int64_t i);

/// The text form of a value as the console shows it; a null value gives "None".
std::string text_form(const Value& v);

/// Appends text_form of the value to `out`.
void append_text_form(std::string& out, const ValueView& v);

/// Number of Unicode code points in UTF-8 text (bytes that do not continue a sequence).
std::size_t code_points(std::string_view text);

}  // namespace zor

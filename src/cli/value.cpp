#include "cli/value.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zor {

std::string real_text(double x) {
    if (std::isnan(x)) return "nan";
    if (std::isinf(x)) return x < 0 ? "-inf" : "inf";

    // Shortest round-trip digits in scientific form, e.g. "-1.2345e+17".
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::scientific);
    std::string_view sci(buf, static_cast<std::size_t>(res.ptr - buf));

    const bool negative = !sci.empty() && sci.front() == '-';
    if (negative) sci.remove_prefix(1);
    const auto epos = sci.find('e');
    std::string_view mantissa = sci.substr(0, epos);
    const int exponent = std::atoi(std::string(sci.substr(epos + 1)).c_str());

    std::string digits;
    for (char c : mantissa) {
        if (c != '.') digits.push_back(c);
    }

    std::string out = negative ? "-" : "";
    if (x == 0.0 || (exponent >= -4 && exponent < 16)) {
        const int point = exponent + 1;  // digits before the decimal point
        if (point <= 0) {
            out += "0.";
            out.append(static_cast<std::size_t>(-point), '0');
            out += digits;
        } else if (static_cast<std::size_t>(point) >= digits.size()) {
            out += digits;
            out.append(static_cast<std::size_t>(point) - digits.size(), '0');
            out += ".0";
        } else {
            out += digits.substr(0, static_cast<std::size_t>(point));
            out += '.';
            out += digits.substr(static_cast<std::size_t>(point));
        }
        return out;
    }
    out += digits.substr(0, 1);
    if (digits.size() > 1) {
        out += '.';
        out += digits.substr(1);
    }
    char exp[16];
    std::snprintf(exp, sizeof exp, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
    out += exp;
    return out;
}

namespace {

// Appends `v` with at least `width` digits (a "-" first when negative), like printf's %0*d.
void append_padded(std::string& out, int v, int width) {
    char buf[16];
    auto res = std::to_chars(buf, buf + sizeof buf, v < 0 ? -static_cast<long long>(v) : static_cast<long long>(v));
    const int digits = static_cast<int>(res.ptr - buf);
    if (v < 0) out += '-';
    if (digits < width) out.append(static_cast<std::size_t>(width - digits), '0');
    out.append(buf, res.ptr);
}

}  // namespace

void append_datetime_text(std::string& out, const DateTime& dt) {
    // Written by hand rather than with snprintf: the push writes three of these per client.
    auto in = [](int v, int hi) { return v >= 0 && v <= hi; };
    if (in(dt.year, 9999) && in(dt.month, 99) && in(dt.day, 99) && in(dt.hour, 99) && in(dt.minute, 99) &&
        in(dt.second, 99) && in(dt.microsecond, 999999)) {
        // The usual case, every field within its width: one append of 19 or 26 characters.
        char buf[26];
        auto put = [&](std::size_t pos, int v, int width) {
            for (int i = width - 1; i >= 0; --i) {
                buf[pos + static_cast<std::size_t>(i)] = static_cast<char>('0' + v % 10);
                v /= 10;
            }
        };
        put(0, dt.year, 4);
        buf[4] = '-';
        put(5, dt.month, 2);
        buf[7] = '-';
        put(8, dt.day, 2);
        buf[10] = ' ';
        put(11, dt.hour, 2);
        buf[13] = ':';
        put(14, dt.minute, 2);
        buf[16] = ':';
        put(17, dt.second, 2);
        if (dt.microsecond == 0) {
            out.append(buf, 19);
            return;
        }
        buf[19] = '.';
        put(20, dt.microsecond, 6);
        out.append(buf, 26);
        return;
    }
    append_padded(out, dt.year, 4);
    out += '-';
    append_padded(out, dt.month, 2);
    out += '-';
    append_padded(out, dt.day, 2);
    out += ' ';
    append_padded(out, dt.hour, 2);
    out += ':';
    append_padded(out, dt.minute, 2);
    out += ':';
    append_padded(out, dt.second, 2);
    if (dt.microsecond != 0) {
        out += '.';
        append_padded(out, dt.microsecond, 6);
    }
}

std::string datetime_text(const DateTime& dt) {
    std::string out;
    out.reserve(26);
    append_datetime_text(out, dt);
    return out;
}

ValueView view_of(const Value& v) {
    struct Visitor {
        ValueView operator()(std::monostate) const { return std::monostate{}; }
        ValueView operator()(std::int64_t i) const { return i; }
        ValueView operator()(double d) const { return d; }
        ValueView operator()(const std::string& s) const { return std::string_view(s); }
        ValueView operator()(const DateTime& dt) const { return dt; }
    };
    return std::visit(Visitor{}, v);
}

Value value_of(const ValueView& v) {
    struct Visitor {
        Value operator()(std::monostate) const { return std::monostate{}; }
        Value operator()(std::int64_t i) const { return i; }
        Value operator()(double d) const { return d; }
        Value operator()(std::string_view s) const { return std::string(s); }
        Value operator()(const DateTime& dt) const { return dt; }
    };
    return std::visit(Visitor{}, v);
}

std::string text_form(const Value& v) {
    std::string out;
    append_text_form(out, view_of(v));
    return out;
}

void append_integer(std::string& out, std::int64_t i) {
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, i);
    out.append(buf, res.ptr);
}

void append_text_form(std::string& out, const ValueView& v) {
    struct Visitor {
        std::string& out;
        void operator()(std::monostate) const { out += "None"; }
        void operator()(std::int64_t i) const { append_integer(out, i); }
        void operator()(double d) const { out += real_text(d); }
        void operator()(std::string_view s) const { out += s; }
        void operator()(const DateTime& dt) const { append_datetime_text(out, dt); }
    };
    std::visit(Visitor{out}, v);
}

std::size_t code_points(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

}  // namespace zor

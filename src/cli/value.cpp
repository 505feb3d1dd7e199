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

std::string datetime_text(const DateTime& dt) {
    // Written by hand rather than with snprintf: the push writes three of these per client.
    std::string out;
    out.reserve(26);
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
    return out;
}

std::string text_form(const Value& v) {
    struct Visitor {
        std::string operator()(std::monostate) const { return "None"; }
        std::string operator()(std::int64_t i) const { return std::to_string(i); }
        std::string operator()(double d) const { return real_text(d); }
        std::string operator()(const std::string& s) const { return s; }
        std::string operator()(const DateTime& dt) const { return datetime_text(dt); }
    };
    return std::visit(Visitor{}, v);
}

std::size_t code_points(std::string_view text) {
    std::size_t n = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++n;
    }
    return n;
}

}  // namespace zor

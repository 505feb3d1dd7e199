// Console output: text forms of values, the key/value table, the version line, the palette and
// the clock reading.

#include <gtest/gtest.h>

#include "support.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/value.h"

using zor::DateTime;
using zor_test::LocalZone;
using zor::Record;
using zor::Value;

namespace {

// ---------------------------------------------------------------------------------------------
// Text forms

struct TextFormCase {
    const char* name;
    Value value;
    std::string expected;
};

TEST(TextForm, EveryKindOfValue) {
    const double inf = std::numeric_limits<double>::infinity();
    const TextFormCase cases[] = {
        {"zero", std::int64_t{0}, "0"},
        {"small integer", std::int64_t{15}, "15"},
        {"negative integer", std::int64_t{-42}, "-42"},
        {"largest integer", std::numeric_limits<std::int64_t>::max(), "9223372036854775807"},
        {"smallest integer", std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"},
        {"whole real keeps one decimal", 150.0, "150.0"},
        {"real with decimals", 99.9, "99.9"},
        {"negative real", -1.5, "-1.5"},
        {"real zero", 0.0, "0.0"},
        {"negative real zero", -0.0, "-0.0"},
        {"shortest round trip", 0.1 + 0.2, "0.30000000000000004"},
        {"fraction near the last digit", 1e15 + 0.3, "1000000000000000.2"},
        {"largest fixed below 1e16", 9999999999999998.0, "9999999999999998.0"},
        {"1e16 switches to exponent", 1e16, "1e+16"},
        {"large real", 123456789012345678.0, "1.2345678901234568e+17"},
        {"three-digit exponent", 1e100, "1e+100"},
        {"largest real", std::numeric_limits<double>::max(), "1.7976931348623157e+308"},
        {"1e-4 stays fixed", 0.0001, "0.0001"},
        {"below 1e-4 switches to exponent", 0.00009999, "9.999e-05"},
        {"small real", 1.5e-05, "1.5e-05"},
        {"negative small real", -2.5e-05, "-2.5e-05"},
        {"smallest subnormal", 5e-324, "5e-324"},
        {"infinity", inf, "inf"},
        {"negative infinity", -inf, "-inf"},
        {"not a number", std::nan(""), "nan"},
        {"text as it is", std::string("São Paulo"), "São Paulo"},
        {"empty text", std::string(), ""},
        {"null measured as None", Value{}, "None"},
        {"date at midnight", DateTime{2024, 3, 1, 0, 0, 0, 0}, "2024-03-01 00:00:00"},
        {"date-time", DateTime{2024, 12, 31, 23, 59, 59, 0}, "2024-12-31 23:59:59"},
        {"microseconds shown with six digits", DateTime{2024, 3, 5, 10, 20, 30, 5}, "2024-03-05 10:20:30.000005"},
        {"largest microsecond part", DateTime{2024, 3, 5, 10, 20, 30, 999999}, "2024-03-05 10:20:30.999999"},
        {"year padded to four digits", DateTime{1, 1, 1, 0, 0, 0, 0}, "0001-01-01 00:00:00"},
    };
    for (const TextFormCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(zor::text_form(c.value), c.expected);
        if (const double* d = std::get_if<double>(&c.value)) {
            EXPECT_EQ(zor::real_text(*d), c.expected);
        }
        if (const DateTime* dt = std::get_if<DateTime>(&c.value)) {
            EXPECT_EQ(zor::datetime_text(*dt), c.expected);
        }
    }
}

TEST(TextForm, RealsReadBackAsTheSameNumber) {
    const double samples[] = {0.1, 1.0 / 3.0, 2.0 / 3.0 * 1e-3, 1234.5678, 4.35, 1e15 + 0.3, 7.000000000000001,
                              123456789.12345679, 3.0e-4, 6.02214076e23};
    for (double x : samples) {
        SCOPED_TRACE(x);
        const std::string text = zor::real_text(x);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), x) << text;
    }
}

// ---------------------------------------------------------------------------------------------
// Key/value table

std::string table_of(const std::vector<Record>& list) {
    std::ostringstream out;
    zor::print_dict_list(list, out);
    return out.str();
}

struct TableCase {
    const char* name;
    std::vector<Record> list;
    std::string expected;
};

TEST(PrintDictList, WritesEveryRecordAsAnAlignedTable) {
    const TableCase cases[] = {
        {"empty list writes nothing", {}, ""},
        {"one entry gets no fill", {{{"{#CLIENTE_ID}", std::int64_t{15}}}}, "{#CLIENTE_ID} 15\n\n"},
        {"keys and values filled to the longest of the record",
         {{{"{#POP}", std::string("Sem pop")}, {"{#CIDADE}", std::string("Sem cidade")}}},
         "{#POP}    Sem pop   \n"
         "{#CIDADE} Sem cidade\n"
         "\n"},
        {"null gives a key-only line and counts as four",
         {{{"{#PRIMEIRO_VENCIMENTO}", std::int64_t{15}},
           {"{#DATA_CADASTRO}", Value{}},
           {"{#POP}", std::string("ab")}}},
         "{#PRIMEIRO_VENCIMENTO} 15  \n"
         "{#DATA_CADASTRO}      \n"
         "{#POP}                 ab  \n"
         "\n"},
        {"widths are worked out per record",
         {{{"{#CLIENTE_ID}", std::int64_t{15}}, {"{#VALOR_DIVIDA}", 150.0}},
          {{"{#DATA_CADASTRO}", DateTime{2024, 3, 1, 0, 0, 0, 0}}, {"{#POP}", std::string("Centro")}}},
         "{#CLIENTE_ID}   15   \n"
         "{#VALOR_DIVIDA} 150.0\n"
         "\n"
         "{#DATA_CADASTRO} 2024-03-01 00:00:00\n"
         "{#POP}           Centro             \n"
         "\n"},
        {"accented text measured in characters",
         {{{"{#CIDADE}", std::string("São Paulo")},
           {"{#BAIRRO}", std::string("Sem bairro")},
           {"{#ÁREA}", std::string("Sem pop")}}},
         "{#CIDADE} São Paulo \n"
         "{#BAIRRO} Sem bairro\n"
         "{#ÁREA}   Sem pop   \n"
         "\n"},
        {"accented text as long as its width gets no fill",
         {{{"{#CIDADE}", std::string("São Paulo")}, {"{#POP}", std::string("Sem pop")}}},
         "{#CIDADE} São Paulo\n"
         "{#POP}    Sem pop  \n"
         "\n"},
        {"only nulls",
         {{{"{#A}", Value{}}, {"{#BB}", Value{}}}},
         "{#A} \n"
         "{#BB}\n"
         "\n"},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(table_of(c.list), c.expected);
    }
}

TEST(PrintDictList, RecordWithoutEntriesStopsAfterTheEarlierRecords) {
    const std::vector<Record> list = {
        {{"{#CLIENTE_ID}", std::int64_t{7}}},
        {},
        {{"{#CLIENTE_ID}", std::int64_t{8}}},
    };
    std::ostringstream out;
    EXPECT_ANY_THROW(zor::print_dict_list(list, out));
    EXPECT_EQ(out.str(), "{#CLIENTE_ID} 7\n\n");
}

// ---------------------------------------------------------------------------------------------
// Version banner

TEST(VersionLine, EveryDotSlashBecomesOneSpace) {
    struct Case {
        const char* path;
        const char* expected;
    };
    const Case cases[] = {
        {"./name", " name  1.0.0"},
        {"/opt/checks/name", "/opt/checks/name  1.0.0"},
        {"../bin/./name", ". bin/ name  1.0.0"},
        {"././name", "  name  1.0.0"},
        {"a.b/c", "a.b/c  1.0.0"},
        {"", "  1.0.0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(zor::version_line(c.path), c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Palette

TEST(Palette, SequencesAreExact) {
    struct Case {
        const char* name;
        std::string_view constant;
        std::string_view expected;
        std::size_t length;
    };
    const Case cases[] = {
        {"RED", zor::RED, "\x1b[1;31m", 7},       {"BLUE", zor::BLUE, "\x1b[1;34m", 7},
        {"CYAN", zor::CYAN, "\x1b[1;36m", 7},     {"GREEN", zor::GREEN, "\x1b[0;32m", 7},
        {"RESET", zor::RESET, "\x1b[0;0m", 6},    {"BOLD", zor::BOLD, "\x1b[;1m", 5},
        {"REVERSE", zor::REVERSE, "\x1b[;7m", 5}, {"YELLOW", zor::YELLOW, "\x1b[0;93m", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.constant, c.expected);
        EXPECT_EQ(c.constant.size(), c.length);
        EXPECT_EQ(c.constant.front(), '\x1b');
    }
}

// ---------------------------------------------------------------------------------------------
// Clock

std::time_t as_local_seconds(const DateTime& dt) {
    std::tm tm{};
    tm.tm_year = dt.year - 1900;
    tm.tm_mon = dt.month - 1;
    tm.tm_mday = dt.day;
    tm.tm_hour = dt.hour;
    tm.tm_min = dt.minute;
    tm.tm_sec = dt.second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

TEST_F(LocalZone, TimestampIsTheLocalClockWithMicroseconds) {
    // Three hours behind UTC all year: a reading in UTC would be off by hours.
    use_zone("America/Sao_Paulo");
    bool some_microseconds = false;
    for (int i = 0; i < 5; ++i) {
        const std::time_t before = std::time(nullptr);
        const DateTime now = zor::get_timestamp();
        const std::time_t after = std::time(nullptr);
        const std::time_t read = as_local_seconds(now);
        EXPECT_GE(read, before - 2);
        EXPECT_LE(read, after + 2);
        EXPECT_GE(now.microsecond, 0);
        EXPECT_LE(now.microsecond, 999999);
        some_microseconds = some_microseconds || now.microsecond != 0;
    }
    EXPECT_TRUE(some_microseconds) << "the clock reading was cut to whole seconds";
}

}  // namespace

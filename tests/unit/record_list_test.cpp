// The packed record list: every kind of value reads back as it went in, in order, across blocks;
// the debug table of a packed list is the table of the same records as key/value entries.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/record_list.h"
#include "cli/value.h"

using zor::DateTime;
using zor::Record;
using zor::RecordList;
using zor::Value;

namespace {

std::string describe(const Value& v) {
    static const char* const kinds[] = {"null", "integer", "real", "text", "date-time"};
    std::string out = std::string(kinds[v.index()]) + " ";
    if (const double* d = std::get_if<double>(&v)) {
        // Every bit of a real, not only its shortest text: -0.0 and NaN included.
        std::uint64_t bits = 0;
        std::memcpy(&bits, d, sizeof bits);
        return out + std::to_string(bits);
    }
    if (const DateTime* dt = std::get_if<DateTime>(&v)) {
        for (int f : {dt->year, dt->month, dt->day, dt->hour, dt->minute, dt->second, dt->microsecond}) {
            out += std::to_string(f) + " ";
        }
        return out;
    }
    return out + zor::text_form(v);
}

// A record whose 14 values are all `v`.
Record all_of(const Value& v) {
    Record record;
    for (std::string_view key : zor::RECORD_KEYS) record.push_back({key, v});
    return record;
}

std::vector<Record> read_back(const RecordList& list) {
    std::vector<Record> out;
    for (const zor::RecordValues& values : list) out.push_back(zor::entries_of(values));
    return out;
}

void expect_same(const std::vector<Record>& got, const std::vector<Record>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t r = 0; r < got.size(); ++r) {
        ASSERT_EQ(got[r].size(), zor::RECORD_FIELDS);
        for (std::size_t i = 0; i < zor::RECORD_FIELDS; ++i) {
            SCOPED_TRACE("record " + std::to_string(r) + " " + std::string(zor::RECORD_KEYS[i]));
            EXPECT_EQ(got[r][i].key, zor::RECORD_KEYS[i]);
            EXPECT_EQ(describe(got[r][i].value), describe(expected[r][i].value));
        }
    }
}

TEST(RecordList, EveryKindReadsBackAsItWentIn) {
    const std::string quote_and_zero("a'b\0c", 5);
    const Value values[] = {
        Value{},
        std::int64_t{0},
        std::numeric_limits<std::int64_t>::min(),
        std::numeric_limits<std::int64_t>::max(),
        0.0,
        -0.0,
        0.1,
        std::numeric_limits<double>::denorm_min(),
        std::numeric_limits<double>::infinity(),
        std::nan(""),
        std::string(),
        std::string("São João ÇÃÕ 😀"),
        quote_and_zero,
        std::string(127, 'x'),    // the longest length of one byte
        std::string(128, 'y'),    // the shortest of two
        std::string(16384, 'z'),  // the shortest of three
        DateTime{2024, 3, 5, 10, 20, 30, 0},
        DateTime{1, 1, 1, 0, 0, 0, 0},
        DateTime{9999, 12, 31, 23, 59, 59, 999999},
        DateTime{1969, 12, 31, 23, 59, 59, 1},
        // Fields that do not fit the 64-bit form keep their seven fields.
        DateTime{294276, 12, 31, 23, 59, 59, 999999},
        DateTime{-4713, 11, 24, 0, 0, 0, 0},
        DateTime{2024, 1, 1, 0, 0, 0, 1 << 20},
        DateTime{2024, -1, 40, 99, -5, 64, -1},
    };
    RecordList list;
    std::vector<Record> expected;
    for (const Value& v : values) {
        expected.push_back(all_of(v));
        zor::append_entries(list, expected.back());
    }
    EXPECT_EQ(list.size(), std::size(values));
    expect_same(read_back(list), expected);
}

TEST(RecordList, MixedRecordsStayInOrderAcrossBlocks) {
    // Some 60 bytes a record; every 3000th record holds a text of half a block, and one holds a
    // text larger than a block.
    RecordList list;
    std::vector<Record> expected;
    for (std::int64_t i = 0; i < 12000; ++i) {
        Record r = all_of(Value{});
        r[0].value = i;
        r[1].value = "Cliente " + std::to_string(i);
        r[3].value = static_cast<double>(i) / 7;
        r[6].value = DateTime{2000 + static_cast<int>(i % 30), 1 + static_cast<int>(i % 12), 1 + static_cast<int>(i % 28)};
        if (i % 3000 == 2999) r[5].value = std::string(512 * 1024, static_cast<char>('a' + i % 26));
        if (i == 6001) r[10].value = std::string(3 * 1024 * 1024, 'B');
        r[13].value = std::string("loja");
        expected.push_back(r);
        zor::append_entries(list, r);
    }
    EXPECT_GT(list.blocks.size(), 3u);
    expect_same(read_back(list), expected);
}

TEST(RecordList, EntriesAreTakenByKey) {
    Record shuffled;
    const Record full = all_of(std::int64_t{1});
    for (std::size_t i = zor::RECORD_FIELDS; i-- > 0;) {
        shuffled.push_back({zor::RECORD_KEYS[i], static_cast<std::int64_t>(i)});
    }
    shuffled.push_back({"{#OUTRA}", std::string("ignored")});
    Record partial = {{"{#POP}", std::string("Centro")}, {"{#CLIENTE_ID}", std::int64_t{9}}};

    RecordList list;
    zor::append_entries(list, shuffled);
    zor::append_entries(list, partial);
    zor::append_entries(list, {});

    std::vector<Record> expected = {all_of(Value{}), all_of(Value{}), all_of(Value{})};
    for (std::size_t i = 0; i < zor::RECORD_FIELDS; ++i) expected[0][i].value = static_cast<std::int64_t>(i);
    expected[1][0].value = std::int64_t{9};
    expected[1][9].value = std::string("Centro");
    expect_same(read_back(list), expected);
}

TEST(RecordList, EmptyListHasNoRecords) {
    const RecordList list;
    EXPECT_TRUE(list.empty());
    EXPECT_TRUE(list.begin() == list.end());
    std::ostringstream out;
    zor::print_dict_list(list, out);
    EXPECT_EQ(out.str(), "");
}

TEST(RecordList, DebugTableIsTheTableOfTheEntries) {
    std::vector<Record> records = {all_of(Value{}), all_of(std::string("São Paulo")), all_of(Value{})};
    records[0][0].value = std::int64_t{15};
    records[0][3].value = 150.0;
    records[0][6].value = DateTime{2024, 3, 1};
    records[0][8].value = std::string("Sem cidade");
    records[1][4].value = std::int64_t{-3};
    records[1][11].value = DateTime{2024, 3, 5, 10, 20, 30, 5};
    records[2][12].value = 1e16;
    RecordList list;
    for (const Record& r : records) zor::append_entries(list, r);

    std::ostringstream packed;
    zor::print_dict_list(list, packed);
    std::ostringstream entries;
    zor::print_dict_list(records, entries);
    EXPECT_EQ(packed.str(), entries.str());
    EXPECT_NE(packed.str().find("{#PRIMEIRO_VENCIMENTO} 2024-03-01 00:00:00\n"), std::string::npos) << packed.str();
}

}  // namespace

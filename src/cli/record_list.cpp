#include "cli/record_list.h"

#include <cstring>

namespace zor {

namespace {

constexpr std::size_t BLOCK_SIZE = std::size_t{1} << 20;

enum Kind : unsigned char { NULL_KIND, INTEGER_KIND, REAL_KIND, TEXT_KIND, DATETIME_KIND, WIDE_DATETIME_KIND };

// A date-time whose fields all fit goes in 64 bits: microseconds 20, second 6, minute 6, hour 5,
// day 5, month 4 and the year, offset by 2^17, in the top 18 bits. Any other date-time keeps its
// seven fields as they are (WIDE_DATETIME_KIND).
constexpr int YEAR_BIAS = 1 << 17;

bool packs(const DateTime& dt) {
    auto in = [](int v, int bits) { return v >= 0 && v < (1 << bits); };
    return in(dt.microsecond, 20) && in(dt.second, 6) && in(dt.minute, 6) && in(dt.hour, 5) && in(dt.day, 5) &&
           in(dt.month, 4) && dt.year >= -YEAR_BIAS && dt.year < YEAR_BIAS;
}

std::uint64_t pack(const DateTime& dt) {
    return static_cast<std::uint64_t>(dt.microsecond) | static_cast<std::uint64_t>(dt.second) << 20 |
           static_cast<std::uint64_t>(dt.minute) << 26 | static_cast<std::uint64_t>(dt.hour) << 32 |
           static_cast<std::uint64_t>(dt.day) << 37 | static_cast<std::uint64_t>(dt.month) << 42 |
           static_cast<std::uint64_t>(dt.year + YEAR_BIAS) << 46;
}

DateTime unpack(std::uint64_t v) {
    auto field = [&](int shift, int bits) { return static_cast<int>((v >> shift) & ((std::uint64_t{1} << bits) - 1)); };
    return DateTime{field(46, 18) - YEAR_BIAS, field(42, 4), field(37, 5), field(32, 5),
                    field(26, 6),              field(20, 6), field(0, 20)};
}

std::size_t length_size(std::size_t n) {
    std::size_t bytes = 1;
    while (n >= 0x80) {
        n >>= 7;
        ++bytes;
    }
    return bytes;
}

// The bytes one value takes after its kind byte.
std::size_t payload_size(const ValueView& v) {
    switch (v.index()) {
        case 0: return 0;
        case 1: case 2: return 8;
        case 3: {
            const std::size_t n = std::get<std::string_view>(v).size();
            return length_size(n) + n;
        }
        default: return packs(std::get<DateTime>(v)) ? 8 : 7 * sizeof(int);
    }
}

template <typename T>
std::byte* put(std::byte* p, const T& v) {
    std::memcpy(p, &v, sizeof v);
    return p + sizeof v;
}

template <typename T>
const std::byte* get(const std::byte* p, T& v) {
    std::memcpy(&v, p, sizeof v);
    return p + sizeof v;
}

// Writes the kind and payload of one value: the kind byte at `kind`, the payload at `p`.
std::byte* put_value(std::byte* kind, std::byte* p, const ValueView& v) {
    switch (v.index()) {
        case 0:
            *kind = std::byte{NULL_KIND};
            return p;
        case 1:
            *kind = std::byte{INTEGER_KIND};
            return put(p, std::get<std::int64_t>(v));
        case 2:
            *kind = std::byte{REAL_KIND};
            return put(p, std::get<double>(v));
        case 3: {
            *kind = std::byte{TEXT_KIND};
            const std::string_view s = std::get<std::string_view>(v);
            std::size_t n = s.size();
            while (n >= 0x80) {
                *p++ = static_cast<std::byte>(0x80 | (n & 0x7F));
                n >>= 7;
            }
            *p++ = static_cast<std::byte>(n);
            if (!s.empty()) std::memcpy(p, s.data(), s.size());
            return p + s.size();
        }
        default: {
            const DateTime& dt = std::get<DateTime>(v);
            if (packs(dt)) {
                *kind = std::byte{DATETIME_KIND};
                return put(p, pack(dt));
            }
            *kind = std::byte{WIDE_DATETIME_KIND};
            for (int f : {dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second, dt.microsecond}) p = put(p, f);
            return p;
        }
    }
}

// Reads the record at `p` into `out`; returns its size in bytes.
std::size_t read_record(const std::byte* start, RecordValues& out) {
    const std::byte* p = start + RECORD_FIELDS;
    for (std::size_t i = 0; i < RECORD_FIELDS; ++i) {
        switch (static_cast<unsigned char>(start[i])) {
            case INTEGER_KIND: {
                std::int64_t v;
                p = get(p, v);
                out[i] = v;
                break;
            }
            case REAL_KIND: {
                double v;
                p = get(p, v);
                out[i] = v;
                break;
            }
            case TEXT_KIND: {
                std::size_t n = 0;
                for (int shift = 0;; shift += 7) {
                    const auto b = static_cast<unsigned char>(*p++);
                    n |= static_cast<std::size_t>(b & 0x7F) << shift;
                    if ((b & 0x80) == 0) break;
                }
                out[i] = std::string_view(reinterpret_cast<const char*>(p), n);
                p += n;
                break;
            }
            case DATETIME_KIND: {
                std::uint64_t v;
                p = get(p, v);
                out[i] = unpack(v);
                break;
            }
            case WIDE_DATETIME_KIND: {
                DateTime dt;
                for (int* f : {&dt.year, &dt.month, &dt.day, &dt.hour, &dt.minute, &dt.second, &dt.microsecond}) {
                    p = get(p, *f);
                }
                out[i] = dt;
                break;
            }
            default:
                out[i] = std::monostate{};
                break;
        }
    }
    return static_cast<std::size_t>(p - start);
}

}  // namespace

RecordList::const_iterator& RecordList::const_iterator::operator++() {
    offset += record_size;
    if (offset == block->used) {
        ++block;
        offset = 0;
    }
    if (block != blocks_end) record_size = read_record(block->data.get() + offset, values);
    return *this;
}

RecordList::const_iterator RecordList::begin() const {
    const_iterator it = end();
    if (blocks.empty()) return it;
    it.block = blocks.data();
    it.record_size = read_record(it.block->data.get(), it.values);
    return it;
}

RecordList::const_iterator RecordList::end() const {
    const_iterator it;
    it.block = blocks.data() + blocks.size();
    it.blocks_end = it.block;
    return it;
}

void append_record(RecordList& list, std::span<const ValueView, RECORD_FIELDS> values) {
    std::size_t size = RECORD_FIELDS;
    for (const ValueView& v : values) size += payload_size(v);
    if (list.blocks.empty() || list.blocks.back().capacity - list.blocks.back().used < size) {
        // A record never spans two blocks; one larger than a block gets a block of its own size.
        RecordBlock block;
        block.capacity = std::max(BLOCK_SIZE, size);
        block.data = std::make_unique_for_overwrite<std::byte[]>(block.capacity);
        list.blocks.push_back(std::move(block));
    }
    RecordBlock& block = list.blocks.back();
    std::byte* const start = block.data.get() + block.used;
    std::byte* p = start + RECORD_FIELDS;
    for (std::size_t i = 0; i < RECORD_FIELDS; ++i) p = put_value(start + i, p, values[i]);
    block.used += size;
    ++list.count;
}

void append_entries(RecordList& list, const Record& record) {
    RecordValues values{};
    for (std::size_t column = 0; column < RECORD_FIELDS; ++column) {
        const std::string_view key = RECORD_KEYS[column];
        // The usual order is tried first; any other order is searched.
        if (column < record.size() && record[column].key == key) {
            values[column] = view_of(record[column].value);
            continue;
        }
        for (const Entry& e : record) {
            if (e.key == key) {
                values[column] = view_of(e.value);
                break;
            }
        }
    }
    append_record(list, values);
}

Record entries_of(const RecordValues& values) {
    Record record;
    record.reserve(RECORD_FIELDS);
    for (std::size_t i = 0; i < RECORD_FIELDS; ++i) record.push_back({RECORD_KEYS[i], value_of(values[i])});
    return record;
}

}  // namespace zor

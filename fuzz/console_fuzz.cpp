// Fuzzes the text forms of values and the key/value table with arbitrary bytes: no crash, no
// sanitizer report, and the lines of one record always line up when counted in code points.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/console.h"
#include "cli/value.h"

namespace {

struct Reader {
    const std::uint8_t* data;
    std::size_t size;
    std::size_t pos = 0;
    bool empty() const { return pos >= size; }
    std::uint8_t byte() { return pos < size ? data[pos++] : 0; }
    template <typename T>
    T pod() {
        T v{};
        const std::size_t n = std::min(sizeof v, size - std::min(size, pos));
        std::memcpy(&v, data + pos, n);
        pos += n;
        return v;
    }
    std::string_view bytes() {
        const std::size_t want = byte() % 24;
        const std::size_t n = std::min(want, size - std::min(size, pos));
        std::string_view s(reinterpret_cast<const char*>(data + pos), n);
        pos += n;
        return s;
    }
};

zor::Value make_value(Reader& in) {
    switch (in.byte() % 5) {
        case 0: return std::monostate{};
        case 1: return in.pod<std::int64_t>();
        case 2: return in.pod<double>();
        case 3: return std::string(in.bytes());
        default:
            return zor::DateTime{in.pod<int>(), in.pod<int>(), in.pod<int>(), in.pod<int>(),
                                 in.pod<int>(), in.pod<int>(), in.pod<int>()};
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Reader in{data, size};
    std::vector<zor::Record> list;
    while (!in.empty() && list.size() < 8) {
        zor::Record record;
        const int entries = 1 + in.byte() % 6;
        for (int i = 0; i < entries && !in.empty(); ++i) {
            std::string_view key = in.bytes();  // points into the input, which outlives the list
            record.push_back({key, make_value(in)});
        }
        if (!record.empty()) list.push_back(std::move(record));
    }

    std::ostringstream out;
    zor::print_dict_list(list, out);

    // Every line of one record that has a value spans key width + 1 + value width code points,
    // as long as no key or value holds a line break of its own.
    std::istringstream lines(out.str());
    for (const zor::Record& record : list) {
        bool plain = true;
        std::size_t kw = 0, vw = 0;
        for (const zor::Entry& e : record) {
            const std::string text = zor::is_null(e.value) ? "None" : zor::text_form(e.value);
            plain = plain && e.key.find('\n') == std::string_view::npos && text.find('\n') == std::string::npos;
            kw = std::max(kw, zor::code_points(e.key));
            vw = std::max(vw, zor::code_points(text));
        }
        if (!plain) return 0;
        for (const zor::Entry& e : record) {
            std::string line;
            std::getline(lines, line);
            const std::size_t expected = zor::is_null(e.value) ? kw : kw + 1 + vw;
            if (zor::code_points(line) != expected) std::abort();
        }
        std::string blank;
        std::getline(lines, blank);
        if (!blank.empty()) std::abort();
    }
    return 0;
}

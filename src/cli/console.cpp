#include "cli/console.h"

#include <algorithm>
#include <ctime>
#include <iostream>
#include <ostream>
#include <stdexcept>
#include <span>
#include <string>
#include <vector>

#include "cli/run_config.h"

namespace zor {

namespace {

constexpr std::string_view RIGHTS_NOTICE =
    " zor_clientes_postgres - software livre sob a licença MIT (MIT License); sem garantia de qualquer tipo.";

void pad_to(std::string& line, std::size_t used, std::size_t width) {
    if (used < width) line.append(width - used, ' ');
}

}  // namespace

void say(std::string_view line) {
    std::cout << line << '\n';
    std::cout.flush();
}

std::string version_line(std::string_view program_path) {
    std::string line;
    line.reserve(program_path.size() + VERSION.size() + 2);
    for (std::size_t i = 0; i < program_path.size();) {
        if (program_path.compare(i, 2, "./") == 0) {
            line += ' ';
            i += 2;
        } else {
            line += program_path[i++];
        }
    }
    line += "  ";
    line += VERSION;
    return line;
}

int get_version(std::ostream& out) {
    out << RIGHTS_NOTICE << '\n' << version_line(program_path()) << '\n';
    out.flush();
    return 0;
}

DateTime get_timestamp() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm local{};
    localtime_r(&ts.tv_sec, &local);
    return DateTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                    local.tm_min,         local.tm_sec,     static_cast<int>(ts.tv_nsec / 1000)};
}

namespace {

struct EntryView {
    std::string_view key;
    ValueView value;
};

// Scratch space of the table, kept from one record to the next.
struct TableBuffers {
    std::string texts;               // the text forms of the record's values, one after the other
    std::vector<std::size_t> ends;   // where each text form ends in `texts`
    std::vector<bool> printable;     // false for a null value and for one that could not be composed
    std::string lines;               // the record's lines
};

// Writes one record as its aligned lines and the empty line after them.
void print_record(std::span<const EntryView> record, TableBuffers& b, std::ostream& out) {
    if (record.empty()) throw std::invalid_argument("registro sem entradas: largura indefinida");
    b.texts.clear();
    b.ends.clear();
    b.printable.clear();
    std::size_t key_width = 0;
    std::size_t value_width = 0;
    for (const EntryView& e : record) {
        key_width = std::max(key_width, code_points(e.key));
        const std::size_t from = b.texts.size();
        bool printable = !is_null(e.value);
        if (printable) {
            try {
                append_text_form(b.texts, e.value);
            } catch (const std::exception&) {
                // A value that cannot be composed is shown like one without printable form.
                b.texts.resize(from);
                printable = false;
            }
        }
        b.ends.push_back(b.texts.size());
        b.printable.push_back(printable);
        value_width = std::max(value_width, is_null(e.value) ? 4 : code_points(std::string_view(b.texts).substr(from)));
    }
    b.lines.clear();
    std::size_t from = 0;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const EntryView& e = record[i];
        const std::string_view text = std::string_view(b.texts).substr(from, b.ends[i] - from);
        from = b.ends[i];
        b.lines += e.key;
        pad_to(b.lines, code_points(e.key), key_width);
        if (b.printable[i]) {
            b.lines += ' ';
            b.lines += text;
            pad_to(b.lines, code_points(text), value_width);
        }
        b.lines += '\n';
    }
    b.lines += '\n';
    out << b.lines;
}

}  // namespace

void print_dict_list(const std::vector<Record>& dict_list, std::ostream& out) {
    TableBuffers buffers;
    std::vector<EntryView> entries;
    for (const Record& record : dict_list) {
        entries.clear();
        for (const Entry& e : record) entries.push_back({e.key, view_of(e.value)});
        print_record(entries, buffers, out);
    }
    out.flush();
}

void print_dict_list(const RecordList& dict_list, std::ostream& out) {
    TableBuffers buffers;
    std::array<EntryView, RECORD_FIELDS> entries;
    for (const RecordValues& values : dict_list) {
        for (std::size_t i = 0; i < RECORD_FIELDS; ++i) entries[i] = {RECORD_KEYS[i], values[i]};
        print_record(entries, buffers, out);
    }
    out.flush();
}

}  // namespace zor

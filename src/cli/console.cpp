#include "cli/console.h"

#include <algorithm>
#include <ctime>
#include <iostream>
#include <ostream>
#include <stdexcept>
#include <string>

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

void print_dict_list(const std::vector<Record>& dict_list, std::ostream& out) {
    std::string line;
    for (const Record& record : dict_list) {
        if (record.empty()) throw std::invalid_argument("registro sem entradas: largura indefinida");
        std::size_t key_width = 0;
        std::size_t value_width = 0;
        for (const Entry& e : record) {
            key_width = std::max(key_width, code_points(e.key));
            value_width = std::max(value_width, is_null(e.value) ? 4 : code_points(text_form(e.value)));
        }
        for (const Entry& e : record) {
            line.assign(e.key);
            pad_to(line, code_points(e.key), key_width);
            const std::size_t key_only = line.size();
            if (!is_null(e.value)) {
                // A value that cannot be composed is shown like one without printable form.
                try {
                    const std::string text = text_form(e.value);
                    line += ' ';
                    line += text;
                    pad_to(line, code_points(text), value_width);
                } catch (const std::exception&) {
                    line.resize(key_only);
                }
            }
            line += '\n';
            out << line;
        }
        out << '\n';
    }
    out.flush();
}

}  // namespace zor

#include "discovery/client_discovery_record.h"

#include <array>
#include <ctime>
#include <iostream>
#include <stdexcept>

#include "cli/console.h"
#include "cli/run_config.h"
#include "discovery/overdue_query.h"
#include "store/snapshot_push.h"

namespace zor {

namespace {

// Overdue-client row positions.
enum : std::size_t {
    ID_CLIENTE = 0,
    RAZAO_SOCIAL,
    CPF_CNPJ,
    TITULOS_ATRASO,
    VALOR_ATRASO,
    CONTATO_CLIENTE,
    PRIMEIRO_VENCIMENTO,
    DIAS_EM_ATRASO,
    CIDADE_CONTRATO,
    POP,
    BAIRRO,
    DATA_CADASTRO,
    DATA_CRIACAO_TITULO,
    ROW_COLUMNS
};

ValueView normalised(const ValueView& v, DayCache& days) {
    if (const auto* dt = std::get_if<DateTime>(&v)) return normalise_datetime(*dt, days);
    return v;
}

constexpr int FIRST_YEAR = 1900;
constexpr int LAST_YEAR = 2199;

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Days from 1900-01-01 to the date (the proleptic Gregorian calendar).
std::size_t day_number(int y, int m, int d) {
    // Howard Hinnant's days_from_civil, shifted to the first year of the cache.
    y -= m <= 2;
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::size_t>(era * 146097 + doe - 693901);
}

// Whether every wall-clock time of the local day reads back unchanged through mktime and
// localtime: the UTC offset is the same at every whole hour and at 23:59:59, and the hours are
// 3600 seconds apart. A day with a clock change (skipped or repeated times) is not.
bool steady_day(int y, int m, int d) {
    std::time_t first = 0;
    long first_offset = 0;
    for (int h = 0; h <= 24; ++h) {
        const bool last = h == 24;
        std::tm tm{};
        tm.tm_year = y - 1900;
        tm.tm_mon = m - 1;
        tm.tm_mday = d;
        tm.tm_hour = last ? 23 : h;
        tm.tm_min = last ? 59 : 0;
        tm.tm_sec = last ? 59 : 0;
        tm.tm_isdst = -1;
        const std::time_t t = std::mktime(&tm);
        std::tm back{};
        if (localtime_r(&t, &back) == nullptr) return false;
        if (back.tm_year != y - 1900 || back.tm_mon != m - 1 || back.tm_mday != d || back.tm_hour != (last ? 23 : h) ||
            back.tm_min != (last ? 59 : 0) || back.tm_sec != (last ? 59 : 0)) {
            return false;
        }
        if (h == 0) {
            first = t;
            first_offset = back.tm_gmtoff;
            continue;
        }
        if (back.tm_gmtoff != first_offset || t - first != (last ? 86399 : 3600 * h)) return false;
    }
    return true;
}

// Absent or empty becomes the placeholder; anything else is cleaned. The placeholder test comes
// first and is not repeated after the clean-up. The text goes into `texts`; returns where it starts.
std::size_t place_text(const ValueView& v, std::string_view placeholder, std::string& texts) {
    const std::size_t start = texts.size();
    if (const auto* s = std::get_if<std::string_view>(&v)) {
        if (s->empty()) {
            texts += placeholder;
        } else {
            append_clean_text(texts, *s);
        }
        return start;
    }
    if (is_null(v)) {
        texts += placeholder;
        return start;
    }
    std::string text;
    append_text_form(text, v);
    append_clean_text(texts, text);
    return start;
}

}  // namespace

std::string clean_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    append_clean_text(out, text);
    return out;
}

void append_clean_text(std::string& out, std::string_view text) {
    const char* chunk = text.data();
    const char* const end = text.data() + text.size();
    for (const char* p = chunk; p != end; ++p) {
        switch (*p) {
            case '(': case ')': case '[': case ']': case '\'': case '-': case '.':
                out.append(chunk, p);
                chunk = p + 1;
                break;
            default:
                break;
        }
    }
    out.append(chunk, end);
}

DateTime normalise_datetime(const DateTime& dt) {
    std::tm tm{};
    tm.tm_year = dt.year - 1900;
    tm.tm_mon = dt.month - 1;
    tm.tm_mday = dt.day;
    tm.tm_hour = dt.hour;
    tm.tm_min = dt.minute;
    tm.tm_sec = dt.second;
    tm.tm_isdst = -1;  // let the conversion decide daylight saving
    const std::time_t seconds = std::mktime(&tm);
    std::tm back{};
    if (localtime_r(&seconds, &back) == nullptr) return DateTime{dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second, 0};
    return DateTime{back.tm_year + 1900, back.tm_mon + 1, back.tm_mday, back.tm_hour, back.tm_min, back.tm_sec, 0};
}

DateTime normalise_datetime(const DateTime& dt, DayCache& cache) {
    const bool valid = dt.year >= FIRST_YEAR && dt.year <= LAST_YEAR && dt.month >= 1 && dt.month <= 12 &&
                       dt.day >= 1 && dt.day <= days_in_month(dt.year, dt.month) && dt.hour >= 0 && dt.hour <= 23 &&
                       dt.minute >= 0 && dt.minute <= 59 && dt.second >= 0 && dt.second <= 59;
    if (!valid) return normalise_datetime(dt);
    if (cache.days.empty()) cache.days.resize(day_number(LAST_YEAR + 1, 1, 1));
    unsigned char& day = cache.days[day_number(dt.year, dt.month, dt.day)];
    if (day == 0) day = steady_day(dt.year, dt.month, dt.day) ? 1 : 2;
    if (day == 2) return normalise_datetime(dt);
    return DateTime{dt.year, dt.month, dt.day, dt.hour, dt.minute, dt.second, 0};
}

void append_client_record(RecordList& list, std::span<const ValueView> row, std::string_view identification,
                          RecordBuilder& builder) {
    if (row.size() < ROW_COLUMNS) {
        throw std::runtime_error("linha de clientes em atraso com " + std::to_string(row.size()) +
                                 " colunas; esperadas " + std::to_string(ROW_COLUMNS));
    }
    std::string& texts = builder.texts;
    texts.clear();
    const std::size_t city = place_text(row[CIDADE_CONTRATO], "Sem cidade", texts);
    const std::size_t pop = place_text(row[POP], "Sem pop", texts);
    const std::size_t neighbourhood = place_text(row[BAIRRO], "Sem bairro", texts);
    const std::string_view all(texts);
    const std::array<ValueView, RECORD_FIELDS> record = {
        row[ID_CLIENTE],
        row[RAZAO_SOCIAL],
        row[CPF_CNPJ],
        is_null(row[VALOR_ATRASO]) ? ValueView{std::int64_t{0}} : row[VALOR_ATRASO],
        row[TITULOS_ATRASO],
        row[CONTATO_CLIENTE],
        normalised(row[PRIMEIRO_VENCIMENTO], builder.days),
        row[DIAS_EM_ATRASO],
        all.substr(city, pop - city),
        all.substr(pop, neighbourhood - pop),
        all.substr(neighbourhood),
        normalised(row[DATA_CADASTRO], builder.days),
        normalised(row[DATA_CRIACAO_TITULO], builder.days),
        identification,
    };
    append_record(list, record);
}

ClientDiscoveryRecord make_record(Row&& row, const std::string& identification) {
    std::vector<ValueView> views;
    views.reserve(row.size());
    for (const Value& v : row) views.push_back(view_of(v));
    RecordList list;
    RecordBuilder builder;
    append_client_record(list, views, identification, builder);
    return entries_of(*list.begin());
}

std::string debug_preamble() {
    std::string out = "Modo debug ativado.\n";
    out += GREEN;
    out += "\nVersão do script: ";
    out += VERSION;
    out += CYAN;
    out += " \n\n";
    out += CYAN;
    out += "..." + std::string(45, '=') + " Clientes " + std::string(46, '=') + "...\n";
    out += RESET;
    out += '\n';
    return out;
}

int discovery_clientes() {
    const std::string& identification = run_config().zabbix_host;

    // Each overdue-client row becomes its record as soon as it arrives, so the rows and the
    // records of a large provider are never held in memory side by side.
    RecordList discovery_qdb;
    {
        Connection erp = connect_erp();
        RecordBuilder builder;
        for_each_row_view(erp.get(), OVERDUE_CLIENTS_QUERY, [&](std::span<const ValueView> row) {
            append_client_record(discovery_qdb, row, identification, builder);
        });
    }

    if (identification == "debug") {
        std::cout << debug_preamble();
        print_dict_list(discovery_qdb, std::cout);
    }
    sendPostgresClientes(discovery_qdb);
    say("OK");
    return 0;
}

}  // namespace zor

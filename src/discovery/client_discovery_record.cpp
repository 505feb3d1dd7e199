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

ValueView normalised(const ValueView& v) {
    if (const auto* dt = std::get_if<DateTime>(&v)) return normalise_datetime(*dt);
    return v;
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
        normalised(row[PRIMEIRO_VENCIMENTO]),
        row[DIAS_EM_ATRASO],
        all.substr(city, pop - city),
        all.substr(pop, neighbourhood - pop),
        all.substr(neighbourhood),
        normalised(row[DATA_CADASTRO]),
        normalised(row[DATA_CRIACAO_TITULO]),
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
        std::vector<ValueView> views;
        for_each_row(erp.get(), OVERDUE_CLIENTS_QUERY, [&](Row&& row) {
            views.clear();
            for (const Value& v : row) views.push_back(view_of(v));
            append_client_record(discovery_qdb, views, identification, builder);
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

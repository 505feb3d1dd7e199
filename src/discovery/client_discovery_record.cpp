#include "discovery/client_discovery_record.h"

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

Value normalised(Value v) {
    if (const auto* dt = std::get_if<DateTime>(&v)) return normalise_datetime(*dt);
    return v;
}

// Absent or empty becomes the placeholder; anything else is cleaned. The placeholder test comes
// first and is not repeated after the clean-up.
Value place_text(Value v, std::string_view placeholder) {
    if (is_null(v)) return std::string(placeholder);
    if (const auto* s = std::get_if<std::string>(&v)) {
        if (s->empty()) return std::string(placeholder);
        return clean_text(*s);
    }
    return clean_text(text_form(v));
}

}  // namespace

std::string clean_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '(': case ')': case '[': case ']': case '\'': case '-': case '.':
                break;
            default:
                out += c;
        }
    }
    return out;
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

ClientDiscoveryRecord make_record(Row&& row, const std::string& identification) {
    if (row.size() < ROW_COLUMNS) {
        throw std::runtime_error("linha de clientes em atraso com " + std::to_string(row.size()) +
                                 " colunas; esperadas " + std::to_string(ROW_COLUMNS));
    }
    Value valor = is_null(row[VALOR_ATRASO]) ? Value{std::int64_t{0}} : std::move(row[VALOR_ATRASO]);
    ClientDiscoveryRecord record;
    record.reserve(14);
    record.push_back({"{#CLIENTE_ID}", std::move(row[ID_CLIENTE])});
    record.push_back({"{#RAZAOSOCIAL}", std::move(row[RAZAO_SOCIAL])});
    record.push_back({"{#CPF_CNPJ}", std::move(row[CPF_CNPJ])});
    record.push_back({"{#VALOR_DIVIDA}", std::move(valor)});
    record.push_back({"{#TITULOS_EM_ATRASO}", std::move(row[TITULOS_ATRASO])});
    record.push_back({"{#CONTATO}", std::move(row[CONTATO_CLIENTE])});
    record.push_back({"{#PRIMEIRO_VENCIMENTO}", normalised(std::move(row[PRIMEIRO_VENCIMENTO]))});
    record.push_back({"{#DIAS_ATRASO}", std::move(row[DIAS_EM_ATRASO])});
    record.push_back({"{#CIDADE}", place_text(std::move(row[CIDADE_CONTRATO]), "Sem cidade")});
    record.push_back({"{#POP}", place_text(std::move(row[POP]), "Sem pop")});
    record.push_back({"{#BAIRRO}", place_text(std::move(row[BAIRRO]), "Sem bairro")});
    record.push_back({"{#DATA_CADASTRO}", normalised(std::move(row[DATA_CADASTRO]))});
    record.push_back({"{#DATA_CRIACAO_TITULO}", normalised(std::move(row[DATA_CRIACAO_TITULO]))});
    record.push_back({"{#ZOR_IDENTIFICATION}", identification});
    return record;
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
    std::vector<ClientDiscoveryRecord> discovery_qdb;
    {
        Connection erp = connect_erp();
        for_each_row(erp.get(), OVERDUE_CLIENTS_QUERY,
                     [&](Row&& row) { discovery_qdb.push_back(make_record(std::move(row), identification)); });
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

// Discovery records: the text clean-up, the date-time normalisation, the record of one row, the
// debug preamble, and the fixed statement texts of the snapshot store.

#include <gtest/gtest.h>

#include "support.h"

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "cli/value.h"
#include "discovery/client_discovery_record.h"
#include "store/pg.h"
#include "store/snapshot_push.h"
#include "store/snapshot_schema.h"

using zor::DateTime;
using zor_test::LocalZone;
using zor::Row;
using zor::Value;

namespace {

// Records are built in UTC unless a test picks another zone.
class RecordZone : public LocalZone {
  protected:
    void SetUp() override {
        LocalZone::SetUp();
        use_zone("UTC");
    }
};

std::string describe(const Value& v) {
    static const char* const kinds[] = {"null", "integer", "real", "text", "date-time"};
    return std::string(kinds[v.index()]) + " " + zor::text_form(v);
}

// ---------------------------------------------------------------------------------------------
// Text clean-up

TEST(CleanText, RemovesOnlyTheSevenPunctuationMarks) {
    struct Case {
        const char* input;
        const char* expected;
    };
    const Case cases[] = {
        {"(Centro-Sul) S.J. d'Oeste", "CentroSul SJ dOeste"},
        {"Alfa | Beta-Sul", "Alfa | BetaSul"},
        {"()-.", ""},
        {"[Zona] (Norte)", "Zona Norte"},
        {"''--..", ""},
        {" ", " "},
        {"", ""},
        {"  Vila   Nova  ", "  Vila   Nova  "},
        {"São João-da-Barra", "São JoãodaBarra"},
        {"Rua 1/2, nº 3; \"x\" {y} _z_ ´`", "Rua 1/2, nº 3; \"x\" {y} _z_ ´`"},
        {"centro", "centro"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        EXPECT_EQ(zor::clean_text(c.input), c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Date-time normalisation

struct NormaliseCase {
    const char* zone;
    const char* name;
    DateTime input;
    DateTime expected;
};

TEST_F(RecordZone, NormaliseDatetimeGoesThroughTheLocalClock) {
    const NormaliseCase cases[] = {
        {"UTC", "a date gives midnight", {2024, 3, 5, 0, 0, 0, 0}, {2024, 3, 5, 0, 0, 0, 0}},
        {"UTC", "fraction dropped, not rounded", {2024, 3, 5, 10, 20, 30, 750000}, {2024, 3, 5, 10, 20, 30, 0}},
        {"UTC", "last microsecond of the day stays on that day", {2024, 12, 31, 23, 59, 59, 999999},
         {2024, 12, 31, 23, 59, 59, 0}},
        {"UTC", "one second before the epoch", {1969, 12, 31, 23, 59, 59, 0}, {1969, 12, 31, 23, 59, 59, 0}},
        {"UTC", "before the epoch", {1960, 1, 1, 0, 0, 0, 0}, {1960, 1, 1, 0, 0, 0, 0}},
        {"UTC", "leap day", {2024, 2, 29, 12, 0, 0, 0}, {2024, 2, 29, 12, 0, 0, 0}},
        {"America/Sao_Paulo", "a date gives midnight", {2024, 3, 5, 0, 0, 0, 0}, {2024, 3, 5, 0, 0, 0, 0}},
        {"America/Sao_Paulo", "fraction dropped", {2024, 3, 5, 10, 20, 30, 750000}, {2024, 3, 5, 10, 20, 30, 0}},
        {"America/Sao_Paulo", "one second before the epoch", {1969, 12, 31, 20, 59, 59, 0},
         {1969, 12, 31, 20, 59, 59, 0}},
        // Daylight saving started at midnight: that midnight never happened there.
        {"America/Sao_Paulo", "skipped midnight", {2018, 11, 4, 0, 0, 0, 0}, {2018, 11, 4, 1, 0, 0, 0}},
        {"America/Sao_Paulo", "inside daylight saving", {2019, 1, 15, 8, 0, 0, 0}, {2019, 1, 15, 8, 0, 0, 0}},
        {"America/New_York", "skipped hour", {2024, 3, 10, 2, 30, 0, 0}, {2024, 3, 10, 3, 30, 0, 0}},
        {"America/New_York", "repeated hour keeps its wall-clock time", {2024, 11, 3, 1, 30, 0, 0},
         {2024, 11, 3, 1, 30, 0, 0}},
    };
    for (const NormaliseCase& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + ": " + c.name);
        use_zone(c.zone);
        const DateTime got = zor::normalise_datetime(c.input);
        EXPECT_EQ(got, c.expected) << zor::datetime_text(got);
    }
}

// Days with a clock change, their neighbours and the edges of the cached years: the cached
// answer must be what mktime and localtime give, minute by minute.
TEST_F(RecordZone, DayCacheGivesWhatTheConversionsGive) {
    struct Case {
        const char* zone;
        DateTime first_day;
        int days;
    };
    const Case cases[] = {
        {"UTC", {2024, 2, 28}, 3},
        {"America/Sao_Paulo", {2018, 11, 3}, 3},   // midnight skipped
        {"America/Sao_Paulo", {2019, 2, 16}, 3},   // the hour before midnight repeated
        {"America/New_York", {2024, 3, 9}, 3},     // 02:00 to 03:00 skipped
        {"America/New_York", {2024, 11, 2}, 3},    // 01:00 to 02:00 repeated
        {"Australia/Lord_Howe", {2024, 4, 6}, 3},  // half an hour repeated
        {"Australia/Lord_Howe", {2024, 10, 5}, 3}, // half an hour skipped
        {"Europe/Dublin", {1968, 10, 26}, 3},      // before the epoch
        {"America/Sao_Paulo", {1899, 12, 30}, 4},  // below and at the first cached year
        {"America/Sao_Paulo", {2199, 12, 30}, 4},  // at and past the last one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " from " + zor::datetime_text(c.first_day));
        use_zone(c.zone);
        zor::DayCache cache;
        for (int d = 0; d < c.days; ++d) {
            for (int minute = 0; minute < 24 * 60; minute += 1) {
                DateTime dt = c.first_day;
                dt.day += d;
                if (zor::normalise_datetime(DateTime{dt.year, dt.month, dt.day, 0, 0, 0, 0}).day != dt.day) {
                    // Past the month's end: the next month's days.
                    std::tm tm{};
                    tm.tm_year = dt.year - 1900;
                    tm.tm_mon = dt.month - 1;
                    tm.tm_mday = dt.day;
                    tm.tm_hour = 12;
                    timegm(&tm);
                    dt = DateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday};
                }
                dt.hour = minute / 60;
                dt.minute = minute % 60;
                dt.second = minute % 7 == 0 ? 59 : minute % 60;
                dt.microsecond = minute % 3 == 0 ? 0 : 999999;
                const DateTime fast = zor::normalise_datetime(dt, cache);
                const DateTime slow = zor::normalise_datetime(dt);
                ASSERT_EQ(fast, slow) << zor::datetime_text(dt) << ": " << zor::datetime_text(fast) << " against "
                                      << zor::datetime_text(slow);
            }
        }
    }
    // Fields no calendar has go to the conversions, which carry them over.
    zor::DayCache cache;
    for (const DateTime& dt : {DateTime{2023, 2, 29, 10, 0, 0, 0}, DateTime{2024, 4, 31, 0, 0, 0, 0},
                               DateTime{2024, 1, 1, 24, 0, 0, 0}, DateTime{2024, 1, 1, 0, 60, 61, 0},
                               DateTime{2024, 13, 1, 0, 0, 0, 0}, DateTime{2024, 0, 0, 0, 0, 0, 0}}) {
        SCOPED_TRACE(zor::datetime_text(dt));
        EXPECT_EQ(zor::normalise_datetime(dt, cache), zor::normalise_datetime(dt));
    }
}

// ---------------------------------------------------------------------------------------------
// The record of one overdue-client row

const char* const RECORD_KEYS[] = {
    "{#CLIENTE_ID}",  "{#RAZAOSOCIAL}", "{#CPF_CNPJ}",      "{#VALOR_DIVIDA}",        "{#TITULOS_EM_ATRASO}",
    "{#CONTATO}",     "{#PRIMEIRO_VENCIMENTO}", "{#DIAS_ATRASO}", "{#CIDADE}",       "{#POP}",
    "{#BAIRRO}",      "{#DATA_CADASTRO}", "{#DATA_CRIACAO_TITULO}", "{#ZOR_IDENTIFICATION}"};

// A row as the overdue-client statement returns it; tests change single positions.
Row sample_row() {
    return Row{
        std::int64_t{1042},                         // 0 client id
        std::string("Padaria D'Ouro Ltda."),        // 1 name
        std::string("12.345.678/0001-90"),          // 2 tax number
        std::int64_t{3},                            // 3 overdue titles
        199.7,                                      // 4 overdue sum
        std::string("(11) 98888-7777 | a.b@c.com"), // 5 contacts
        DateTime{2024, 3, 5, 0, 0, 0, 0},           // 6 first due date (a date)
        std::int64_t{45},                           // 7 days overdue
        std::string("(Centro-Sul) S.J. d'Oeste"),   // 8 cities
        std::string("POP-01 [Norte]"),              // 9 POP
        std::string("Vila S. Maria"),               // 10 neighbourhood
        DateTime{2024, 3, 5, 10, 20, 30, 750000},   // 11 registration
        DateTime{2024, 1, 20, 0, 0, 0, 0},          // 12 title document date
    };
}

void expect_record(const zor::ClientDiscoveryRecord& record, const std::vector<Value>& values) {
    ASSERT_EQ(record.size(), 14u);
    for (std::size_t i = 0; i < 14; ++i) {
        SCOPED_TRACE(RECORD_KEYS[i]);
        EXPECT_EQ(record[i].key, RECORD_KEYS[i]);
        EXPECT_EQ(describe(record[i].value), describe(values[i]));
    }
}

TEST_F(RecordZone, RecordHasItsFourteenEntriesInOrder) {
    const auto record = zor::make_record(sample_row(), "zabbix-host-7");
    expect_record(record, {
                              std::int64_t{1042},
                              std::string("Padaria D'Ouro Ltda."),
                              std::string("12.345.678/0001-90"),
                              199.7,
                              std::int64_t{3},
                              std::string("(11) 98888-7777 | a.b@c.com"),
                              DateTime{2024, 3, 5, 0, 0, 0, 0},
                              std::int64_t{45},
                              std::string("CentroSul SJ dOeste"),
                              std::string("POP01 Norte"),
                              std::string("Vila S Maria"),
                              DateTime{2024, 3, 5, 10, 20, 30, 0},
                              DateTime{2024, 1, 20, 0, 0, 0, 0},
                              std::string("zabbix-host-7"),
                          });
}

TEST_F(RecordZone, MissingValuesOfARow) {
    Row row(13, Value{});
    row[3] = std::int64_t{1};
    row[7] = std::int64_t{0};
    const auto record = zor::make_record(std::move(row), "");
    expect_record(record, {
                              Value{},
                              Value{},
                              Value{},
                              std::int64_t{0},  // the integer 0, not 0.0 and not null
                              std::int64_t{1},
                              Value{},
                              Value{},
                              std::int64_t{0},
                              std::string("Sem cidade"),
                              std::string("Sem pop"),
                              std::string("Sem bairro"),
                              Value{},
                              Value{},
                              std::string(""),
                          });
}

TEST_F(RecordZone, PlaceholdersAndCleanUpOfCityPopAndNeighbourhood) {
    struct Case {
        const char* name;
        Value input;
        std::string city;
        std::string pop;
        std::string neighbourhood;
    };
    const Case cases[] = {
        {"null", Value{}, "Sem cidade", "Sem pop", "Sem bairro"},
        {"empty text", std::string(), "Sem cidade", "Sem pop", "Sem bairro"},
        {"only removable characters", std::string("()-."), "", "", ""},
        {"one blank", std::string(" "), " ", " ", " "},
        {"punctuation", std::string("(Centro-Sul) S.J. d'Oeste"), "CentroSul SJ dOeste", "CentroSul SJ dOeste",
         "CentroSul SJ dOeste"},
        {"list of cities", std::string("Alfa | Beta-Sul"), "Alfa | BetaSul", "Alfa | BetaSul", "Alfa | BetaSul"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Row row = sample_row();
        row[8] = c.input;
        row[9] = c.input;
        row[10] = c.input;
        const auto record = zor::make_record(std::move(row), "x");
        ASSERT_EQ(record.size(), 14u);
        EXPECT_EQ(describe(record[8].value), describe(c.city));
        EXPECT_EQ(describe(record[9].value), describe(c.pop));
        EXPECT_EQ(describe(record[10].value), describe(c.neighbourhood));
    }
}

TEST_F(RecordZone, DebtTotalKeepsItsKind) {
    struct Case {
        const char* name;
        Value input;
        Value expected;
    };
    const Case cases[] = {
        {"null becomes the integer 0", Value{}, std::int64_t{0}},
        {"real stays real", 99.9, 99.9},
        {"real zero stays real", 0.0, 0.0},
        {"whole sum stays integer", std::int64_t{150}, std::int64_t{150}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Row row = sample_row();
        row[4] = c.input;
        const auto record = zor::make_record(std::move(row), "x");
        ASSERT_EQ(record.size(), 14u);
        EXPECT_EQ(describe(record[3].value), describe(c.expected));
    }
}

TEST_F(RecordZone, DatesGoThroughTheLocalClock) {
    use_zone("America/New_York");
    Row row = sample_row();
    row[6] = DateTime{2024, 3, 10, 2, 30, 0, 0};
    row[11] = DateTime{2024, 3, 10, 0, 0, 0, 0};
    row[12] = DateTime{2024, 7, 1, 23, 59, 59, 999999};
    const auto record = zor::make_record(std::move(row), "x");
    ASSERT_EQ(record.size(), 14u);
    EXPECT_EQ(describe(record[6].value), describe(DateTime{2024, 3, 10, 3, 30, 0, 0}));
    EXPECT_EQ(describe(record[11].value), describe(DateTime{2024, 3, 10, 0, 0, 0, 0}));
    EXPECT_EQ(describe(record[12].value), describe(DateTime{2024, 7, 1, 23, 59, 59, 0}));
}

TEST_F(RecordZone, IdentificationIsTakenVerbatim) {
    for (const char* ident : {"debug", "Debug", " host 1 ", "(a-b).c"}) {
        SCOPED_TRACE(ident);
        const auto record = zor::make_record(sample_row(), ident);
        ASSERT_EQ(record.size(), 14u);
        EXPECT_EQ(record[13].key, "{#ZOR_IDENTIFICATION}");
        EXPECT_EQ(describe(record[13].value), describe(std::string(ident)));
    }
}

TEST_F(RecordZone, ShortRowIsAnError) {
    Row row = sample_row();
    row.pop_back();
    EXPECT_THROW((void)zor::make_record(std::move(row), "x"), std::exception);
}

// ---------------------------------------------------------------------------------------------
// Debug preamble

TEST(DebugPreamble, ExactBytes) {
    const std::string expected =
        "Modo debug ativado.\n"
        "\x1b[0;32m"
        "\nVersão do script: 1.0.0"
        "\x1b[1;36m"
        " \n\n"
        "\x1b[1;36m"
        "...============================================= Clientes ==============================================...\n"
        "\x1b[0;0m"
        "\n";
    EXPECT_EQ(zor::debug_preamble(), expected);

    // The heading: three full stops, 45 equal signs, " Clientes ", 46 equal signs, three full stops.
    const std::string heading = "..." + std::string(45, '=') + " Clientes " + std::string(46, '=') + "...\n";
    ASSERT_EQ(heading.size(), 108u);
    EXPECT_NE(zor::debug_preamble().find("\x1b[1;36m" + heading + "\x1b[0;0m\n"), std::string::npos);
}

// ---------------------------------------------------------------------------------------------
// Statement texts of the snapshot store

TEST(StatementTexts, CreateTable) {
    EXPECT_EQ(zor::create_table_statement(false),
              "\n"
              "            CREATE TABLE IF NOT EXISTS zor_clientes (\n"
              "                idCliente INT, razaoSocial TEXT, cpfCnpj TEXT, valorDivida DOUBLE PRECISION, "
              "titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, diasAtraso INT, cidade TEXT, "
              "pop TEXT, bairro TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, zorIdentification TEXT, "
              "timestamp TIMESTAMP,\n"
              "                UNIQUE (idCliente, dataCadastro, zorIdentification)\n"
              "            );\n"
              "        ");
    EXPECT_EQ(zor::create_table_statement(true),
              "\n"
              "            CREATE TABLE IF NOT EXISTS zor_clientes (\n"
              "                idCliente INT, razaoSocial TEXT, cpfCnpj TEXT, valorDivida DOUBLE PRECISION, "
              "titulosDivida INT, contatoCliente TEXT, primeiroVencimento TIMESTAMP, diasAtraso INT, cidade TEXT, "
              "pop TEXT, bairro TEXT, dataCadastro TIMESTAMP, dataCriacaoTitulo TIMESTAMP, zorIdentification TEXT, "
              "timestamp TIMESTAMP,\n"
              "                UNIQUE NULLS NOT DISTINCT (idCliente, dataCadastro, zorIdentification)\n"
              "            );\n"
              "        ");
}

TEST(StatementTexts, Upsert) {
    EXPECT_EQ(zor::build_insert_query(),
              "\n"
              "        INSERT INTO zor_clientes (idCliente, razaoSocial, cpfCnpj, valorDivida, titulosDivida, "
              "contatoCliente, primeiroVencimento, diasAtraso, cidade, pop, bairro, dataCadastro, dataCriacaoTitulo, "
              "zorIdentification, timestamp)\n"
              "        VALUES %s\n"
              "        ON CONFLICT (idCliente, dataCadastro, zorIdentification)\n"
              "        DO UPDATE SET\n"
              "        razaoSocial = EXCLUDED.razaoSocial, cpfCnpj = EXCLUDED.cpfCnpj, "
              "valorDivida = EXCLUDED.valorDivida, titulosDivida = EXCLUDED.titulosDivida, "
              "contatoCliente = EXCLUDED.contatoCliente, primeiroVencimento = EXCLUDED.primeiroVencimento, "
              "diasAtraso = EXCLUDED.diasAtraso, cidade = EXCLUDED.cidade, pop = EXCLUDED.pop, "
              "bairro = EXCLUDED.bairro, dataCriacaoTitulo = EXCLUDED.dataCriacaoTitulo, "
              "timestamp = EXCLUDED.timestamp;\n"
              "    ");
}

TEST(StatementTexts, RetentionAndCatalogue) {
    EXPECT_EQ(zor::RETENTION_STATEMENT, "DELETE FROM zor_clientes WHERE timestamp < NOW() - INTERVAL '1 day';");
    EXPECT_EQ(zor::COLUMNS_QUERY,
              "\n"
              "            SELECT column_name FROM information_schema.columns WHERE table_name = 'zor_clientes';\n"
              "        ");
}

}  // namespace

#pragma once
/// The shape of the snapshot table zor_clientes: its columns, creation and column migration.

#include <array>
#include <string>
#include <string_view>

struct pg_conn;

namespace zor {

struct Column {
    std::string_view name;
    std::string_view type;
};

/// The columns of zor_clientes in their fixed order, with their SQL types.
inline constexpr std::array<Column, 15> colunas_tabela{{
    {"idCliente", "INT"},
    {"razaoSocial", "TEXT"},
    {"cpfCnpj", "TEXT"},
    {"valorDivida", "DOUBLE PRECISION"},
    {"titulosDivida", "INT"},
    {"contatoCliente", "TEXT"},
    {"primeiroVencimento", "TIMESTAMP"},
    {"diasAtraso", "INT"},
    {"cidade", "TEXT"},
    {"pop", "TEXT"},
    {"bairro", "TEXT"},
    {"dataCadastro", "TIMESTAMP"},
    {"dataCriacaoTitulo", "TIMESTAMP"},
    {"zorIdentification", "TEXT"},
    {"timestamp", "TIMESTAMP"},
}};

/// The create statement. Servers from 15 on get a row key whose NULLs match each other, so a
/// client without contract keeps one row instead of gaining a copy on every push.
std::string create_table_statement(bool nulls_not_distinct);

/// The catalogue read that lists the columns of every table named zor_clientes.
extern const std::string COLUMNS_QUERY;

struct Index {
    std::string_view name;
    std::string_view columns;  // as written in the statement, in key order
};

/// The indexes besides the row key: `timestamp` for the retention, which would otherwise read the
/// whole shared table on every push, and (`zorIdentification`, `timestamp`) for the read of one
/// host's latest snapshot.
inline constexpr std::array<Index, 2> indices_tabela{{
    {"zor_clientes_timestamp_idx", "timestamp"},
    {"zor_clientes_zoridentification_timestamp_idx", "zorIdentification, timestamp"},
}};

/// CREATE INDEX IF NOT EXISTS for one of the indexes.
std::string create_index_statement(const Index& index);

/// Creates the table if missing, adds the columns it lacks and gives it the indexes it lacks when
/// the store user may create them, printing each failure and going on.
void ensure_schema(pg_conn* conn);

}  // namespace zor

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

/// Creates the table if missing and adds the columns it lacks, printing each failure and going on.
void ensure_schema(pg_conn* conn);

}  // namespace zor

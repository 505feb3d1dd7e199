#pragma once
/// The snapshot push: one run's records upserted into zor_clientes, then the one-day retention.

#include <string>
#include <string_view>
#include <vector>

#include "cli/value.h"

namespace zor {

/// Rows per INSERT statement of the batch upsert.
inline constexpr std::size_t PAGE_SIZE = 10000;

/// The record key that fills each of the first 14 columns; the 15th is the run timestamp.
inline constexpr std::string_view COLUMN_KEYS[14] = {
    "{#CLIENTE_ID}",          "{#RAZAOSOCIAL}", "{#CPF_CNPJ}",      "{#VALOR_DIVIDA}",        "{#TITULOS_EM_ATRASO}",
    "{#CONTATO}",             "{#PRIMEIRO_VENCIMENTO}", "{#DIAS_ATRASO}", "{#CIDADE}",         "{#POP}",
    "{#BAIRRO}",              "{#DATA_CADASTRO}", "{#DATA_CRIACAO_TITULO}", "{#ZOR_IDENTIFICATION}"};

/// The upsert statement; its single "%s" stands for the rows of one page.
std::string build_insert_query();

/// The retention statement.
inline constexpr std::string_view RETENTION_STATEMENT =
    "DELETE FROM zor_clientes WHERE timestamp < NOW() - INTERVAL '1 day';";

/// Stores the records in zor_clientes of the store database named by the run settings.
void sendPostgresClientes(const std::vector<Record>& descoberta);

}  // namespace zor

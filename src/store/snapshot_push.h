#pragma once
/// The snapshot push: one run's records upserted into zor_clientes, then the one-day retention.

#include <string>
#include <string_view>
#include <vector>

#include "cli/record_list.h"
#include "cli/value.h"

namespace zor {

/// Rows per INSERT statement of the batch upsert.
inline constexpr std::size_t PAGE_SIZE = 10000;

/// The upsert statement; its single "%s" stands for the rows of one page.
std::string build_insert_query();

/// The retention statement.
inline constexpr std::string_view RETENTION_STATEMENT =
    "DELETE FROM zor_clientes WHERE timestamp < NOW() - INTERVAL '1 day';";

/// Stores the records in zor_clientes of the store database named by the run settings: the values
/// of a record fill the first 14 columns in the order of RECORD_KEYS, the run timestamp the 15th.
void sendPostgresClientes(const RecordList& descoberta);

/// Stores key/value records: each column takes the value of the record's entry with its key, null
/// when the record has none.
void sendPostgresClientes(const std::vector<Record>& descoberta);

}  // namespace zor

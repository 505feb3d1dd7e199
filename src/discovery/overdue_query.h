#pragma once
/// The overdue-client statement and the fetch that reads it from the ERP database.

#include <string>
#include <vector>

#include "store/pg.h"

namespace zor {

/// One row per client with overdue open titles; 13 positional columns.
extern const std::string OVERDUE_CLIENTS_QUERY;

/// Opens the ERP connection named by the run settings.
Connection connect_erp();

/// Connects to the ERP with the run settings, reads every overdue-client row and closes.
std::vector<Row> fetch_overdue_clients();

}  // namespace zor

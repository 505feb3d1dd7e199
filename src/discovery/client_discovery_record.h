#pragma once
/// The discovery record of one overdue client, keyed by Zabbix low-level-discovery macros, and
/// the discovery run that builds and stores them.

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/record_list.h"
#include "cli/value.h"
#include "store/pg.h"

namespace zor {

/// 14 entries in a fixed order, keys "{#CLIENTE_ID}" ... "{#ZOR_IDENTIFICATION}" (RECORD_KEYS).
using ClientDiscoveryRecord = Record;

/// Removes every "(", ")", "[", "]", "'", "-" and "." from the text.
std::string clean_text(std::string_view text);

/// Appends the text to `out` without its "(", ")", "[", "]", "'", "-" and ".".
void append_clean_text(std::string& out, std::string_view text);

/// Reads the date or timestamp as local time, drops the fraction of a second and reads it back
/// through the platform's conversions (mktime and localtime).
DateTime normalise_datetime(const DateTime& dt);

/// The local days already looked at, from 1900 to 2199: whether the clock keeps one UTC offset
/// all day (1), does not (2), or has not been looked at (0). Valid for one time zone.
struct DayCache {
    std::vector<unsigned char> days;
};

/// normalise_datetime, answered without the platform's conversions for a valid date-time on a
/// local day that has no clock change (where the conversions give back the same wall-clock time).
DateTime normalise_datetime(const DateTime& dt, DayCache& cache);

/// What building records keeps from one row to the next, so that a row costs no allocation.
struct RecordBuilder {
    std::string texts;  // the row's cleaned texts and placeholders
    DayCache days;
};

/// Appends the record of one overdue-client row, for the given identification, to the list.
void append_client_record(RecordList& list, std::span<const ValueView> row, std::string_view identification,
                          RecordBuilder& builder);

/// Builds the record of one overdue-client row for the given identification.
ClientDiscoveryRecord make_record(Row&& row, const std::string& identification);

/// The debug preamble: notice, version line and the coloured "Clientes" heading.
std::string debug_preamble();

/// The whole discovery run: fetch, records, debug output, push, "OK". Returns the exit status.
[[nodiscard]] int discovery_clientes();

}  // namespace zor

#pragma once
/// Console output shared by the whole program: palette, version banner, clock and key/value table.

#include <iosfwd>
#include <string_view>
#include <vector>

#include "cli/record_list.h"
#include "cli/value.h"

namespace zor {

inline constexpr std::string_view RED = "\x1b[1;31m";
inline constexpr std::string_view BLUE = "\x1b[1;34m";
inline constexpr std::string_view CYAN = "\x1b[1;36m";
inline constexpr std::string_view GREEN = "\x1b[0;32m";
inline constexpr std::string_view RESET = "\x1b[0;0m";
inline constexpr std::string_view BOLD = "\x1b[;1m";
inline constexpr std::string_view REVERSE = "\x1b[;7m";
inline constexpr std::string_view YELLOW = "\x1b[0;93m";

/// Writes one message line to standard output and flushes it, so nothing is lost if the run is cut.
void say(std::string_view line);

/// The banner line for a program path: every "./" becomes one space, then two spaces and the version.
std::string version_line(std::string_view program_path);

/// Writes the rights notice and the version banner; returns the exit status of the run (0).
[[nodiscard]] int get_version(std::ostream& out);

/// The current local date and time, with microseconds and no zone.
DateTime get_timestamp();

/// Writes every record as an aligned key/value table followed by an empty line.
void print_dict_list(const std::vector<Record>& dict_list, std::ostream& out);

/// Writes every packed record as an aligned key/value table followed by an empty line.
void print_dict_list(const RecordList& dict_list, std::ostream& out);

}  // namespace zor

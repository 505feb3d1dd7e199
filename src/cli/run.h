#pragma once
/// Entry and run control: parameter check, run settings, the bounded dispatch and exit statuses.

#include <string>

namespace zor {

/// The count message for a wrong number of parameters after the program name.
std::string count_message(int count);

/// Runs the program for its argument vector under a bound of `runtime_limit` seconds and
/// returns the process exit status. Blanks the password arguments in `argv` once copied.
[[nodiscard]] int run_program(int argc, char** argv, int runtime_limit);

}  // namespace zor

#include "cli/run.h"
#include "cli/run_config.h"

int main(int argc, char** argv) { return zor::run_program(argc, argv, zor::RUNTIME_LIMIT); }

#include "platform/program.h"

#include <unistd.h>

std::vector<std::string> program_arguments(int argc, char** argv) { return {argv, argv + argc}; }

void prepare_standard_streams() {}

bool stderr_is_terminal() { return isatty(STDERR_FILENO) != 0; }

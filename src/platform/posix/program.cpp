#include "platform/program.h"

std::vector<std::string> program_arguments(int argc, char** argv) { return {argv, argv + argc}; }

void prepare_standard_streams() {}

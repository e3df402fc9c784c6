// The program's place in its system: its arguments as UTF-8 text and its standard
// streams as byte streams.
#pragma once

#include <string>
#include <vector>

// The command-line arguments, the program name first, as UTF-8 text. On Windows they
// are taken from the wide-character command line, so that names outside the
// current code page arrive intact; elsewhere they are argv as given.
std::vector<std::string> program_arguments(int argc, char** argv);

// Makes standard output and standard error byte streams: a line end is written as
// LF on every system, so the console output is the same bytes everywhere. A
// Windows console is set to show UTF-8.
void prepare_standard_streams();

// True when standard error is a terminal (progress lines are shown only there).
bool stderr_is_terminal();

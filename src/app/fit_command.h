// The fit command: `tarnok [options] O/N profile form data result [rotate]`.
#pragma once

// Runs the fit command; argv[0] is the program's name, every argument UTF-8.
// Returns the exit status; failures are thrown as Failure.
int run_fit_command(int argc, char** argv);

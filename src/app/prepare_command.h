// `tarnok prepare`: from the analyst's measured tables (values and uncertainties
// or detection limits) to the fit's data, profile and form files, a species table
// and the command that runs the fit.
#pragma once

// Runs the subcommand; argv[0] is "prepare", `program` the name the program was
// started by (for the fit command it prints). Returns the exit status; failures
// are thrown as Failure.
int run_prepare(int argc, const char* const* argv, const char* program);

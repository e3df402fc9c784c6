// `tarnok report [options] DIR`: draws the page of a report folder again from the
// folder's own files, without the fit: with other factor names, another total or
// the units of a species table.
#pragma once

// Runs the subcommand; argv[0] is "report". Returns the exit status; failures are
// thrown as Failure.
int run_report(int argc, const char* const* argv);

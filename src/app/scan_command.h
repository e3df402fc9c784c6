// `tarnok scan`: the data of a folder `prepare` wrote, fitted with K = A..B
// factors from fresh starts; scan.tsv and scan.html in the output folder.
#pragma once

// Runs the subcommand; argv[0] is "scan". Returns the exit status; failures are
// thrown as Failure.
int run_scan_command(int argc, char** argv);

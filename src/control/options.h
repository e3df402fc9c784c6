// The command line: options first, then the positional arguments
// mode, profile, form, data, result and an optional rotate strength.
#pragma once

#include <string>
#include <vector>

struct Options {
  long passes = -1;                  ///< --passes N: stop after N statistics lines; -1: no limit
  double converge = 0.0;             ///< --converge TOL: stop once chi2/ny has settled; 0: off
  bool keep_best = false;            ///< --keep-best: write the result of the best pass seen
  long threads = 0;                  ///< --threads N: worker threads; 0: one per core
  bool timing = false;               ///< --timing: phase times on standard error
  std::string report;                ///< --report DIR: run record, diagnostics and report.html into DIR; "": none
  std::string total;                 ///< --total NAME: the variable apportioned among the factors in the report
  bool help = false;                 ///< --help
  bool version = false;              ///< --version
  std::vector<std::string> args;     ///< positional arguments, as typed
};

// Splits argv into options and positional arguments. Options come before the
// first positional argument; "--" ends them. Fails on an unknown or malformed option.
Options parse_options(int argc, const char* const* argv);

// The text printed by --help.
const char* usage_text();

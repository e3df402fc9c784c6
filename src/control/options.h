// The command line: options first, then the positional arguments
// mode, profile, form, data, result and an optional rotate strength.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct Options {
  long passes = -1;                  ///< --passes N: stop after N statistics lines; -1: no limit
  double converge = 0.0;             ///< --converge TOL: stop once chi2 and the profiles have settled; 0: off
  bool keep_best = false;            ///< --keep-best: write the result of the best pass seen
  bool accelerate = false;           ///< --accelerate: extrapolated profiles every few passes, kept when chi2 is lower
  long threads = 0;                  ///< --threads N: worker threads; 0: one per core
  double robust = 0.0;               ///< --robust [ALPHA]: down-weight values beyond ALPHA (default 4); 0: off
  bool timing = false;               ///< --timing: phase times on standard error
  long starts = 0;                   ///< --starts N: fit N starts, write the best; 0: one fit
  long fresh_starts = 0;             ///< --fresh-starts N: fit N starts built from the data; 0: none
  std::uint64_t seed = 1;            ///< --seed S: seed of the starts and bootstrap draws
  long bootstrap = 0;                ///< --bootstrap N: N bootstrap replicates after the fit; 0: none
  long block = 0;                    ///< --block L: records per bootstrap block; 0: from the data
  double min_r = 0.6;                ///< --min-r R: least correlation that maps a replicate factor
  std::string report;                ///< --report DIR: run record, diagnostics and report.html into DIR; "": none
  std::string total;                 ///< --total NAME: the variable apportioned among the factors in the report
  std::string units;                 ///< --units FILE: species table giving the variables' units in the report
  std::string names;                 ///< --names A,B,...: the factors' names for this run
  std::vector<std::string> hold;     ///< --hold FACTOR:VARIABLE=VALUE, each as typed, in order
  bool disp = false;                 ///< --disp: displacement intervals of the free profile elements
  std::string disp_levels;           ///< --disp-levels LIST: the dQmax levels as typed; "": 4,8,16,32
  long bs_disp = 0;                  ///< --bs-disp N: displacement within N bootstrap replicates; 0: none
  std::string bs_disp_levels;        ///< --bs-disp-levels LIST: its dQmax levels as typed; "": 0.5,1,2,4
  bool help = false;                 ///< --help
  bool version = false;              ///< --version
  std::vector<std::string> args;     ///< positional arguments, as typed
};

// Splits argv into options and positional arguments, by the table of options
// (control/option_table.h). Options come before the first positional argument;
// "--" ends them. Fails on an unknown or malformed option.
Options parse_options(int argc, const char* const* argv);

// The text printed by --help: a fixed text around the help lines of the option table.
const char* usage_text();

// Reads a seed as typed: decimal digits after an optional '+' (020 is 20), from 0
// to 18446744073709551615. False for anything else; the fit and prepare each say so
// in their own words.
bool read_seed(const std::string& text, std::uint64_t* value);

// The threads of a run asked for `requested` threads: that many, or one per core
// when 0 or less, and at most 256.
int thread_count(long requested);

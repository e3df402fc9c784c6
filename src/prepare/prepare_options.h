// The command line of `tarnok prepare`.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PrepareOptions {
  std::string concentrations;              ///< the measured values' table
  std::string outdir;                      ///< folder for data.tsv, profile.tsv, form.tsv, species.tsv
  std::string uncertainties;               ///< --uncertainties FILE: a table of the same shape
  std::string mdl;                         ///< --mdl FILE: per species detection limit and error fraction
  char delimiter = '\0';                   ///< --delimiter: ',', ';', '\t'; '\0' detects it
  std::vector<std::string> missing_markers;  ///< --missing-marker TEXT, any number
  bool missing_median = false;             ///< --missing median; otherwise exclude
  std::vector<std::string> bad;            ///< --bad NAMES
  std::vector<std::string> weak;           ///< --weak NAMES
  std::string total;                       ///< --total NAME
  std::string date_format;                 ///< --date-format ymd|dmy|mdy; empty: found from the identifiers
  int factors = 0;                         ///< --factors K
  std::vector<std::string> names;          ///< --names A,B,...
  std::vector<std::string> units;          ///< --unit UNIT or NAME=UNIT, any number
  std::uint64_t seed = 1;                  ///< --seed N
  std::string start = "spread-nmf";        ///< --start spread|nmf|spread-nmf: construction of the starting profiles
  std::string profiles;                    ///< --profiles FILE: known source profiles
  bool hold_zeros = false;                 ///< --hold-zeros: hold the zero elements of --profiles
  bool force = false;                      ///< --force: replace files already in OUTDIR
  bool help = false;                       ///< --help: the usage text was printed
};

// Parses the arguments after "prepare" (argv[0] is "prepare"). Prints the usage
// text and sets help for --help; fails with a message for a malformed command line.
PrepareOptions parse_prepare_options(int argc, const char* const* argv);

// Reads a seed: decimal digits (an optional leading '+'; leading zeros read as
// decimal) from 0 to 18446744073709551615. Fails naming the option and the text
// for anything else.
std::uint64_t parse_seed(const std::string& option, const std::string& text);

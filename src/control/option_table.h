// The table of the fit's options, one row per option. The parser (parse_options),
// the --help text (usage_text) and the run record's "options" object are all made
// from it: a new option is one row, its use and its test.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "control/options.h"

// What an option takes after its name, and so how the parser reads and checks it.
enum class OptionValue {
  flag,               ///< nothing: sets a bool; "--name=value" is an unknown option
  count,              ///< a whole number of at least 0 (long)
  positive_count,     ///< a whole number of at least 1 (long), at most the row's `most` where that is set
  seed,               ///< a whole number from 0 to 2^64 - 1 (std::uint64_t)
  positive,           ///< a finite number above 0 (double)
  fraction,           ///< a number above 0 and at most 1 (double)
  optional_positive,  ///< as `positive`, given as --name=VALUE or as the next argument when that
                      ///< looks like a number; without one the row's `implied` value
  text,               ///< any text, the empty one too
  folder,             ///< a folder name: a text that is not empty
  texts,              ///< any text, once per use: the option may be given again and each
                      ///< text is kept, in the order given
};

// How the run record's "options" object shows an option.
enum class RecordAs {
  nothing,          ///< not recorded (--help, --version)
  value,            ///< always its value
  null_at_default,  ///< null while the option keeps the default of Options, else its value
  absent_at_default,  ///< left out while the option keeps the default of Options (so that the
                      ///< records of runs without it stay as they were), else its value
};

// Where the parser stores an option: a member of Options of the type its OptionValue reads.
using OptionField = std::variant<bool Options::*, long Options::*, std::uint64_t Options::*, double Options::*,
                                 std::string Options::*, std::vector<std::string> Options::*>;

struct OptionRow {
  std::string_view name;   ///< as typed, e.g. "--passes"; the record's key drops "--" and spells '-' as '_'
  OptionValue value;       ///< what it takes
  OptionField field;       ///< where its value goes
  RecordAs record;         ///< how the run record shows it
  std::string_view help;   ///< its lines of --help, verbatim, each with its line end
  double implied = 0.0;    ///< optional_positive only: the value when none is given
  long most = 0;           ///< positive_count only: the largest value accepted; 0: no limit
};

// Every option of the fit, in the order of --help.
std::span<const OptionRow> option_rows();

// The row of an option name as typed ("--passes"), or null for an unknown name.
const OptionRow* find_option(std::string_view name);

// The key of an option in the run record: "--keep-best" gives "keep_best".
std::string record_key(std::string_view name);

// The run record's "options" object: one member per recorded row.
nlohmann::json options_record(const Options& options);

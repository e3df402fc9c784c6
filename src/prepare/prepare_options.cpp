#include "prepare/prepare_options.h"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "control/failure.h"
#include "control/options.h"

namespace {

// Names may be given as one comma-separated list or by repeating the option.
std::vector<std::string> split_names(const std::vector<std::string>& given) {
  std::vector<std::string> names;
  for (const std::string& list : given) {
    std::size_t start = 0;
    for (;;) {
      std::size_t comma = list.find(',', start);
      std::string name = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
      while (!name.empty() && name.front() == ' ') name.erase(0, 1);
      while (!name.empty() && name.back() == ' ') name.pop_back();
      if (!name.empty()) names.push_back(name);
      if (comma == std::string::npos) break;
      start = comma + 1;
    }
  }
  return names;
}

// The detail line after an argument CLI11 found no place for: when the left-over
// arguments are all plain words, a name with spaces was most likely given
// unquoted, so that its second word took the place of the values' table.
std::string extras_detail(const std::vector<std::string>& extras, const PrepareOptions& o) {
  std::string words;
  for (const std::string& e : extras) {
    if (e.empty() || e.front() == '-') return "";
    words += (words.empty() ? "'" : ", '") + e + "'";
  }
  if (words.empty()) return "";
  return "'" + o.concentrations + "' was taken as the values' table and '" + o.outdir + "' as OUTDIR, which leaves " +
         words + " over: a name with spaces goes in quotes, as in --bad 'Elemental Carbon'.\n";
}

}  // namespace

std::uint64_t parse_seed(const std::string& option, const std::string& text) {
  std::uint64_t value = 0;
  if (!read_seed(text, &value)) {
    fail("Error: prepare: %s needs a whole number from 0 to 18446744073709551615, not '%s'!\n", option.c_str(),
         quote_cell(text).c_str());
  }
  return value;
}

PrepareOptions parse_prepare_options(int argc, const char* const* argv) {
  PrepareOptions o;
  CLI::App app("Turns measured tables (values and uncertainties, one row per sample, one column per species)\n"
               "into the fit's data, profile and form files and a species table.",
               "tarnok prepare");
  app.get_formatter()->column_width(30);
  std::string delimiter = "detect";
  std::string missing = "exclude";
  std::vector<std::string> bad, weak, names;
  std::string seed;
  app.add_option("CONCENTRATIONS", o.concentrations, "the measured values' table")->required();
  app.add_option("OUTDIR", o.outdir, "folder for data.tsv, profile.tsv, form.tsv and species.tsv")->required();
  auto* unc = app.add_option("--uncertainties", o.uncertainties, "uncertainties: a table of the same shape");
  auto* mdl = app.add_option("--mdl", o.mdl,
                             "uncertainties from a table of species, detection limit, error fraction: 5/6 x MDL at "
                             "or below the limit, otherwise sqrt((fraction x value)^2 + (0.5 x MDL)^2)");
  unc->excludes(mdl);
  app.add_option("--delimiter", delimiter, "comma, semicolon or tab (default: detected from the heading row)")
      ->check(CLI::IsMember({"detect", "comma", "semicolon", "tab"}));
  app.add_option("--missing-marker", o.missing_markers,
                 "a further text or number that marks a missing value (besides an empty cell, NA, NaN, ND, "
                 "-999), such as -99, BDL or n.d.; repeat it for more")
      ->allow_extra_args(false);
  app.add_option("--missing", missing, "exclude (uncertainty 0: the fit leaves the value out) or median")
      ->check(CLI::IsMember({"exclude", "median"}));
  // Each of these takes one value per use (a comma-separated list), so that it
  // never swallows the positional arguments after it.
  app.add_option("--bad", bad, "species to leave out (comma-separated full names)")->allow_extra_args(false);
  app.add_option("--weak", weak, "species whose uncertainty is tripled")->allow_extra_args(false);
  app.add_option("--total", o.total, "the total variable (e.g. PM2.5 mass): made weak");
  auto* factors = app.add_option("--factors", o.factors, "number of factors of the starting model")
                      ->check(CLI::Range(1, 20));
  app.add_option("--names", names, "factor names, comma-separated (default F1 ... FK)")->allow_extra_args(false);
  app.add_option("--unit", o.units,
                 "the unit of the species whose heading gives none (e.g. ug/m3), or NAME=UNIT for one species; "
                 "a heading such as 'Mass (ug/m3)' or 'SO4 [ug/m3]' gives its own")
      ->allow_extra_args(false);
  app.add_option("--seed", seed, "seed of the starting model (default 1)")->type_name("UINT");
  app.add_option("--date-format", o.date_format,
                 "order of the dates in the identifiers: ymd, dmy or mdy (default: found from the identifiers)")
      ->check(CLI::IsMember({"ymd", "dmy", "mdy"}));
  app.add_option("--start", o.start, "construction of the starting profiles: spread-nmf (default), spread or nmf")
      ->check(CLI::IsMember({"spread", "nmf", "spread-nmf"}));
  auto* profiles = app.add_option("--profiles", o.profiles, "start from known source profiles (species x sources)");
  app.add_flag("--hold-zeros", o.hold_zeros, "hold the zero elements of --profiles");
  app.add_flag("--force", o.force, "replace files already in OUTDIR");
  profiles->excludes(factors);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::fputs(app.help().c_str(), stdout);
    o.help = true;
    return o;
  } catch (const CLI::ExtrasError& e) {
    fail("Error: prepare: %s! See tarnok prepare --help.\n%s", e.what(), extras_detail(app.remaining(), o).c_str());
  } catch (const CLI::ParseError& e) {
    fail("Error: prepare: %s! See tarnok prepare --help.\n", e.what());
  }
  if (app.count("--seed") > 0) o.seed = parse_seed("--seed", seed);
  if (o.uncertainties.empty() == o.mdl.empty()) {
    fail("Error: prepare: give exactly one of --uncertainties FILE and --mdl FILE!\n");
  }
  if (o.factors == 0 && o.profiles.empty()) {
    fail("Error: prepare: give --factors K (or --profiles FILE) for the starting model!\n");
  }
  if (o.hold_zeros && o.profiles.empty()) fail("Error: prepare: --hold-zeros needs --profiles FILE!\n");
  if (delimiter == "comma") o.delimiter = ',';
  if (delimiter == "semicolon") o.delimiter = ';';
  if (delimiter == "tab") o.delimiter = '\t';
  o.missing_median = missing == "median";
  o.bad = split_names(bad);
  o.weak = split_names(weak);
  o.names = split_names(names);
  if (!o.names.empty() && !o.profiles.empty()) fail("Error: prepare: --names goes with --factors, not --profiles!\n");
  if (!o.names.empty() && static_cast<int>(o.names.size()) != o.factors) {
    fail("Error: prepare: %zu names for %d factors!\n", o.names.size(), o.factors);
  }
  return o;
}

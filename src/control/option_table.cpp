#include "control/option_table.h"

#include <nlohmann/json.hpp>

#include <algorithm>

namespace {

using enum OptionValue;
using enum RecordAs;

// The most fits --starts and --bootstrap may ask for: each keeps its profiles
// until the end of the run, and the counts are held as int.
constexpr long kMostFits = 100000;

constexpr OptionRow kRows[] = {
    {"--passes", count, &Options::passes, null_at_default,
     "  --passes N   stop after N passes (a key still stops earlier on a terminal;\n"
     "               standard input that is not a terminal is then ignored)\n"},
    {"--converge", positive, &Options::converge, null_at_default,
     "  --converge TOL\n"
     "               stop by itself once the fit has stopped moving: when, for 12\n"
     "               passes in a row, both the relative change of chi2 and the\n"
     "               relative change of every factor's profile (sum of |changes|\n"
     "               over sum of |elements|) from the pass 12 passes earlier are\n"
     "               below TOL, every pass compared having run undamped (from\n"
     "               pass 10 on, so never before 33 passes); TOL is a positive\n"
     "               number, e.g. 1e-4. Standard input that is not a terminal is\n"
     "               then ignored. A fit that stops otherwise is 'not converged'.\n"},
    {"--keep-best", flag, &Options::keep_best, value,
     "  --keep-best  when the fit stops, write the result of the pass with the\n"
     "               lowest chi2 seen (the earliest of equals), unless the final\n"
     "               pass is lower\n"},
    {"--accelerate", flag, &Options::accelerate, absent_at_default,
     "  --accelerate every other pass, also try profiles extrapolated from the last\n"
     "               passes' changes and go on from them when their chi2 is lower\n"
     "               than the ordinary pass's: the fit settles in far fewer passes.\n"
     "               One statistics line per pass as before; --timing and run.json\n"
     "               show the passes that started from extrapolated profiles\n"},
    {"--threads", count, &Options::threads, value,
     "  --threads N  worker threads for the fit (default 0: one per core); the\n"
     "               results are the same for every N\n"},
    {"--robust", optional_positive, &Options::robust, null_at_default,
     "  --robust [ALPHA]\n"
     "               robust fit: after each contribution step, a value whose scaled\n"
     "               residual |dy / u| exceeds ALPHA (a positive number, default 4)\n"
     "               gets the uncertainty u * sqrt(|dy / u| / ALPHA) in the profile\n"
     "               step, the next contribution step, the residue and the regression;\n"
     "               the first contribution step weighs with the plain uncertainties.\n"
     "               Give ALPHA as --robust=ALPHA, or as the next argument when that\n"
     "               is a number. The fit then makes Q(robust) small: the sum over the\n"
     "               values of q * q, q = dy / u, up to |q| = ALPHA and of\n"
     "               2 * ALPHA * |q| - ALPHA * ALPHA beyond, so a value's share grows\n"
     "               only linearly beyond ALPHA. chi2/ny on the statistics lines,\n"
     "               --converge, --keep-best, the divergence guard and the result\n"
     "               table's chi2 are then Q(robust), worked out from each pass's own\n"
     "               residuals; a line after the closing line gives Q(true), chi2\n"
     "               with the plain uncertainties, and the number of down-weighted\n"
     "               values.\n",
     4.0},
    {"--timing", flag, &Options::timing, value,
     "  --timing     print the time of each phase and pass on standard error\n"},
    {"--starts", positive_count, &Options::starts, null_at_default,
     "  --starts N   fit N starts (the given profiles and N - 1 whose free elements\n"
     "               are each multiplied by a factor from [0.5, 1.5]) and write the\n"
     "               one with the lowest final chi2; needs --passes or --converge\n",
     0.0, kMostFits},
    {"--fresh-starts", positive_count, &Options::fresh_starts, absent_at_default,
     "  --fresh-starts N\n"
     "               fit N starts, each from new starting profiles built from the\n"
     "               data with its own seed (S, S + 1, ... of --seed S), as prepare\n"
     "               builds them, so that a start is the profile file prepare writes\n"
     "               with its seed; held elements keep the profile file's values.\n"
     "               Writes the one with the lowest final chi2; needs --passes or\n"
     "               --converge\n",
     0.0, kMostFits},
    {"--seed", seed, &Options::seed, value,
     "  --seed S     seed of the starts and of the bootstrap (default 1)\n"},
    {"--bootstrap", positive_count, &Options::bootstrap, null_at_default,
     "  --bootstrap N\n"
     "               after the fit, fit N replicates of blocks of records drawn with\n"
     "               replacement and write the spread of the profiles to the report\n"
     "               folder; needs --report and --passes or --converge\n",
     0.0, kMostFits},
    {"--block", positive_count, &Options::block, null_at_default,
     "  --block L    records per bootstrap block (default: from the contributions)\n"},
    {"--min-r", fraction, &Options::min_r, value,
     "  --min-r R    least correlation that maps a replicate factor (default 0.6)\n"},
    {"--report", folder, &Options::report, value,
     "  --report DIR after the result table, write into DIR (created if missing) the\n"
     "               run record run.json, variables.tsv, records.tsv, report.html\n"
     "               and its charts as SVG files in DIR/figures; with --starts\n"
     "               and --bootstrap also starts.tsv, bootstrap.tsv and\n"
     "               bootstrap_mapping.tsv\n"},
    {"--total", text, &Options::total, null_at_default,
     "  --total NAME with --report: apportion variable NAME (e.g. PM2.5 mass)\n"
     "               among the factors\n"},
    {"--units", text, &Options::units, nothing,
     "  --units FILE with --report: the species table of tarnok prepare that gives the\n"
     "               variables' units (default: species.tsv beside the data file)\n"},
    {"--names", text, &Options::names, nothing,
     "  --names A,B,...\n"
     "               name the factors A, B, ... in this run instead of the names in\n"
     "               the profile file (one name per factor, comma-separated)\n"},
    {"--hold", texts, &Options::hold, absent_at_default,
     "  --hold FACTOR:VARIABLE=VALUE\n"
     "               fit with the profile element of FACTOR and VARIABLE held at\n"
     "               VALUE, given as the element times the factor's mean\n"
     "               contribution (the factor's mean amount of VARIABLE; a rescaling\n"
     "               of the factor does not absorb it); may be given again for more\n"
     "               elements; the element must be free in the form\n"},
    {"--disp", flag, &Options::disp, absent_at_default,
     "  --disp       after the fit, displace every free profile element (times its\n"
     "               factor's mean contribution) up and down until chi2, with all\n"
     "               other free elements and the contributions refitted to their\n"
     "               minimum, exceeds the fit's chi2 by each dQmax level;\n"
     "               writes disp.tsv and disp_summary.tsv to the report folder;\n"
     "               needs --report and --passes or --converge\n"},
    {"--disp-levels", text, &Options::disp_levels, absent_at_default,
     "  --disp-levels LIST\n"
     "               the dQmax levels of --disp, rising, separated by commas\n"
     "               (default 4,8,16,32)\n"},
    {"--bs-disp", positive_count, &Options::bs_disp, absent_at_default,
     "  --bs-disp N  after the fit, fit N bootstrap replicates (the replicates of\n"
     "               --bootstrap N with the same --seed and --block) and displace\n"
     "               every free profile element within each, at the dQmax levels of\n"
     "               --bs-disp-levels; writes per element the interval over the\n"
     "               replicates to bs_disp.tsv and bs_disp_summary.tsv in the report\n"
     "               folder; needs --report and --passes or --converge\n",
     0.0, kMostFits},
    {"--bs-disp-levels", text, &Options::bs_disp_levels, absent_at_default,
     "  --bs-disp-levels LIST\n"
     "               the dQmax levels of --bs-disp, rising, separated by commas\n"
     "               (default 0.5,1,2,4)\n"},
    {"--help", flag, &Options::help, nothing,
     "  --help       print this text and exit\n"},
    {"--version", flag, &Options::version, nothing,
     "  --version    print the version and exit\n"},
};

// Whether a row's member has the type its value kind reads and stores.
constexpr bool field_fits_value(const OptionRow& row) {
  switch (row.value) {
    case flag:
      return std::holds_alternative<bool Options::*>(row.field);
    case count:
    case positive_count:
      return std::holds_alternative<long Options::*>(row.field);
    case seed:
      return std::holds_alternative<std::uint64_t Options::*>(row.field);
    case positive:
    case fraction:
    case optional_positive:
      return std::holds_alternative<double Options::*>(row.field);
    case text:
    case folder:
      return std::holds_alternative<std::string Options::*>(row.field);
    case texts:
      return std::holds_alternative<std::vector<std::string> Options::*>(row.field);
  }
  return false;
}

static_assert(std::ranges::all_of(kRows, field_fits_value), "an option's member does not fit its kind of value");

}  // namespace

std::span<const OptionRow> option_rows() { return kRows; }

const OptionRow* find_option(std::string_view name) {
  for (const OptionRow& row : kRows) {
    if (row.name == name) return &row;
  }
  return nullptr;
}

std::string record_key(std::string_view name) {
  std::string key(name.substr(2));
  std::replace(key.begin(), key.end(), '-', '_');
  return key;
}

nlohmann::json options_record(const Options& options) {
  const Options defaults;
  nlohmann::json record = nlohmann::json::object();
  for (const OptionRow& row : kRows) {
    if (row.record == nothing) continue;
    std::visit(
        [&](auto member) {
          const auto& shown = options.*member;
          const bool at_default = shown == defaults.*member;
          if (row.record == absent_at_default && at_default) return;
          const bool null = row.record == null_at_default && at_default;
          record[record_key(row.name)] = null ? nlohmann::json() : nlohmann::json(shown);
        },
        row.field);
  }
  return record;
}

#include "control/options.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "control/failure.h"

namespace {

long parse_count(const std::string& option, const std::string& text) {
  long value = -1;
  const char* first = text.c_str();
  const char* last = first + text.size();
  auto [ptr, ec] = std::from_chars(first, last, value);
  if (text.empty() || ec != std::errc() || ptr != last || value < 0) {
    fail("Error: %s needs a whole number of at least 0, not '%s'!\n", option.c_str(), text.c_str());
  }
  return value;
}

double parse_tolerance(const std::string& option, const std::string& text) {
  double value = 0.0;
  const char* first = text.c_str();
  const char* last = first + text.size();
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (text.empty() || ec != std::errc() || ptr != last || !std::isfinite(value) || !(value > 0)) {
    fail("Error: %s needs a positive number, not '%s'!\n", option.c_str(), text.c_str());
  }
  return value;
}

// Whether the token after --robust is its ALPHA: a number, which starts with a
// digit or a point (after an optional sign). The mode argument never does.
bool looks_like_number(const char* text) {
  if (*text == '+' || *text == '-') ++text;
  return (*text >= '0' && *text <= '9') || *text == '.';
}

long parse_positive(const std::string& option, const std::string& text) {
  const long value = parse_count(option, text);
  if (value < 1) fail("Error: %s needs a whole number of at least 1, not '%s'!\n", option.c_str(), text.c_str());
  return value;
}

}  // namespace

Options parse_options(int argc, const char* const* argv) {
  Options options;
  int i = 1;
  for (; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) break;
    std::string name = arg;
    std::string value;
    bool has_value = false;
    if (std::size_t eq = arg.find('='); eq != std::string::npos) {
      name = arg.substr(0, eq);
      value = arg.substr(eq + 1);
      has_value = true;
    }
    auto take_value = [&]() -> std::string {
      if (has_value) return value;
      if (i + 1 >= argc) fail("Error: %s needs a value!\n", name.c_str());
      return argv[++i];
    };
    if (name == "--help" && !has_value) {
      options.help = true;
    } else if (name == "--version" && !has_value) {
      options.version = true;
    } else if (name == "--passes") {
      options.passes = parse_count(name, take_value());
    } else if (name == "--converge") {
      options.converge = parse_tolerance(name, take_value());
    } else if (name == "--keep-best" && !has_value) {
      options.keep_best = true;
    } else if (name == "--threads") {
      options.threads = parse_count(name, take_value());
    } else if (name == "--robust") {
      constexpr double kDefaultAlpha = 4.0;
      if (has_value) {
        options.robust = parse_tolerance(name, value);
      } else if (i + 1 < argc && looks_like_number(argv[i + 1])) {
        options.robust = parse_tolerance(name, argv[++i]);
      } else {
        options.robust = kDefaultAlpha;
      }
    } else if (name == "--timing" && !has_value) {
      options.timing = true;
    } else if (name == "--starts") {
      options.starts = parse_positive(name, take_value());
    } else if (name == "--seed") {
      options.seed = parse_count(name, take_value());
    } else if (name == "--bootstrap") {
      options.bootstrap = parse_positive(name, take_value());
    } else if (name == "--block") {
      options.block = parse_positive(name, take_value());
    } else if (name == "--min-r") {
      const std::string text = take_value();
      options.min_r = parse_tolerance(name, text);
      if (options.min_r > 1.0) fail("Error: %s needs a number above 0 and at most 1, not '%s'!\n", name.c_str(), text.c_str());
    } else if (name == "--report") {
      options.report = take_value();
      if (options.report.empty()) fail("Error: --report needs a folder name!\n");
    } else if (name == "--total") {
      options.total = take_value();
    } else {
      fail("Error: Unknown option %s! See tarnok --help.\n", arg.c_str());
    }
  }
  for (; i < argc; ++i) options.args.emplace_back(argv[i]);
  if (options.help || options.version) return options;
  // Several fits must each end by themselves; a key still stops them all.
  if ((options.starts > 0 || options.bootstrap > 0) && options.passes < 0 && options.converge <= 0) {
    fail("Error: %s needs --passes or --converge, so that every fit ends by itself!\n",
         options.starts > 0 ? "--starts" : "--bootstrap");
  }
  if (options.bootstrap > 0 && options.report.empty()) fail("Error: --bootstrap needs --report DIR for its tables!\n");
  if (options.block > 0 && options.bootstrap == 0) fail("Error: --block needs --bootstrap!\n");
  if (!options.total.empty() && options.report.empty()) fail("Error: --total needs --report DIR!\n");
  return options;
}

const char* usage_text() {
  return "Usage: tarnok [options] O/N profile form data result [rotate]\n"
         "\n"
         "Fits non-negative factor contributions and profiles to the data file, starting\n"
         "from the profile file, re-estimating the profile elements the form file marks\n"
         "free. One line of statistics (chi2/ny, ny, mean squared contribution less one)\n"
         "is printed per pass; a key press (or Ctrl-C) ends the fit and the result table\n"
         "is written to the result file.\n"
         "\n"
         "The input files can be made from measured tables of values and uncertainties\n"
         "with 'tarnok prepare' (see 'tarnok prepare --help').\n"
         "\n"
         "  O/N      n or N: normal mode; o or O: offset mode (factor 0 is an offset)\n"
         "  rotate   strength of the pull on the free profile elements (default 0)\n"
         "\n"
         "Options (before the positional arguments):\n"
         "  --passes N   stop after N passes (a key still stops earlier on a terminal;\n"
         "               standard input that is not a terminal is then ignored)\n"
         "  --converge TOL\n"
         "               stop by itself once the fit has stopped moving: when, for 12\n"
         "               passes in a row, both the relative change of chi2 and the\n"
         "               relative change of every factor's profile (sum of |changes|\n"
         "               over sum of |elements|) from the pass 12 passes earlier are\n"
         "               below TOL, every pass compared having run undamped (from\n"
         "               pass 10 on, so never before 33 passes); TOL is a positive\n"
         "               number, e.g. 1e-4. Standard input that is not a terminal is\n"
         "               then ignored. A fit that stops otherwise is 'not converged'.\n"
         "  --keep-best  when the fit stops, write the result of the pass with the\n"
         "               lowest chi2 seen (the earliest of equals), unless the final\n"
         "               pass is lower\n"
         "  --threads N  worker threads for the fit (default 0: one per core); the\n"
         "               results are the same for every N\n"
         "  --robust [ALPHA]\n"
         "               robust fit: after each contribution step, a value whose scaled\n"
         "               residual |dy / u| exceeds ALPHA (a positive number, default 4)\n"
         "               gets the uncertainty u * sqrt(|dy / u| / ALPHA) in the profile\n"
         "               step, the next contribution step, the residue and the regression,\n"
         "               so its share of chi2 grows only linearly beyond ALPHA; the first\n"
         "               contribution step weighs with the plain uncertainties. Give ALPHA\n"
         "               as --robust=ALPHA, or as the next argument when that is a number.\n"
         "               chi2/ny on the statistics lines, --converge, --keep-best, the\n"
         "               divergence guard and the result table's chi2 are then Q(robust),\n"
         "               chi2 with these uncertainties; a line after the closing line\n"
         "               gives Q(true), chi2 with the plain ones, and the number of\n"
         "               down-weighted values.\n"
         "  --timing     print the time of each phase and pass on standard error\n"
         "  --starts N   fit N starts (the given profiles and N - 1 whose free elements\n"
         "               are each multiplied by a factor from [0.5, 1.5]) and write the\n"
         "               one with the lowest final chi2; needs --passes or --converge\n"
         "  --seed S     seed of the starts and of the bootstrap (default 1)\n"
         "  --bootstrap N\n"
         "               after the fit, fit N replicates of blocks of records drawn with\n"
         "               replacement and write the spread of the profiles to the report\n"
         "               folder; needs --report and --passes or --converge\n"
         "  --block L    records per bootstrap block (default: from the contributions)\n"
         "  --min-r R    least correlation that maps a replicate factor (default 0.6)\n"
         "  --report DIR after the result table, write into DIR (created if missing) the\n"
         "               run record run.json, variables.tsv, records.tsv, report.html\n"
         "               and its charts as SVG files in DIR/figures; with --starts\n"
         "               and --bootstrap also starts.tsv, bootstrap.tsv and\n"
         "               bootstrap_mapping.tsv\n"
         "  --total NAME with --report: apportion variable NAME (e.g. PM2.5 mass)\n"
         "               among the factors\n"
         "  --help       print this text and exit\n"
         "  --version    print the version and exit\n"
         "\n"
         "Pass k is the pass of the k-th statistics line; the pass in which a stop is\n"
         "noticed runs only its contribution step and prints no line. The result table\n"
         "is the fit of the profiles a pass started from; its totals (chi2, ny) are\n"
         "that pass's. A chi2 that is not finite (divergence) always ends the fit: the\n"
         "result is then that of the pass with the lowest chi2 seen. With --converge\n"
         "or --keep-best, and after divergence, a closing line says why the fit\n"
         "stopped and which pass the result belongs to, e.g.\n"
         "  Stopped: converged after 5222 passes; results belong to pass 5223 (chi2 1756.22, chi2/ny 0.669548).\n"
         "\n"
         "Exit status: 0 when the result file was written (or for --help, --version),\n"
         "1 on any error, 128+n when ended at once by signal n (a second Ctrl-C).\n";
}

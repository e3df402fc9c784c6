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
    } else if (name == "--timing" && !has_value) {
      options.timing = true;
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
         "  O/N      n or N: normal mode; o or O: offset mode (factor 0 is an offset)\n"
         "  rotate   strength of the pull on the free profile elements (default 0)\n"
         "\n"
         "Options (before the positional arguments):\n"
         "  --passes N   stop after N passes (a key still stops earlier on a terminal;\n"
         "               standard input that is not a terminal is then ignored)\n"
         "  --converge TOL\n"
         "               stop by itself once chi2/ny has settled: when, in 10 passes in\n"
         "               a row, |c(k) - c(k-1)| / |c(k-1)| < TOL, where c(k) is chi2/ny\n"
         "               of pass k and both passes ran undamped (from pass 10 on, so\n"
         "               never before 20 passes); TOL is a positive number, e.g. 1e-6.\n"
         "               Standard input that is not a terminal is then ignored.\n"
         "  --keep-best  when the fit stops, write the result of the pass with the\n"
         "               lowest chi2/ny seen, unless the final pass is as good\n"
         "  --threads N  worker threads for the fit (default 0: one per core); the\n"
         "               results are the same for every N\n"
         "  --timing     print the time of each phase and pass on standard error\n"
         "  --report DIR after the result table, write into DIR (created if missing) the\n"
         "               run record run.json, variables.tsv, records.tsv, report.html\n"
         "               and its charts as SVG files in DIR/figures\n"
         "  --total NAME with --report: apportion variable NAME (e.g. PM2.5 mass)\n"
         "               among the factors\n"
         "  --help       print this text and exit\n"
         "  --version    print the version and exit\n"
         "\n"
         "Pass k is the pass of the k-th statistics line; the pass in which a stop is\n"
         "noticed runs only its contribution step and prints no line. The result table\n"
         "is the fit of the profiles a pass started from; its totals (chi2, ny) are\n"
         "that pass's. A chi2 that is not finite (divergence) always ends the fit: the\n"
         "result is then that of the pass with the lowest chi2/ny seen. With\n"
         "--converge or --keep-best, and after divergence, a closing line says why the\n"
         "fit stopped and which pass the result belongs to, e.g.\n"
         "  Stopped: converged after 411 passes; results belong to pass 412 (chi2/ny 0.67).\n"
         "\n"
         "Exit status: 0 when the result file was written (or for --help, --version),\n"
         "1 on any error, 128+n when ended at once by signal n (a second Ctrl-C).\n";
}

#include "control/options.h"

#include <cctype>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

#include "control/failure.h"
#include "control/option_table.h"

namespace {

// The text of --help before the options' rows and after them.
constexpr const char* kUsageHead =
    "Usage: tarnok [options] O/N profile form data result [rotate]\n"
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
    "Options (before the positional arguments):\n";
constexpr const char* kUsageTail =
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

// The digits of a whole number as typed, without the one '+' it may start with;
// empty when the text is not an optional '+' and decimal digits only (leading
// zeros are decimal: 020 is 20).
std::string_view decimal_digits(const std::string& text) {
  std::string_view digits(text);
  if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) return {};
  return digits;
}

long parse_count(const std::string& option, const std::string& text) {
  long value = -1;
  const std::string_view digits = decimal_digits(text);
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
    fail("Error: %s needs a whole number of at least 0, not '%s'!\n", option.c_str(), text.c_str());
  }
  return value;
}

// A whole number of at least 1 and, where `most` is set, at most `most`.
long parse_positive(const std::string& option, const std::string& text, long most) {
  long value = 0;
  const std::string_view digits = decimal_digits(text);
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  const bool read = !digits.empty() && ptr == digits.data() + digits.size();
  if (most > 0 && read && (ec == std::errc::result_out_of_range || value > most)) {
    fail("Error: %s needs a whole number from 1 to %ld, not '%s'!\n", option.c_str(), most, text.c_str());
  }
  if (!read || ec != std::errc() || value < 1) {
    fail("Error: %s needs a whole number of at least 1, not '%s'!\n", option.c_str(), text.c_str());
  }
  return value;
}

}  // namespace

bool read_seed(const std::string& text, std::uint64_t* value) {
  const std::string_view digits = decimal_digits(text);
  auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), *value);
  return !digits.empty() && ec == std::errc() && ptr == digits.data() + digits.size();
}

int thread_count(long requested) {
  const long cores = static_cast<long>(std::thread::hardware_concurrency());
  return static_cast<int>(std::min(requested > 0 ? requested : std::max(cores, 1L), 256L));
}

namespace {

// A seed: decimal digits (after an optional '+') from 0 to 2^64 - 1.
std::uint64_t parse_seed(const std::string& option, const std::string& text) {
  std::uint64_t value = 0;
  if (!read_seed(text, &value)) {
    fail("Error: %s needs a whole number from 0 to %ju, not '%s'!\n", option.c_str(),
         static_cast<std::uintmax_t>(UINT64_MAX), text.c_str());
  }
  return value;
}

double parse_tolerance(const std::string& option, const std::string& text) {
  double value = 0.0;
  // A '+' may lead, as in "+4"; the number itself follows.
  const char* first = text.c_str();
  if (*first == '+' && first[1] != '+' && first[1] != '-') ++first;
  const char* last = text.c_str() + text.size();
  auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (text.empty() || ec != std::errc() || ptr != last || !std::isfinite(value) || !(value > 0)) {
    fail("Error: %s needs a positive number, not '%s'!\n", option.c_str(), text.c_str());
  }
  return value;
}

// Whether the argument after an option whose value may be left out (--robust) is
// that value: a number, which starts with a digit or a point (after an optional
// sign), or a spelling of one that is not finite ("nan", "inf", "infinity"), which
// is then refused as a value. The mode argument never starts with a digit or a
// point, and the mode words "nan" and "inf" are not taken.
bool looks_like_number(const char* text) {
  if (*text == '+' || *text == '-') ++text;
  if ((*text >= '0' && *text <= '9') || *text == '.') return true;
  std::string word(text);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return word == "nan" || word == "inf" || word == "infinity";
}

// Reads and checks the value of one option and stores it where its row says.
void store_value(Options& options, const OptionRow& row, const std::string& name, const std::string& text) {
  switch (row.value) {
    case OptionValue::flag:
      options.*std::get<bool Options::*>(row.field) = true;
      break;
    case OptionValue::count:
      options.*std::get<long Options::*>(row.field) = parse_count(name, text);
      break;
    case OptionValue::positive_count:
      options.*std::get<long Options::*>(row.field) = parse_positive(name, text, row.most);
      break;
    case OptionValue::seed:
      options.*std::get<std::uint64_t Options::*>(row.field) = parse_seed(name, text);
      break;
    case OptionValue::positive:
    case OptionValue::optional_positive:
      options.*std::get<double Options::*>(row.field) = parse_tolerance(name, text);
      break;
    case OptionValue::fraction: {
      const double value = parse_tolerance(name, text);
      if (value > 1.0) fail("Error: %s needs a number above 0 and at most 1, not '%s'!\n", name.c_str(), text.c_str());
      options.*std::get<double Options::*>(row.field) = value;
      break;
    }
    case OptionValue::text:
      options.*std::get<std::string Options::*>(row.field) = text;
      break;
    case OptionValue::folder:
      if (text.empty()) fail("Error: %s needs a folder name!\n", name.c_str());
      options.*std::get<std::string Options::*>(row.field) = text;
      break;
    case OptionValue::texts:
      (options.*std::get<std::vector<std::string> Options::*>(row.field)).push_back(text);
      break;
  }
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
    const OptionRow* row = find_option(name);
    if (row == nullptr || (row->value == OptionValue::flag && has_value)) {
      fail("Error: Unknown option %s! See tarnok --help.\n", arg.c_str());
    }
    if (row->value == OptionValue::optional_positive && !has_value) {
      if (i + 1 >= argc || !looks_like_number(argv[i + 1])) {
        options.*std::get<double Options::*>(row->field) = row->implied;
        continue;
      }
      value = argv[++i];
    } else if (row->value != OptionValue::flag && !has_value) {
      if (i + 1 >= argc) fail("Error: %s needs a value!\n", name.c_str());
      value = argv[++i];
    }
    store_value(options, *row, name, value);
  }
  for (; i < argc; ++i) options.args.emplace_back(argv[i]);
  if (options.help || options.version) return options;
  // Several fits must each end by themselves; a key still stops them all.
  if (options.starts > 0 && options.fresh_starts > 0) fail("Error: give --starts or --fresh-starts, not both!\n");
  if ((options.starts > 0 || options.fresh_starts > 0 || options.bootstrap > 0) && options.passes < 0 &&
      options.converge <= 0) {
    fail("Error: %s needs --passes or --converge, so that every fit ends by itself!\n",
         options.starts > 0 ? "--starts" : options.fresh_starts > 0 ? "--fresh-starts" : "--bootstrap");
  }
  if (options.bootstrap > 0 && options.report.empty()) fail("Error: --bootstrap needs --report DIR for its tables!\n");
  if (options.block > 0 && options.bootstrap == 0 && options.bs_disp == 0) {
    fail("Error: --block needs --bootstrap!\n");
  }
  if (!options.total.empty() && options.report.empty()) fail("Error: --total needs --report DIR!\n");
  if (options.disp && options.report.empty()) fail("Error: --disp needs --report DIR for its tables!\n");
  if (options.disp && options.passes < 0 && options.converge <= 0) {
    fail("Error: --disp needs --passes or --converge, so that every fit ends by itself!\n");
  }
  if (options.disp && !options.hold.empty()) fail("Error: --disp displaces a fit without --hold!\n");
  if (options.bs_disp > 0 && options.report.empty()) fail("Error: --bs-disp needs --report DIR for its tables!\n");
  if (options.bs_disp > 0 && options.passes < 0 && options.converge <= 0) {
    fail("Error: --bs-disp needs --passes or --converge, so that every fit ends by itself!\n");
  }
  if (options.bs_disp > 0 && !options.hold.empty()) fail("Error: --bs-disp displaces a fit without --hold!\n");
  return options;
}

const char* usage_text() {
  static const std::string text = [] {
    std::string usage = kUsageHead;
    for (const OptionRow& row : option_rows()) usage += row.help;
    return usage + kUsageTail;
  }();
  return text.c_str();
}

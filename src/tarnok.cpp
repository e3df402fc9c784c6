// tarnok: fits a constrained factor model to a table of measurements and writes
// one tab-separated result table. The run driver: arguments, echo, then the phases
// in order; every failure ends here with its message and exit status 1.
#include <cmath>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include "control/failure.h"
#include "control/model.h"
#include "control/options.h"
#include "control/signals.h"
#include "fit/iteration.h"
#include "fit/keyboard.h"
#include "fit/residue.h"
#include "input/data_file.h"
#include "input/form_file.h"
#include "input/profile_file.h"
#include "output/result_file.h"
#include "output/safe_file.h"
#include "output/same_file.h"
#include "prepare/prepare.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int run(int argc, char** argv) {
  Options options = parse_options(argc, argv);
  if (options.help) {
    std::fputs(usage_text(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("tarnok %s\n", TARNOK_VERSION);
    return 0;
  }
  const std::vector<std::string>& args = options.args;
  if (args.size() != 5 && args.size() != 6) fail("Wrong number of arguments (O/N profile form data result [rotate])\n");

  Model m;
  switch (args[0].empty() ? '\0' : args[0][0]) {
    case 'n':
    case 'N':
      m.offset = 0;
      break;
    case 'o':
    case 'O':
      m.offset = 1;
      break;
    default:
      fail("Wrong argument! Not %s, but N(ormal) or O(ffset).\n", args[0].c_str());
  }
  m.damp = 10;
  const long cores = static_cast<long>(std::thread::hardware_concurrency());
  m.threads = static_cast<int>(std::min(options.threads > 0 ? options.threads : std::max(cores, 1L), 256L));

  std::printf("\n\n\n");
  for (const std::string& arg : args) std::printf("%s\n", arg.c_str());
  std::printf("\nChi2/ny\tny\n\n");
  std::fflush(stdout);
  install_signal_handlers();

  const char* rotate_arg = args.size() == 6 ? args[5].c_str() : nullptr;
  m.rotate = rotate_arg != nullptr ? static_cast<float>(std::atof(rotate_arg)) : 0.0f;
  if (!std::isfinite(m.rotate)) fail("Error: rotate %s is not a finite number!\n", rotate_arg);
  const auto reading = std::chrono::steady_clock::now();
  read_profile(m, args[1]);
  read_form(m, args[2]);
  read_data(m, args[3]);
  if (options.timing) std::fprintf(stderr, "timing\tparse\t%.6f\n", seconds_since(reading));
  refuse_input_as_result(args[4], {args[1], args[2], args[3]});
  ResultFile result(args[4]);

  FitOptions fit_options;
  fit_options.passes = options.passes;
  fit_options.converge = options.converge;
  fit_options.keep_best = options.keep_best;
  fit_options.report_stop = options.converge > 0 || options.keep_best;
  // A run that ends by itself ignores standard input that is not a terminal.
  const bool unattended = options.passes >= 0 || options.converge > 0;
  std::unique_ptr<Keyboard> keyboard;
  if (unattended && !stdin_is_terminal()) {
    keyboard = std::make_unique<NoKeyboard>();
  } else {
    keyboard = console_keyboard();
  }
  enter_fit_phase();
  const auto fitting = std::chrono::steady_clock::now();
  FitOutcome outcome = run_fit(m, *keyboard, fit_options, stdout);
  keyboard.reset();
  if (options.timing) {
    for (double pass : outcome.pass_seconds) std::fprintf(stderr, "timing\tpass\t%.6f\n", pass);
    std::fprintf(stderr, "timing\tfit\t%.6f\n", seconds_since(fitting));
  }

  const auto writing = std::chrono::steady_clock::now();
  residue(m);
  write_result(m, result.stream(), rotate_arg);
  result.commit();
  if (options.timing) std::fprintf(stderr, "timing\toutput\t%.6f\n", seconds_since(writing));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    // A first argument that names a subcommand runs it; anything else is the fit's
    // own command line, exactly as always (a mode starts with n, N, o or O).
    if (argc >= 2 && std::string(argv[1]) == "prepare") return run_prepare(argc - 1, argv + 1, argv[0]);
    return run(argc, argv);
  } catch (const Failure& failure) {
    std::fputs(failure.what(), stdout);
    std::fflush(stdout);
    return 1;
  }
}

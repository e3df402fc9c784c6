// The scan command as named phases: plan from the options, read the prepared
// folder, check the output folder, scan K = A..B (one console line per K, progress
// on a terminal), write scan.tsv and scan.html.
#include "app/scan_command.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/console_observer.h"
#include "control/failure.h"
#include "control/options.h"
#include "control/text_format.h"
#include "control/text_table.h"
#include "ensemble/tsv_text.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "formats/whole_file.h"
#include "output/same_file.h"
#include "platform/files.h"
#include "platform/keyboard.h"
#include "platform/program.h"
#include "platform/signals.h"
#include "report/scan_page.h"
#include "scan/scan.h"
#include "stats/diagnostics.h"

namespace {

const char kUsage[] =
    "Usage: tarnok scan [OPTIONS] PREPARED OUTDIR\n"
    "Fits the data of PREPARED (a folder tarnok prepare wrote: data.tsv, profile.tsv,\n"
    "form.tsv) with K = A..B factors, each K from N fresh starts, and writes\n"
    "OUTDIR/scan.tsv and OUTDIR/scan.html (OUTDIR is created if missing).\n"
    "\n"
    "Options:\n"
    "  --factors A-B  the numbers of factors to fit (1 <= A <= B <= 20; required)\n"
    "  --starts N     fresh starts per K (default 10)\n"
    "  --seed S       seed of the first start of every K (default 1)\n"
    "  --passes N     stop each fit after N passes (default 20000)\n"
    "  --converge TOL stop each fit once it has stopped moving (default 1e-6)\n"
    "  --no-accelerate\n"
    "                 each fit without extrapolated profiles (default: with them,\n"
    "                 as the fit's --accelerate)\n"
    "  --no-keep-best each fit ends with its last pass (default: with the pass of\n"
    "                 lowest chi2 it saw, as the fit's --keep-best)\n"
    "  --threads N    worker threads (default 0: one per core)\n"
    "  --total NAME   the total variable (e.g. PM2.5 mass) whose shares give\n"
    "                 smallest_share\n"
    "  --help         print this text and exit\n"
    "\n"
    "By default each fit stops as the fit command prepare prints has it stop:\n"
    "--accelerate --converge 1e-6 --keep-best --passes 20000.\n";

struct ScanPlan {
  std::string prepared, outdir, total;
  ScanSettings scan;
  FitSettings fit;
  bool help = false;
};

long whole_number(const std::string& name, const std::string& text, long least) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < least) {
    fail("Error: scan: %s needs a whole number of at least %ld, not '%s'!\n", name.c_str(), least, text.c_str());
  }
  return value;
}

ScanPlan plan_from_options(int argc, char** argv) {
  ScanPlan plan;
  // The stop rules of the fit command prepare prints.
  plan.fit.passes = 20000;
  plan.fit.converge = 1e-6;
  plan.fit.keep_best = true;
  plan.fit.accelerate = true;
  long threads = 0;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help") {
      plan.help = true;
      return plan;
    }
    if (arg == "--keep-best" || arg == "--no-keep-best") {
      plan.fit.keep_best = arg == "--keep-best";
      continue;
    }
    if (arg == "--accelerate" || arg == "--no-accelerate") {
      plan.fit.accelerate = arg == "--accelerate";
      continue;
    }
    if (arg.rfind("--", 0) != 0) {
      positional.push_back(arg);
      continue;
    }
    if (i + 1 >= argc) fail("Error: scan: %s needs a value!\n", arg.c_str());
    const std::string value = argv[++i];
    if (arg == "--factors") {
      const std::size_t dash = value.find('-');
      const std::string first = value.substr(0, dash);
      const std::string last = dash == std::string::npos ? first : value.substr(dash + 1);
      plan.scan.first = static_cast<int>(std::min(whole_number(arg, first, 1), 21L));
      plan.scan.last = static_cast<int>(std::min(whole_number(arg, last, 1), 21L));
      if (plan.scan.first > plan.scan.last || plan.scan.last > 20) {
        fail("Error: scan: --factors needs A-B with 1 <= A <= B <= 20, not '%s'!\n", value.c_str());
      }
    } else if (arg == "--starts") {
      plan.scan.starts = static_cast<int>(std::min(whole_number(arg, value, 1), 100000L));
    } else if (arg == "--seed") {
      plan.scan.seed = static_cast<std::uint64_t>(whole_number(arg, value, 0));
    } else if (arg == "--passes") {
      plan.fit.passes = whole_number(arg, value, 0);
    } else if (arg == "--converge") {
      char* end = nullptr;
      plan.fit.converge = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(plan.fit.converge > 0) || !std::isfinite(plan.fit.converge)) {
        fail("Error: scan: --converge needs a number above 0, not '%s'!\n", value.c_str());
      }
    } else if (arg == "--threads") {
      threads = whole_number(arg, value, 0);
    } else if (arg == "--total") {
      plan.total = value;
    } else {
      fail("Error: scan: unknown option %s! See tarnok scan --help.\n", arg.c_str());
    }
  }
  if (positional.size() != 2) fail("Error: scan: give PREPARED and OUTDIR! See tarnok scan --help.\n");
  if (plan.scan.first == 0) fail("Error: scan: give --factors A-B! See tarnok scan --help.\n");
  plan.prepared = positional[0];
  plan.outdir = positional[1];
  plan.fit.threads = thread_count(threads);
  return plan;
}

std::string in_folder(const std::string& dir, const char* name) {
  return dir.empty() || dir.back() == '/' ? dir + name : dir + "/" + name;
}

Problem read_prepared(const ScanPlan& plan) {
  Problem problem;
  read_profile(problem, in_folder(plan.prepared, "profile.tsv"));
  read_form(problem, in_folder(plan.prepared, "form.tsv"));
  read_data(problem, in_folder(plan.prepared, "data.tsv"));
  return problem;
}

// The output folder exists and its two files replace none of the inputs.
void check_output(const ScanPlan& plan) {
  if (!make_directories(plan.outdir)) fail("Error: Can't create the folder %s!\n", plan.outdir.c_str());
  const std::vector<std::string> inputs = {in_folder(plan.prepared, "profile.tsv"),
                                           in_folder(plan.prepared, "form.tsv"), in_folder(plan.prepared, "data.tsv")};
  for (const char* name : {"scan.tsv", "scan.html"}) refuse_input_as_result(in_folder(plan.outdir, name), inputs);
}

// After each K: its console line, and on a terminal the progress on standard error.
class ScanConsole {
 public:
  explicit ScanConsole(const ScanSettings& s)
      : total_(s.last - s.first + 1), started_(std::chrono::steady_clock::now()), progress_(stderr_is_terminal()) {}

  void row_done(const ScanRow& row) {
    ++done_;
    if (row.has_result) {
      std::printf("K %d: best chi2 %lg, chi2/Qexp %lg, %d of the starts reached it; %.1f s\n", row.factors,
                  row.best_chi2, row.best_chi2 / static_cast<double>(row.q_exp), row.reproduced, row.seconds);
    } else {
      std::printf("K %d: no start has a result; %.1f s\n", row.factors, row.seconds);
    }
    std::fflush(stdout);
    if (!progress_) return;
    // Later K take longer: time left is estimated from the mean so far, a lower bound.
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    const double left = elapsed / done_ * (total_ - done_);
    std::fprintf(stderr, "scan: %d/%d K done, %.0f s elapsed, at least %.0f s left\n", done_, total_, elapsed, left);
  }

 private:
  int total_;
  int done_ = 0;
  std::chrono::steady_clock::time_point started_;
  bool progress_;
};

ScanPageInput page_input(const ScanPlan& plan, const std::vector<ScanRow>& rows, const TextTable& table) {
  ScanPageInput in;
  in.title = plan.prepared;
  in.table = table;
  in.several = kSeveralStarts;
  const double none = std::nan("");
  for (const ScanRow& row : rows) {
    in.factors.push_back(row.factors);
    in.chi2_over_qexp.push_back(row.has_result ? row.best_chi2 / static_cast<double>(row.q_exp) : none);
    in.drop_percent.push_back(row.drop_percent);
    in.starts_at_best.push_back(row.has_result ? row.starts_at_best : none);
    in.smallest_share.push_back(row.smallest_share);
    in.species_above_2.push_back(row.has_result ? row.species_above_2 : none);
    in.seconds.push_back(row.seconds);
    in.reproduced.push_back(row.reproduced >= std::min(kSeveralStarts, plan.scan.starts));
  }
  return in;
}

}  // namespace

int run_scan_command(int argc, char** argv) {
  ScanPlan plan = plan_from_options(argc, argv);
  if (plan.help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  install_signal_handlers();
  const Problem problem = read_prepared(plan);
  if (plan.scan.last > problem.nvar) {
    fail("Error: scan: %d factors but only %d species in the fit!\n", plan.scan.last, problem.nvar);
  }
  if (!plan.total.empty()) {
    plan.scan.total = find_variable(problem, plan.total);
    if (plan.scan.total < 0) fail("Error: scan: --total %s is not a species of the fit!\n", plan.total.c_str());
  }
  check_output(plan);

  std::unique_ptr<Keyboard> keyboard =
      stdin_is_terminal() ? console_keyboard() : std::unique_ptr<Keyboard>(std::make_unique<NoKeyboard>());
  ConsoleObserver observer(*keyboard, nullptr, false);
  enter_fit_phase();
  ScanConsole console(plan.scan);
  const std::vector<ScanRow> rows =
      run_scan(problem, plan.fit, plan.scan, observer, [&console](const ScanRow& row) { console.row_done(row); });
  keyboard.reset();

  const TextTable table = scan_table(rows);
  write_whole_file(in_folder(plan.outdir, "scan.tsv"), tsv_text(table));
  write_whole_file(in_folder(plan.outdir, "scan.html"), scan_page(page_input(plan, rows, table)));
  std::printf("Wrote %s and %s\n", in_folder(plan.outdir, "scan.tsv").c_str(), in_folder(plan.outdir, "scan.html").c_str());
  return 0;
}

// How the fit ends: the convergence count, the best pass kept, the divergence
// guard and --keep-best, on scripted statistics and on the bundled St. Louis data.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "app/fit_command.h"
#include "control/failure.h"
#include "test_model.h"
#include "fit/fit_monitor.h"
#include "fit/iteration.h"
#include "fit/stop_line.h"
#include "platform/keyboard.h"
#include "fit/residue.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "output/result_file.h"
#include "app/fit_command.h"
#include "support.h"

namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// The damp that pass k runs with: 10 in pass 1, one less per pass down to 1.
int damp_of_pass(long k) { return static_cast<int>(std::max(1L, 11 - k)); }

// Feeds the passes 1..limit to a monitor, as the fit does: pass k starts from the
// profiles {scale(k), 2 * scale(k)} of one factor and its line has chi2 = 100 *
// ratio(k) over ny 100. Returns the number of lines after which the monitor first
// reports convergence; 0 when it never does.
long converged_after(double tolerance, long limit, const std::function<double(long)>& ratio,
                     const std::function<double(long)>& scale = [](long) { return 1.0; }) {
  FitMonitor monitor(tolerance);
  TestModel m;
  m.nfakt = 1;
  for (long k = 1; k <= limit; ++k) {
    m.p = {scale(k), 2 * scale(k)};
    monitor.begin_pass(m, m, k);
    monitor.end_pass(ratio(k) * 100, 100, damp_of_pass(k));
    if (monitor.converged()) return k;
  }
  return 0;
}

TEST(ConvergenceCount, StopsOnlyWhenChi2AndProfilesHaveSettledAcrossTheWindow) {
  const auto steady = [](long) { return 0.8; };
  struct Case {
    const char* what;
    std::function<double(long)> ratio;
    std::function<double(long)> scale;
    long expected;  // lines after which the fit counts as converged; 0: never
  };
  // Pass 10 is the first to run undamped, so pass 22 makes the first comparison
  // (with pass 10) and passes 22 .. 33 the first twelve in a row.
  const Case cases[] = {
      {"settled from the first pass", steady, [](long) { return 1.0; }, 33},
      {"perfect fit, chi2 0 throughout", [](long) { return 0.0; }, [](long) { return 1.0; }, 33},
      // 5e-7 per pass is below 1e-6 from one pass to the next, but not across twelve.
      {"chi2 still improving by 5e-7 per pass", [](long k) { return 0.9 * std::pow(1 - 5e-7, static_cast<double>(k)); },
       [](long) { return 1.0; }, 0},
      {"chi2 improving by 5e-8 per pass", [](long k) { return 0.9 * std::pow(1 - 5e-8, static_cast<double>(k)); },
       [](long) { return 1.0; }, 33},
      {"chi2 flat, a profile still sliding by 2e-7 per pass", steady,
       [](long k) { return 1.0 + 2e-7 * static_cast<double>(k); }, 0},
      {"chi2 flat, a profile sliding by 2e-8 per pass", steady, [](long k) { return 1.0 + 2e-8 * static_cast<double>(k); },
       33},
      // A cycle of four passes is compared phase with phase: it neither stops the fit
      // early nor holds it off.
      {"chi2 and profiles in a cycle of four", [](long k) { return k % 4 == 0 ? 0.81 : 0.8; },
       [](long k) { return k % 4 == 1 ? 1.01 : 1.0; }, 33},
      {"cycle of four, drifting by 5e-7 per pass",
       [](long k) { return (k % 4 == 0 ? 0.81 : 0.8) * std::pow(1 - 5e-7, static_cast<double>(k)); },
       [](long) { return 1.0; }, 0},
      // A jump at line 25 breaks the comparisons of pass 25 and of pass 37 (with 25).
      {"one jump at line 25", [](long k) { return k == 25 ? 0.85 : 0.8; }, [](long) { return 1.0; }, 49},
      {"one profile jump at line 25", steady, [](long k) { return k == 25 ? 1.1 : 1.0; }, 49},
      {"not a number at line 30", [](long k) { return k == 30 ? kNaN : 0.8; }, [](long) { return 1.0; }, 54},
      {"large changes until damp 1, then settled", [](long k) { return k < 10 ? 1.0 / static_cast<double>(k) : 0.1; },
       [](long k) { return k < 10 ? static_cast<double>(k) : 10.0; }, 33},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(converged_after(1e-6, 2000, c.ratio, c.scale), c.expected) << c.what;
  }
  EXPECT_EQ(converged_after(0.0, 200, steady), 0) << "tolerance 0 turns the stop off";
}

TEST(ConvergenceCount, ProfileChangeIsTheLargestOverTheFactors) {
  // Two variables, two factors: factor 0 moves by 0.1 + 0.1 over 1 + 1, factor 1
  // by 0.3 over 3 + 1.
  EXPECT_DOUBLE_EQ(largest_profile_change({1, 3, 1, 1}, {1.1, 3.3, 0.9, 1}, 2), 0.1);
  EXPECT_DOUBLE_EQ(largest_profile_change({1, 3, 1, 1}, {1, 3, 1, 1}, 2), 0.0);
  EXPECT_EQ(largest_profile_change({0, 1, 0, 1}, {0.5, 1, 0, 1}, 2), kInf) << "a profile that was all zero";
  EXPECT_TRUE(std::isnan(largest_profile_change({1, 1}, {kNaN, 1}, 2)));
}

TEST(BestPass, IsTheLowestFiniteChi2WithItsStartingState) {
  struct Line {
    double chi2;
    int nytot;
  };
  struct Case {
    const char* what;
    std::vector<Line> lines;
    long expected;  // best pass; 0: none
  };
  const Case cases[] = {
      {"lowest chi2", {{30, 10}, {20, 10}, {25, 10}}, 2},
      // ny changes from pass to pass: pass 3 has the lowest chi2/ny, pass 2 the lowest chi2.
      {"chi2, not chi2/ny", {{30, 10}, {25, 5}, {26, 20}}, 2},
      {"ties keep the earlier pass", {{30, 10}, {20, 10}, {20, 10}}, 2},
      {"not finite never best", {{30, 10}, {kNaN, 10}, {kInf, 10}, {-kInf, 10}}, 1},
      {"ny 0 or less never best", {{30, 10}, {-5, 10 - 11}, {0, 0}, {1, -1}}, 1},
      {"none at all", {{kNaN, 10}, {1, 0}}, 0},
  };
  for (const Case& c : cases) {
    FitMonitor monitor;
    TestModel m;
    m.p.assign(2, 0.0);
    m.ny.assign(1, 0);
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
      const long pass = static_cast<long>(i) + 1;
      m.p = {static_cast<double>(pass), -1.0};  // the state tells its pass
      m.ny = {static_cast<int>(pass) * 7};
      m.nfree = static_cast<int>(pass) * 3;
      m.damp = damp_of_pass(pass);
      monitor.begin_pass(m, m, pass);
      monitor.end_pass(c.lines[i].chi2, c.lines[i].nytot, m.damp);
    }
    ASSERT_EQ(monitor.has_best(), c.expected != 0) << c.what;
    if (c.expected == 0) continue;
    EXPECT_EQ(monitor.best_pass(), c.expected) << c.what;
    TestModel restored;
    monitor.restore_best(restored);
    const int k = static_cast<int>(c.expected);
    EXPECT_EQ(restored.p, (std::vector<double>{static_cast<double>(k), -1.0})) << c.what;
    EXPECT_EQ(restored.ny, std::vector<int>{k * 7}) << c.what;
    EXPECT_EQ(restored.nfree, k * 3) << c.what;
    EXPECT_EQ(restored.damp, damp_of_pass(k)) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Whole fits on the bundled St. Louis data. Its chi2/ny falls in every pass up to
// pass 56 (0.690774) and rises in pass 57 (0.691238), while its chi2 falls in
// every pass up to pass 800 and beyond (1817.43 in pass 56, 1817.13 in pass 57).

// A keyboard for scripted runs: a key is "pressed" before pass key_at (0: never),
// and, at the start of pass spoil_at, the first profile element is overwritten
// with spoil so that this pass's contribution step gives a chi2 that is not finite.
class ScriptedKeyboard : public Keyboard {
 public:
  ScriptedKeyboard(TestModel& m, long key_at, long spoil_at, double spoil)
      : m_(m), key_at_(key_at), spoil_at_(spoil_at), spoil_(spoil) {}
  bool key_waiting() override {
    const long pass = polls_++;  // poll 0 is the one before the first pass
    if (pass == spoil_at_) m_.p[0] = spoil_;
    return pass == key_at_ && key_at_ > 0;
  }
  void read_key() override {}

 private:
  TestModel& m_;
  long key_at_;
  long spoil_at_;
  double spoil_;
  long polls_ = 0;
};

struct FitRun {
  FitOutcome outcome;
  std::string console;
  std::string result;
  double chi2 = 0.0;
  int nytot = 0;
};

std::string captured(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string text;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  std::fclose(f);
  return text;
}

// Fits the St. Louis example in normal mode and writes its result table.
FitRun fit_st_louis(const FitOptions& options, long key_at = 0, long spoil_at = -1, double spoil = 0.0) {
  const std::string dir = std::string(TARNOK_EXAMPLES) + "/st_louis/";
  TestModel m;
  m.damp = 10;
  read_profile(m, dir + "profile.tsv");
  read_form(m, dir + "form.tsv");
  read_data(m, dir + "data.tsv");
  ScriptedKeyboard keyboard(m, key_at, spoil_at, spoil);
  std::FILE* console = std::tmpfile();
  std::FILE* result = std::tmpfile();
  FitRun run;
  run.outcome = run_fit(m, keyboard, options, console);
  run.console = captured(console);
  run.chi2 = m.chi2;
  run.nytot = m.nytot;
  if (run.outcome.failed) return run;  // no result to write
  residue(m);
  write_result(m, result, nullptr);
  run.result = captured(result);
  return run;
}

// The run that a key (or --passes) stops at the start of pass k: k - 1 lines.
FitRun stopped_at(long k) {
  FitOptions options;
  options.passes = k - 1;
  return fit_st_louis(options);
}

bool only_finite_numbers(const std::string& table) {
  for (const std::string& line : lines_of(table)) {
    for (const std::string& cell : cells_of(line)) {
      char* end = nullptr;
      const double value = std::strtod(cell.c_str(), &end);
      if (end != cell.c_str() && !std::isfinite(value)) return false;
    }
  }
  return true;
}

std::string text_of(const char* pattern, auto... values) {
  char buffer[200];
  std::snprintf(buffer, sizeof buffer, pattern, values...);
  return buffer;
}

TEST(DivergenceGuard, RestoresTheBestPassAndWritesWhatAStopThereWrites) {
  struct Case {
    const char* what;
    long spoil_at;
    double spoil;
    long passes;   // --passes; -1: none
    long key_at;   // 0: no key
    long best;     // the pass the result must belong to
  };
  const Case cases[] = {
      {"not a number", 58, kNaN, -1, 0, 57},
      {"infinite profile element", 58, kInf, -1, 0, 57},
      {"early", 30, kNaN, -1, 0, 29},
      {"in the final step of a pass limit", 58, kNaN, 57, 0, 57},
      {"in the final step of a key stop", 40, kNaN, -1, 40, 39},
  };
  for (const Case& c : cases) {
    FitOptions options;
    options.passes = c.passes;
    const FitRun run = fit_st_louis(options, c.key_at, c.spoil_at, c.spoil);
    const FitRun reference = stopped_at(c.best);
    EXPECT_EQ(run.outcome.reason, StopReason::diverged) << c.what;
    EXPECT_EQ(run.outcome.diverged_pass, c.spoil_at) << c.what;
    EXPECT_EQ(run.outcome.result_pass, c.best) << c.what;
    EXPECT_EQ(run.outcome.passes, c.spoil_at - 1) << c.what;
    EXPECT_TRUE(only_finite_numbers(run.result)) << c.what;
    EXPECT_EQ(run.result, reference.result) << c.what;

    // The statistics lines, then one closing line; those before the restored
    // pass are the reference run's lines.
    const std::vector<std::string> lines = lines_of(run.console);
    ASSERT_EQ(lines.size(), static_cast<std::size_t>(c.spoil_at)) << c.what;
    EXPECT_EQ(lines_of(reference.console),
              std::vector<std::string>(lines.begin(), lines.begin() + (c.best - 1)))
        << c.what;
    EXPECT_EQ(lines.back(), text_of("Stopped: diverged in pass %ld (chi2 not finite); results belong to "
                                    "pass %ld (chi2 %lg, chi2/ny %lg).",
                                    c.spoil_at, c.best, reference.chi2, reference.chi2 / reference.nytot))
        << c.what;
    // The totals are those of the restored pass's statistics line.
    EXPECT_EQ(lines[static_cast<std::size_t>(c.best) - 1].rfind(text_of("%lg\t%d\t", run.chi2 / run.nytot, run.nytot), 0), 0u)
        << c.what;
  }
}

TEST(DivergenceGuard, FailsWhenThereIsNoFinitePassToGoBackTo) {
  FitOptions options;
  try {
    FitRun run = fit_st_louis(options, 0, 1, kNaN);
    EXPECT_TRUE(run.outcome.failed);
    fail_without_result(run.outcome);
    FAIL() << "no failure";
  } catch (const Failure& failure) {
    EXPECT_STREQ(failure.what(),
                 "Error: The fit diverged in pass 1 (chi2 is not finite) before any pass had a finite chi2/ny; "
                 "no result was written.\n");
  }
}

TEST(KeepBest, ResultBelongsToTheBestPassUnlessTheFinalStepIsLower) {
  struct Case {
    const char* what;
    long passes;
    long key_at;
    long spoil_at;      // the pass that starts from a spoilt profile element; -1: none
    long expected;      // the pass the result belongs to
    StopReason reason;
  };
  const Case cases[] = {
      // chi2 falls in every pass: the final step is the best.
      {"pass limit after a rise of chi2/ny", 56, 0, -1, 57, StopReason::pass_limit},
      {"key after a rise of chi2/ny", -1, 58, -1, 58, StopReason::key},
      {"steadily falling", 30, 0, -1, 31, StopReason::pass_limit},
      // Pass 40 starts from a spoilt profile element (chi2 far higher), and the
      // passes after it do not get back below pass 39.
      {"pass limit after a spoilt pass", 41, 0, 40, 39, StopReason::pass_limit},
      {"key after a spoilt pass", -1, 42, 40, 39, StopReason::key},
  };
  for (const Case& c : cases) {
    FitOptions options;
    options.passes = c.passes;
    options.keep_best = true;
    options.report_stop = true;
    const FitRun run = fit_st_louis(options, c.key_at, c.spoil_at, 1.0);
    const FitRun reference = stopped_at(c.expected);
    EXPECT_EQ(run.outcome.reason, c.reason) << c.what;
    EXPECT_EQ(run.outcome.result_pass, c.expected) << c.what;
    EXPECT_EQ(run.result, reference.result) << c.what;
    EXPECT_EQ(run.chi2, reference.chi2) << c.what;
    EXPECT_EQ(run.nytot, reference.nytot) << c.what;
    const std::vector<std::string> lines = lines_of(run.console);
    if (c.expected <= run.outcome.passes) {
      // The totals line repeats the best statistics line, the one with the lowest chi2.
      const std::string best = lines[static_cast<std::size_t>(c.expected) - 1];
      EXPECT_EQ(best.rfind(text_of("%lg\t%d\t", run.chi2 / run.nytot, run.nytot), 0), 0u) << c.what;
      for (long k = 1; k <= run.outcome.passes; ++k) {
        const std::vector<std::string> cells = cells_of(lines[static_cast<std::size_t>(k) - 1]);
        EXPECT_LE(run.chi2, std::atof(cells[0].c_str()) * std::atof(cells[1].c_str()) * (1 + 1e-5))
            << c.what << ", line " << k;
      }
    }
  }
}

}  // namespace

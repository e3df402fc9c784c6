#include "fit/iteration.h"

#include <algorithm>
#include <cmath>
#include <chrono>

#include "control/failure.h"
#include "fit/contribution.h"
#include "fit/fit_monitor.h"
#include "fit/profile_step.h"
#include "fit/stop_line.h"
#include "platform/signals.h"
#include "robust/weights.h"

FitOutcome run_fit(Model& m, Keyboard& keyboard, const FitOptions& options, std::FILE* console) {
  FitOutcome outcome;
  FitMonitor monitor(options.converge);
  if (keyboard.key_waiting()) keyboard.read_key();  // a key pressed before the fit is discarded
  m.nfree = 0;
  start_robust(m);
  // Set once a better earlier pass has been put back into m: the next round runs
  // only the final contribution step, from that pass's starting state.
  bool restored = false;
  for (long pass = 1;; ++pass) {
    bool stop = true;
    if (restored) {
      // The reason and the result's pass are already set.
    } else if (keyboard.key_waiting()) {
      outcome.reason = StopReason::key;
    } else if (monitor.converged()) {
      outcome.reason = StopReason::converged;
    } else if (options.passes >= 0 && pass > options.passes) {
      outcome.reason = StopReason::pass_limit;
    } else if (stop_requested()) {
      outcome.reason = StopReason::interrupted;
    } else {
      stop = false;
    }
    if (!restored) monitor.begin_pass(m, pass);

    const auto started = std::chrono::steady_clock::now();
    m.chi2 = 0.0;
    m.nytot = -m.nfree;
    std::fill(m.sum2.begin(), m.sum2.end(), 0.0);
    m.sumsq = 0.0;
    contribution_pass(m);
    refresh_robust(m);  // robust mode: new weights from these residuals, chi2 = Q(robust)

    if (!restored) {
      if (!std::isfinite(m.chi2)) {
        stop = true;
        outcome.reason = StopReason::diverged;
        outcome.diverged_pass = pass;
        if (!monitor.has_best()) {
          outcome.failed = true;
          return outcome;
        }
      }
      if (stop) outcome.result_pass = pass;
      bool restore = outcome.reason == StopReason::diverged ||
                     (stop && options.keep_best && monitor.best_beats(m.chi2, m.nytot));
      if (restore) {
        monitor.restore_best(m);
        outcome.result_pass = monitor.best_pass();
        restored = true;
        continue;
      }
    }
    if (stop) break;

    m.nfree = 0;
    profile_pass(m);
    const long long cells = static_cast<long long>(m.nrec) * m.nfakt;
    m.sumsq = m.sumsq / static_cast<double>(cells) - 1.0;
    const double ratio = m.chi2 / m.nytot;
    if (console != nullptr) {
      std::fprintf(console, "%lg\t%d\t%lg\n", ratio, m.nytot, m.sumsq);
      std::fflush(console);
    }
    outcome.lines.push_back(PassLine{m.chi2, m.nytot, ratio, m.sumsq});
    outcome.passes = pass;
    outcome.pass_seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    monitor.end_pass(m.chi2, m.nytot, m.damp);
    if (m.damp > 1) m.damp = m.damp - 1;
  }
  outcome.not_converged = options.converge > 0 && outcome.reason != StopReason::converged &&
                          outcome.reason != StopReason::diverged;
  if (console != nullptr && (options.report_stop || outcome.reason == StopReason::diverged)) {
    print_stop_line(console, outcome, m.chi2, m.nytot);
    std::fflush(console);
  }
  return outcome;
}

void fail_without_result(const FitOutcome& outcome) {
  if (outcome.failed) {
    fail("Error: The fit diverged in pass %ld (chi2 is not finite) before any pass had a finite "
         "chi2/ny; no result was written.\n", outcome.diverged_pass);
  }
}

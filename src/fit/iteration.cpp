#include "fit/iteration.h"

#include <algorithm>
#include <chrono>

#include "control/signals.h"
#include "fit/contribution.h"
#include "fit/profile_step.h"

FitOutcome run_fit(Model& m, Keyboard& keyboard, const FitOptions& options, std::FILE* console) {
  FitOutcome outcome;
  if (keyboard.key_waiting()) keyboard.read_key();  // a key pressed before the fit is discarded
  m.nfree = 0;
  for (long pass = 1;; ++pass) {
    bool stop = true;
    if (keyboard.key_waiting()) {
      outcome.reason = StopReason::key;
    } else if (options.passes >= 0 && pass > options.passes) {
      outcome.reason = StopReason::pass_limit;
    } else if (stop_requested()) {
      outcome.reason = StopReason::interrupted;
    } else {
      stop = false;
    }

    const auto started = std::chrono::steady_clock::now();
    m.chi2 = 0.0;
    m.nytot = -m.nfree;
    std::fill(m.sum2.begin(), m.sum2.end(), 0.0);
    m.sumsq = 0.0;
    contribution_pass(m);
    if (stop) break;

    m.nfree = 0;
    profile_pass(m);
    const long long cells = static_cast<long long>(m.nrec) * m.nfakt;
    m.sumsq = m.sumsq / static_cast<double>(cells) - 1.0;
    std::fprintf(console, "%lg\t%d\t%lg\n", m.chi2 / m.nytot, m.nytot, m.sumsq);
    std::fflush(console);
    outcome.passes = pass;
    outcome.pass_seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    if (m.damp > 1) m.damp = m.damp - 1;
  }
  return outcome;
}

// The alternating fit: passes of contribution step and profile step, one line of
// statistics per pass, until a key press (or a pass limit, or an interrupt).
#pragma once

#include <cstdio>
#include <vector>

#include "control/model.h"
#include "fit/keyboard.h"

struct FitOptions {
  long passes = -1;  ///< stop as if a key had been noticed at the start of pass passes + 1; -1: no limit
};

enum class StopReason { key, pass_limit, interrupted };

struct FitOutcome {
  StopReason reason = StopReason::key;
  long passes = 0;  ///< statistics lines printed
  std::vector<double> pass_seconds;  ///< wall time of each full pass, in seconds
};

// Runs the fit on m, printing the statistics lines to `console`. The pass in which
// the stop is noticed runs only its contribution step, so the final contributions
// and residuals belong to the final profiles; chi2 and nytot are its totals.
FitOutcome run_fit(Model& m, Keyboard& keyboard, const FitOptions& options, std::FILE* console);

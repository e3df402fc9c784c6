// The closing console line of a fit: why it stopped and which pass the result
// table belongs to.
#pragma once

#include <string>

#include "fit/fit_outcome.h"

// The cause of a stop as the closing line names it: "key pressed", "converged", ...
const char* stop_cause(StopReason reason);

// The line for `outcome`, with the totals chi2 and nytot of the final contribution
// step (those the result table ends with), for example
// "Stopped: converged after 411 passes; results belong to pass 412 (chi2 1757.6, chi2/ny 0.67)."
std::string stop_line(const FitOutcome& outcome, double chi2, int nytot);

// Fails with the message of a fit that has no result, when `outcome` is one.
void fail_without_result(const FitOutcome& outcome);

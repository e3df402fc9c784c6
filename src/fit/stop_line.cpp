#include "fit/stop_line.h"

#include <cstdio>

#include "control/failure.h"
#include "control/text_format.h"

const char* stop_cause(StopReason reason) {
  switch (reason) {
    case StopReason::key:
      return "key pressed";
    case StopReason::pass_limit:
      return "pass limit reached";
    case StopReason::interrupted:
      return "interrupted";
    case StopReason::converged:
      return "converged";
    case StopReason::diverged:
      return "diverged";
  }
  return "";
}

std::string stop_line(const FitOutcome& outcome, double chi2, int nytot) {
  std::string line = "Stopped: ";
  if (outcome.reason == StopReason::diverged) {
    line += format_text("diverged in pass %ld (chi2 not finite)", outcome.diverged_pass);
  } else {
    line += format_text("%s after %ld pass%s", stop_cause(outcome.reason), outcome.passes,
                        outcome.passes == 1 ? "" : "es");
    if (outcome.not_converged) line += ", not converged";
  }
  line += format_text("; results belong to pass %ld (chi2 %lg, chi2/ny %lg).\n", outcome.result_pass, chi2,
                      chi2 / nytot);
  return line;
}

void fail_without_result(const FitOutcome& outcome) {
  if (outcome.failed) {
    fail("Error: The fit diverged in pass %ld (chi2 is not finite) before any pass had a finite "
         "chi2/ny; no result was written.\n", outcome.diverged_pass);
  }
}

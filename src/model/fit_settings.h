// How the fits of one run are run: the command line's rotate strength, the worker
// threads and the stop rules. Shared, read-only, by every fit of the run.
#pragma once

#include <vector>

class Reweighting;

// A profile element held at a value the fit does not move: the element of factor
// `factor` and variable `variable` times the factor's mean contribution. The form
// of the fit's problem holds the element (not free); before every profile step it
// is set to the value over the factor's mean contribution in the pass (residuals
// moved to match), so a rescaling of the factor cannot absorb it as long as the
// factor has other free elements that are not 0.
struct HeldElement {
  int factor = 0;      ///< f
  int variable = 0;    ///< v
  double value = 0.0;  ///< p[v][f] times the mean contribution of f; as rawdata
};

struct FitSettings {
  float rotate = 0.0f;      ///< strength of the pull in the profile step
  int threads = 1;          ///< worker threads of the fit and the regression (results do not depend on it)
  long passes = -1;         ///< stop as if a key had been noticed at the start of pass passes + 1; -1: no limit
  double converge = 0.0;    ///< stop once chi2 and the profiles have settled to this relative change; 0: never
  bool keep_best = false;   ///< on any stop, write the result of the best pass seen
  bool accelerate = false;  ///< try extrapolated profiles every few passes, keep them when chi2 is lower
  /// A rule that changes the uncertainties the fit weighs with after each contribution
  /// step (robust mode); null: the plain uncertainties throughout.
  const Reweighting* reweighting = nullptr;
  /// Elements held at a value (--hold, displacement); empty: the form alone decides.
  std::vector<HeldElement> holds;
};

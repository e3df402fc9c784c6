// Displacement of a fitted model: how far each free profile element, measured as
// the element times its factor's mean contribution, can move up and down before
// the fit's chi2, with every other free element and all contributions refitted,
// exceeds the base chi2 by dQmax; at each end whether the factors swapped (a
// factor's contributions correlating best with another base factor's) and how far
// chi2 fell below the base on the way.
#pragma once

#include <functional>
#include <vector>

#include "control/text_table.h"
#include "ensemble/mapping.h"
#include "fit/fit_observer.h"
#include "model/fit_settings.h"
#include "model/fit_state.h"
#include "model/problem.h"

struct DisplacementSettings {
  std::vector<double> levels = {4.0, 8.0, 16.0, 32.0};  ///< dQmax, rising
  int threads = 1;           ///< worker threads; each constrained fit runs on one
  int total = -1;            ///< variable apportioned among the factors (--total); -1: none
  /// Decreases are measured from the fit's own chi2, so that the refinement of a
  /// fit short of its minimum counts as one; false: from the refined base alone.
  bool decrease_from_fit = true;
  /// Called after each search (one element, one direction) with the searches done
  /// and their number; from the worker threads, one call at a time.
  std::function<void(int done, int count)> progress;
};

// A search ends on a level when |dQ - dQmax| <= kLevelTolerance * dQmax.
inline constexpr double kLevelTolerance = 0.02;
// Trial fits a search may spend on one level before it settles for the
// interpolated end of its bracket.
inline constexpr int kTrialsPerLevel = 12;
// A chi2 below the base chi2 by more than this (times the smallest level) is a
// decrease: the base fit was not at the lowest minimum it could reach.
inline constexpr double kDecreaseTolerance = 0.01;
// A Newton fit of a search stops once its undamped step promises to lower chi2
// by less than this times the level searched (the fit refined before the
// searches: times the smallest level).
inline constexpr double kNewtonTolerance = 5e-4;

// The interval of one free element at every level, in the element-times-mean-
// contribution normalisation; an end that no trial reached is +inf (up) and an
// element that reaches 0 before dQmax has low 0.
struct ElementInterval {
  int factor = 0;
  int variable = 0;
  double base = 0.0;          ///< the base fit's value
  std::vector<double> low;    ///< per level
  std::vector<double> high;   ///< per level
  std::vector<double> share_low;   ///< with a total and variable == total: the factor's share (per cent)
  std::vector<double> share_high;  ///< at the low and high end solutions, per level; else empty
};

struct DisplacementRun {
  std::vector<double> levels;
  double fitted_chi2 = 0.0;  ///< chi2 of the fit displaced
  double base_chi2 = 0.0;    ///< chi2 of the base: the fit carried to its minimum by Newton steps, else the fit's
  long refine_steps = 0;     ///< the Newton steps that carried it there
  double refinement = 0.0;   ///< fitted_chi2 less base_chi2 (0 when the fit was not refined)
  std::vector<ElementInterval> elements;  ///< every free element, by factor, then variable
  std::vector<int> swaps;                 ///< per level: interval ends whose solution swapped factors
  std::vector<double> largest_decrease;   ///< per level: the largest chi2 of the fit (or of the base, see
                                          ///< DisplacementSettings::decrease_from_fit) less a trial's (0 when none)
  long fits = 0;                          ///< constrained fits run
  long failed = 0;                        ///< of which without a result
  long passes = 0;                        ///< passes of the constrained fits, all told
  int searches = 0;                       ///< searches asked for (two per free element)
  int not_run = 0;                        ///< searches stopped before they began
  bool decreased() const;                 ///< a decrease beyond the tolerance was seen
};

// Runs the displacement of the fitted state `base` of `problem` (the state whose
// result was written): every constrained fit runs with a fresh state (damp 10)
// and the stop rules of `fit_settings`, as --hold does; a search's first trial
// starts from base.p, each later one from the profiles of its nearest earlier
// trial. The results do not depend on the number of threads.
DisplacementRun run_displacement(const Problem& problem, const FitState& base, const FitSettings& fit_settings,
                                 FitObserver& observer, const DisplacementSettings& settings);

// Whether some base factor's contributions correlate best with another factor
// of `fit` (same records in the same order); a factor without a finite
// correlation, such as the constant offset, is left out.
bool factors_swapped(const Contributions& base, const Contributions& fit);

// Reads --disp-levels ("4,8,16,32"): positive finite numbers, rising. Fails with
// a message otherwise.
std::vector<double> parse_levels(const std::string& text);

// The console lines of a displacement: counts, swaps and decreases per level, and
// a warning when chi2 fell below the base.
std::string displacement_summary(const DisplacementRun& run);

// disp.tsv: one row per free element and level (factor, variable, base, dq, low, high).
TextTable displacement_table(const Problem& problem, const DisplacementRun& run);

// disp_summary.tsv: per level the swaps and the largest decrease of chi2.
TextTable displacement_summary_table(const DisplacementRun& run);

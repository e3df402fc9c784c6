#include "displacement/displacement.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>

#include "control/failure.h"
#include "control/text_format.h"
#include "displacement/hold.h"
#include "ensemble/mapping.h"
#include "ensemble/parallel_fits.h"
#include "ensemble/tsv_text.h"
#include "fit/element_response.h"
#include "fit/iteration.h"
#include "fit/newton_fit.h"

namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();
// A trial's profiles are predicted from its two nearest trials at most this many
// times their distance beyond either.
constexpr double kFarthestPrediction = 1.5;

// One constrained fit: the held value's distance from the base value, and what
// the fit gave.
struct Trial {
  double t = 0.0;        // |q - base|
  double dq = 0.0;       // chi2 less the base chi2; +inf when the fit has no result
  bool swapped = false;  // a base factor's best match is another factor
  double share = std::nan("");  // with a total: the factor's share of it (per cent)
  std::vector<double> p;  // the fitted profiles (empty when the fit has no result)
};

// Where one search (one element, one direction) ended on one level.
struct End {
  double t = 0.0;
  bool swapped = false;
  double share = std::nan("");
};

struct SearchResult {
  std::vector<End> ends;                 // per level
  std::vector<double> largest_decrease;  // per level
  long fits = 0;
  long failed = 0;
  long passes = 0;
  bool run = false;
};

// What every search reads: the base fit and the settings of the constrained fits.
struct Base {
  const Problem& problem;
  const FitState& state;
  FitSettings settings;  // one thread, no holds yet
  int total = -1;
  bool newton = false;   // the constrained fits run by newton_fit (else by run_fit)
  NewtonStop stop;       // and stop there
  std::vector<ElementResponse> responses;  // with newton: the quadratic model of each element at the base
};

// Factor f's share of variable v (per cent): its element times its mean
// contribution over the sum of those of every factor, in factor order.
double share_of(const Problem& problem, const FitState& fit, int f, int v) {
  double total = 0.0;
  double own = 0.0;
  for (int k = 0; k < problem.nfakt; ++k) {
    const double q = scale_free_element(problem, fit, k, v);
    total += q;
    if (k == f) own = q;
  }
  return own / total * 100.0;
}

class Search {
 public:
  Search(const Base& base, const Problem& held, FitObserver& observer, int f, int v, double direction,
         const std::vector<double>& levels)
      : base_(base), held_(held), observer_(observer), f_(f), v_(v), direction_(direction), levels_(levels) {
    q0_ = scale_free_element(base.problem, base.state, f, v);
    // The variable's modelled mean, the scale of a first step from an element at 0.
    double modelled = 0.0;
    for (int k = 0; k < base.problem.nfakt; ++k) modelled += scale_free_element(base.problem, base.state, k, v);
    step_ = q0_ > 0 ? 0.1 * q0_ : 0.05 * modelled;
    if (!(step_ > 0)) step_ = 1.0;
    limit_ = direction < 0 ? q0_ : 1e4 * std::max(q0_, modelled > 0 ? modelled : 1.0);
    if (base.newton) {
      bracket_margin_ = 1.0;
      // The first trial aims at the first level by the base's model, a rise of
      // slope * t + (t / sigma)^2, and starts from the profiles the model refits
      // there. Only an upward move has a model from an element at 0.
      const ElementResponse& response =
          base.responses[static_cast<std::size_t>(v) * static_cast<std::size_t>(base.problem.nfakt) +
                         static_cast<std::size_t>(f)];
      if (response.sigma > 0 && !levels.empty() && (q0_ > 0 || direction > 0)) {
        const double level = levels.front();
        const double slope = response.slope;
        step_ = 2.0 * level / (slope + std::sqrt(slope * slope + 4.0 * level / (response.sigma * response.sigma)));
        response_ = &response;
      }
    }
    points_.push_back(Trial{0.0, 0.0, false, std::nan(""), base.state.p});
  }

  SearchResult run() {
    SearchResult result;
    result.run = true;
    result.ends.resize(levels_.size());
    result.largest_decrease.assign(levels_.size(), 0.0);
    for (std::size_t k = 0; k < levels_.size(); ++k) {
      decrease_ = 0.0;
      result.ends[k] = level_end(levels_[k]);
      result.largest_decrease[k] = decrease_;
    }
    result.fits = fits_;
    result.failed = failed_;
    result.passes = passes_;
    return result;
  }

 private:
  // One constrained fit at displacement t, for the search of `level`: Newton
  // fits stop at a tolerance on chi2 in proportion to it. A Newton fit that
  // started from predicted profiles (the model's, or the line through two
  // trials) and ends with the factors swapped is fitted again from the nearest
  // trial's profiles, and the lower chi2 kept: a start away from every fitted
  // solution can lead into another solution than the one the search follows.
  Trial evaluate(double t, double level) {
    FitSettings settings = base_.settings;
    settings.holds = {HeldElement{f_, v_, q0_ + direction_ * t}};
    if (direction_ < 0 && t >= limit_) settings.holds[0].value = 0.0;
    if (!base_.newton) {
      FitState fit = FitState::sized_for(held_);
      fit.p = nearest_profiles(t);
      const FitOutcome outcome = run_fit(held_, settings, fit, observer_);
      passes_ += outcome.passes;
      return result(t, fit, outcome.failed);
    }
    NewtonStop stop = base_.stop;
    stop.tolerance = kNewtonTolerance * level;
    std::vector<double> start = nearest_profiles(t);
    const bool predicted = predict_profiles(t, start);
    Trial trial = newton_trial(t, settings, stop, start);
    if (predicted && trial.swapped) {
      Trial again = newton_trial(t, settings, stop, nearest_profiles(t));
      if (again.dq < trial.dq) trial = std::move(again);
    }
    return trial;
  }

  Trial newton_trial(double t, const FitSettings& settings, const NewtonStop& stop, const std::vector<double>& start) {
    FitState fit = FitState::sized_for(held_);
    fit.p = start;
    const NewtonOutcome outcome = newton_fit(held_, settings, fit, stop);
    passes_ += outcome.solves;
    return result(t, fit, outcome.failed);
  }

  // The trial a constrained fit at displacement t gave.
  Trial result(double t, const FitState& fit, bool failed) {
    ++fits_;
    Trial trial;
    trial.t = t;
    if (failed || !std::isfinite(fit.chi2)) {
      ++failed_;
      trial.dq = kInfinity;
      return trial;
    }
    trial.dq = fit.chi2 - base_.state.chi2;
    trial.p = fit.p;
    decrease_ = std::max(decrease_, -trial.dq);
    const Problem& problem = base_.problem;
    trial.swapped = factors_swapped({base_.state.x.data(), problem.nrec, problem.nfakt},
                                    {fit.x.data(), problem.nrec, problem.nfakt});
    if (base_.total == v_) trial.share = share_of(base_.problem, fit, f_, v_);
    return trial;
  }

  // The profiles a trial at displacement t starts from: those of the nearest
  // trial with a result (the base for the first), the earlier of two as near.
  // The search runs its trials in a fixed order, so the start depends only on
  // the element and its direction.
  const std::vector<double>& nearest_profiles(double t) const {
    const Trial* nearest = &points_.front();
    for (const Trial& point : points_) {
      if (!point.p.empty() && std::abs(point.t - t) < std::abs(nearest->t - t)) nearest = &point;
    }
    return nearest->p;
  }

  // The first trial starts from the profiles the base's model refits at t; a
  // later one, with two trials near t, from the profiles on the line through
  // theirs at t, a closer start than either (both kept at 0 or above); `p` keeps
  // the nearest profiles when there is no model and only one trial, or t lies far
  // outside the two. Returns whether it predicted them.
  bool predict_profiles(double t, std::vector<double>& p) const {
    if (response_ != nullptr && points_.size() == 1) {
      const std::vector<double>& base = points_.front().p;
      for (std::size_t e = 0; e < p.size(); ++e) {
        const double value = base[e] + direction_ * t * response_->direction[e];
        p[e] = base[e] >= 0 ? std::max(value, 0.0) : value;
      }
      return true;
    }
    const Trial* a = nullptr;
    const Trial* b = nullptr;
    for (const Trial& point : points_) {
      if (point.p.empty()) continue;
      if (a == nullptr || std::abs(point.t - t) < std::abs(a->t - t)) {
        b = a;
        a = &point;
      } else if (b == nullptr || std::abs(point.t - t) < std::abs(b->t - t)) {
        b = &point;
      }
    }
    if (a == nullptr || b == nullptr || a->t == b->t) return false;
    const double s = (t - a->t) / (b->t - a->t);
    if (!(s >= -kFarthestPrediction && s <= 1.0 + kFarthestPrediction)) return false;
    for (std::size_t e = 0; e < p.size(); ++e) {
      const double value = a->p[e] + s * (b->p[e] - a->p[e]);
      p[e] = a->p[e] >= 0 && b->p[e] >= 0 ? std::max(value, 0.0) : value;
    }
    return true;
  }

  static End end_at(const Trial& trial) { return End{trial.t, trial.swapped, trial.share}; }

  // The search of one level: the points of the lower levels first, then trials
  // that bracket dQmax and close in on it by secant steps on sqrt(dQ), which is
  // near linear in the displacement, with bisection when a step gains too little.
  End level_end(double level) {
    const double goal = std::sqrt(level);
    int trials = 0;
    double last_width = kInfinity;
    for (;;) {
      const Trial* above = nullptr;  // nearest point at or above the level
      for (const Trial& point : points_) {
        if (std::abs(point.dq - level) <= kLevelTolerance * level) return end_at(point);
        if (point.dq >= level && (above == nullptr || point.t < above->t)) above = &point;
      }
      const Trial* below = &points_.front();  // farthest point below the level and nearer than `above`
      for (const Trial& point : points_) {
        if (point.dq < level && point.t > below->t && (above == nullptr || point.t < above->t)) below = &point;
      }
      if (above == nullptr && below->t >= limit_) {
        if (direction_ < 0) return end_at(*below);    // the element reached 0
        return End{kInfinity, false, std::nan("")};   // no fit reached the level
      }
      double t = 0.0;
      if (above == nullptr) {
        // Bracketing: from the farthest point below, the step that sqrt(dQ) growing
        // linearly would need, with a margin; four times as far while dQ is flat.
        const double g = std::sqrt(std::max(below->dq, 0.0));
        t = below->t == 0.0 ? step_ : (g > 0.05 * goal ? bracket_margin_ * below->t * goal / g : 4.0 * below->t);
        // With the Newton fits and a second point below, the line through the
        // two farthest points follows the bend of sqrt(dQ) better than the line
        // from the base: it is taken where it points beyond the farthest point
        // and less than four times as far.
        const Trial* before = nullptr;
        for (const Trial& point : points_) {
          if (&point != below && point.t < below->t && point.dq < below->dq && (before == nullptr || point.t > before->t)) {
            before = &point;
          }
        }
        if (base_.newton && before != nullptr && g > 0.05 * goal) {
          const double secant = interpolate(*before, *below, goal);
          if (secant > below->t && secant < 4.0 * below->t) t = secant;
        }
        t = std::min(t, limit_);
      } else {
        const Trial& a = *below;
        const Trial& b = *above;
        if (trials >= kTrialsPerLevel || b.t - a.t <= 1e-9 * std::max(b.t, step_)) {
          return End{interpolate(a, b, goal), b.swapped, b.share};
        }
        const double width = b.t - a.t;
        t = interpolate(a, b, goal);
        // Bisect when the bracket did not halve since the last step, or the
        // secant step falls at an end.
        if (width > 0.5 * last_width || t <= a.t + 0.02 * width || t >= b.t - 0.02 * width) t = a.t + 0.5 * width;
        last_width = width;
      }
      ++trials;
      if (above == nullptr && trials > 60) return End{kInfinity, false, std::nan("")};
      points_.push_back(evaluate(t, level));
    }
  }

  // The displacement where sqrt(dQ), linear between a and b, reaches goal.
  static double interpolate(const Trial& a, const Trial& b, double goal) {
    const double ga = std::sqrt(std::max(a.dq, 0.0));
    const double gb = std::isfinite(b.dq) ? std::sqrt(std::max(b.dq, 0.0)) : kInfinity;
    if (!(gb > ga) || !std::isfinite(gb)) return a.t + 0.5 * (b.t - a.t);
    return a.t + (goal - ga) * (b.t - a.t) / (gb - ga);
  }

  const Base& base_;
  const Problem& held_;
  FitObserver& observer_;
  int f_;
  int v_;
  double direction_;
  const std::vector<double>& levels_;
  double q0_ = 0.0;
  double step_ = 0.0;
  double limit_ = 0.0;
  // How far past the displacement where sqrt(dQ), linear, reaches a level the
  // bracketing trial goes: with the Newton fits (chi2 to their minimum) straight
  // at it, else a quarter beyond.
  double bracket_margin_ = 1.25;
  const ElementResponse* response_ = nullptr;  // the base's model of this element, if any
  double decrease_ = 0.0;
  long fits_ = 0;
  long failed_ = 0;
  long passes_ = 0;
  std::vector<Trial> points_;
};

}  // namespace

// Whether some base factor's contributions correlate best with another factor
// of the displaced fit (a factor without a finite correlation, such as the
// constant offset, is left out).
bool factors_swapped(const Contributions& base, const Contributions& fit) {
  const std::vector<FactorMatch> matches = best_matches(base, fit);
  for (std::size_t i = 0; i < matches.size(); ++i) {
    if (matches[i].factor >= 0 && matches[i].factor != static_cast<int>(i)) return true;
  }
  return false;
}

bool DisplacementRun::decreased() const {
  if (levels.empty()) return false;
  for (double decrease : largest_decrease) {
    if (decrease > kDecreaseTolerance * levels.front()) return true;
  }
  return false;
}

DisplacementRun run_displacement(const Problem& problem, const FitState& fitted, const FitSettings& fit_settings,
                                 FitObserver& observer, const DisplacementSettings& settings) {
  DisplacementRun run;
  run.levels = settings.levels;
  run.fitted_chi2 = fitted.chi2;
  // The constrained fits are solved to their minimum by Newton steps where the
  // fit allows it; the fit itself is then carried to its own minimum first, so
  // that every trial is measured against the minimum it would otherwise only
  // approach.
  FitSettings one_hold = fit_settings;
  one_hold.threads = 1;
  one_hold.holds = {HeldElement{}};
  const bool newton = !settings.levels.empty() && newton_fits(problem, one_hold);
  // --passes caps the Newton steps of every fit as it caps the passes of run_fit.
  const long steps = fit_settings.passes >= 0 ? std::min(fit_settings.passes, NewtonStop{}.steps) : NewtonStop{}.steps;
  const NewtonStop stop{kNewtonTolerance * (settings.levels.empty() ? 1.0 : settings.levels.front()), steps};
  FitState base = fitted;
  if (newton) {
    FitSettings free_fit = fit_settings;
    free_fit.holds.clear();
    const NewtonOutcome outcome = newton_fit(problem, free_fit, base, stop);
    run.refine_steps = outcome.steps;
    if (outcome.failed || !(base.chi2 <= fitted.chi2)) base = fitted;
  }
  run.base_chi2 = base.chi2;
  const std::size_t nlevels = settings.levels.size();
  for (int f = 0; f < problem.nfakt; ++f) {
    for (int v = 0; v < problem.nvar; ++v) {
      if (problem.fp[static_cast<std::size_t>(v) * static_cast<std::size_t>(problem.nfakt) +
                     static_cast<std::size_t>(f)] == 0) {
        continue;
      }
      ElementInterval element;
      element.factor = f;
      element.variable = v;
      element.base = scale_free_element(problem, base, f, v);
      element.low.assign(nlevels, std::nan(""));
      element.high.assign(nlevels, std::nan(""));
      if (v == settings.total) {
        element.share_low.assign(nlevels, std::nan(""));
        element.share_high.assign(nlevels, std::nan(""));
      }
      run.elements.push_back(std::move(element));
    }
  }
  Base shared_base{problem, base, fit_settings, settings.total, newton, stop, {}};
  if (newton) shared_base.responses = element_responses(problem, one_hold, base);
  shared_base.settings.threads = 1;
  shared_base.settings.holds.clear();
  SharedStop shared(observer);
  shared.discard_key_before_fits();
  run.searches = static_cast<int>(run.elements.size()) * 2;
  std::vector<SearchResult> results(static_cast<std::size_t>(run.searches));
  std::mutex progress_mutex;
  int done = 0;
  run_fits(run.searches, settings.threads, shared, [&](int i) {
    const ElementInterval& element = run.elements[static_cast<std::size_t>(i / 2)];
    Problem held = holding(problem, {HeldElement{element.factor, element.variable, 0.0}});
    held.starting_p = base.p;
    Search search(shared_base, held, shared, element.factor, element.variable, i % 2 == 0 ? -1.0 : 1.0,
                  settings.levels);
    results[static_cast<std::size_t>(i)] = search.run();
    if (settings.progress) {
      std::lock_guard<std::mutex> lock(progress_mutex);
      settings.progress(++done, run.searches);
    }
  });

  run.swaps.assign(nlevels, 0);
  run.largest_decrease.assign(nlevels, 0.0);
  for (std::size_t i = 0; i < results.size(); ++i) {
    const SearchResult& result = results[i];
    if (!result.run) {
      ++run.not_run;
      continue;
    }
    run.fits += result.fits;
    run.failed += result.failed;
    run.passes += result.passes;
    ElementInterval& element = run.elements[i / 2];
    const bool down = i % 2 == 0;
    for (std::size_t k = 0; k < nlevels; ++k) {
      const End& end = result.ends[k];
      if (down) {
        element.low[k] = std::max(element.base - end.t, 0.0);
      } else {
        element.high[k] = element.base + end.t;
      }
      if (!element.share_low.empty()) (down ? element.share_low : element.share_high)[k] = end.share;
      if (end.swapped) ++run.swaps[k];
      run.largest_decrease[k] = std::max(run.largest_decrease[k], result.largest_decrease[k]);
    }
  }
  // The refinement itself lowered chi2 below the fit's: a fit short of its
  // minimum is a decrease the displacement saw at every level.
  run.refinement = std::max(run.fitted_chi2 - run.base_chi2, 0.0);
  if (settings.decrease_from_fit) {
    for (double& decrease : run.largest_decrease) decrease += run.refinement;
  }
  return run;
}

std::vector<double> parse_levels(const std::string& text) {
  std::vector<double> levels;
  std::size_t begin = 0;
  for (;;) {
    const std::size_t comma = std::min(text.find(',', begin), text.size());
    double level = 0.0;
    const char* first = text.data() + begin;
    const char* last = text.data() + comma;
    const auto [ptr, ec] = std::from_chars(first, last, level, std::chars_format::general);
    if (first == last || ec != std::errc() || ptr != last || !std::isfinite(level) || !(level > 0) ||
        (!levels.empty() && !(level > levels.back()))) {
      fail("Error: --disp-levels needs rising positive numbers separated by commas, not '%s'!\n",
           quote_cell(text).c_str());
    }
    levels.push_back(level);
    if (comma == text.size()) break;
    begin = comma + 1;
  }
  return levels;
}

std::string displacement_summary(const DisplacementRun& run) {
  std::string out = format_text("Displacement: %zu free elements, %ld constrained fits (%ld failed)",
                                run.elements.size(), run.fits, run.failed);
  if (run.not_run > 0) out += format_text(", %d of %d searches not run (stopped)", run.not_run, run.searches);
  out += ".\n";
  for (std::size_t k = 0; k < run.levels.size(); ++k) {
    out += format_text("Displacement dQmax %lg: %d swaps, largest chi2 decrease %lg.\n", run.levels[k], run.swaps[k],
                       run.largest_decrease[k]);
  }
  if (run.decreased()) {
    out += "WARNING: a displaced fit reached a lower chi2 than the fit itself: the fit is not at its lowest "
           "minimum; refit (e.g. with --starts) before reading the intervals.\n";
  }
  return out;
}

TextTable displacement_table(const Problem& problem, const DisplacementRun& run) {
  TextTable table;
  table.headings = {"factor", "variable", "base", "dq", "low", "high"};
  for (const ElementInterval& element : run.elements) {
    for (std::size_t k = 0; k < run.levels.size(); ++k) {
      table.rows.push_back({problem.faktnavn[static_cast<std::size_t>(element.factor)],
                            problem.varnavn[static_cast<std::size_t>(element.variable)], number_cell(element.base),
                            number_cell(run.levels[k]), number_cell(element.low[k]), number_cell(element.high[k])});
    }
  }
  return table;
}

TextTable displacement_summary_table(const DisplacementRun& run) {
  TextTable table;
  table.headings = {"dq", "swaps", "largest_decrease"};
  for (std::size_t k = 0; k < run.levels.size(); ++k) {
    table.rows.push_back({number_cell(run.levels[k]), std::to_string(run.swaps[k]), number_cell(run.largest_decrease[k])});
  }
  return table;
}

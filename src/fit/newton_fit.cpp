#include "fit/newton_fit.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "engine/engine.h"
#include "fit/held_contributions.h"
#include "fit/repeated_records.h"
#include "fit/triangular.h"

// The system's loops are compiled twice, for AVX2 and for the x86-64 baseline,
// and the loader picks the one the machine runs (ELF systems; elsewhere the
// baseline alone). Both do the same IEEE operations in the same order: AVX2 alone
// has no fused multiply-add, and contraction is off.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__)
#define NEWTON_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define NEWTON_VECTOR_CLONES
#endif

namespace {

// The damping of the first step, relative to the diagonal of the system.
constexpr double kFirstDamping = 1e-3;
// The damping never falls below this, so the directions in which a factor's
// profile and contributions trade a common scale (no curvature) stay solvable.
constexpr double kLeastDamping = 1e-9;
// Rejected steps in a row after which the fit counts as settled.
constexpr int kRejections = 30;

// Cholesky factor of the symmetric matrix a (order n, row stride n, lower
// triangle read) into l (lower). Returns false when a pivot is not positive.
bool cholesky(const double* a, int n, double* l) {
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j <= i; ++j) {
      double sum = a[i * n + j];
      for (int k = 0; k < j; ++k) sum -= l[i * n + k] * l[j * n + k];
      if (i == j) {
        if (!(sum > 0) || !std::isfinite(sum)) return false;
        l[i * n + i] = std::sqrt(sum);
      } else {
        l[i * n + j] = sum / l[j * n + j];
      }
    }
  }
  return true;
}

// The blocks of the system one record adds (see NewtonFit::add_record): for
// each pair of variables u <= v with free elements (positions first[v] ..
// first[v + 1] - 1), c = copies * (w[v] [u == v] - M[v][u]) with M[v][u] the
// product of rows v and u of vt (stride `stride`, na long), times the outer
// product of xf over their positions, into the lower triangle of system (order
// n). Compiled for AVX2 and the baseline like the engine's loops: the same IEEE
// operations in the same order either way.
NEWTON_VECTOR_CLONES
void add_blocks(const int* first, int nvar, const double* vt, std::size_t stride, int na, const double* w, int copies,
                const double* xf, double* system, std::size_t n) {
  for (int v = 0; v < nvar; ++v) {
    const int vi0 = first[v];
    const int vi1 = first[v + 1];
    if (vi0 == vi1) continue;
    const double* vv = vt + static_cast<std::size_t>(v) * stride;
    for (int u = 0; u <= v; ++u) {
      const int ui0 = first[u];
      const int ui1 = first[u + 1];
      if (ui0 == ui1) continue;
      const double* vu = vt + static_cast<std::size_t>(u) * stride;
      double m = 0.0;
      for (int a = 0; a < na; ++a) m += vv[a] * vu[a];
      const double c = copies * ((u == v ? w[v] : 0.0) - m);
      if (c == 0.0) continue;
      for (int i = vi0; i < vi1; ++i) {
        const double ci = c * xf[i];
        const int last = u == v ? i + 1 : ui1;
        double* out = system + static_cast<std::size_t>(i) * n;
        for (int j = ui0; j < last; ++j) out[j] += ci * xf[j];
      }
    }
  }
}

class NewtonFit {
 public:
  NewtonFit(const Problem& problem, const FitSettings& settings) : problem_(problem), settings_(settings) {
    const int nfakt = problem.nfakt;
    first_.push_back(0);
    for (int v = 0; v < problem.nvar; ++v) {
      for (int f = 0; f < nfakt; ++f) {
        if (problem.fp[static_cast<std::size_t>(v * nfakt + f)] != 0) {
          element_.push_back(v * nfakt + f);
          factor_.push_back(f);
        }
      }
      first_.push_back(static_cast<int>(element_.size()));
    }
    const std::size_t cells = static_cast<std::size_t>(problem.nrec) * static_cast<std::size_t>(problem.nvar);
    weight_.resize(cells);
    for (std::size_t k = 0; k < cells; ++k) {
      const double u = static_cast<double>(problem.usik[k]);
      weight_[k] = u > 0 ? 1.0 / u / u : 0.0;
    }
    // A repeated record adds what its first occurrence adds: that one counts for all.
    const std::vector<int> source = record_sources(problem, problem.usik);
    copies_.assign(static_cast<std::size_t>(problem.nrec), 0);
    for (int s : source) ++copies_[static_cast<std::size_t>(s)];
    if (!settings.holds.empty()) {
      const HeldElement& h = settings.holds.front();
      if (h.factor >= problem.offset && h.value > 0) held_factor_ = h.factor;
      held_ = std::make_unique<HeldContributions>(problem, settings.holds);
    }
    const auto n = element_.size();
    gradient_.resize(n);
    system_.resize(n * n);
    z_.resize(n);
    xf_.resize(n);
  }

  // The contribution step from state.p: x, dy and the pass totals.
  bool contributions(FitState& state) {
    state.chi2 = 0.0;
    state.nytot = -state.nfree;
    std::fill(state.sum2.begin(), state.sum2.end(), 0.0);
    state.sumsq = 0.0;
    if (held_ == nullptr || !held_->step(problem_, state)) contribution_pass(problem_, settings_, state);
    ++solves_;
    return std::isfinite(state.chi2);
  }

  // The gradient of chi2 / 2 over the free elements at the state's contributions
  // and its Gauss-Newton matrix with the contributions eliminated (full square).
  void normal_equations(const FitState& state);

  // One damped step from `state`; replaces it and returns the fall of chi2 when
  // chi2 fell, else returns a value below 0 and leaves it.
  double step(FitState& state, FitState& trial);

  // The fall of chi2 that the undamped step from the latest normal equations
  // promises (its Newton decrement); also chooses the elements that move.
  double decrement(const FitState& state);

  long solves() const { return solves_; }
  bool stuck() const { return rejections_ >= kRejections; }

 private:
  // Adds record s `copies` times (the record and its repeats).
  void add_record(const FitState& state, int s, int copies);
  void choose_moving(const FitState& state);
  bool solve(double damping);

  const Problem& problem_;
  const FitSettings& settings_;
  std::unique_ptr<HeldContributions> held_;
  int held_factor_ = -1;           // the factor whose sum of contributions is kept, -1: none
  std::vector<int> element_;       // free elements e = v * nfakt + f, by variable, then factor
  std::vector<int> factor_;        // their factors
  std::vector<int> first_;         // per variable: its first position in element_ (nvar + 1)
  std::vector<double> weight_;     // 1 / u / u per value, 0 for a missing one
  std::vector<int> copies_;        // per record: how often it counts (0 for a repeat)
  std::vector<double> gradient_;   // free elements
  std::vector<double> system_;     // free elements squared
  std::vector<double> z_;          // with a held factor: the system's correction for its fixed sum
  double z_scale_ = 0.0;           // and the sum of the inverse blocks' held diagonals
  double damping_ = kFirstDamping;
  int rejections_ = 0;
  long solves_ = 0;
  // Scratch of one record's elimination.
  std::vector<int> passive_;
  std::vector<double> xf_;  // per free element: the record's contribution of its factor
  std::vector<double> h_, l_, vt_, t_;
  // Scratch of a step.
  std::vector<int> moving_;
  double largest_ = 0.0;
  std::vector<double> a_, l_step_, delta_;
};

void NewtonFit::normal_equations(const FitState& state) {
  const auto n = element_.size();
  std::fill(gradient_.begin(), gradient_.end(), 0.0);
  std::fill(system_.begin(), system_.end(), 0.0);
  std::fill(z_.begin(), z_.end(), 0.0);
  z_scale_ = 0.0;
  for (int s = 0; s < problem_.nrec; ++s) {
    if (copies_[static_cast<std::size_t>(s)] > 0) add_record(state, s, copies_[static_cast<std::size_t>(s)]);
  }
  if (held_factor_ >= 0 && z_scale_ > 0) {
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j <= i; ++j) system_[i * n + j] += z_[i] * z_[j] / z_scale_;
    }
  }
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < i; ++j) system_[j * n + i] = system_[i * n + j];
  }
}

// Record s's share of the gradient and the system (of chi2 / 2, Gauss-Newton).
// Its residuals give the gradient. For the system, with H the record's normal
// matrix over the factors its contribution step solved and B the coupling of
// those contributions to the free elements (B[a][(v, f)] = w[v] p[v][a] x[f]),
// the record adds the profile block w[v] x x' of each variable and loses
// B' H^-1 B. With U[a][v] = w[v] p[v][a] and L L' = H that is M[v][u] x x' with
// M = (L^-1 U)' (L^-1 U): the block of variables (v, u) gains (w[v] [v == u] -
// M[v][u]) x x'. With the held factor among the solved ones, the contributions
// also keep their sum: over the records, z = B' H^-1 e and c = e' H^-1 e (e the
// held factor) give back z z' / c.
void NewtonFit::add_record(const FitState& state, int s, int copies) {
  const int nfakt = problem_.nfakt;
  const int nvar = problem_.nvar;
  const auto n = element_.size();
  const double* p = state.p.data();
  const double* x = state.x.data() + static_cast<std::size_t>(s) * static_cast<std::size_t>(nfakt);
  const std::size_t row = static_cast<std::size_t>(s) * static_cast<std::size_t>(nvar);
  const double* w = weight_.data() + row;
  for (std::size_t i = 0; i < n; ++i) xf_[i] = x[factor_[i]];
  for (int v = 0; v < nvar; ++v) {
    const int i0 = first_[static_cast<std::size_t>(v)];
    const int i1 = first_[static_cast<std::size_t>(v) + 1];
    if (w[v] == 0.0 || i0 == i1) continue;
    double fit = 0.0;
    for (int f = 0; f < nfakt; ++f) fit += p[v * nfakt + f] * x[f];
    const double r = static_cast<double>(problem_.rawdata[row + static_cast<std::size_t>(v)]) - fit;
    for (int i = i0; i < i1; ++i) gradient_[static_cast<std::size_t>(i)] -= copies * w[v] * r * xf_[static_cast<std::size_t>(i)];
  }
  // The solved factors and L^-1 U (vt_, nvar x na).
  passive_.clear();
  int held_at = -1;
  for (int f = problem_.offset; f < nfakt; ++f) {
    if (x[f] == 0.0) continue;
    if (f == held_factor_) held_at = static_cast<int>(passive_.size());
    passive_.push_back(f);
  }
  int na = static_cast<int>(passive_.size());
  const auto stride = static_cast<std::size_t>(std::max(na, 1));
  vt_.assign(static_cast<std::size_t>(nvar) * stride, 0.0);
  if (na > 0) {
    h_.assign(static_cast<std::size_t>(na * na), 0.0);
    l_.resize(static_cast<std::size_t>(na * na));
    for (int v = 0; v < nvar; ++v) {
      if (w[v] == 0.0) continue;
      double* u = vt_.data() + static_cast<std::size_t>(v) * stride;
      for (int a = 0; a < na; ++a) {
        const double pa = p[v * nfakt + passive_[static_cast<std::size_t>(a)]];
        u[a] = w[v] * pa;
        for (int b = 0; b <= a; ++b) h_[static_cast<std::size_t>(a * na + b)] += w[v] * pa * p[v * nfakt + passive_[static_cast<std::size_t>(b)]];
      }
    }
    if (cholesky(h_.data(), na, l_.data())) {
      for (int v = 0; v < nvar; ++v) solve_lower(l_.data(), na, vt_.data() + static_cast<std::size_t>(v) * stride);
    } else {
      na = 0;  // left out of the elimination: the system is then only less exact
    }
  }
  add_blocks(first_.data(), nvar, vt_.data(), stride, na, w, copies, xf_.data(), system_.data(), n);
  if (held_at < 0 || na == 0) return;
  t_.assign(static_cast<std::size_t>(na), 0.0);
  t_[static_cast<std::size_t>(held_at)] = 1.0;
  solve_lower(l_.data(), na, t_.data());
  double c = 0.0;
  for (int a = 0; a < na; ++a) c += t_[static_cast<std::size_t>(a)] * t_[static_cast<std::size_t>(a)];
  z_scale_ += copies * c;
  for (int v = 0; v < nvar; ++v) {
    const double* vv = vt_.data() + static_cast<std::size_t>(v) * stride;
    double dv = 0.0;
    for (int a = 0; a < na; ++a) dv += vv[a] * t_[static_cast<std::size_t>(a)];
    dv *= copies;
    for (int i = first_[static_cast<std::size_t>(v)]; i < first_[static_cast<std::size_t>(v) + 1]; ++i) {
      z_[static_cast<std::size_t>(i)] += xf_[static_cast<std::size_t>(i)] * dv;
    }
  }
}

// The elements in the next step: all but those at 0 that chi2 pushes below 0.
void NewtonFit::choose_moving(const FitState& state) {
  const auto n = element_.size();
  moving_.clear();
  largest_ = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (state.p[static_cast<std::size_t>(element_[i])] <= 0 && gradient_[i] > 0) continue;
    moving_.push_back(static_cast<int>(i));
    largest_ = std::max(largest_, system_[i * n + i]);
  }
}

// Solves the system of the moving elements, damped by `damping` times its
// diagonal, for the step -gradient into delta_; false when it is not positive
// definite.
bool NewtonFit::solve(double damping) {
  const auto n = element_.size();
  const int k = static_cast<int>(moving_.size());
  a_.resize(static_cast<std::size_t>(k * k));
  l_step_.resize(static_cast<std::size_t>(k * k));
  delta_.resize(static_cast<std::size_t>(k));
  for (int i = 0; i < k; ++i) {
    const std::size_t si = static_cast<std::size_t>(moving_[static_cast<std::size_t>(i)]);
    for (int j = 0; j <= i; ++j) {
      a_[static_cast<std::size_t>(i * k + j)] = system_[si * n + static_cast<std::size_t>(moving_[static_cast<std::size_t>(j)])];
    }
    const double diagonal = std::max(system_[si * n + si], 1e-12 * largest_);
    a_[static_cast<std::size_t>(i * k + i)] = diagonal + damping * diagonal;
  }
  if (!cholesky(a_.data(), k, l_step_.data())) return false;
  for (int i = 0; i < k; ++i) delta_[static_cast<std::size_t>(i)] = -gradient_[static_cast<std::size_t>(moving_[static_cast<std::size_t>(i)])];
  solve_lower(l_step_.data(), k, delta_.data());
  solve_lower_transposed(l_step_.data(), k, delta_.data());
  return true;
}

double NewtonFit::decrement(const FitState& state) {
  choose_moving(state);
  if (moving_.empty() || !(largest_ > 0) || !std::isfinite(largest_)) return 0.0;
  if (!solve(kLeastDamping)) return std::numeric_limits<double>::infinity();
  // chi2 falls by about 2 g'd + d'Sd = -g'd for the full step d = -S^-1 g (g the
  // gradient of chi2 / 2).
  double fall = 0.0;
  for (std::size_t i = 0; i < moving_.size(); ++i) fall -= gradient_[static_cast<std::size_t>(moving_[i])] * delta_[i];
  return fall;
}

double NewtonFit::step(FitState& state, FitState& trial) {
  const int k = static_cast<int>(moving_.size());
  if (k == 0 || !(largest_ > 0) || !std::isfinite(largest_)) {
    rejections_ = kRejections;
    return -1.0;
  }
  while (rejections_ < kRejections) {
    if (!solve(damping_)) {
      damping_ *= 10.0;
      ++rejections_;
      continue;
    }
    const std::vector<double>& delta = delta_;
    const std::vector<int>& moving = moving_;
    trial.p.assign(state.p.begin(), state.p.end());
    trial.nfree = state.nfree;
    for (int i = 0; i < k; ++i) {
      const auto e = static_cast<std::size_t>(element_[static_cast<std::size_t>(moving[static_cast<std::size_t>(i)])]);
      trial.p[e] = std::max(0.0, state.p[e] + delta[static_cast<std::size_t>(i)]);
    }
    if (contributions(trial) && trial.chi2 < state.chi2) {
      const double fall = state.chi2 - trial.chi2;
      std::swap(state, trial);
      damping_ = std::max(damping_ / 3.0, kLeastDamping);
      rejections_ = 0;
      return fall;
    }
    damping_ *= 4.0;
    ++rejections_;
  }
  return -1.0;
}

// Rescales every solved factor's profile by its mean contribution (sum2 / nrec of
// the latest step), the normalisation the next fit starts from.
void rescale_to_mean_contributions(const Problem& problem, FitState& state) {
  const int nfakt = problem.nfakt;
  for (int f = problem.offset; f < nfakt; ++f) {
    const double mean = state.sum2[static_cast<std::size_t>(f)] / problem.nrec;
    if (!(mean > 0) || !std::isfinite(mean)) continue;
    for (int v = 0; v < problem.nvar; ++v) state.p[static_cast<std::size_t>(v * nfakt + f)] *= mean;
  }
}

}  // namespace

bool newton_fits(const Problem& problem, const FitSettings& settings) {
  if (settings.reweighting != nullptr || settings.rotate != 0.0f || settings.holds.size() > 1) return false;
  for (std::size_t k = 0; k < problem.usik.size(); ++k) {
    if (!std::isfinite(problem.usik[k])) return false;
    if (problem.usik[k] > 0 && !std::isfinite(problem.rawdata[k])) return false;
  }
  return true;
}

NewtonOutcome newton_fit(const Problem& problem, const FitSettings& settings, FitState& state, const NewtonStop& stop) {
  NewtonOutcome outcome;
  for (const HeldElement& h : settings.holds) {
    state.p[static_cast<std::size_t>(h.variable * problem.nfakt + h.factor)] = h.value;
  }
  NewtonFit fit(problem, settings);
  if (!fit.contributions(state)) {
    outcome.failed = true;
    outcome.solves = fit.solves();
    return outcome;
  }
  FitState trial = state;
  while (outcome.steps < stop.steps) {
    fit.normal_equations(state);
    const double promised = fit.decrement(state);
    if (promised < stop.tolerance) {
      outcome.converged = true;
      break;
    }
    const double fall = fit.step(state, trial);
    if (fall < 0) {
      outcome.converged = true;
      break;
    }
    ++outcome.steps;
  }
  rescale_to_mean_contributions(problem, state);
  if (!fit.contributions(state)) outcome.failed = true;
  outcome.solves = fit.solves();
  return outcome;
}


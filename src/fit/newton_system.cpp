#include "fit/newton_system.h"

#include <algorithm>
#include <cmath>
#include <limits>
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
constexpr double kFirstDamping = 0.3;
// The damping never falls below this, so the directions in which a factor's
// profile and contributions trade a common scale (no curvature) stay solvable.
constexpr double kLeastDamping = 1e-9;
// Rejected steps in a row after which the fit counts as settled.
constexpr int kRejections = 30;

// The blocks of the system two records add (see NewtonSystem::add_record):
// for each of the npairs pairs of variables k, c1[k] times xx1 and then c2[k]
// times xx2 (the outer products of the records' contributions, `cells` = nfakt
// * nfakt) into block k of blocks (cells each), in that order, as two calls for
// one record each would add them (c2 = nullptr: one record). Compiled for AVX2
// and the baseline like the engine's loops: the same IEEE operations in the same
// order either way.
NEWTON_VECTOR_CLONES
void add_blocks(const double* c1, const double* c2, int npairs, const double* __restrict xx1,
                const double* __restrict xx2, std::size_t cells, double* __restrict blocks) {
  for (int k = 0; k < npairs; ++k) {
    const double a = c1[k];
    const double b = c2 != nullptr ? c2[k] : 0.0;
    double* out = blocks + static_cast<std::size_t>(k) * cells;
    if (a != 0.0 && b != 0.0) {
      for (std::size_t e = 0; e < cells; ++e) out[e] = out[e] + a * xx1[e] + b * xx2[e];
    } else if (a != 0.0) {
      for (std::size_t e = 0; e < cells; ++e) out[e] += a * xx1[e];
    } else if (b != 0.0) {
      for (std::size_t e = 0; e < cells; ++e) out[e] += b * xx2[e];
    }
  }
}

}  // namespace

NewtonSystem::NewtonSystem(const Problem& problem, const FitSettings& settings)
    : problem_(problem), settings_(settings), damping_(kFirstDamping) {
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
  const std::size_t values = static_cast<std::size_t>(problem.nrec) * static_cast<std::size_t>(problem.nvar);
  weight_.resize(values);
  for (std::size_t k = 0; k < values; ++k) {
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
  for (int v = 0; v < problem.nvar; ++v) {
    for (int u = 0; u <= v; ++u) {
      if (first_[static_cast<std::size_t>(v)] == first_[static_cast<std::size_t>(v) + 1] ||
          first_[static_cast<std::size_t>(u)] == first_[static_cast<std::size_t>(u) + 1]) {
        continue;
      }
      pairs_.push_back(v);
      pairs_.push_back(u);
    }
  }
  const auto cells = static_cast<std::size_t>(nfakt) * static_cast<std::size_t>(nfakt);
  blocks_.resize(pairs_.size() / 2 * cells);
  coefficient_.resize(pairs_.size());  // two records' worth
  xx_.resize(2 * cells);
  const auto n = element_.size();
  gradient_.resize(n);
  system_.resize(n * n);
  z_.resize(n);
  xf_.resize(n);
}

bool NewtonSystem::contributions(FitState& state) {
  state.chi2 = 0.0;
  state.nytot = -state.nfree;
  std::fill(state.sum2.begin(), state.sum2.end(), 0.0);
  state.sumsq = 0.0;
  held_step_ = held_ != nullptr && held_->step(problem_, state);
  if (!held_step_) contribution_pass(problem_, settings_, state);
  ++solves_;
  return std::isfinite(state.chi2);
}

void NewtonSystem::flush_blocks(bool two) {
  const std::size_t npairs = pairs_.size() / 2;
  const std::size_t cells = xx_.size() / 2;
  add_blocks(coefficient_.data(), two ? coefficient_.data() + npairs : nullptr, static_cast<int>(npairs),
             xx_.data(), xx_.data() + cells, cells, blocks_.data());
  pending_ = 0;
}

void NewtonSystem::normal_equations(const FitState& state) {
  const auto n = element_.size();
  std::fill(gradient_.begin(), gradient_.end(), 0.0);
  std::fill(blocks_.begin(), blocks_.end(), 0.0);
  std::fill(z_.begin(), z_.end(), 0.0);
  z_scale_ = 0.0;
  for (int s = 0; s < problem_.nrec; ++s) {
    if (copies_[static_cast<std::size_t>(s)] > 0) add_record(state, s, copies_[static_cast<std::size_t>(s)]);
  }
  if (pending_ == 1) flush_blocks(false);
  // The blocks of the variable pairs into the lower triangle: element (v, f) by
  // (u, g) is entry (f, g) of the pair's block.
  const auto nfakt = static_cast<std::size_t>(problem_.nfakt);
  const std::size_t cells = nfakt * nfakt;
  std::fill(system_.begin(), system_.end(), 0.0);
  for (std::size_t k = 0; k < pairs_.size() / 2; ++k) {
    const auto v = static_cast<std::size_t>(pairs_[2 * k]);
    const auto u = static_cast<std::size_t>(pairs_[2 * k + 1]);
    const double* block = blocks_.data() + k * cells;
    for (int i = first_[v]; i < first_[v + 1]; ++i) {
      const double* row = block + static_cast<std::size_t>(factor_[static_cast<std::size_t>(i)]) * nfakt;
      const int last = u == v ? i + 1 : first_[u + 1];
      double* out = system_.data() + static_cast<std::size_t>(i) * n;
      for (int j = first_[u]; j < last; ++j) out[j] = row[factor_[static_cast<std::size_t>(j)]];
    }
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
void NewtonSystem::add_record(const FitState& state, int s, int copies) {
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
  // The solved factors, and L^-1 U (ut_, na x nvar) solved for every variable at once.
  passive_.clear();
  int held_at = -1;
  for (int f = problem_.offset; f < nfakt; ++f) {
    if (x[f] == 0.0) continue;
    if (f == held_factor_) held_at = static_cast<int>(passive_.size());
    passive_.push_back(f);
  }
  int na = static_cast<int>(passive_.size());
  const auto columns = static_cast<std::size_t>(nvar);
  ut_.assign(static_cast<std::size_t>(std::max(na, 1)) * columns, 0.0);
  if (na > 0) {
    l_.resize(static_cast<std::size_t>(na * na));
    for (int v = 0; v < nvar; ++v) {
      if (w[v] == 0.0) continue;
      for (int a = 0; a < na; ++a) {
        ut_[static_cast<std::size_t>(a) * columns + static_cast<std::size_t>(v)] =
            w[v] * p[v * nfakt + passive_[static_cast<std::size_t>(a)]];
      }
    }
    // The held contribution step has factored H already when it solved the same
    // factors; otherwise H is made here.
    bool factored = held_step_ && held_->solved_factor(problem_, s, passive_, l_.data());
    if (!factored) {
      h_.assign(static_cast<std::size_t>(na * na), 0.0);
      for (int v = 0; v < nvar; ++v) {
        if (w[v] == 0.0) continue;
        for (int a = 0; a < na; ++a) {
          const double pa = p[v * nfakt + passive_[static_cast<std::size_t>(a)]];
          for (int b = 0; b <= a; ++b) h_[static_cast<std::size_t>(a * na + b)] += w[v] * pa * p[v * nfakt + passive_[static_cast<std::size_t>(b)]];
        }
      }
      factored = cholesky_lower(h_.data(), na, l_.data());
    }
    if (factored) {
      // Row a of L^-1 U: row a of U less the earlier rows times L's row, over
      // the pivot (as its reciprocal).
      for (int a = 0; a < na; ++a) {
        double* target = ut_.data() + static_cast<std::size_t>(a) * columns;
        for (int b = 0; b < a; ++b) {
          const double lab = l_[static_cast<std::size_t>(a * na + b)];
          const double* earlier = ut_.data() + static_cast<std::size_t>(b) * columns;
          for (std::size_t v = 0; v < columns; ++v) target[v] -= lab * earlier[v];
        }
        const double reciprocal = 1.0 / l_[static_cast<std::size_t>(a * na + a)];
        for (std::size_t v = 0; v < columns; ++v) target[v] *= reciprocal;
      }
    } else {
      na = 0;  // left out of the elimination: the system is then only less exact
    }
  }
  // M = (L^-1 U)' (L^-1 U) (lower triangle), and each pair's coefficient of the
  // outer product.
  mm_.assign(columns * columns, 0.0);
  for (int a = 0; a < na; ++a) {
    const double* solved = ut_.data() + static_cast<std::size_t>(a) * columns;
    for (std::size_t v = 0; v < columns; ++v) {
      double* out = mm_.data() + v * columns;
      for (std::size_t u = 0; u <= v; ++u) out[u] += solved[v] * solved[u];
    }
  }
  const std::size_t npairs = pairs_.size() / 2;
  for (std::size_t k = 0; k < npairs; ++k) {
    const auto v = static_cast<std::size_t>(pairs_[2 * k]);
    const auto u = static_cast<std::size_t>(pairs_[2 * k + 1]);
    coefficient_[static_cast<std::size_t>(pending_) * npairs + k] = copies * ((u == v ? w[v] : 0.0) - mm_[v * columns + u]);
  }
  double* xx = xx_.data() + static_cast<std::size_t>(pending_) * static_cast<std::size_t>(nfakt * nfakt);
  for (int f = 0; f < nfakt; ++f) {
    for (int g = 0; g < nfakt; ++g) xx[static_cast<std::size_t>(f * nfakt + g)] = x[f] * x[g];
  }
  // Records are added two at a time, which halves the passes over the blocks.
  if (pending_ == 0) {
    pending_ = 1;
  } else {
    flush_blocks(true);
  }
  if (held_at < 0 || na == 0) return;
  t_.assign(static_cast<std::size_t>(na), 0.0);
  t_[static_cast<std::size_t>(held_at)] = 1.0;
  solve_lower(l_.data(), na, t_.data());
  double c = 0.0;
  for (int a = 0; a < na; ++a) c += t_[static_cast<std::size_t>(a)] * t_[static_cast<std::size_t>(a)];
  z_scale_ += copies * c;
  for (int v = 0; v < nvar; ++v) {
    double dv = 0.0;
    for (int a = 0; a < na; ++a) {
      dv += ut_[static_cast<std::size_t>(a) * columns + static_cast<std::size_t>(v)] * t_[static_cast<std::size_t>(a)];
    }
    dv *= copies;
    for (int i = first_[static_cast<std::size_t>(v)]; i < first_[static_cast<std::size_t>(v) + 1]; ++i) {
      z_[static_cast<std::size_t>(i)] += xf_[static_cast<std::size_t>(i)] * dv;
    }
  }
}

// The elements in the next step: all but those at 0 that chi2 pushes below 0.
void NewtonSystem::choose_moving(const FitState& state) {
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
bool NewtonSystem::solve(double damping) {
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
  if (!cholesky_lower(a_.data(), k, l_step_.data())) return false;
  for (int i = 0; i < k; ++i) delta_[static_cast<std::size_t>(i)] = -gradient_[static_cast<std::size_t>(moving_[static_cast<std::size_t>(i)])];
  solve_lower(l_step_.data(), k, delta_.data());
  solve_lower_transposed(l_step_.data(), k, delta_.data());
  return true;
}

double NewtonSystem::decrement(const FitState& state) {
  choose_moving(state);
  if (moving_.empty() || !(largest_ > 0) || !std::isfinite(largest_)) return 0.0;
  if (!solve(kLeastDamping)) return std::numeric_limits<double>::infinity();
  // chi2 falls by about 2 g'd + d'Sd = -g'd for the full step d = -S^-1 g (g the
  // gradient of chi2 / 2).
  double fall = 0.0;
  for (std::size_t i = 0; i < moving_.size(); ++i) fall -= gradient_[static_cast<std::size_t>(moving_[i])] * delta_[i];
  return fall;
}

double NewtonSystem::step(FitState& state, FitState& trial) {
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


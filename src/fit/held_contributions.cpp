#include "fit/held_contributions.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "fit/repeated_records.h"
#include "fit/triangular.h"

namespace {

// A held factor's sum is met when it is this close to its target (relative).
constexpr double kSumTolerance = 1e-13;
// Rounds of the multiplier search over the held factors, one factor at a time.
constexpr int kRounds = 60;
// Trials of one held factor's multiplier in one round.
constexpr int kTrials = 100;

// Cholesky factor of the block of g (order n, row stride n) on the factors
// `index[0 .. m - 1]`, into l (lower, row stride n), from row `start` on: the
// rows above are those of the same factors before (dropping a factor changes
// only the rows from its position). Returns the position in index of the first
// pivot that is not clearly positive, or -1 when the block is positive definite.
// rdiag[i] is the reciprocal of l's diagonal element i, which the solves
// multiply by.
int cholesky(const double* g, int n, const int* index, int m, int start, double* l, double* rdiag) {
  for (int i = start; i < m; ++i) {
    for (int j = 0; j <= i; ++j) {
      double sum = g[index[i] * n + index[j]];
      for (int k = 0; k < j; ++k) sum -= l[i * n + k] * l[j * n + k];
      if (i == j) {
        const double diag = g[index[i] * n + index[i]];
        if (!(sum > 1e-13 * diag) || !(diag > 0)) return i;
        l[i * n + i] = std::sqrt(sum);
        rdiag[i] = 1.0 / l[i * n + i];
      } else {
        l[i * n + j] = sum * rdiag[j];
      }
    }
  }
  return -1;
}

// Drops position k of index[0 .. *m - 1].
void drop(int* index, int* m, int k) {
  for (int i = k; i < *m - 1; ++i) index[static_cast<std::size_t>(i)] = index[static_cast<std::size_t>(i + 1)];
  --*m;
}

// The Cholesky factor a record's solve starts from: of the block of g (order
// n) on all factors, less those whose block is not positive definite with the
// others (dropped in turn, first bad pivot first). Leaves the factors kept in
// index[0 .. *m - 1] and the factor in l (row stride n), its diagonal's
// reciprocals in rdiag. It does not depend on the multipliers, so a step makes it
// once per record.
void first_factor(const double* g, int n, int* index, int* m, double* l, double* rdiag) {
  *m = n;
  for (int i = 0; i < n; ++i) index[static_cast<std::size_t>(i)] = i;
  int start = 0;
  for (;;) {
    const int bad = cholesky(g, n, index, *m, start, l, rdiag);
    if (bad < 0) return;
    drop(index, m, bad);
    start = bad;
  }
}

// One record's least squares in normal form, minimising x'g x / 2 - c'x (order
// n), kept non-negative by elimination as the fit's own contribution step does:
// solve over the active factors, drop the most negative one (ties: the lower
// position), again, until none is negative or one factor is left (which keeps
// its value, negative or not). A factor whose block is not positive definite
// with the others is dropped first (first_factor's index, m0 factors, its
// factor l0 and reciprocals rdiag0 start the solve). On return x is the solution, passive[i]
// whether factor i was solved, and inverse_diag[h] the diagonal element of the
// solved block's inverse at held factor held[h] (0 when it is not solved): how
// fast that factor's contribution falls as its multiplier rises.
void solve_record(const double* g, const double* c, int n, const int* index0, int m0, const double* l0,
                  const double* rdiag0, double* x, int* passive, const std::vector<int>& held, double* inverse_diag,
                  double* work_a, double* work_r, double* work_z, double* work_c, int* work_index) {
  int* index = work_index;
  int m = m0;
  std::copy_n(index0, m0, index);
  std::copy_n(l0, n * n, work_a);
  std::copy_n(rdiag0, n, work_r);
  int start = m;  // the rows from here on are to be factored
  for (;;) {
    const int bad = cholesky(g, n, index, m, start, work_a, work_r);
    if (bad >= 0) {
      drop(index, &m, bad);
      start = bad;
      continue;
    }
    for (int k = 0; k < m; ++k) work_z[k] = c[index[static_cast<std::size_t>(k)]];
    solve_lower_reciprocal(work_a, n, work_r, m, work_z);
    solve_lower_transposed_reciprocal(work_a, n, work_r, m, work_z);
    double min = 0.0;
    int kmin = 0;
    for (int k = 0; k < m; ++k) {
      if (work_z[k] < min) {
        min = work_z[k];
        kmin = k;
      }
    }
    if (!(min < 0 && m >= 2)) break;
    drop(index, &m, kmin);
    start = kmin;
  }
  for (int i = 0; i < n; ++i) {
    x[i] = 0.0;
    passive[i] = 0;
  }
  for (int k = 0; k < m; ++k) {
    x[index[static_cast<std::size_t>(k)]] = work_z[k];
    passive[index[static_cast<std::size_t>(k)]] = 1;
  }
  for (std::size_t h = 0; h < held.size(); ++h) {
    inverse_diag[h] = 0.0;
    if (passive[held[h]] == 0) continue;
    int at = 0;
    for (int k = 0; k < m; ++k) {
      if (index[static_cast<std::size_t>(k)] == held[h]) at = k;
    }
    // The diagonal element of (l l')^-1 at `at` is |l^-1 e|^2, and l^-1 e is 0
    // above `at`: only the block of l from `at` on is solved.
    std::fill(work_c + at, work_c + m, 0.0);
    work_c[at] = 1.0;
    solve_lower_reciprocal(work_a + at * n + at, n, work_r + at, m - at, work_c + at);
    double sum2 = 0.0;
    for (int i = at; i < m; ++i) sum2 += work_c[i] * work_c[i];
    inverse_diag[h] = sum2;
  }
}

// out += scale * in over `count` elements, each on its own.
void add_scaled(double scale, const double* __restrict in, std::size_t count, double* __restrict out) {
  for (std::size_t k = 0; k < count; ++k) out[k] += scale * in[k];
}

}  // namespace

HeldContributions::HeldContributions(const Problem& problem, const std::vector<HeldElement>& holds)
    : n_(problem.nfakt - problem.offset) {
  for (const HeldElement& h : holds) {
    if (h.factor < problem.offset || !(h.value > 0)) continue;
    if (std::find(factor_.begin(), factor_.end(), h.factor) != factor_.end()) continue;
    factor_.push_back(h.factor);
    variable_.push_back(h.variable);
    value_.push_back(h.value);
  }
  target_.assign(factor_.size(), 0.0);
  for (int f : factor_) held_at_.push_back(f - problem.offset);
  lambda_.assign(factor_.size(), 0.0);
  const auto records = static_cast<std::size_t>(problem.nrec);
  const auto n = static_cast<std::size_t>(n_);
  g_.resize(records * n * n);
  b_.resize(records * n);
  x_.assign(records * n, 0.0);
  inverse_diag_.assign(records * factor_.size(), 0.0);
  passive_.assign(records * n, 0);
  work_z_.resize(n);
  work_c_.resize(n);
  work_rhs_.resize(n);
  work_index_.resize(n);
  outer_.resize(static_cast<std::size_t>(problem.nvar) * n * n);
  first_l_.resize(records * n * n);
  first_rdiag_.resize(records * n);
  work_r_.resize(n);
  final_l_.resize(records * n * n);
  first_index_.resize(records * n);
  first_size_.resize(records);
}

void HeldContributions::solve_all(const Problem& problem) {
  const auto n = static_cast<std::size_t>(n_);
  const auto held = factor_.size();
  std::vector<int>& held_at = held_at_;
  std::vector<double>& c = work_rhs_;
  for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) {
    const auto first = static_cast<std::size_t>(source_[s]);
    if (first != s) {  // a repeated record takes its first occurrence's solution
      std::copy_n(x_.data() + first * n, n, x_.data() + s * n);
      std::copy_n(passive_.data() + first * n, n, passive_.data() + s * n);
      std::copy_n(inverse_diag_.data() + first * held, held, inverse_diag_.data() + s * held);
      continue;
    }
    std::copy_n(b_.data() + s * n, n, c.data());
    for (std::size_t h = 0; h < held; ++h) c[static_cast<std::size_t>(held_at[h])] -= lambda_[h];
    solve_record(g_.data() + s * n * n, c.data(), n_, first_index_.data() + s * n, first_size_[s],
                 first_l_.data() + s * n * n, first_rdiag_.data() + s * n, x_.data() + s * n,
                 passive_.data() + s * n, held_at, inverse_diag_.data() + s * held, final_l_.data() + s * n * n,
                 work_r_.data(), work_z_.data(), work_c_.data(), work_index_.data());
  }
}

bool HeldContributions::solved_factor(const Problem& problem, int s, const std::vector<int>& factors, double* l) const {
  const auto n = static_cast<std::size_t>(n_);
  const auto record = static_cast<std::size_t>(source_[static_cast<std::size_t>(s)]);
  const int* passive = passive_.data() + record * n;
  std::size_t solved = 0;
  for (std::size_t i = 0; i < n; ++i) solved += passive[i] != 0 ? 1 : 0;
  if (solved != factors.size()) return false;
  for (int f : factors) {
    if (f < problem.offset || passive[static_cast<std::size_t>(f - problem.offset)] == 0) return false;
  }
  const double* factor = final_l_.data() + record * n * n;
  const std::size_t m = factors.size();
  for (std::size_t i = 0; i < m; ++i) {
    for (std::size_t j = 0; j <= i; ++j) l[i * m + j] = factor[i * n + j];
  }
  return true;
}

double HeldContributions::held_sum(const Problem& problem, int h) const {
  const auto n = static_cast<std::size_t>(n_);
  const auto at = static_cast<std::size_t>(factor_[static_cast<std::size_t>(h)] - problem.offset);
  double sum = 0.0;
  for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) sum += x_[s * n + at];
  return sum;
}

double HeldContributions::held_slope(const Problem& problem, int h) const {
  const std::size_t held = factor_.size();
  double slope = 0.0;
  for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) {
    slope -= inverse_diag_[s * held + static_cast<std::size_t>(h)];
  }
  return slope;
}

void HeldContributions::search(const Problem& problem, int h) {
  const auto k = static_cast<std::size_t>(h);
  const double target = target_[k];
  constexpr double kNone = std::numeric_limits<double>::quiet_NaN();
  // The sum falls as the multiplier rises: `left` is the largest multiplier tried
  // whose sum is above the target, `right` the smallest whose sum is below.
  double left = kNone;
  double right = kNone;
  // A scale for the first moves of a multiplier at which the factor is nowhere solved.
  double scale = std::fabs(lambda_[k]);
  const auto n = static_cast<std::size_t>(n_);
  const auto at = static_cast<std::size_t>(factor_[k] - problem.offset);
  for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) scale = std::max(scale, std::fabs(b_[s * n + at]));
  if (!(scale > 0)) scale = 1.0;
  for (int trial = 0; trial < kTrials; ++trial) {
    const double sum = held_sum(problem, h);
    if (std::fabs(sum - target) <= kSumTolerance * target) return;
    double& lambda = lambda_[k];
    if (sum > target) {
      left = lambda;
    } else {
      right = lambda;
    }
    if (!std::isnan(left) && !std::isnan(right) && right - left <= 1e-15 * std::max(std::fabs(left), std::fabs(right))) {
      return;
    }
    const double slope = held_slope(problem, h);
    double next = slope < 0 ? lambda + (target - sum) / slope : lambda - 2.0 * scale;
    if (!std::isnan(left) && !(next > left)) next = std::isnan(right) ? left + 2.0 * (scale + std::fabs(left)) : kNone;
    if (!std::isnan(right) && !(next < right)) next = std::isnan(left) ? right - 2.0 * (scale + std::fabs(right)) : kNone;
    if (std::isnan(next)) next = left + 0.5 * (right - left);
    scale *= 2.0;
    lambda = next;
    solve_all(problem);
  }
}

bool HeldContributions::step(const Problem& problem, FitState& state) {
  if (factor_.empty()) return false;
  const int nfakt = problem.nfakt;
  const int nvar = problem.nvar;
  const int offset = problem.offset;
  const auto n = static_cast<std::size_t>(n_);
  const double* p = state.p.data();
  // Each held factor's sum of contributions: nrec * value / element.
  for (std::size_t h = 0; h < factor_.size(); ++h) {
    const double element = p[static_cast<std::size_t>(variable_[h]) * static_cast<std::size_t>(nfakt) +
                             static_cast<std::size_t>(factor_[h])];
    target_[h] = problem.nrec * value_[h] / element;
    if (!(target_[h] > 0) || !std::isfinite(target_[h])) return false;
  }
  // Every record's normal equations: g = sum over the measured variables of
  // weight times the outer product of the variable's profile row (made once per
  // step), b = sum of weight times the value, less the offset's part, times the row.
  const std::vector<float>& usik = weighing_usik(problem, state);
  source_ = record_sources(problem, usik);
  const std::size_t cells = n * n;
  for (int v = 0; v < nvar; ++v) {
    const double* pv = p + static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt) + offset;
    double* outer = outer_.data() + static_cast<std::size_t>(v) * cells;
    for (std::size_t i = 0; i < n; ++i) {
      for (std::size_t j = 0; j < n; ++j) outer[i * n + j] = pv[i] * pv[j];
    }
  }
  for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) {
    if (source_[s] != static_cast<int>(s)) continue;  // solved as its first occurrence
    double* g = g_.data() + s * cells;
    double* b = b_.data() + s * n;
    std::fill_n(g, cells, 0.0);
    std::fill_n(b, n, 0.0);
    const std::size_t row = s * static_cast<std::size_t>(nvar);
    for (int v = 0; v < nvar; ++v) {
      const double y = static_cast<double>(problem.rawdata[row + static_cast<std::size_t>(v)]);
      const double w = static_cast<double>(usik[row + static_cast<std::size_t>(v)]);
      if (!std::isfinite(y) || !std::isfinite(w)) return false;
      if (!(w > 0)) continue;
      const double weight = 1.0 / (w * w);
      const double* pv = p + static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt);
      const double yv = (y - offset * pv[0]) * weight;
      for (int i = 0; i < n_; ++i) b[i] += yv * pv[i + offset];
      add_scaled(weight, outer_.data() + static_cast<std::size_t>(v) * cells, cells, g);
    }
    for (std::size_t k = 0; k < cells; ++k) {
      if (!std::isfinite(g[k])) return false;
    }
    for (std::size_t k = 0; k < n; ++k) {
      if (!std::isfinite(b[k])) return false;
    }
    first_factor(g, n_, first_index_.data() + s * n, &first_size_[s], first_l_.data() + s * cells,
                 first_rdiag_.data() + s * n);
  }
  solve_all(problem);
  // Rounds until every sum is met, or a round no longer halves the largest miss
  // (a sum that no multiplier reaches, such as a factor without a measured
  // variable, stays as near as the search got).
  double previous_miss = std::numeric_limits<double>::infinity();
  for (int round = 0; round < kRounds; ++round) {
    for (int h = 0; h < static_cast<int>(factor_.size()); ++h) search(problem, h);
    double miss = 0.0;
    for (int h = 0; h < static_cast<int>(factor_.size()); ++h) {
      const double target = target_[static_cast<std::size_t>(h)];
      miss = std::max(miss, std::fabs(held_sum(problem, h) - target) / target);
    }
    if (miss <= 10.0 * kSumTolerance || !(miss < 0.5 * previous_miss)) break;
    previous_miss = miss;
  }
  // The contributions, residuals and pass totals, as the ordinary step gives them
  // (summed in local variables, in the same order).
  std::vector<double> x(static_cast<std::size_t>(nfakt));
  double chi2 = state.chi2;
  double sumsq = state.sumsq;
  long long nytot = state.nytot;
  for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) {
    int solved = 0;
    for (int f = 0; f < nfakt; ++f) {
      x[static_cast<std::size_t>(f)] = f < offset ? 1.0 : x_[s * n + static_cast<std::size_t>(f - offset)];
      if (f >= offset && passive_[s * n + static_cast<std::size_t>(f - offset)] != 0) ++solved;
    }
    std::copy(x.begin(), x.end(), state.x.begin() + static_cast<std::ptrdiff_t>(s * static_cast<std::size_t>(nfakt)));
    nytot += nvar - solved;
    for (int f = 0; f < nfakt; ++f) {
      const double xf = x[static_cast<std::size_t>(f)];
      if (xf == 0.0) continue;
      state.sum2[static_cast<std::size_t>(f)] += xf;
      sumsq += xf * xf;
    }
    const std::size_t row = s * static_cast<std::size_t>(nvar);
    for (int v = 0; v < nvar; ++v) {
      double fit = 0.0;
      for (int f = 0; f < nfakt; ++f) {
        fit += p[static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt) + static_cast<std::size_t>(f)] *
               x[static_cast<std::size_t>(f)];
      }
      const float residual =
          static_cast<float>(static_cast<double>(problem.rawdata[row + static_cast<std::size_t>(v)]) - fit);
      state.dy[row + static_cast<std::size_t>(v)] = residual;
      const double w = static_cast<double>(problem.usik[row + static_cast<std::size_t>(v)]);  // plain, also in robust mode
      if (w > 0) chi2 += static_cast<double>(residual) * static_cast<double>(residual) / w / w;
    }
  }
  state.chi2 = chi2;
  state.sumsq = sumsq;
  state.nytot = static_cast<int>(nytot);
  return true;
}

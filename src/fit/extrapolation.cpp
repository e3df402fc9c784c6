#include "fit/extrapolation.h"

#include <cassert>
#include <cmath>
#include <cstddef>
#include <utility>

namespace {

// Solves the n x n system a g = b (a row-major, both taken by value) by Gaussian
// elimination with partial pivoting; false when a pivot is zero or not finite.
bool solve_small(std::vector<double> a, std::vector<double> b, std::size_t n, std::vector<double>* g) {
  for (std::size_t c = 0; c < n; ++c) {
    std::size_t pivot = c;
    for (std::size_t r = c + 1; r < n; ++r) {
      if (std::fabs(a[r * n + c]) > std::fabs(a[pivot * n + c])) pivot = r;
    }
    const double largest = a[pivot * n + c];
    if (largest == 0.0 || !std::isfinite(largest)) return false;
    if (pivot != c) {
      for (std::size_t k = 0; k < n; ++k) std::swap(a[c * n + k], a[pivot * n + k]);
      std::swap(b[c], b[pivot]);
    }
    for (std::size_t r = c + 1; r < n; ++r) {
      const double m = a[r * n + c] / a[c * n + c];
      for (std::size_t k = c; k < n; ++k) a[r * n + k] = a[r * n + k] - m * a[c * n + k];
      b[r] = b[r] - m * b[c];
    }
  }
  g->assign(n, 0.0);
  for (std::size_t c = n; c-- > 0;) {
    double sum = b[c];
    for (std::size_t k = c + 1; k < n; ++k) sum = sum - a[c * n + k] * (*g)[k];
    (*g)[c] = sum / a[c * n + c];
  }
  return true;
}

}  // namespace

bool anderson_step(const std::vector<PassMap>& passes, std::vector<double>* next) {
  assert(passes.size() >= 2);
  const std::size_t n = passes.back().to.size();
  const std::size_t m = passes.size() - 1;
  // Column j of dF and dG: the change of f = to - from and of `to` from pass j to j + 1.
  std::vector<double> df(m * n);
  std::vector<double> dg(m * n);
  for (std::size_t j = 0; j < m; ++j) {
    const PassMap& a = passes[j];
    const PassMap& b = passes[j + 1];
    for (std::size_t at = 0; at < n; ++at) {
      df[j * n + at] = (b.to[at] - b.from[at]) - (a.to[at] - a.from[at]);
      dg[j * n + at] = b.to[at] - a.to[at];
    }
  }
  const PassMap& last = passes.back();
  std::vector<double> normal(m * m);
  std::vector<double> right(m);
  double trace = 0.0;
  for (std::size_t i = 0; i < m; ++i) {
    for (std::size_t j = 0; j < m; ++j) {
      double sum = 0.0;
      for (std::size_t at = 0; at < n; ++at) sum += df[i * n + at] * df[j * n + at];
      normal[i * m + j] = sum;
    }
    double sum = 0.0;
    for (std::size_t at = 0; at < n; ++at) sum += df[i * n + at] * (last.to[at] - last.from[at]);
    right[i] = sum;
    trace += normal[i * m + i];
  }
  // The ridge keeps nearly parallel changes (common once the fit has nearly settled) solvable.
  for (std::size_t i = 0; i < m; ++i) normal[i * m + i] = normal[i * m + i] + 1e-10 * trace;
  std::vector<double> gamma;
  if (!solve_small(normal, right, m, &gamma)) return false;
  next->resize(n);
  for (std::size_t at = 0; at < n; ++at) {
    double value = last.to[at];
    for (std::size_t j = 0; j < m; ++j) value = value - gamma[j] * dg[j * n + at];
    (*next)[at] = value;
  }
  return true;
}

void keep_bounds(const Problem& problem, const std::vector<double>& p, std::vector<double>* pushed) {
  assert(pushed->size() == p.size() && problem.fp.size() == p.size());
  for (std::size_t at = 0; at < p.size(); ++at) {
    if (problem.fp[at] == 0) {
      (*pushed)[at] = p[at];
    } else if (!((*pushed)[at] > 0.0)) {
      (*pushed)[at] = 0.0;  // a NaN as well
    }
  }
}

bool Extrapolation::propose(const Problem& problem, const FitState& state, std::vector<double>* pushed) {
  if (previous_damp_ != 1 || state.damp != 1) {
    passes_.clear();
    waited_ = 0;
    return false;
  }
  // The previous pass: what it started from and what its profile step left.
  if (passes_.size() == static_cast<std::size_t>(kDepth) + 1) {
    PassMap oldest = std::move(passes_.front());  // its buffers are reused
    passes_.erase(passes_.begin());
    passes_.push_back(std::move(oldest));
  } else {
    passes_.emplace_back();
  }
  passes_.back().from.assign(previous_.begin(), previous_.end());
  passes_.back().to.assign(state.p.begin(), state.p.end());
  if (++waited_ < kEvery || passes_.size() < 2) return false;
  waited_ = 0;
  if (!anderson_step(passes_, pushed)) return false;
  keep_bounds(problem, state.p, pushed);
  return true;
}

void Extrapolation::started(const FitState& state) {
  previous_.assign(state.p.begin(), state.p.end());
  previous_damp_ = state.damp;
}

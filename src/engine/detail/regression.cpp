#include "engine/engine.h"

#include <cassert>
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/detail/cross_products.h"
#include "engine/detail/literal_kernels.h"
#include "engine/detail/lane_matrixinv.h"
#include "parallel/workers.h"

namespace {

constexpr int kBlock = 256;  // records swept for all of a thread's variables at a time

// Adds the squared weighted residuals of records [begin, end) of variable v to sum.
double add_chi_square(const Problem& problem, const FitState& state, std::size_t v, int begin, int end, double sum) {
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const std::vector<float>& usik = weighing_usik(problem, state);
  for (int s = begin; s < end; ++s) {
    const std::size_t cell = static_cast<std::size_t>(s) * nvar + v;
    if (usik[cell] > 0) {
      const double q = static_cast<double>(state.dy[cell]) / static_cast<double>(usik[cell]);
      sum += q * q;
    }
  }
  return sum;
}

// Chi-square of every variable, each summed over the records in order.
std::vector<double> chi_squares(const Problem& problem, const FitState& state, int threads) {
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  std::vector<double> chi(nvar, 0.0);
  run_on_threads(threads, [&](int t) {
    for (int begin = 0; begin < problem.nrec; begin += kBlock) {
      const int end = std::min(problem.nrec, begin + kBlock);
      for (std::size_t v = static_cast<std::size_t>(t); v < nvar; v += static_cast<std::size_t>(threads)) {
        chi[v] = add_chi_square(problem, state, v, begin, end, chi[v]);
      }
    }
  });
  return chi;
}

// Coefficients and standard errors of one variable from its summed normal
// equations over all factors. Returns false, leaving coef and se undefined, when a
// value that is not finite turned up on the way.
bool solve_finite(const Problem& problem, const CrossSums& sums, double* coef, double* se, std::vector<double>& a,
                  std::vector<int>& ik, std::vector<int>& jk) {
  const int nfakt = problem.nfakt;
  const int width = lanes_width(nfakt);  // row stride of a
  // A scale that is not a number makes every weight, and so every sum of a
  // measured variable, not a number; an infinite one only makes the weights zero.
  if (!sums.finite()) return false;
  for (int f = 0; f < nfakt; ++f) {
    for (int g = f; g < nfakt; ++g) {
      const double sum = sums.a[static_cast<std::size_t>(pair_index(nfakt, f, g))];
      a[static_cast<std::size_t>(f * width + g)] = sum;
      a[static_cast<std::size_t>(g * width + f)] = sum;
    }
  }
  double det;
  if (!invert_finite(a.data(), width, nfakt, &det, ik.data(), jk.data())) return false;
  for (int f = 0; f < nfakt; ++f) {
    double sum = 0.0;
    for (int g = 0; g < nfakt; ++g) sum += a[static_cast<std::size_t>(f * width + g)] * sums.b[static_cast<std::size_t>(g)];
    if (!std::isfinite(sum)) return false;
    coef[f] = sum;
    // The square root of a negative diagonal element is the one default NaN.
    se[f] = std::sqrt(a[static_cast<std::size_t>(f * width + f)]);
  }
  return true;
}

// The solve of one variable, by the literal regression where values are not finite.
struct VariableSolver {
  explicit VariableSolver(const Problem& problem)
      : literal(problem),
        a(static_cast<std::size_t>(problem.nfakt) * static_cast<std::size_t>(lanes_width(problem.nfakt))),
        ik(static_cast<std::size_t>(problem.nfakt)),
        jk(static_cast<std::size_t>(problem.nfakt)) {}
  void solve(const Problem& problem, const FitState& state, const CrossSums& sums, double* coef, double* se) {
    if (!solve_finite(problem, sums, coef, se, a, ik, jk)) literal::regression(problem, state, sums.v, literal, coef, se);
  }
  literal::Scratch literal;
  std::vector<double> a;
  std::vector<int> ik, jk;
};

CrossSums all_factors(const FitState& state, int v, double chi) {
  CrossSums sums;
  sums.v = v;
  sums.scaled = true;
  sums.scale = chi / state.ny[static_cast<std::size_t>(v)];
  return sums;
}

}  // namespace

void regressions(const Problem& problem, const FitState& state, int threads_wanted, double* chi, double* coef, double* se) {
  assert(problem.consistent() && state.fits(problem) && threads_wanted >= 1);
  const double work = static_cast<double>(problem.nrec) * problem.nvar * problem.nfakt * (problem.nfakt + 1) / 2;
  const int threads = std::min(threads_for(work, threads_wanted), problem.nvar);
  const std::vector<double> chis = chi_squares(problem, state, threads);
  std::vector<CrossSums> sums;
  sums.reserve(static_cast<std::size_t>(problem.nvar));
  for (int v = 0; v < problem.nvar; ++v) sums.push_back(all_factors(state, v, chis[static_cast<std::size_t>(v)]));
  accumulate_cross_sums(problem, state, problem.rawdata.data(), sums, threads);
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  VariableSolver solver(problem);
  for (int v = 0; v < problem.nvar; ++v) {
    const std::size_t row = static_cast<std::size_t>(v) * nfakt;
    chi[v] = chis[static_cast<std::size_t>(v)];
    solver.solve(problem, state, sums[static_cast<std::size_t>(v)], coef + row, se + row);
  }
}

double regression(const Problem& problem, const FitState& state, int v, double* coef, double* se) {
  assert(problem.consistent() && state.fits(problem) && v >= 0 && v < problem.nvar);
  const double chi = add_chi_square(problem, state, static_cast<std::size_t>(v), 0, problem.nrec, 0.0);
  std::vector<CrossSums> sums{all_factors(state, v, chi)};
  accumulate_cross_sums(problem, state, problem.rawdata.data(), sums, 1);
  VariableSolver solver(problem);
  solver.solve(problem, state, sums[0], coef, se);
  return chi;
}

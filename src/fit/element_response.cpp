#include "fit/element_response.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "fit/newton_system.h"
#include "fit/triangular.h"

namespace {

// The system's diagonal is raised by this fraction, so that the Cholesky factor
// exists where a direction is only nearly flat.
constexpr double kRidge = 1e-10;

// The Cholesky factor l of the system s (order n) on the `kept` elements, its
// diagonal raised by kRidge; false when that block is singular.
bool factor_block(const std::vector<double>& s, std::size_t n, const std::vector<int>& kept, std::vector<double>& a,
                  std::vector<double>& l) {
  const int m = static_cast<int>(kept.size());
  a.assign(static_cast<std::size_t>(m) * static_cast<std::size_t>(m), 0.0);
  l.assign(a.size(), 0.0);
  for (int i = 0; i < m; ++i) {
    const auto si = static_cast<std::size_t>(kept[static_cast<std::size_t>(i)]);
    for (int j = 0; j <= i; ++j) {
      a[static_cast<std::size_t>(i * m + j)] = s[si * n + static_cast<std::size_t>(kept[static_cast<std::size_t>(j)])];
    }
    a[static_cast<std::size_t>(i * m + i)] += kRidge * s[si * n + si];
  }
  return cholesky_lower(a.data(), m, l.data());
}

// The model of the element at position `at` of `kept` from the factor l of their
// block: y = S^-1 e_at; the least rise of chi2 with the element moved by d is
// d^2 / y_at, reached with the others moved by d y / y_at. `mean` is the
// factor's mean contribution, the unit of the move.
void model_element(const std::vector<double>& l, const std::vector<int>& kept, std::size_t at,
                   const std::vector<int>& elements, double mean, std::size_t cells, ElementResponse& response,
                   std::vector<double>& y) {
  const int m = static_cast<int>(kept.size());
  y.assign(static_cast<std::size_t>(m), 0.0);
  y[at] = 1.0;
  solve_lower(l.data(), m, y.data());
  solve_lower_transposed(l.data(), m, y.data());
  const double yj = y[at];
  if (!(yj > 0) || !std::isfinite(yj)) return;
  response.sigma = mean * std::sqrt(yj);
  response.direction.assign(cells, 0.0);
  for (int i = 0; i < m; ++i) {
    const auto e = static_cast<std::size_t>(elements[static_cast<std::size_t>(kept[static_cast<std::size_t>(i)])]);
    response.direction[e] = y[static_cast<std::size_t>(i)] / yj / mean;
  }
}

}  // namespace

std::vector<ElementResponse> element_responses(const Problem& problem, const FitSettings& settings,
                                               const FitState& minimum) {
  const int nfakt = problem.nfakt;
  const auto cells = static_cast<std::size_t>(problem.nvar) * static_cast<std::size_t>(nfakt);
  std::vector<ElementResponse> responses(cells);
  FitSettings free_fit = settings;
  free_fit.holds.clear();
  NewtonSystem system(problem, free_fit);
  const std::vector<int>& elements = system.elements();
  const std::size_t n = elements.size();
  std::vector<int> kept;
  std::vector<double> a;
  std::vector<double> l;
  std::vector<double> y;
  std::vector<double> l_with;
  std::vector<int> with;
  for (int f = problem.offset; f < nfakt; ++f) {
    const double mean = minimum.sum2[static_cast<std::size_t>(f)] / problem.nrec;
    if (!(mean > 0) || !std::isfinite(mean)) continue;
    system.keep_sum_of(f);
    system.normal_equations(minimum);
    const std::vector<double>& s = system.matrix();
    const std::vector<double>& gradient = system.gradient();
    // The elements that move: not those at 0 that chi2 pushes down, and not, for
    // every other factor, the one whose move is most like its scale (the largest
    // p^2 times its diagonal), which is kept.
    std::vector<int> pinned(static_cast<std::size_t>(nfakt), -1);
    std::vector<double> weight(static_cast<std::size_t>(nfakt), 0.0);
    std::vector<char> moves(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
      const double p = minimum.p[static_cast<std::size_t>(elements[i])];
      if (p <= 0 && gradient[i] > 0) continue;
      moves[i] = 1;
      const int k = elements[i] % nfakt;
      const double w = p * p * s[i * n + i];
      if (k != f && w > weight[static_cast<std::size_t>(k)]) {
        weight[static_cast<std::size_t>(k)] = w;
        pinned[static_cast<std::size_t>(k)] = static_cast<int>(i);
      }
    }
    for (int i : pinned) {
      if (i >= 0) moves[static_cast<std::size_t>(i)] = 0;
    }
    kept.clear();
    for (std::size_t i = 0; i < n; ++i) {
      if (moves[i] != 0) kept.push_back(static_cast<int>(i));
    }
    // A moving element's model comes from the factor of the kept block; an
    // element at 0 that chi2 pushes down models its upward move with the block
    // and itself (the others at 0 stay there), plus the first-order rise 2 g d.
    const bool factored = factor_block(s, n, kept, a, l);
    for (std::size_t i = 0; i < n; ++i) {
      if (elements[i] % nfakt != f) continue;
      ElementResponse& response = responses[static_cast<std::size_t>(elements[i])];
      // Its position among the kept elements (rising), or where it would go.
      const auto at = static_cast<std::size_t>(std::lower_bound(kept.begin(), kept.end(), static_cast<int>(i)) - kept.begin());
      if (moves[i] != 0) {
        if (factored) model_element(l, kept, at, elements, mean, cells, response, y);
      } else if (minimum.p[static_cast<std::size_t>(elements[i])] <= 0 && gradient[i] > 0) {
        with = kept;
        with.insert(with.begin() + static_cast<std::ptrdiff_t>(at), static_cast<int>(i));
        if (!factor_block(s, n, with, a, l_with)) continue;
        model_element(l_with, with, at, elements, mean, cells, response, y);
        if (response.sigma > 0) response.slope = 2.0 * gradient[i] / mean;
      }
    }
  }
  return responses;
}

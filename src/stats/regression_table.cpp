#include "stats/regression.h"

#include <cassert>

#include "engine/engine.h"

RegressionTable regression_table(const Problem& problem, const FitState& state, int threads) {
  assert(problem.consistent() && state.fits(problem));
  const auto nv = static_cast<std::size_t>(problem.nvar);
  const auto nf = static_cast<std::size_t>(problem.nfakt);
  RegressionTable table;
  table.chi.resize(nv);
  table.coef.resize(nv * nf);
  table.se.resize(nv * nf);
  regressions(problem, state, threads, table.chi.data(), table.coef.data(), table.se.data());
  return table;
}

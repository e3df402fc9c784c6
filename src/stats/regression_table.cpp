// The regression table is kept apart from the regression kernels so that a build
// with other kernels (the reference build) links its own regressions() in.
#include "stats/regression.h"

RegressionTable regression_table(Model& m) {
  const auto nv = static_cast<std::size_t>(m.nvar);
  const auto nf = static_cast<std::size_t>(m.nfakt);
  RegressionTable table;
  table.chi.resize(nv);
  table.coef.resize(nv * nf);
  table.se.resize(nv * nf);
  regressions(m, table.chi.data(), table.coef.data(), table.se.data());
  return table;
}

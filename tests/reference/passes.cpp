// Whole passes of the literal kernels: records and variables one after another.
#include "reference/reference.h"

namespace reference {

void contribution_pass(Model& m) {
  for (int s = 0; s < m.nrec; ++s) contribution_step(m, s);
}

void profile_pass(Model& m) {
  for (int v = 0; v < m.nvar; ++v) profile_step(m, v);
}

void regressions(Model& m, double* chi, double* coef, double* se) {
  const std::size_t nfakt = static_cast<std::size_t>(m.nfakt);
  for (int v = 0; v < m.nvar; ++v) {
    const std::size_t row = static_cast<std::size_t>(v) * nfakt;
    chi[v] = regression(m, v, coef + row, se + row);
  }
}

}  // namespace reference

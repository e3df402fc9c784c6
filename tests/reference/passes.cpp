// The literal kernels as the oracle: record by record and variable by variable,
// with the model's own scratch sizes.
#include "fit/literal_kernels.h"
#include "reference/reference.h"

namespace reference {

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk) {
  literal::Matrixinv(a, stride, n, det, ik, jk);
}

namespace {

void contribution_step(Model& m, int s, literal::Scratch& scratch) {
  const auto nfakt = static_cast<std::size_t>(m.nfakt);
  const auto nvar = static_cast<std::size_t>(m.nvar);
  const int nactive = literal::contribution_record(m, s, scratch, m.x.data() + static_cast<std::size_t>(s) * nfakt,
                                                   m.dy.data() + static_cast<std::size_t>(s) * nvar);
  m.nytot += m.nvar - nactive + m.offset;
  literal::add_record_totals(m, s);
}

}  // namespace

void contribution_step(Model& m, int s) {
  literal::Scratch scratch(m);
  contribution_step(m, s, scratch);
}

void profile_step(Model& m, int v) {
  literal::Scratch scratch(m);
  m.nfree += literal::profile_variable(m, v, scratch);
}

double regression(Model& m, int v, double* coef, double* se) {
  literal::Scratch scratch(m);
  return literal::regression(m, v, scratch, coef, se);
}

void contribution_pass(Model& m) {
  literal::Scratch scratch(m);
  for (int s = 0; s < m.nrec; ++s) contribution_step(m, s, scratch);
}

void profile_pass(Model& m) {
  literal::Scratch scratch(m);
  for (int v = 0; v < m.nvar; ++v) m.nfree += literal::profile_variable(m, v, scratch);
}

void regressions(Model& m, double* chi, double* coef, double* se) {
  literal::Scratch scratch(m);
  const std::size_t nfakt = static_cast<std::size_t>(m.nfakt);
  for (int v = 0; v < m.nvar; ++v) {
    const std::size_t row = static_cast<std::size_t>(v) * nfakt;
    chi[v] = literal::regression(m, v, scratch, coef + row, se + row);
  }
}

}  // namespace reference

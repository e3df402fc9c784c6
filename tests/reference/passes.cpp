// The literal kernels as the oracle: record by record and variable by variable,
// with the problem's own scratch sizes.
#include "engine/detail/literal_kernels.h"
#include "reference/reference.h"

namespace reference {

void Matrixinv(double* a, int stride, int n, double* det, int* ik, int* jk) {
  literal::Matrixinv(a, stride, n, det, ik, jk);
}

namespace {

void contribution_step(const Problem& problem, FitState& state, int s, literal::Scratch& scratch) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const int nactive =
      literal::contribution_record(problem, state, s, scratch, state.x.data() + static_cast<std::size_t>(s) * nfakt,
                                   state.dy.data() + static_cast<std::size_t>(s) * nvar);
  state.nytot += problem.nvar - nactive + problem.offset;
  literal::add_record_totals(problem, state, s);
}

}  // namespace

void contribution_step(const Problem& problem, const FitSettings&, FitState& state, int s) {
  literal::Scratch scratch(problem);
  contribution_step(problem, state, s, scratch);
}

void profile_step(const Problem& problem, const FitSettings& settings, FitState& state, int v) {
  literal::Scratch scratch(problem);
  state.nfree += literal::profile_variable(problem, settings, state, v, scratch);
}

double regression(const Problem& problem, const FitState& state, int v, double* coef, double* se) {
  literal::Scratch scratch(problem);
  return literal::regression(problem, state, v, scratch, coef, se);
}

void contribution_pass(const Problem& problem, const FitSettings&, FitState& state) {
  literal::Scratch scratch(problem);
  for (int s = 0; s < problem.nrec; ++s) contribution_step(problem, state, s, scratch);
}

void profile_pass(const Problem& problem, const FitSettings& settings, FitState& state) {
  literal::Scratch scratch(problem);
  for (int v = 0; v < problem.nvar; ++v) state.nfree += literal::profile_variable(problem, settings, state, v, scratch);
}

void regressions(const Problem& problem, const FitState& state, int, double* chi, double* coef, double* se) {
  literal::Scratch scratch(problem);
  const std::size_t nfakt = static_cast<std::size_t>(problem.nfakt);
  for (int v = 0; v < problem.nvar; ++v) {
    const std::size_t row = static_cast<std::size_t>(v) * nfakt;
    chi[v] = literal::regression(problem, state, v, scratch, coef + row, se + row);
  }
}

}  // namespace reference

#include "model/fit_state.h"

namespace {

template <typename T>
void create(std::vector<T>& table, std::size_t n, const char* name) {
  try {
    table.assign(n, T{});
  } catch (const std::bad_alloc&) {
    throw NoMemoryFor(name);
  }
}

}  // namespace

FitState FitState::sized_for(const Problem& problem) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const auto nrec = static_cast<std::size_t>(problem.nrec);
  FitState state;
  create(state.sum2, nfakt, "sum2");
  state.p = problem.starting_p;
  state.r.assign(nvar, 0.0f);
  state.ny.assign(nvar, 0);
  create(state.dy, nrec * nvar, "dy");
  create(state.x, nrec * nfakt, "x");
  create(state.t, nrec, "t");
  return state;
}

bool FitState::fits(const Problem& problem) const {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const auto nrec = static_cast<std::size_t>(problem.nrec);
  return p.size() == nvar * nfakt && x.size() == nrec * nfakt && dy.size() == nrec * nvar && t.size() == nrec &&
         r.size() == nvar && ny.size() == nvar && sum2.size() == nfakt && (ueff.empty() || ueff.size() == nrec * nvar);
}

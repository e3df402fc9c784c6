#include "fit/residue.h"

#include <cassert>
#include <vector>

void residue(const Problem& problem, FitState& state) {
  assert(problem.consistent() && state.fits(problem));
  const std::size_t nvar = static_cast<std::size_t>(problem.nvar);
  const std::size_t nrec = static_cast<std::size_t>(problem.nrec);
  const float* dy = state.dy.data();
  const float* usik = weighing_usik(problem, state).data();  // in robust mode, the uncertainties of the final weights

  // The worst-fitting variable; ties keep the lower one.
  double chimax = 0.0;
  std::size_t vmax = nvar;
  for (std::size_t v = 0; v < nvar; ++v) {
    double c = 0.0;
    for (std::size_t s = 0; s < nrec; ++s) {
      const std::size_t cell = s * nvar + v;
      if (usik[cell] > 0) {
        c += static_cast<double>(dy[cell]) * static_cast<double>(dy[cell]) / static_cast<double>(usik[cell]) /
             static_cast<double>(usik[cell]);
      }
    }
    if (c > chimax) {
      chimax = c;
      vmax = v;
    }
  }
  if (vmax == nvar) {
    state.r.assign(nvar, 0.0f);
    state.t.assign(nrec, 0.0);
    return;
  }

  for (std::size_t v = 0; v < nvar; ++v) {
    double sum = 0.0;
    for (std::size_t s = 0; s < nrec; ++s) {
      const std::size_t cell = s * nvar + v;
      if (usik[cell] > 0) {
        sum += static_cast<double>(dy[cell]) * static_cast<double>(dy[s * nvar + vmax]) /
               static_cast<double>(usik[cell]) / static_cast<double>(usik[cell]);
      }
    }
    state.r[v] = static_cast<float>(sum / chimax);
  }

  // A record with nothing measured, or measured only where the residue profile is
  // 0, holds nothing of the residue: its contribution is 0 and it takes no part in
  // the sum that normalises the others.
  double ttot = 0.0;
  std::vector<bool> unseen(nrec, false);
  for (std::size_t s = 0; s < nrec; ++s) {
    double num = 0.0;
    double den = 0.0;
    bool measured = false;
    for (std::size_t v = 0; v < nvar; ++v) {
      const std::size_t cell = s * nvar + v;
      if (usik[cell] > 0) {
        const double u = static_cast<double>(usik[cell]);
        const double rv = static_cast<double>(state.r[v]);
        num += static_cast<double>(dy[cell]) * rv / u / u;
        den += rv * rv / u / u;
        measured = true;
      }
    }
    if (!measured || den == 0.0) {
      state.t[s] = 0.0;
      unseen[s] = true;
      continue;
    }
    state.t[s] = num / den;
    ttot = ttot + state.t[s];
  }
  for (std::size_t s = 0; s < nrec; ++s) {
    if (!unseen[s]) state.t[s] = state.t[s] / ttot;
  }
  for (std::size_t v = 0; v < nvar; ++v) state.r[v] = static_cast<float>(static_cast<double>(state.r[v]) * ttot);
}

#include "engine/engine.h"

#include <cassert>
#include <algorithm>
#include <cmath>
#include <vector>

#include "engine/detail/cross_products.h"
#include "engine/detail/lane_inverse.h"
#include "engine/detail/literal_kernels.h"
#include "engine/detail/lane_matrixinv.h"
#include "parallel/workers.h"

namespace {

// The free elements of variable v (fp nonzero), in increasing order.
std::vector<int> free_elements(const Problem& problem, int v) {
  std::vector<int> free;
  const auto row = static_cast<std::size_t>(v) * static_cast<std::size_t>(problem.nfakt);
  for (int f = 0; f < problem.nfakt; ++f) {
    if (problem.fp[row + static_cast<std::size_t>(f)] != 0) free.push_back(f);
  }
  return free;
}

CrossSums unscaled(int v) {
  CrossSums sums;
  sums.v = v;
  return sums;
}

// Scratch of one thread's solves, sized nfakt (a: nfakt x nfakt).
struct SolveScratch {
  explicit SolveScratch(const Problem& problem)
      : literal(problem),
        row(static_cast<std::size_t>(problem.nfakt)),
        a(static_cast<std::size_t>(problem.nfakt) * static_cast<std::size_t>(lanes_width(problem.nfakt))),
        b(static_cast<std::size_t>(problem.nfakt)),
        xo(static_cast<std::size_t>(problem.nfakt)),
        solved(static_cast<std::size_t>(problem.nfakt)),
        active(static_cast<std::size_t>(problem.nfakt)),
        ik(static_cast<std::size_t>(problem.nfakt)),
        jk(static_cast<std::size_t>(problem.nfakt)) {}
  literal::Scratch literal;
  std::vector<double> row;
  std::vector<int> free;
  std::vector<double> a, b, xo, solved;
  std::vector<int> active, ik, jk;
};

bool all_finite(const double* values, std::size_t n) {
  bool finite = true;
  for (std::size_t k = 0; k < n; ++k) finite = finite && std::isfinite(values[k]);
  return finite;
}

// One round of a variable's solve: for each active element i (free[active[i]] of
// the row p), its least-squares correction solved[i], pulled towards the mean of
// the row weighted by the factors' mean contributions and damped. xo[i] is the
// correction to apply, or -p[e] for an element that would turn negative. Returns
// the position of the element that overshoots most, -1 when none does, or -2
// when a value that is not finite turned up.
int round_corrections(const Problem& problem, const FitSettings& settings, const FitState& state, const double* p, const int* free, const int* active, int nactive,
                      const double* solved, double* xo) {
  const int nfakt = problem.nfakt;
  const double* sum2 = state.sum2.data();
  // The pull's mean of the row is the same for every element of the round: the
  // row changes only after it.
  double pull = 0.0;
  for (int k = 0; k < nfakt; ++k) pull += p[k] * sum2[k] / problem.nrec;
  double maxviol = 0.0;
  int ival = -1;
  for (int i = 0; i < nactive; ++i) {
    const int e = free[active[i]];
    const double cur = p[e];
    double d = solved[i];
    double target = pull / nfakt - cur;
    if (target > 0 && cur < target) target = cur;
    d = (d + static_cast<double>(settings.rotate) * target) / state.damp;
    if (!std::isfinite(d) || !std::isfinite(pull)) return -2;
    if (cur + d < 0) {
      xo[i] = -cur;
      if (ival < 0 || -cur - d > maxviol) {
        maxviol = -cur - d;
        ival = i;
      }
    } else {
      xo[i] = d;
    }
  }
  return ival;
}

// The element that overshoots most (position ival) becomes zero and is held for
// this pass; it leaves active, of which nactive - 1 remain.
void hold_element(double* p, const int* free, int* active, int nactive, int ival, const double* xo) {
  const int e = free[active[ival]];
  p[e] = p[e] + xo[ival];
  for (int i = ival; i < nactive - 1; ++i) active[i] = active[i + 1];
}

// The end of a variable's step: its degrees of freedom, the corrections xo of its
// active elements, and its row rescaled by the factors' mean contributions.
// Returns whether the row is finite.
bool finish_variable(const Problem& problem, FitState& state, int v, const int* free, const int* active, int nactive, const double* xo) {
  const int nfakt = problem.nfakt;
  double* p = state.p.data() + static_cast<std::size_t>(v) * static_cast<std::size_t>(nfakt);
  state.ny[static_cast<std::size_t>(v)] = problem.nrec - nactive;
  for (int i = 0; i < nactive; ++i) {
    const int e = free[active[i]];
    p[e] = p[e] + xo[i];
  }
  for (int f = 0; f < nfakt; ++f) p[f] = p[f] * (state.sum2[static_cast<std::size_t>(f)] / problem.nrec);
  return all_finite(p, static_cast<std::size_t>(nfakt));
}

int solve_finite(const Problem& problem, const FitSettings& settings, FitState& state, const CrossSums& sums, SolveScratch& scratch);

// Corrects the free elements of variable sums.v from its summed normal equations
// and rescales its row; returns the number of elements still free. After an
// element is zeroed, the next solve takes the sub-block of the remaining elements:
// the same sums as a rebuild from the records would give. Where a value that is
// not finite turns up, the row is restored and the variable is done again by the
// literal step.
int solve_variable(const Problem& problem, const FitSettings& settings, FitState& state, const CrossSums& sums, SolveScratch& scratch) {
  const auto row = static_cast<std::size_t>(sums.v) * static_cast<std::size_t>(problem.nfakt);
  std::copy(state.p.begin() + static_cast<std::ptrdiff_t>(row), state.p.begin() + static_cast<std::ptrdiff_t>(row) + problem.nfakt,
            scratch.row.begin());
  const int nactive = solve_finite(problem, settings, state, sums, scratch);
  if (nactive >= 0) return nactive;
  std::copy(scratch.row.begin(), scratch.row.end(), state.p.begin() + static_cast<std::ptrdiff_t>(row));
  return literal::profile_variable(problem, settings, state, sums.v, scratch.literal);
}

int solve_finite(const Problem& problem, const FitSettings& settings, FitState& state, const CrossSums& sums, SolveScratch& scratch) {
  const int nfakt = problem.nfakt;
  scratch.free = free_elements(problem, sums.v);
  const std::vector<int>& free = scratch.free;
  const int n = static_cast<int>(free.size());
  const int width = lanes_width(nfakt);  // row stride of a
  double* p = state.p.data() + static_cast<std::size_t>(sums.v) * static_cast<std::size_t>(problem.nfakt);
  const double* sum2 = state.sum2.data();
  double* a = scratch.a.data();
  double* b = scratch.b.data();
  double* xo = scratch.xo.data();
  int* active = scratch.active.data();  // positions in free

  if (!sums.finite() || !all_finite(p, static_cast<std::size_t>(problem.nfakt)) || !all_finite(sum2, static_cast<std::size_t>(problem.nfakt))) {
    return -1;
  }
  int nactive = n;
  for (int i = 0; i < n; ++i) active[i] = i;
  bool violated = false;
  do {
    for (int i = 0; i < nactive; ++i) {
      const int fi = free[static_cast<std::size_t>(active[i])];
      b[i] = sums.b[static_cast<std::size_t>(fi)];
      for (int j = i; j < nactive; ++j) {
        const int fj = free[static_cast<std::size_t>(active[j])];
        const double sum = sums.a[static_cast<std::size_t>(pair_index(nfakt, fi, fj))];
        a[i * width + j] = sum;
        a[j * width + i] = sum;
      }
    }
    double det;
    if (!invert_finite(a, width, nactive, &det, scratch.ik.data(), scratch.jk.data())) return -1;

    double* solved = scratch.solved.data();
    for (int i = 0; i < nactive; ++i) {
      double d = 0.0;
      for (int j = 0; j < nactive; ++j) d += a[i * width + j] * b[j];
      solved[i] = d;
    }
    const int ival = round_corrections(problem, settings, state, p, free.data(), active, nactive, solved, xo);
    if (ival == -2) return -1;
    violated = ival >= 0;
    if (violated) {
      hold_element(p, free.data(), active, nactive, ival, xo);
      --nactive;
    }
  } while (violated && nactive > 0);

  return finish_variable(problem, state, sums.v, free.data(), active, nactive, xo) ? nactive : -1;
}

// One variable's solve in progress among those solved side by side.
struct PendingVariable {
  int k;                     // its sums, sums[k]
  int v;                     // the variable
  std::vector<int> free;     // its free elements, increasing
  std::vector<int> active;   // the positions in free still solved
  std::vector<double> row;   // its row of p at the start of the step
};

// The profile step of the variables sums[k], k in mine, into nfree[k]: every
// round of elimination solves four variables of the same order side by side, as
// the contribution step does with records. A variable whose block the inversion
// hands back, or where a value that is not finite turns up, has its row put back
// and is solved alone, which gives what it would have given from the start.
void solve_variables_in_lanes(const Problem& problem, const FitSettings& settings, FitState& state, const std::vector<CrossSums>& sums, const std::vector<int>& mine,
                              SolveScratch& scratch, int* nfree) {
  const int nfakt = problem.nfakt;
  const auto row_size = static_cast<std::size_t>(nfakt);
  auto row_of = [&state, row_size](int v) {
    return state.p.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(v) * row_size);
  };
  auto alone = [&](const PendingVariable& pending) {
    std::copy(pending.row.begin(), pending.row.end(), row_of(pending.v));
    nfree[pending.k] = solve_variable(problem, settings, state, sums[static_cast<std::size_t>(pending.k)], scratch);
  };
  auto finish = [&](const PendingVariable& pending, const double* xo) {
    const int nactive = static_cast<int>(pending.active.size());
    if (finish_variable(problem, state, pending.v, pending.free.data(), pending.active.data(), nactive, xo)) {
      nfree[pending.k] = nactive;
    } else {
      alone(pending);
    }
  };

  std::vector<PendingVariable> pending;
  const bool sum2_finite = all_finite(state.sum2.data(), row_size);
  for (int k : mine) {
    const CrossSums& s = sums[static_cast<std::size_t>(k)];
    PendingVariable variable;
    variable.k = k;
    variable.v = s.v;
    variable.free = free_elements(problem, s.v);
    variable.row.assign(row_of(s.v), row_of(s.v) + nfakt);
    const int n = static_cast<int>(variable.free.size());
    if (!sum2_finite || !s.finite() || !all_finite(variable.row.data(), row_size) || n > kMaxLaneOrder) {
      nfree[k] = solve_variable(problem, settings, state, s, scratch);
      continue;
    }
    for (int i = 0; i < n; ++i) variable.active.push_back(i);
    if (n == 0) {
      finish(variable, nullptr);
      continue;
    }
    pending.push_back(std::move(variable));
  }

  // Per lane: the packed triangle and right-hand side of its variable's active
  // elements; the blocks, solutions and exchanges of the four.
  const auto max_order = static_cast<std::size_t>(nfakt);
  std::vector<double> packed(4 * max_order * (max_order + 1) / 2), rhs(4 * max_order);
  std::vector<double> blocks(4 * max_order * max_order), lane_b(4 * max_order), lane_xo(4 * max_order);
  std::vector<double> xo(max_order);
  LaneExchanges kept;
  std::vector<PendingVariable> next;
  while (!pending.empty()) {
    // Four of the same order at a time; the last group of an order filled up
    // with copies of its first.
    std::stable_sort(pending.begin(), pending.end(),
                     [](const PendingVariable& a, const PendingVariable& b) { return a.active.size() > b.active.size(); });
    next.clear();
    for (std::size_t first = 0; first < pending.size();) {
      const std::size_t order = pending[first].active.size();
      std::size_t real = 1;
      while (real < 4 && first + real < pending.size() && pending[first + real].active.size() == order) ++real;
      const double* lane_g[4];
      const double* lane_rhs[4];
      for (std::size_t l = 0; l < 4; ++l) {
        const PendingVariable& variable = pending[first + (l < real ? l : 0)];
        const CrossSums& s = sums[static_cast<std::size_t>(variable.k)];
        double* g = packed.data() + l * max_order * (max_order + 1) / 2;
        double* b = rhs.data() + l * max_order;
        std::size_t e = 0;
        for (std::size_t i = 0; i < order; ++i) {
          const int fi = variable.free[static_cast<std::size_t>(variable.active[i])];
          b[i] = s.b[static_cast<std::size_t>(fi)];
          for (std::size_t j = i; j < order; ++j, ++e) {
            const int fj = variable.free[static_cast<std::size_t>(variable.active[j])];
            g[e] = s.a[static_cast<std::size_t>(pair_index(nfakt, fi, fj))];
          }
        }
        lane_g[l] = g;
        lane_rhs[l] = b;
      }
      const unsigned handed_back =
          solve_four(lane_g, lane_rhs, static_cast<int>(order), reinterpret_cast<LaneQuad*>(blocks.data()),
                     reinterpret_cast<LaneQuad*>(lane_b.data()), &kept, lane_xo.data());
      for (std::size_t l = 0; l < real; ++l) {
        PendingVariable& variable = pending[first + l];
        if (handed_back & (1u << l)) {
          alone(variable);
          continue;
        }
        double* p = state.p.data() + static_cast<std::size_t>(variable.v) * row_size;
        const int ival = round_corrections(problem, settings, state, p, variable.free.data(), variable.active.data(),
                                           static_cast<int>(order), lane_xo.data() + l * order, xo.data());
        if (ival == -2) {
          alone(variable);
        } else if (ival >= 0) {
          hold_element(p, variable.free.data(), variable.active.data(), static_cast<int>(order), ival, xo.data());
          variable.active.pop_back();
          if (variable.active.empty()) {
            finish(variable, xo.data());
          } else {
            next.push_back(std::move(variable));
          }
        } else {
          finish(variable, xo.data());
        }
      }
      first += real;
    }
    std::swap(pending, next);
  }
}

}  // namespace

void profile_step(const Problem& problem, const FitSettings& settings, FitState& state, int v) {
  assert(problem.consistent() && state.fits(problem) && v >= 0 && v < problem.nvar);
  std::vector<CrossSums> sums{unscaled(v)};
  accumulate_cross_sums(problem, state, state.dy.data(), sums, 1);
  SolveScratch scratch(problem);
  state.nfree += solve_variable(problem, settings, state, sums[0], scratch);
}

void profile_pass(const Problem& problem, const FitSettings& settings, FitState& state) {
  assert(problem.consistent() && state.fits(problem) && settings.threads >= 1);
  const double work = static_cast<double>(problem.nrec) * problem.nvar * problem.nfakt * (problem.nfakt + 1) / 2;
  const int threads = std::min(threads_for(work, settings.threads), problem.nvar);
  std::vector<CrossSums> sums;
  sums.reserve(static_cast<std::size_t>(problem.nvar));
  for (int v = 0; v < problem.nvar; ++v) sums.push_back(unscaled(v));
  accumulate_cross_sums(problem, state, state.dy.data(), sums, threads);

  const std::vector<std::vector<int>> shares = share_variables(sums.size(), threads);
  std::vector<SolveScratch> scratch(static_cast<std::size_t>(threads), SolveScratch(problem));
  std::vector<int> nfree(static_cast<std::size_t>(problem.nvar), 0);
  run_on_threads(threads, [&](int t) {
    solve_variables_in_lanes(problem, settings, state, sums, shares[static_cast<std::size_t>(t)], scratch[static_cast<std::size_t>(t)],
                             nfree.data());
  });
  for (int count : nfree) state.nfree += count;
}

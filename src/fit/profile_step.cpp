#include "fit/profile_step.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "fit/cross_products.h"
#include "fit/literal_kernels.h"
#include "fit/matrixinv.h"
#include "fit/workers.h"

namespace {

// The free elements of variable v (fp nonzero), in increasing order.
std::vector<int> free_elements(const Model& m, int v) {
  std::vector<int> free;
  const auto row = static_cast<std::size_t>(v) * static_cast<std::size_t>(m.nfakt);
  for (int f = 0; f < m.nfakt; ++f) {
    if (m.fp[row + static_cast<std::size_t>(f)] != 0) free.push_back(f);
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
  explicit SolveScratch(const Model& m)
      : literal(m),
        row(static_cast<std::size_t>(m.nfakt)),
        a(static_cast<std::size_t>(m.nfakt) * static_cast<std::size_t>(lanes_width(m.nfakt))),
        b(static_cast<std::size_t>(m.nfakt)),
        xo(static_cast<std::size_t>(m.nfakt)),
        active(static_cast<std::size_t>(m.nfakt)),
        ik(static_cast<std::size_t>(m.nfakt)),
        jk(static_cast<std::size_t>(m.nfakt)) {}
  literal::Scratch literal;
  std::vector<double> row;
  std::vector<int> free;
  std::vector<double> a, b, xo;
  std::vector<int> active, ik, jk;
};

bool all_finite(const double* values, std::size_t n) {
  bool finite = true;
  for (std::size_t k = 0; k < n; ++k) finite = finite && std::isfinite(values[k]);
  return finite;
}

int solve_finite(Model& m, const CrossSums& sums, SolveScratch& scratch);

// Corrects the free elements of variable sums.v from its summed normal equations
// and rescales its row; returns the number of elements still free. After an
// element is zeroed, the next solve takes the sub-block of the remaining elements:
// the same sums as a rebuild from the records would give. Where a value that is
// not finite turns up, the row is restored and the variable is done again by the
// literal step.
int solve_variable(Model& m, const CrossSums& sums, SolveScratch& scratch) {
  const auto row = static_cast<std::size_t>(sums.v) * static_cast<std::size_t>(m.nfakt);
  std::copy(m.p.begin() + static_cast<std::ptrdiff_t>(row), m.p.begin() + static_cast<std::ptrdiff_t>(row) + m.nfakt,
            scratch.row.begin());
  const int nactive = solve_finite(m, sums, scratch);
  if (nactive >= 0) return nactive;
  std::copy(scratch.row.begin(), scratch.row.end(), m.p.begin() + static_cast<std::ptrdiff_t>(row));
  return literal::profile_variable(m, sums.v, scratch.literal);
}

int solve_finite(Model& m, const CrossSums& sums, SolveScratch& scratch) {
  const int nfakt = m.nfakt;
  const int nrec = m.nrec;
  scratch.free = free_elements(m, sums.v);
  const std::vector<int>& free = scratch.free;
  const int n = static_cast<int>(free.size());
  const int width = lanes_width(nfakt);  // row stride of a
  double* p = m.p.data() + static_cast<std::size_t>(sums.v) * static_cast<std::size_t>(m.nfakt);
  const double* sum2 = m.sum2.data();
  double* a = scratch.a.data();
  double* b = scratch.b.data();
  double* xo = scratch.xo.data();
  int* active = scratch.active.data();  // positions in free

  if (!sums.finite() || !all_finite(p, static_cast<std::size_t>(m.nfakt)) || !all_finite(sum2, static_cast<std::size_t>(m.nfakt))) {
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

    double maxviol = 0.0;
    int ival = 0;
    violated = false;
    for (int i = 0; i < nactive; ++i) {
      const int e = free[static_cast<std::size_t>(active[i])];
      const double cur = p[e];
      double d = 0.0;
      for (int j = 0; j < nactive; ++j) d += a[i * width + j] * b[j];
      // Pull towards the mean of the row weighted by the factors' mean contributions.
      double pull = 0.0;
      for (int k = 0; k < nfakt; ++k) pull += p[k] * sum2[k] / nrec;
      double target = pull / nfakt - cur;
      if (target > 0 && cur < target) target = cur;
      d = (d + static_cast<double>(m.rotate) * target) / m.damp;
      if (!std::isfinite(d) || !std::isfinite(pull)) return -1;
      if (cur + d < 0) {
        violated = true;
        xo[i] = -cur;
        if (-cur - d > maxviol) {
          maxviol = -cur - d;
          ival = i;
        }
      } else {
        xo[i] = d;
      }
    }
    if (violated) {
      // The element that overshoots most becomes zero and is held for this pass.
      const int e = free[static_cast<std::size_t>(active[ival])];
      p[e] = p[e] + xo[ival];
      for (int i = ival; i < nactive - 1; ++i) active[i] = active[i + 1];
      --nactive;
    }
  } while (violated && nactive > 0);

  m.ny[static_cast<std::size_t>(sums.v)] = nrec - nactive;
  for (int i = 0; i < nactive; ++i) {
    const int e = free[static_cast<std::size_t>(active[i])];
    p[e] = p[e] + xo[i];
  }
  for (int f = 0; f < nfakt; ++f) p[f] = p[f] * (sum2[f] / nrec);
  return all_finite(p, static_cast<std::size_t>(m.nfakt)) ? nactive : -1;
}

}  // namespace

void profile_step(Model& m, int v) {
  std::vector<CrossSums> sums{unscaled(v)};
  accumulate_cross_sums(m, m.dy.data(), sums, 1);
  SolveScratch scratch(m);
  m.nfree += solve_variable(m, sums[0], scratch);
}

void profile_pass(Model& m) {
  const double work = static_cast<double>(m.nrec) * m.nvar * m.nfakt * (m.nfakt + 1) / 2;
  const int threads = std::min(threads_for(work, m.threads), m.nvar);
  std::vector<CrossSums> sums;
  sums.reserve(static_cast<std::size_t>(m.nvar));
  for (int v = 0; v < m.nvar; ++v) sums.push_back(unscaled(v));
  accumulate_cross_sums(m, m.dy.data(), sums, threads);

  const std::vector<std::vector<int>> shares = share_variables(sums.size(), threads);
  std::vector<SolveScratch> scratch(static_cast<std::size_t>(threads), SolveScratch(m));
  std::vector<int> nfree(static_cast<std::size_t>(m.nvar), 0);
  run_on_threads(threads, [&](int t) {
    for (int k : shares[static_cast<std::size_t>(t)]) {
      nfree[static_cast<std::size_t>(k)] = solve_variable(m, sums[static_cast<std::size_t>(k)], scratch[static_cast<std::size_t>(t)]);
    }
  });
  for (int count : nfree) m.nfree += count;
}

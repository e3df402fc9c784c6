#include "fit/contribution.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <vector>

#include "fit/literal_kernels.h"
#include "fit/matrixinv.h"
#include "fit/workers.h"

namespace {

constexpr int kChunk = 64;  // records a thread takes at a time

// One thread's solver of records. Each record's normal matrix over all factors and
// its right-hand side are built once; every solve after a factor is dropped takes
// the sub-block of the remaining factors, whose elements are the same sums in the
// same order of variables as a rebuild would give.
class RecordSolver {
 public:
  RecordSolver(const Model& m, const double* pt)
      : literal_(m),
        m_(m),
        nfakt_(m.nfakt), nvar_(m.nvar), offset_(m.offset), p_(m.p.data()), pt_(pt) {
    const auto n = static_cast<std::size_t>(nfakt_);
    const auto nv = static_cast<std::size_t>(nvar_);
    y_.resize(nv);
    w_.resize(nv);
    fit_.resize(nv);
    g_.resize(n * n);
    rhs_.resize(n);
    a_.resize(n * n);
    b_.resize(n);
    xo_.resize(n);
    active_.resize(n);
    ik_.resize(n);
    jk_.resize(n);
  }

  // Solves record s; writes its contributions x (nfakt) and residuals dy (nvar)
  // and returns the number of active factors.
  int solve(int s, double* x, float* dy) {
    const auto row = static_cast<std::size_t>(s) * static_cast<std::size_t>(nvar_);
    const int nactive = solve_finite(m_.rawdata.data() + row, m_.usik.data() + row, x, dy);
    return nactive >= 0 ? nactive : literal::contribution_record(m_, s, literal_, x, dy);
  }

 private:
  // The fast solve; returns -1 when a value that is not finite turned up.
  int solve_finite(const float* rawdata, const float* usik, double* x, float* dy);
  bool build_normal_equations();

  literal::Scratch literal_;
  const Model& m_;
  int nfakt_, nvar_, offset_;
  const double* p_;   // profiles, nvar x nfakt
  const double* pt_;  // profiles transposed, nfakt x nvar
  std::vector<double> y_, w_, fit_, g_, rhs_, a_, b_, xo_;
  std::vector<int> active_, ik_, jk_;
};

// g[i][j] (j >= i, row stride nfakt) and rhs[i] for every factor i from offset on,
// summed over the measured variables in order. Returns whether all are finite:
// then every term was finite, and the mirrored and vectorised sums are exact.
bool RecordSolver::build_normal_equations() {
  const int n = nfakt_;
  const int offset = offset_;
  double* __restrict g = g_.data();
  double* __restrict rhs = rhs_.data();
  for (int i = offset; i < n; ++i) {
    rhs[i] = 0.0;
    for (int j = i; j < n; ++j) g[i * n + j] = 0.0;
  }
  for (int v = 0; v < nvar_; ++v) {
    if (!(w_[static_cast<std::size_t>(v)] > 0)) continue;
    const double wv = w_[static_cast<std::size_t>(v)];
    const double* __restrict pv = p_ + static_cast<std::size_t>(v) * static_cast<std::size_t>(n);
    const double yv = y_[static_cast<std::size_t>(v)] - offset * pv[0];  // the offset profile taken off
    for (int i = offset; i < n; ++i) {
      const double pi = pv[i];
      double* __restrict gi = g + i * n;
      for (int j = i; j < n; ++j) gi[j] = gi[j] + pi * pv[j] / wv / wv;
      rhs[i] = rhs[i] + yv * pi / wv / wv;
    }
  }
  bool finite = true;
  for (int i = offset; i < n; ++i) {
    finite = finite && std::isfinite(rhs[i]);
    for (int j = i; j < n; ++j) finite = finite && std::isfinite(g[i * n + j]);
  }
  return finite;
}

int RecordSolver::solve_finite(const float* rawdata, const float* usik, double* x, float* dy) {
  const int n = nfakt_;
  const int offset = offset_;
  for (int v = 0; v < nvar_; ++v) {
    y_[static_cast<std::size_t>(v)] = static_cast<double>(rawdata[v]);
    w_[static_cast<std::size_t>(v)] = static_cast<double>(usik[v]);
  }
  if (!build_normal_equations()) return -1;

  const double* g = g_.data();
  double* a = a_.data();
  double* b = b_.data();
  double* xo = xo_.data();
  int* active = active_.data();
  int nactive = n;
  for (int f = 0; f < n; ++f) active[f] = f;
  for (;;) {
    // The sub-block of the active factors; active is increasing, so its upper
    // triangle lies in the upper triangle of g.
    const int order = nactive - offset;
    for (int r = 0; r < order; ++r) {
      const int fr = active[r + offset];
      for (int c = r; c < order; ++c) {
        const double sum = g[fr * n + active[c + offset]];
        a[r * n + c] = sum;
        a[c * n + r] = sum;
      }
    }
    double det;
    if (!invert_finite(a, n, order, &det, ik_.data(), jk_.data())) return -1;
    for (int i = offset; i < nactive; ++i) b[i] = rhs_[static_cast<std::size_t>(active[i])];
    // Solution, and the most negative contribution (ties keep the lower position).
    double min = 0.0;
    int imin = 0;
    for (int i = offset; i < nactive; ++i) {
      double sum = 0.0;
      for (int j = offset; j < nactive; ++j) sum += a[(i - offset) * n + (j - offset)] * b[j];
      xo[i] = sum;
      if (!std::isfinite(sum)) return -1;
      if (xo[i] < min) {
        min = xo[i];
        imin = i;
      }
    }
    if (offset) xo[0] = 1.0;
    if (!(min < 0 && nactive >= 2)) break;
    for (int i = imin; i < nactive - 1; ++i) active[i] = active[i + 1];
    --nactive;
  }

  for (int f = 0; f < n; ++f) x[f] = 0.0;
  for (int i = 0; i < nactive; ++i) x[active[i]] = xo[i];
  // Fits of all variables at once, each summed over the factors in order.
  double* __restrict fit = fit_.data();
  for (int v = 0; v < nvar_; ++v) fit[v] = 0.0;
  for (int f = 0; f < n; ++f) {
    const double xf = x[f];
    const double* __restrict ptf = pt_ + static_cast<std::size_t>(f) * static_cast<std::size_t>(nvar_);
    for (int v = 0; v < nvar_; ++v) fit[v] = fit[v] + ptf[v] * xf;
  }
  bool finite = true;
  for (int v = 0; v < nvar_; ++v) {
    dy[v] = static_cast<float>(y_[static_cast<std::size_t>(v)] - fit[v]);
    finite = finite && std::isfinite(fit[v]) && std::isfinite(dy[v]);
  }
  return finite ? nactive : -1;
}

std::vector<double> transposed_profiles(const Model& m) {
  const auto nfakt = static_cast<std::size_t>(m.nfakt);
  const auto nvar = static_cast<std::size_t>(m.nvar);
  std::vector<double> pt(nfakt * nvar);
  for (std::size_t v = 0; v < nvar; ++v) {
    for (std::size_t f = 0; f < nfakt; ++f) pt[f * nvar + v] = m.p[v * nfakt + f];
  }
  return pt;
}

// Adds record s's share to sum2, sumsq and chi2, term by term in the order of the
// record-by-record step. Factors left out of the record have x exactly 0, and so
// have no share: adding 0.0 to a sum that starts at 0.0 never changes it.
void add_record_totals(Model& m, std::size_t s, double* terms) {
  const auto nfakt = static_cast<std::size_t>(m.nfakt);
  const auto nvar = static_cast<std::size_t>(m.nvar);
  const double* x = m.x.data() + s * nfakt;
  for (std::size_t f = 0; f < nfakt; ++f) {
    if (x[f] == 0.0) continue;
    m.sum2[f] += x[f];
    m.sumsq += x[f] * x[f];
  }
  const float* dy = m.dy.data() + s * nvar;
  const float* usik = m.usik.data() + s * nvar;
  // The terms of the measured variables first, across variables; then their sum in order.
  for (std::size_t v = 0; v < nvar; ++v) {
    const double r = static_cast<double>(dy[v]);
    const double u = static_cast<double>(usik[v]);
    const double term = r * r / u / u;
    terms[v] = usik[v] > 0 ? term : 0.0;
  }
  double chi2 = m.chi2;
  for (std::size_t v = 0; v < nvar; ++v) chi2 += terms[v];
  m.chi2 = chi2;
}

}  // namespace

void contribution_step(Model& m, int s) {
  std::vector<double> pt = transposed_profiles(m);
  RecordSolver solver(m, pt.data());
  const auto row = static_cast<std::size_t>(s) * static_cast<std::size_t>(m.nvar);
  const int nactive =
      solver.solve(s, m.x.data() + static_cast<std::size_t>(s) * static_cast<std::size_t>(m.nfakt), m.dy.data() + row);
  m.nytot += m.nvar - nactive + m.offset;
  std::vector<double> terms(static_cast<std::size_t>(m.nvar));
  add_record_totals(m, static_cast<std::size_t>(s), terms.data());
}

void contribution_pass(Model& m) {
  const std::vector<double> pt = transposed_profiles(m);
  const int threads = std::max(1, std::min(m.threads, (m.nrec + kChunk - 1) / kChunk));
  std::vector<RecordSolver> solvers;
  solvers.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) solvers.emplace_back(m, pt.data());
  std::vector<long long> dof(static_cast<std::size_t>(threads), 0);
  std::atomic<int> next{0};
  const auto nvar = static_cast<std::size_t>(m.nvar);
  const auto nfakt = static_cast<std::size_t>(m.nfakt);

  run_on_threads(threads, [&](int t) {
    RecordSolver& solver = solvers[static_cast<std::size_t>(t)];
    long long sum = 0;
    for (;;) {
      const int begin = next.fetch_add(kChunk);
      if (begin >= m.nrec) break;
      const int end = std::min(m.nrec, begin + kChunk);
      for (int s = begin; s < end; ++s) {
        const std::size_t row = static_cast<std::size_t>(s) * nvar;
        const int nactive = solver.solve(s, m.x.data() + static_cast<std::size_t>(s) * nfakt, m.dy.data() + row);
        sum += m.nvar - nactive + m.offset;
      }
    }
    dof[static_cast<std::size_t>(t)] = sum;
  });

  long long nytot = m.nytot;
  for (long long part : dof) nytot += part;
  m.nytot = static_cast<int>(nytot);
  std::vector<double> terms(nvar);
  for (std::size_t s = 0; s < static_cast<std::size_t>(m.nrec); ++s) add_record_totals(m, s, terms.data());
}

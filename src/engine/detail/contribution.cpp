#include "engine/engine.h"

#include <cassert>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>

#include "engine/detail/cross_products.h"
#include "engine/detail/lane_inverse.h"
#include "engine/detail/lane_matrixinv.h"
#include "engine/detail/lanes.h"
#include "engine/detail/literal_kernels.h"
#include "engine/detail/reciprocal_division.h"
#include "parallel/workers.h"

namespace {

constexpr int kChunk = 64;  // records a thread takes at a time

// The profiles as the solver of records reads them, made once per pass.
struct PassProfiles {
  PassProfiles(const Problem& problem, const FitState& state);
  bool wide;      // lanes of eight (AVX-512) for the normal equations
  bool reciprocal;  // the normal equations' quotients by the reciprocal (every profile element in range)
  int width;      // nfakt padded to whole lanes of eight: row stride of pp
  int used_pairs;  // factor pairs (i <= j, both from offset on)
  int pairs;      // the same, padded to whole lanes of eight
  std::vector<double> pp;  // profiles, nvar x width, padded with zeros
  std::vector<double> pij;  // per variable: p[v][i] * p[v][j] for every pair; pairs each (the same for every record)
  std::vector<double> pt;  // profiles transposed, nfakt x nvar
};

#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TARNOK_WIDE_LANES
typedef double WideLanes __attribute__((vector_size(64)));  // eight doubles
bool wide_lanes() { return __builtin_cpu_supports("avx512f"); }
__attribute__((target("avx512f"))) bool build_normal_equations_wide(const PassProfiles& pass,
                                                                    const double* __restrict y,
                                                                    const double* __restrict w, int nfakt, int nvar,
                                                                    int offset, double* __restrict g,
                                                                    double* __restrict rhs);
#else
bool wide_lanes() { return false; }
#endif

TARNOK_VECTOR_CLONES bool build_normal_equations(const PassProfiles& pass, const double* __restrict y,
                                                 const double* __restrict w, int nfakt, int nvar, int offset,
                                                 double* __restrict g, double* __restrict rhs);
TARNOK_VECTOR_CLONES void fit_values(const double* __restrict pt, const double* __restrict x, int nfakt, int nvar,
                                     double* __restrict fit);

// One thread's solver of records. Each record's normal matrix over all factors and
// its right-hand side are built once; every solve after a factor is dropped takes
// the sub-block of the remaining factors, whose elements are the same sums in the
// same order of variables as a rebuild would give.
class RecordSolver {
 public:
  RecordSolver(const Problem& problem, const FitState& state, const PassProfiles& pass)
      : literal_(problem),
        problem_(problem),
        state_(state),
        nfakt_(problem.nfakt), nvar_(problem.nvar), offset_(problem.offset),
        width_(lanes_width(problem.nfakt)),
        pass_(pass) {
    const auto n = static_cast<std::size_t>(nfakt_);
    const auto nv = static_cast<std::size_t>(nvar_);
    y_.resize(nv);
    w_.resize(nv);
    fit_.resize(nv);
    g_.resize(static_cast<std::size_t>(pass.pairs));
    rhs_.resize(static_cast<std::size_t>(pass.width));
    a_.resize(n * static_cast<std::size_t>(width_));
    b_.resize(n);
    xo_.resize(n);
    active_.resize(n);
    ik_.resize(n);
    jk_.resize(n);
  }

  // Solves the records records[0 .. count - 1] (at most kChunk) into the tables x
  // and dy and their degrees of freedom into dof (nrec). The records' normal
  // equations are built first; then every solve of the same round of elimination
  // (the first, the second after a factor was dropped, ...) has the same order in
  // every record, and the records' blocks are inverted four at a time.
  void solve_chunk(const int* records, int count, double* x, float* dy, int* dof);

  // Solves record s; writes its contributions x (nfakt) and residuals dy (nvar)
  // and returns the number of active factors.
  int solve(int s, double* x, float* dy) {
    const auto row = static_cast<std::size_t>(s) * static_cast<std::size_t>(nvar_);
    const int nactive = solve_finite(problem_.rawdata.data() + row, weighing_usik(problem_, state_).data() + row, x, dy);
    return nactive >= 0 ? nactive : literal::contribution_record(problem_, state_, s, literal_, x, dy);
  }

 private:
  // The fast solve; returns -1 when a value that is not finite turned up.
  int solve_finite(const float* rawdata, const float* usik, double* x, float* dy);
  // Loads a record's values and uncertainties into y_ and w_ and builds its normal
  // equations into g and rhs; returns whether they are all finite.
  bool build_record(const float* rawdata, const float* usik, double* g, double* rhs);
  // Writes x and dy of record s from the solution xo of its active factors;
  // returns false when a fit or residual is not finite.
  bool store_record(int s, const int* active, int nactive, const double* xo, double* x, float* dy);

  literal::Scratch literal_;
  const Problem& problem_;
  const FitState& state_;
  int nfakt_, nvar_, offset_;
  int width_;         // row stride of a
  const PassProfiles& pass_;
  std::vector<double> y_, w_, fit_, g_, rhs_, a_, b_, xo_;
  std::vector<int> active_, ik_, jk_;
  // Per record of a chunk: normal equations, right-hand sides, active factors.
  std::vector<double> chunk_g_, chunk_rhs_;
  std::vector<int> chunk_active_;
  std::vector<int> pending_, next_;  // records of the chunk still solving
  // Four records side by side (LaneQuad, four doubles each): their blocks (order
  // x order), right-hand sides and solutions (nfakt).
  std::vector<double> blocks_, lane_b_, lane_xo_;
  LaneExchanges kept_;
  LaneQuad* quads(std::vector<double>& v) { return reinterpret_cast<LaneQuad*>(v.data()); }
};

// g (the packed pairs i <= j of factors from offset on) and rhs[i] for every
// factor i from offset on, summed over the measured variables in order. Every
// pair's term is formed from its profile product p[v][i] * p[v][j], made once per
// pass, so the sums run in whole lanes of V (kLanes doubles; the padding pairs
// are zero). Returns whether the sums are all finite: then every term was finite,
// and the mirrored and vectorised sums are exact.
template <typename V, int kLanes>
inline __attribute__((always_inline)) bool sum_normal_equations(const PassProfiles& pass, const double* __restrict y,
                                                                const double* __restrict w, int nfakt, int nvar,
                                                                int offset, double* __restrict g,
                                                                double* __restrict rhs) {
  const int width = pass.width;
  const int pairs = pass.pairs;
  for (int k = 0; k < width; ++k) rhs[k] = 0.0;
  for (int k = 0; k < pairs; ++k) g[k] = 0.0;
  // The sums run over whole lanes of V that hold a factor or a pair; the padding
  // beyond stays zero.
  const int used_width = (nfakt + kLanes - 1) / kLanes * kLanes;
  const int used_pairs = (pass.used_pairs + kLanes - 1) / kLanes * kLanes;
  for (int v = 0; v < nvar; ++v) {
    if (!(w[v] > 0)) continue;
    const double wv = w[v];
    const double* __restrict pv = pass.pp.data() + static_cast<std::size_t>(v) * static_cast<std::size_t>(width);
    const double* __restrict pij = pass.pij.data() + static_cast<std::size_t>(v) * static_cast<std::size_t>(pairs);
    const double yv = y[v] - offset * pv[0];  // the offset profile taken off
    V wl, yl;
    for (int l = 0; l < kLanes; ++l) {
      wl[l] = wv;
      yl[l] = yv;
    }
    for (int k = 0; k < used_width; k += kLanes) {
      V r, pk;
      std::memcpy(&r, rhs + k, sizeof r);
      std::memcpy(&pk, pv + k, sizeof pk);
      r = r + yl * pk / wl / wl;
      std::memcpy(rhs + k, &r, sizeof r);
    }
    for (int k = 0; k < used_pairs; k += kLanes) {
      V sum, product;
      std::memcpy(&sum, g + k, sizeof sum);
      std::memcpy(&product, pij + k, sizeof product);
      sum = sum + product / wl / wl;
      std::memcpy(g + k, &sum, sizeof sum);
    }
  }
  return all_finite(rhs + offset, nfakt - offset) && all_finite(g, pairs);
}

TARNOK_VECTOR_CLONES
bool TARNOK_VECTOR_BODY(build_normal_equations)(const PassProfiles& pass, const double* __restrict y,
                                                const double* __restrict w, int nfakt, int nvar, int offset,
                                                double* __restrict g, double* __restrict rhs) {
  return sum_normal_equations<Lanes, 4>(pass, y, w, nfakt, nvar, offset, g, rhs);
}
TARNOK_VECTOR_DISPATCH(bool, build_normal_equations,
                       (const PassProfiles& pass, const double* __restrict y, const double* __restrict w, int nfakt,
                        int nvar, int offset, double* __restrict g, double* __restrict rhs),
                       (pass, y, w, nfakt, nvar, offset, g, rhs))

#ifdef TARNOK_WIDE_LANES
// The same in lanes of eight, on machines with AVX-512: its divider takes eight
// doubles at about the cost of four, and the divisions bound this sum.
__attribute__((target("avx512f"))) bool build_normal_equations_wide(const PassProfiles& pass,
                                                                    const double* __restrict y,
                                                                    const double* __restrict w, int nfakt, int nvar,
                                                                    int offset, double* __restrict g,
                                                                    double* __restrict rhs) {
  return sum_normal_equations<WideLanes, 8>(pass, y, w, nfakt, nvar, offset, g, rhs);
}
#endif

// fit[v] = sum over the factors f in order of pt[f][v] * x[f], for every variable:
// four variables at a time, each sum kept in a register over the factors.
TARNOK_VECTOR_CLONES
void TARNOK_VECTOR_BODY(fit_values)(const double* __restrict pt, const double* __restrict x, int nfakt, int nvar,
                                    double* __restrict fit) {
  const auto stride = static_cast<std::size_t>(nvar);
  int v = 0;
  for (; v + 4 <= nvar; v += 4) {
    Lanes sum = {0.0, 0.0, 0.0, 0.0};
    for (int f = 0; f < nfakt; ++f) {
      Lanes ptf;
      LOAD_LANES(ptf, pt + static_cast<std::size_t>(f) * stride + static_cast<std::size_t>(v));
      const double xf = x[f];
      sum = sum + ptf * Lanes{xf, xf, xf, xf};
    }
    STORE_LANES(fit + v, sum);
  }
  for (; v < nvar; ++v) {
    double sum = 0.0;
    for (int f = 0; f < nfakt; ++f) sum = sum + pt[static_cast<std::size_t>(f) * stride + static_cast<std::size_t>(v)] * x[f];
    fit[v] = sum;
  }
}
TARNOK_VECTOR_DISPATCH(void, fit_values,
                       (const double* __restrict pt, const double* __restrict x, int nfakt, int nvar,
                        double* __restrict fit),
                       (pt, x, nfakt, nvar, fit))

bool RecordSolver::build_record(const float* rawdata, const float* usik, double* g, double* rhs) {
#ifdef TARNOK_WIDE_LANES
  const bool reciprocal = pass_.reciprocal && !pass_.wide;
#else
  const bool reciprocal = pass_.reciprocal;
#endif
  if (reciprocal) {
    return reciprocal_normal_equations(pass_.pp.data(), pass_.pij.data(), pass_.width, pass_.pairs,
                                       (pass_.used_pairs + 3) / 4 * 4, rawdata, usik, nfakt_, nvar_, offset_, g, rhs,
                                       y_.data(), w_.data());  // y_ and w_ as scratch
  }
  for (int v = 0; v < nvar_; ++v) {
    y_[static_cast<std::size_t>(v)] = static_cast<double>(rawdata[v]);
    w_[static_cast<std::size_t>(v)] = static_cast<double>(usik[v]);
  }
#ifdef TARNOK_WIDE_LANES
  if (pass_.wide) return build_normal_equations_wide(pass_, y_.data(), w_.data(), nfakt_, nvar_, offset_, g, rhs);
#endif
  return build_normal_equations(pass_, y_.data(), w_.data(), nfakt_, nvar_, offset_, g, rhs);
}

int RecordSolver::solve_finite(const float* rawdata, const float* usik, double* x, float* dy) {
  const int n = nfakt_;
  const int offset = offset_;
  if (!build_record(rawdata, usik, g_.data(), rhs_.data())) return -1;

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
        const double sum = g[pair_index(n - offset, fr - offset, active[c + offset] - offset)];
        a[r * width_ + c] = sum;
        a[c * width_ + r] = sum;
      }
    }
    double det;
    if (!invert_finite(a, width_, order, &det, ik_.data(), jk_.data())) return -1;
    for (int i = offset; i < nactive; ++i) b[i] = rhs_[static_cast<std::size_t>(active[i])];
    // Solution, and the most negative contribution (ties keep the lower position).
    double min = 0.0;
    int imin = 0;
    for (int i = offset; i < nactive; ++i) {
      double sum = 0.0;
      for (int j = offset; j < nactive; ++j) sum += a[(i - offset) * width_ + (j - offset)] * b[j];
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
  double* fit = fit_.data();
  fit_values(pass_.pt.data(), x, n, nvar_, fit);
  for (int v = 0; v < nvar_; ++v) dy[v] = static_cast<float>(static_cast<double>(rawdata[v]) - fit[v]);
  return all_finite(fit, nvar_) && all_finite(dy, nvar_) ? nactive : -1;
}

bool RecordSolver::store_record(int s, const int* active, int nactive, const double* xo, double* x, float* dy) {
  const int n = nfakt_;
  const auto row = static_cast<std::size_t>(s) * static_cast<std::size_t>(nvar_);
  x += static_cast<std::size_t>(s) * static_cast<std::size_t>(n);
  dy += row;
  for (int f = 0; f < n; ++f) x[f] = 0.0;
  for (int i = 0; i < nactive; ++i) x[active[i]] = xo[i];
  double* fit = fit_.data();
  fit_values(pass_.pt.data(), x, n, nvar_, fit);
  const float* rawdata = problem_.rawdata.data() + row;
  for (int v = 0; v < nvar_; ++v) dy[v] = static_cast<float>(static_cast<double>(rawdata[v]) - fit[v]);
  return all_finite(fit, nvar_) && all_finite(dy, nvar_);
}

// Removes factor d from a record's system of order `order`: its row and column
// from the packed upper triangle g and its entry from rhs. The other sums stay as
// they were, in the packed order of the smaller system.
void drop_from_system(double* g, double* rhs, int order, int d) {
  int to = 0;
  int from = 0;  // pair_index(order, i, j)
  for (int i = 0; i < order; ++i) {
    if (i == d) {
      from += order - i;
      continue;
    }
    for (int j = i; j < order; ++j, ++from) {
      if (j != d) g[to++] = g[from];
    }
  }
  for (int i = d; i < order - 1; ++i) rhs[i] = rhs[i + 1];
}

void RecordSolver::solve_chunk(const int* records, int count, double* x, float* dy, int* dof) {
  const int n = nfakt_;
  const int offset = offset_;
  const auto nf = static_cast<std::size_t>(n);
  const auto pairs = static_cast<std::size_t>(pass_.pairs);
  const auto width = static_cast<std::size_t>(pass_.width);
  // The single-record solve, for what the side-by-side one hands back.
  auto alone = [&](int s) {
    const std::size_t at = static_cast<std::size_t>(s);
    dof[s] = nvar_ - solve(s, x + at * nf, dy + at * static_cast<std::size_t>(nvar_)) + offset;
  };
  if (n - offset > kMaxLaneOrder) {
    for (int r = 0; r < count; ++r) alone(records[r]);
    return;
  }
  // Per record: its system over the factors still active (from offset on), packed.
  chunk_g_.resize(static_cast<std::size_t>(count) * pairs);
  chunk_rhs_.resize(static_cast<std::size_t>(count) * width);
  chunk_active_.resize(static_cast<std::size_t>(count) * nf);
  pending_.clear();
  const float* usik = weighing_usik(problem_, state_).data();
  for (int r = 0; r < count; ++r) {
    const auto row = static_cast<std::size_t>(records[r]) * static_cast<std::size_t>(nvar_);
    double* g = chunk_g_.data() + static_cast<std::size_t>(r) * pairs;
    double* rhs = chunk_rhs_.data() + static_cast<std::size_t>(r) * width;
    if (!build_record(problem_.rawdata.data() + row, usik + row, g, rhs)) {
      alone(records[r]);
      continue;
    }
    for (int f = 0; f + offset < n; ++f) rhs[f] = rhs[f + offset];  // the solved factors' entries first
    int* active = chunk_active_.data() + static_cast<std::size_t>(r) * nf;
    for (int f = 0; f < n; ++f) active[f] = f;
    pending_.push_back(r);
  }

  // Every record still pending has the same number of active factors.
  const auto max_order = static_cast<std::size_t>(n - offset);
  blocks_.resize(4 * max_order * max_order);
  lane_b_.resize(4 * max_order);
  lane_xo_.resize(4 * max_order);
  for (int nactive = n; !pending_.empty(); --nactive) {
    const int order = nactive - offset;
    next_.clear();
    for (std::size_t first = 0; first < pending_.size(); first += 4) {
      // Four records, the last group filled up with copies of its first.
      int lane_record[4];
      const double* lane_g[4];
      const double* lane_rhs[4];
      const std::size_t real = std::min<std::size_t>(4, pending_.size() - first);
      for (std::size_t l = 0; l < 4; ++l) {
        const int r = pending_[first + (l < real ? l : 0)];
        lane_record[l] = r;
        lane_g[l] = chunk_g_.data() + static_cast<std::size_t>(r) * pairs;
        lane_rhs[l] = chunk_rhs_.data() + static_cast<std::size_t>(r) * width;
      }
      const unsigned handed_back =
          order > 0 ? solve_four(lane_g, lane_rhs, order, quads(blocks_), quads(lane_b_), &kept_, lane_xo_.data()) : 0;
      for (std::size_t l = 0; l < real; ++l) {
        const int r = lane_record[l];
        const int s = records[r];
        if (handed_back & (1u << l)) {
          alone(s);
          continue;
        }
        // The most negative contribution; ties keep the lower position.
        double* xo = xo_.data();
        const double* solved = lane_xo_.data() + l * static_cast<std::size_t>(order);
        double min = 0.0;
        int imin = 0;
        bool finite = true;
        for (int i = offset; i < nactive; ++i) {
          xo[i] = solved[i - offset];
          finite = finite && std::isfinite(xo[i]);
          if (xo[i] < min) {
            min = xo[i];
            imin = i;
          }
        }
        if (!finite) {
          alone(s);
          continue;
        }
        if (offset) xo[0] = 1.0;
        int* active = chunk_active_.data() + static_cast<std::size_t>(r) * nf;
        if (min < 0 && nactive >= 2) {
          for (int i = imin; i < nactive - 1; ++i) active[i] = active[i + 1];
          drop_from_system(chunk_g_.data() + static_cast<std::size_t>(r) * pairs,
                           chunk_rhs_.data() + static_cast<std::size_t>(r) * width, order, imin - offset);
          next_.push_back(r);
          continue;
        }
        if (store_record(s, active, nactive, xo, x, dy)) {
          dof[s] = nvar_ - nactive + offset;
        } else {
          alone(s);
        }
      }
    }
    std::swap(pending_, next_);
  }
}

PassProfiles::PassProfiles(const Problem& problem, const FitState& state)
    : wide(wide_lanes()), reciprocal(reciprocal_division_available()), width((problem.nfakt + 7) / 8 * 8) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const int solved = problem.nfakt - problem.offset;
  used_pairs = solved * (solved + 1) / 2;
  pairs = (used_pairs + 7) / 8 * 8;
  pp.assign(nvar * static_cast<std::size_t>(width), 0.0);
  pij.assign(nvar * static_cast<std::size_t>(pairs), 0.0);
  pt.assign(nfakt * nvar, 0.0);
  for (std::size_t v = 0; v < nvar; ++v) {
    const double* pv = state.p.data() + v * nfakt;
    for (std::size_t f = 0; f < nfakt; ++f) {
      pp[v * static_cast<std::size_t>(width) + f] = pv[f];
      reciprocal = reciprocal && reciprocal_profile_in_range(pv[f]);
      pt[f * nvar + v] = pv[f];
    }
    double* products = pij.data() + v * static_cast<std::size_t>(pairs);
    int k = 0;
    for (int i = problem.offset; i < problem.nfakt; ++i) {
      for (int j = i; j < problem.nfakt; ++j, ++k) products[k] = pv[i] * pv[j];
    }
  }
}

// The terms of chi2, dy * dy / u / u where u > 0 and 0 elsewhere, of n cells of
// the tables dy and usik, four at a time.
TARNOK_VECTOR_CLONES
void TARNOK_VECTOR_BODY(chi2_terms)(const float* __restrict dy, const float* __restrict usik, std::size_t n,
                                    double* __restrict terms) {
  std::size_t k = 0;
  for (; k + 4 <= n; k += 4) {
    FloatLanes df, uf;
    std::memcpy(&df, dy + k, sizeof df);
    std::memcpy(&uf, usik + k, sizeof uf);
    const Lanes r = __builtin_convertvector(df, Lanes);
    const Lanes u = __builtin_convertvector(uf, Lanes);
    const Lanes term = r * r / u / u;
    const Lanes kept = u > Lanes{0.0, 0.0, 0.0, 0.0} ? term : Lanes{0.0, 0.0, 0.0, 0.0};  // u > 0 exactly when usik > 0
    STORE_LANES(terms + k, kept);
  }
  for (; k < n; ++k) {
    const double r = static_cast<double>(dy[k]);
    const double u = static_cast<double>(usik[k]);
    const double term = r * r / u / u;
    terms[k] = usik[k] > 0 ? term : 0.0;
  }
}
TARNOK_VECTOR_DISPATCH(void, chi2_terms,
                       (const float* __restrict dy, const float* __restrict usik, std::size_t n,
                        double* __restrict terms),
                       (dy, usik, n, terms))

// Adds record s's share to sum2, sumsq and chi2 as literal::add_record_totals
// does, from its terms of chi2 (chi2_terms) when they are all finite (a NaN takes
// the literal code, whose operand order decides its sign).
void add_record_totals(const Problem& problem, FitState& state, std::size_t s, const double* terms) {
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const double* x = state.x.data() + s * nfakt;
  if (!all_finite(x, problem.nfakt) || !all_finite(terms, problem.nvar)) {
    literal::add_record_totals(problem, state, static_cast<int>(s));
    return;
  }
  // A factor left out has x exactly +0.0, which the literal code skips; adding it
  // changes nothing, as these sums start at +0.0 and so are never -0.0.
  // Each total in a local, so that its chain of additions does not go through
  // memory; the chains of sumsq and chi2 run side by side.
  double* sum2 = state.sum2.data();
  double sumsq = state.sumsq;
  double chi2 = state.chi2;
  for (std::size_t f = 0; f < nfakt; ++f) {
    sum2[f] += x[f];
    sumsq += x[f] * x[f];
  }
  for (std::size_t v = 0; v < nvar; ++v) chi2 += terms[v];
  state.sumsq = sumsq;
  state.chi2 = chi2;
}

// The records whose contributions are solved, and for each record the one whose
// solution it takes: itself, or the earlier record it repeats (problem.copy_of) when
// their values and uncertainties are the very same bits.
struct SolvedRecords {
  std::vector<int> solved;
  std::vector<int> source;  // nrec
};

SolvedRecords records_to_solve(const Problem& problem, const FitState& state) {
  SolvedRecords out;
  out.solved.reserve(static_cast<std::size_t>(problem.nrec));
  out.source.resize(static_cast<std::size_t>(problem.nrec));
  const bool repeats = problem.copy_of.size() == static_cast<std::size_t>(problem.nrec);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const auto bytes = nvar * sizeof(float);
  const float* rawdata = problem.rawdata.data();
  const float* usik = weighing_usik(problem, state).data();
  for (int s = 0; s < problem.nrec; ++s) {
    const int first = repeats ? problem.copy_of[static_cast<std::size_t>(s)] : s;
    const auto a = static_cast<std::size_t>(s) * nvar;
    const auto b = static_cast<std::size_t>(first) * nvar;
    const bool same = first >= 0 && first < s && std::memcmp(rawdata + a, rawdata + b, bytes) == 0 &&
                      std::memcmp(usik + a, usik + b, bytes) == 0;
    out.source[static_cast<std::size_t>(s)] = same ? first : s;
    if (!same) out.solved.push_back(s);
  }
  return out;
}

}  // namespace

void contribution_step(const Problem& problem, const FitSettings&, FitState& state, int s) {
  assert(problem.consistent() && state.fits(problem) && s >= 0 && s < problem.nrec);
  const PassProfiles pass(problem, state);
  RecordSolver solver(problem, state, pass);
  const auto row = static_cast<std::size_t>(s) * static_cast<std::size_t>(problem.nvar);
  const int nactive =
      solver.solve(s, state.x.data() + static_cast<std::size_t>(s) * static_cast<std::size_t>(problem.nfakt), state.dy.data() + row);
  state.nytot += problem.nvar - nactive + problem.offset;
  std::vector<double> terms(static_cast<std::size_t>(problem.nvar));
  // The plain uncertainties, also in robust mode: Q(true).
  chi2_terms(state.dy.data() + row, problem.usik.data() + row, static_cast<std::size_t>(problem.nvar), terms.data());
  add_record_totals(problem, state, static_cast<std::size_t>(s), terms.data());
}

void contribution_pass(const Problem& problem, const FitSettings& settings, FitState& state) {
  assert(problem.consistent() && state.fits(problem) && settings.threads >= 1);
  const PassProfiles pass(problem, state);
  const SolvedRecords records = records_to_solve(problem, state);
  const std::vector<int>& solved = records.solved;
  const int count = static_cast<int>(solved.size());
  const double work = static_cast<double>(count) * problem.nvar * problem.nfakt * problem.nfakt;
  const int threads = std::min(threads_for(work, settings.threads), (count + kChunk - 1) / kChunk);
  std::vector<RecordSolver> solvers;
  solvers.reserve(static_cast<std::size_t>(threads));
  for (int t = 0; t < threads; ++t) solvers.emplace_back(problem, state, pass);
  std::vector<int> dof(static_cast<std::size_t>(problem.nrec), 0);
  std::atomic<int> next{0};
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  const auto nfakt = static_cast<std::size_t>(problem.nfakt);

  run_on_threads(threads, [&](int t) {
    RecordSolver& solver = solvers[static_cast<std::size_t>(t)];
    for (;;) {
      const int begin = next.fetch_add(kChunk);
      if (begin >= count) break;
      const int end = std::min(count, begin + kChunk);
      solver.solve_chunk(solved.data() + begin, end - begin, state.x.data(), state.dy.data(), dof.data());
    }
  });

  // A repeated record takes the solution of its first occurrence.
  if (count < problem.nrec) {
    for (std::size_t s = 0; s < static_cast<std::size_t>(problem.nrec); ++s) {
      const auto first = static_cast<std::size_t>(records.source[s]);
      if (first == s) continue;
      std::copy_n(state.x.data() + first * nfakt, nfakt, state.x.data() + s * nfakt);
      std::copy_n(state.dy.data() + first * nvar, nvar, state.dy.data() + s * nvar);
      dof[s] = dof[first];
    }
  }
  long long nytot = state.nytot;
  for (int part : dof) nytot += part;
  state.nytot = static_cast<int>(nytot);
  // The records' terms of chi2, a block of records at a time, with the plain
  // uncertainties, also in robust mode: Q(true).
  const auto nrec = static_cast<std::size_t>(problem.nrec);
  const std::size_t block = std::min<std::size_t>(nrec, kChunk);
  std::vector<double> terms(block * nvar);
  for (std::size_t begin = 0; begin < nrec; begin += block) {
    const std::size_t end = std::min(nrec, begin + block);
    chi2_terms(state.dy.data() + begin * nvar, problem.usik.data() + begin * nvar, (end - begin) * nvar, terms.data());
    for (std::size_t s = begin; s < end; ++s) add_record_totals(problem, state, s, terms.data() + (s - begin) * nvar);
  }
}

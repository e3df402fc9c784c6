#include "engine/detail/cross_products.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "engine/detail/lanes.h"
#include "parallel/workers.h"

namespace {

constexpr int kBlock = 128;  // records swept for all of a thread's variables at a time
constexpr int kMaxFactorsInLanes = 32;  // record_products forms the pairs of up to this many factors in lanes

int whole_lanes(int n) { return (n + 3) / 4 * 4; }

// The products x[s][i] * x[s][j] (i <= j, packed, padded with zeros to `pairs`)
// and x[s][i] (padded to `width`) of records [begin, end), `pairs` + `width` per record.
TARNOK_VECTOR_CLONES
void TARNOK_VECTOR_BODY(record_products)(const double* __restrict x, int nfakt, int begin, int end, int pairs,
                                         int width, double* __restrict out) {
  const auto stride = static_cast<std::size_t>(pairs + width);
  // Each run of pairs (i, i .. nfakt - 1) in whole lanes from a copy of the
  // record's contributions padded with zeros; a run's last lane writes past its
  // end into the next run, which overwrites it, and the last run's into the
  // padding of the pairs or the contributions that follow (width >= 4).
  double padded[kMaxFactorsInLanes + 4];
  for (int s = begin; s < end; ++s) {
    const double* xs = x + static_cast<std::size_t>(s) * static_cast<std::size_t>(nfakt);
    double* xx = out + static_cast<std::size_t>(s - begin) * stride;
    int k = 0;
    if (nfakt <= kMaxFactorsInLanes) {
      for (int i = 0; i < nfakt; ++i) padded[i] = xs[i];
      for (int i = nfakt; i < nfakt + 4; ++i) padded[i] = 0.0;
      for (int i = 0; i < nfakt; ++i) {
        const Lanes xi = {xs[i], xs[i], xs[i], xs[i]};
        for (int j = i; j < nfakt; j += 4) {
          Lanes xj;
          LOAD_LANES(xj, padded + j);
          const Lanes product = xi * xj;
          STORE_LANES(xx + k + (j - i), product);
        }
        k += nfakt - i;
      }
    } else {
      for (int i = 0; i < nfakt; ++i) {
        for (int j = i; j < nfakt; ++j) xx[k++] = xs[i] * xs[j];
      }
    }
    for (; k < pairs; ++k) xx[k] = 0.0;
    double* xl = xx + pairs;
    for (int i = 0; i < nfakt; ++i) xl[i] = xs[i];
    for (int i = nfakt; i < width; ++i) xl[i] = 0.0;
  }
}
TARNOK_VECTOR_DISPATCH(void, record_products,
                       (const double* __restrict x, int nfakt, int begin, int end, int pairs, int width,
                        double* __restrict out),
                       (x, nfakt, begin, end, pairs, width, out))

// Adds records [begin, end) to the sums of one variable: kPairLanes and
// kWidthLanes lanes of four (0: pairs / 4 and width / 4, summed in memory; given,
// the sums stay in registers over the records).
template <int kPairLanes, int kWidthLanes>
inline __attribute__((always_inline)) void add_records_to(const float* __restrict usik, const float* __restrict value,
                                                          std::size_t nvar, CrossSums& sums, int begin, int end,
                                                          int pairs, int width, const double* __restrict products) {
  constexpr bool fixed = kPairLanes > 0;
  const int pair_lanes = fixed ? kPairLanes : pairs / 4;
  const int width_lanes = fixed ? kWidthLanes : width / 4;
  const auto stride = static_cast<std::size_t>(pairs + width);
  const auto v = static_cast<std::size_t>(sums.v);
  double* __restrict a = sums.a.data();
  double* __restrict b = sums.b.data();
  Lanes a_sums[fixed ? kPairLanes : 1];
  Lanes b_sums[fixed ? kWidthLanes : 1];
  if (fixed) {
    for (int q = 0; q < pair_lanes; ++q) LOAD_LANES(a_sums[q], a + 4 * q);
    for (int q = 0; q < width_lanes; ++q) LOAD_LANES(b_sums[q], b + 4 * q);
  }
  for (int s = begin; s < end; ++s) {
    const std::size_t cell = static_cast<std::size_t>(s) * nvar + v;
    if (!(usik[cell] > 0)) continue;
    const double u = static_cast<double>(usik[cell]);
    const double wt = sums.scaled ? 1 / u / u / sums.scale : 1 / u / u;
    const double val = static_cast<double>(value[cell]);
    const double* xx = products + static_cast<std::size_t>(s - begin) * stride;
    const double* xl = xx + pairs;
    const Lanes wl = {wt, wt, wt, wt};
    const Lanes vl = {val, val, val, val};
#pragma GCC unroll 4
    for (int q = 0; q < width_lanes; ++q) {
      Lanes sum, xk;
      if (fixed) sum = b_sums[q]; else LOAD_LANES(sum, b + 4 * q);
      LOAD_LANES(xk, xl + 4 * q);
      sum = sum + vl * xk * wl;
      if (fixed) b_sums[q] = sum; else STORE_LANES(b + 4 * q, sum);
    }
#pragma GCC unroll 16
    for (int q = 0; q < pair_lanes; ++q) {
      Lanes sum, xk;
      if (fixed) sum = a_sums[q]; else LOAD_LANES(sum, a + 4 * q);
      LOAD_LANES(xk, xx + 4 * q);
      sum = sum + xk * wl;
      if (fixed) a_sums[q] = sum; else STORE_LANES(a + 4 * q, sum);
    }
  }
  if (fixed) {
    for (int q = 0; q < pair_lanes; ++q) STORE_LANES(a + 4 * q, a_sums[q]);
    for (int q = 0; q < width_lanes; ++q) STORE_LANES(b + 4 * q, b_sums[q]);
  }
}

// The sums of up to seven factors (up to seven lanes of pairs, two of single
// factors) fit in registers; more take the general loop.
TARNOK_VECTOR_CLONES
void TARNOK_VECTOR_BODY(add_records)(const float* __restrict usik, const float* __restrict value, std::size_t nvar,
                                     CrossSums& sums, int begin, int end, int pairs, int width,
                                     const double* __restrict products) {
#define TARNOK_ADD_RECORDS(P, W) add_records_to<P, W>(usik, value, nvar, sums, begin, end, pairs, width, products)
  switch (pairs * 4 + width / 4) {
    case 4 * 4 + 1: return TARNOK_ADD_RECORDS(1, 1);  // 1 and 2 factors
    case 8 * 4 + 1: return TARNOK_ADD_RECORDS(2, 1);  // 3
    case 12 * 4 + 1: return TARNOK_ADD_RECORDS(3, 1);  // 4
    case 16 * 4 + 2: return TARNOK_ADD_RECORDS(4, 2);  // 5
    case 24 * 4 + 2: return TARNOK_ADD_RECORDS(6, 2);  // 6
    case 28 * 4 + 2: return TARNOK_ADD_RECORDS(7, 2);  // 7
    default: return TARNOK_ADD_RECORDS(0, 0);
  }
#undef TARNOK_ADD_RECORDS
}
TARNOK_VECTOR_DISPATCH(void, add_records,
                       (const float* __restrict usik, const float* __restrict value, std::size_t nvar, CrossSums& sums,
                        int begin, int end, int pairs, int width, const double* __restrict products),
                       (usik, value, nvar, sums, begin, end, pairs, width, products))

}  // namespace

bool CrossSums::finite() const {
  return all_finite(a.data(), static_cast<int>(a.size())) && all_finite(b.data(), static_cast<int>(b.size()));
}

std::vector<std::vector<int>> share_variables(std::size_t count, int threads) {
  std::vector<std::vector<int>> shares(static_cast<std::size_t>(threads));
  for (std::size_t k = 0; k < count; ++k) shares[k % static_cast<std::size_t>(threads)].push_back(static_cast<int>(k));
  return shares;
}

void accumulate_cross_sums(const Problem& problem, const FitState& state, const float* value, std::vector<CrossSums>& sums, int threads) {
  const int pairs = whole_lanes(problem.nfakt * (problem.nfakt + 1) / 2);
  const int width = whole_lanes(problem.nfakt);
  for (CrossSums& s : sums) {
    s.a.assign(static_cast<std::size_t>(pairs), 0.0);
    s.b.assign(static_cast<std::size_t>(width), 0.0);
  }
  const std::vector<std::vector<int>> shares = share_variables(sums.size(), threads);
  const std::size_t block_size = static_cast<std::size_t>(kBlock) * static_cast<std::size_t>(pairs + width);
  // Scratch of each thread, written before it is read: left uninitialized.
  std::vector<std::unique_ptr<double[]>> products(static_cast<std::size_t>(threads));
  for (auto& scratch : products) scratch.reset(new double[block_size]);
  const auto nvar = static_cast<std::size_t>(problem.nvar);
  run_on_threads(threads, [&](int t) {
    const std::vector<int>& mine = shares[static_cast<std::size_t>(t)];
    if (mine.empty()) return;
    double* xx = products[static_cast<std::size_t>(t)].get();
    for (int begin = 0; begin < problem.nrec; begin += kBlock) {
      const int end = std::min(problem.nrec, begin + kBlock);
      record_products(state.x.data(), problem.nfakt, begin, end, pairs, width, xx);
      for (int k : mine) {
        add_records(weighing_usik(problem, state).data(), value, nvar, sums[static_cast<std::size_t>(k)], begin, end, pairs, width, xx);
      }
    }
  });
}

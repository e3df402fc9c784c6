#include "engine/detail/reciprocal_division.h"

#include "engine/detail/lanes.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

bool reciprocal_division_available() {
  static const bool has =
      (__builtin_cpu_init(), __builtin_cpu_supports("avx2") != 0 && __builtin_cpu_supports("fma") != 0);
  return has;
}

namespace {

// a / u in four lanes, from the reciprocal of u split in two: r_hi + r_lo = 1 / u
// to about 2^-105 of it. One rounding of a * r_hi + (a * r_lo rounded).
__attribute__((target("avx2,fma"), always_inline)) inline __m256d quotient(__m256d a, __m256d r_hi, __m256d r_lo) {
  return _mm256_fmadd_pd(a, r_hi, _mm256_mul_pd(a, r_lo));
}

// r_hi[v] = 1 / u[v] rounded and r_lo[v] = (1 - r_hi[v] * u[v]) * r_hi[v] (the
// fused remainder is exact) for every variable, so that r_hi + r_lo is 1 / u to
// about 2^-105 of it. Formed for the whole record first, four at a time, so that
// no sum waits on a division. (A u <= 0 gives values that are never used.)
__attribute__((target("avx2,fma"))) void split_reciprocals(const float* u, int nvar, double* r_hi, double* r_lo) {
  int v = 0;
  const __m256d one = _mm256_set1_pd(1.0);
  for (; v + 4 <= nvar; v += 4) {
    const __m256d uv = _mm256_cvtps_pd(_mm_loadu_ps(u + v));
    const __m256d hi = _mm256_div_pd(one, uv);
    _mm256_storeu_pd(r_hi + v, hi);
    _mm256_storeu_pd(r_lo + v, _mm256_mul_pd(_mm256_fnmadd_pd(hi, uv, one), hi));
  }
  for (; v < nvar; ++v) {
    const __m128d uv = _mm_set_sd(static_cast<double>(u[v]));
    const __m128d hi = _mm_div_sd(_mm_set_sd(1.0), uv);
    _mm_store_sd(r_hi + v, hi);
    _mm_store_sd(r_lo + v, _mm_mul_sd(_mm_fnmadd_sd(hi, uv, _mm_set_sd(1.0)), hi));
  }
}

// The sums over the variables: kPairLanes lanes of four pairs and kWidthLanes of
// four factors kept in registers (both 0: any count, summed in memory).
template <int kPairLanes, int kWidthLanes>
__attribute__((target("avx2,fma"), always_inline)) inline void sum_terms(const double* pp, const double* pij, int width,
                                                                        int pairs, int pair_lanes, int width_lanes,
                                                                        const float* y, const float* w,
                                                                        const double* r_his, const double* r_los,
                                                                        int nvar, int offset, double* g, double* rhs) {
  constexpr bool fixed = kPairLanes > 0;
  if (fixed) {
    pair_lanes = kPairLanes;
    width_lanes = kWidthLanes;
  }
  __m256d g_sums[fixed ? kPairLanes : 1];
  __m256d rhs_sums[fixed ? kWidthLanes : 1];
  if (fixed) {
    for (int q = 0; q < pair_lanes; ++q) g_sums[q] = _mm256_setzero_pd();
    for (int q = 0; q < width_lanes; ++q) rhs_sums[q] = _mm256_setzero_pd();
  }
  const double offset_factor = offset;
  for (int v = 0; v < nvar; ++v) {
    if (!(w[v] > 0)) continue;
    const double* pv = pp + static_cast<std::size_t>(v) * static_cast<std::size_t>(width);
    const double* products = pij + static_cast<std::size_t>(v) * static_cast<std::size_t>(pairs);
    const __m256d r_hi = _mm256_set1_pd(r_his[v]);
    const __m256d r_lo = _mm256_set1_pd(r_los[v]);
    const __m256d yv = _mm256_set1_pd(static_cast<double>(y[v]) - offset_factor * pv[0]);
TARNOK_UNROLL(2)
    for (int q = 0; q < width_lanes; ++q) {
      const __m256d term = quotient(quotient(_mm256_mul_pd(yv, _mm256_loadu_pd(pv + 4 * q)), r_hi, r_lo), r_hi, r_lo);
      if (fixed) {
        rhs_sums[q] = _mm256_add_pd(rhs_sums[q], term);
      } else {
        _mm256_storeu_pd(rhs + 4 * q, _mm256_add_pd(_mm256_loadu_pd(rhs + 4 * q), term));
      }
    }
TARNOK_UNROLL(8)
    for (int q = 0; q < pair_lanes; ++q) {
      const __m256d term = quotient(quotient(_mm256_loadu_pd(products + 4 * q), r_hi, r_lo), r_hi, r_lo);
      if (fixed) {
        g_sums[q] = _mm256_add_pd(g_sums[q], term);
      } else {
        _mm256_storeu_pd(g + 4 * q, _mm256_add_pd(_mm256_loadu_pd(g + 4 * q), term));
      }
    }
  }
  if (fixed) {
    for (int q = 0; q < pair_lanes; ++q) _mm256_storeu_pd(g + 4 * q, g_sums[q]);
    for (int q = 0; q < width_lanes; ++q) _mm256_storeu_pd(rhs + 4 * q, rhs_sums[q]);
  }
}

}  // namespace

__attribute__((target("avx2,fma"))) bool reciprocal_normal_equations(
    const double* pp, const double* pij, int width, int pairs, int used_pairs, const float* y, const float* w,
    int nfakt, int nvar, int offset, double* g, double* rhs, double* r_hi, double* r_lo) {
  split_reciprocals(w, nvar, r_hi, r_lo);
  for (int k = 0; k < width; ++k) rhs[k] = 0.0;
  for (int k = 0; k < pairs; ++k) g[k] = 0.0;
  const int pair_lanes = (used_pairs + 3) / 4;
  const int width_lanes = (nfakt + 3) / 4;
#define TARNOK_SUM_TERMS(P, W) \
  sum_terms<P, W>(pp, pij, width, pairs, pair_lanes, width_lanes, y, w, r_hi, r_lo, nvar, offset, g, rhs)
  // Up to seven factors: every sum in a register.
  switch (width_lanes * 8 + pair_lanes) {
    case 8 + 1: TARNOK_SUM_TERMS(1, 1); break;
    case 8 + 2: TARNOK_SUM_TERMS(2, 1); break;
    case 8 + 3: TARNOK_SUM_TERMS(3, 1); break;
    case 16 + 1: TARNOK_SUM_TERMS(1, 2); break;
    case 16 + 2: TARNOK_SUM_TERMS(2, 2); break;
    case 16 + 3: TARNOK_SUM_TERMS(3, 2); break;
    case 16 + 4: TARNOK_SUM_TERMS(4, 2); break;
    case 16 + 5: TARNOK_SUM_TERMS(5, 2); break;
    case 16 + 6: TARNOK_SUM_TERMS(6, 2); break;
    case 16 + 7: TARNOK_SUM_TERMS(7, 2); break;
    default: TARNOK_SUM_TERMS(0, 0); break;
  }
#undef TARNOK_SUM_TERMS
  return all_finite(g, pairs) && all_finite(rhs + offset, nfakt - offset);
}

#else

bool reciprocal_division_available() { return false; }

bool reciprocal_normal_equations(const double*, const double*, int, int, int, const float*, const float*, int, int,
                                 int, double*, double*, double*, double*) {
  return false;
}

#endif

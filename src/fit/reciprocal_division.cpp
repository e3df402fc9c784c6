#include "fit/reciprocal_division.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

bool reciprocal_division_available() {
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

namespace {

// a / u in four lanes, r = 1 / u.
__attribute__((target("avx2,fma"), always_inline)) inline __m256d quotient(__m256d a, __m256d u, __m256d r) {
  const __m256d q = _mm256_mul_pd(a, r);
  const __m256d e = _mm256_fnmadd_pd(q, u, a);
  return _mm256_fmadd_pd(e, r, q);
}

}  // namespace

__attribute__((target("avx2,fma"))) void reciprocal_normal_equations(const double* pp, const double* pij, int width,
                                                                      int pairs, int used_width, int used_pairs,
                                                                      const double* y, const double* w, int nvar,
                                                                      int offset, double* g, double* rhs) {
  for (int k = 0; k < width; ++k) rhs[k] = 0.0;
  for (int k = 0; k < pairs; ++k) g[k] = 0.0;
  for (int v = 0; v < nvar; ++v) {
    if (!(w[v] > 0)) continue;
    const double* pv = pp + static_cast<std::size_t>(v) * static_cast<std::size_t>(width);
    const double* products = pij + static_cast<std::size_t>(v) * static_cast<std::size_t>(pairs);
    const __m256d u = _mm256_set1_pd(w[v]);
    const __m256d r = _mm256_set1_pd(1.0 / w[v]);
    const __m256d yv = _mm256_set1_pd(y[v] - offset * pv[0]);
    for (int k = 0; k < used_width; k += 4) {
      const __m256d term = quotient(quotient(_mm256_mul_pd(yv, _mm256_loadu_pd(pv + k)), u, r), u, r);
      _mm256_storeu_pd(rhs + k, _mm256_add_pd(_mm256_loadu_pd(rhs + k), term));
    }
    for (int k = 0; k < used_pairs; k += 4) {
      const __m256d term = quotient(quotient(_mm256_loadu_pd(products + k), u, r), u, r);
      _mm256_storeu_pd(g + k, _mm256_add_pd(_mm256_loadu_pd(g + k), term));
    }
  }
}

#else

bool reciprocal_division_available() { return false; }

void reciprocal_normal_equations(const double*, const double*, int, int, int, int, const double*, const double*, int,
                                 int, double*, double*) {}

#endif

#include "start/factorisation.h"

#include <algorithm>
#include <vector>

// The factorisation's loops are compiled twice, for AVX2 and for the x86-64
// baseline, and the loader picks the one the machine runs (ELF systems; elsewhere
// the baseline alone). Both do the same IEEE operations in the same order: AVX2
// alone has no fused multiply-add, and contraction is off.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && defined(__ELF__)
#define START_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define START_VECTOR_CLONES
#endif

namespace {

// One sample's row of the model, g f: each element's sum runs over c in order from
// 0.0, a factor's row at a time so that the variables go side by side. Inlined,
// so that each version of the factorisation has its own.
#if defined(__GNUC__)
__attribute__((always_inline))
#endif
inline void model_row(std::size_t nvar, std::size_t k, const double* g_row, const double* f, double* fit) {
  for (std::size_t v = 0; v < nvar; ++v) fit[v] = 0.0;
  for (std::size_t c = 0; c < k; ++c) {
    const double gc = g_row[c];
    const double* fc = &f[c * nvar];
    for (std::size_t v = 0; v < nvar; ++v) fit[v] += gc * fc[v];
  }
}

}  // namespace

START_VECTOR_CLONES
void factorise(std::size_t n, std::size_t nvar, std::size_t k, const double* x, const double* w, double* g,
               double* f) {
  constexpr double kTiny = 1e-300;
  // ft: f with the factors of a variable side by side (kp of them, the factors
  // beyond k zero), so that the contribution step sums kBlock factors of a sample
  // at once, in registers; each sum still runs over v in order.
  constexpr std::size_t kBlock = 4;
  const std::size_t kp = (k + kBlock - 1) / kBlock * kBlock;
  std::vector<double> fit(nvar), top_f(k * nvar), bottom_f(k * nvar), ft(nvar * kp, 0.0);
  for (int step = 0; step < 200; ++step) {
    // Profile step: the sums over the samples in order, a sample's model row just
    // before its terms.
    std::fill(top_f.begin(), top_f.end(), 0.0);
    std::fill(bottom_f.begin(), bottom_f.end(), 0.0);
    for (std::size_t r = 0; r < n; ++r) {
      model_row(nvar, k, &g[r * k], f, fit.data());
      const double* wr = &w[r * nvar];
      const double* xr = &x[r * nvar];
      const double* fr = fit.data();
      for (std::size_t c = 0; c < k; ++c) {
        const double gc = g[r * k + c];
        double* __restrict top = &top_f[c * nvar];
        double* __restrict bottom = &bottom_f[c * nvar];
        for (std::size_t v = 0; v < nvar; ++v) {
          top[v] += gc * wr[v] * xr[v];
          bottom[v] += gc * wr[v] * fr[v];
        }
      }
    }
    for (std::size_t e = 0; e < k * nvar; ++e) f[e] = f[e] * top_f[e] / (bottom_f[e] + kTiny);
    for (std::size_t c = 0; c < k; ++c) {
      for (std::size_t v = 0; v < nvar; ++v) ft[v * kp + c] = f[c * nvar + v];
    }
    // Contribution step: a sample's contributions need only its own model row and
    // the new profiles, so each is updated as soon as its sums are done.
    for (std::size_t r = 0; r < n; ++r) {
      model_row(nvar, k, &g[r * k], f, fit.data());
      const double* wr = &w[r * nvar];
      const double* xr = &x[r * nvar];
      for (std::size_t c0 = 0; c0 < k; c0 += kBlock) {
        double top[kBlock] = {}, bottom[kBlock] = {};
        for (std::size_t v = 0; v < nvar; ++v) {
          const double wx = wr[v] * xr[v];
          const double wfit = wr[v] * fit[v];
          const double* fv = &ft[v * kp + c0];
          for (std::size_t j = 0; j < kBlock; ++j) {
            top[j] += wx * fv[j];
            bottom[j] += wfit * fv[j];
          }
        }
        for (std::size_t j = 0; j < kBlock && c0 + j < k; ++j) {
          double& gc = g[r * k + c0 + j];
          gc = gc * top[j] / (bottom[j] + kTiny);
        }
      }
    }
  }
}


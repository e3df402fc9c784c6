// The starting model's factorisation written as its definition reads: the model
// g f of every sample first, then the sums of each update element by element.
#include <algorithm>
#include <vector>

#include "reference/reference.h"

namespace reference {

void factorise(std::size_t n, std::size_t nvar, std::size_t k, const double* x, const double* w, double* g,
               double* f) {
  constexpr double kTiny = 1e-300;
  std::vector<double> fit(n * nvar), top_f(k * nvar), bottom_f(k * nvar), top_g(n * k), bottom_g(n * k);
  auto model = [&]() {
    for (std::size_t r = 0; r < n; ++r) {
      for (std::size_t v = 0; v < nvar; ++v) {
        double sum = 0.0;
        for (std::size_t c = 0; c < k; ++c) sum += g[r * k + c] * f[c * nvar + v];
        fit[r * nvar + v] = sum;
      }
    }
  };
  for (int step = 0; step < 200; ++step) {
    model();
    std::fill(top_f.begin(), top_f.end(), 0.0);
    std::fill(bottom_f.begin(), bottom_f.end(), 0.0);
    for (std::size_t r = 0; r < n; ++r) {
      for (std::size_t c = 0; c < k; ++c) {
        const double gc = g[r * k + c];
        for (std::size_t v = 0; v < nvar; ++v) {
          top_f[c * nvar + v] += gc * w[r * nvar + v] * x[r * nvar + v];
          bottom_f[c * nvar + v] += gc * w[r * nvar + v] * fit[r * nvar + v];
        }
      }
    }
    for (std::size_t e = 0; e < k * nvar; ++e) f[e] = f[e] * top_f[e] / (bottom_f[e] + kTiny);
    model();
    for (std::size_t r = 0; r < n; ++r) {
      for (std::size_t c = 0; c < k; ++c) {
        double top = 0.0, bottom = 0.0;
        for (std::size_t v = 0; v < nvar; ++v) {
          top += w[r * nvar + v] * x[r * nvar + v] * f[c * nvar + v];
          bottom += w[r * nvar + v] * fit[r * nvar + v] * f[c * nvar + v];
        }
        top_g[r * k + c] = top;
        bottom_g[r * k + c] = bottom;
      }
    }
    for (std::size_t e = 0; e < n * k; ++e) g[e] = g[e] * top_g[e] / (bottom_g[e] + kTiny);
  }
}

}  // namespace reference

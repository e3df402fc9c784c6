#include "fit/cross_products.h"

#include <algorithm>
#include <numeric>

#include "fit/workers.h"

namespace {

constexpr int kBlock = 256;  // records swept for all of a thread's variables at a time

// Adds records [begin, end) to the sums of one variable.
void add_records(const Model& m, const float* value, CrossSums& sums, int begin, int end, double* xa) {
  const auto nvar = static_cast<std::size_t>(m.nvar);
  const auto nfakt = static_cast<std::size_t>(m.nfakt);
  const auto v = static_cast<std::size_t>(sums.v);
  const int n = sums.n;
  const int* f = sums.f.data();
  double* __restrict a = sums.a.data();
  double* __restrict b = sums.b.data();
  for (int s = begin; s < end; ++s) {
    const std::size_t cell = static_cast<std::size_t>(s) * nvar + v;
    if (!(m.usik[cell] > 0)) continue;
    const double u = static_cast<double>(m.usik[cell]);
    const double wt = sums.scaled ? 1 / u / u / sums.scale : 1 / u / u;
    const double val = static_cast<double>(value[cell]);
    const double* xs = m.x.data() + static_cast<std::size_t>(s) * nfakt;
    for (int i = 0; i < n; ++i) xa[i] = xs[f[i]];
    for (int i = 0; i < n; ++i) {
      const double xi = xa[i];
      b[i] = b[i] + val * xi * wt;
      double* __restrict ai = a + i * n;
      for (int j = i; j < n; ++j) ai[j] = ai[j] + xi * xa[j] * wt;
    }
  }
}

}  // namespace

std::vector<std::vector<int>> share_by_work(const std::vector<CrossSums>& sums, int threads) {
  std::vector<int> order(sums.size());
  std::iota(order.begin(), order.end(), 0);
  auto work = [&](int k) { return static_cast<long long>(sums[static_cast<std::size_t>(k)].n) * sums[static_cast<std::size_t>(k)].n + 1; };
  std::stable_sort(order.begin(), order.end(), [&](int l, int r) { return work(l) > work(r); });
  std::vector<std::vector<int>> shares(static_cast<std::size_t>(threads));
  std::vector<long long> load(static_cast<std::size_t>(threads), 0);
  for (int k : order) {
    auto t = static_cast<std::size_t>(std::min_element(load.begin(), load.end()) - load.begin());
    shares[t].push_back(k);
    load[t] += work(k);
  }
  for (std::vector<int>& share : shares) std::sort(share.begin(), share.end());
  return shares;
}

void accumulate_cross_sums(const Model& m, const float* value, std::vector<CrossSums>& sums, int threads) {
  for (CrossSums& s : sums) {
    s.a.assign(static_cast<std::size_t>(s.n) * static_cast<std::size_t>(s.n), 0.0);
    s.b.assign(static_cast<std::size_t>(s.n), 0.0);
  }
  const std::vector<std::vector<int>> shares = share_by_work(sums, threads);
  std::vector<std::vector<double>> scratch(static_cast<std::size_t>(threads), std::vector<double>(static_cast<std::size_t>(m.nfakt)));
  run_on_threads(threads, [&](int t) {
    const std::vector<int>& mine = shares[static_cast<std::size_t>(t)];
    double* xa = scratch[static_cast<std::size_t>(t)].data();
    for (int begin = 0; begin < m.nrec; begin += kBlock) {
      const int end = std::min(m.nrec, begin + kBlock);
      for (int k : mine) add_records(m, value, sums[static_cast<std::size_t>(k)], begin, end, xa);
    }
  });
}

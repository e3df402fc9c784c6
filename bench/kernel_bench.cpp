// The kernels of the fit, engine against the literal reference, on random
// problems of the medium and large shapes (fewer records, same width).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "engine/engine.h"
#include "engine/engine.h"
#include "engine/detail/lane_matrixinv.h"
#include "engine/engine.h"
#include "stats/regression.h"
#include "reference/random_model.h"
#include "reference/reference.h"

namespace {

// A model after one reference pass, so that x, dy and sum2 are those of a fit.
TestModel fitted_model(int nfakt, int nvar, int nrec, int threads) {
  ProblemShape shape;
  shape.nfakt = nfakt;
  shape.nvar = nvar;
  shape.nrec = nrec;
  shape.missing = 0.02;
  TestModel m = random_model(1, shape);
  m.threads = threads;
  reference::contribution_pass(m);
  return m;
}

void reset_totals(TestModel& m) {
  m.chi2 = 0.0;
  m.nytot = 0;
  m.sumsq = 0.0;
  std::fill(m.sum2.begin(), m.sum2.end(), 0.0);
}

template <bool kEngine>
void BM_ContributionPass(benchmark::State& state) {
  TestModel m = fitted_model(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 4000,
                         static_cast<int>(state.range(2)));
  for (auto _ : state) {
    reset_totals(m);
    if (kEngine) {
      contribution_pass(m);
    } else {
      reference::contribution_pass(m);
    }
    benchmark::DoNotOptimize(m.chi2);
  }
  state.SetItemsProcessed(state.iterations() * m.nrec);
}

template <bool kEngine>
void BM_ProfilePass(benchmark::State& state) {
  const TestModel start = fitted_model(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 4000,
                                   static_cast<int>(state.range(2)));
  TestModel m = start;
  for (auto _ : state) {
    m.p = start.p;
    m.nfree = 0;
    if (kEngine) {
      profile_pass(m);
    } else {
      reference::profile_pass(m);
    }
    benchmark::DoNotOptimize(m.p.data());
  }
  state.SetItemsProcessed(state.iterations() * m.nrec);
}

template <bool kEngine>
void BM_Regressions(benchmark::State& state) {
  TestModel m = fitted_model(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), 4000,
                         static_cast<int>(state.range(2)));
  std::fill(m.ny.begin(), m.ny.end(), m.nrec - 1);
  const auto cells = static_cast<std::size_t>(m.nvar) * static_cast<std::size_t>(m.nfakt);
  std::vector<double> chi(static_cast<std::size_t>(m.nvar)), coef(cells), se(cells);
  for (auto _ : state) {
    if (kEngine) {
      regressions(m, chi.data(), coef.data(), se.data());
    } else {
      reference::regressions(m, chi.data(), coef.data(), se.data());
    }
    benchmark::DoNotOptimize(coef.data());
  }
}

template <bool kEngine>
void BM_Matrixinv(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  std::vector<double> start(static_cast<std::size_t>(n * n));
  for (double& e : start) e = uniform(rng);
  for (int i = 0; i < n; ++i) start[static_cast<std::size_t>(i * n + i)] += n;
  std::vector<double> a(start.size());
  std::vector<int> ik(static_cast<std::size_t>(n)), jk(static_cast<std::size_t>(n));
  double det;
  for (auto _ : state) {
    a = start;
    if (kEngine) {
      Matrixinv(a.data(), n, n, &det, ik.data(), jk.data());
    } else {
      reference::Matrixinv(a.data(), n, n, &det, ik.data(), jk.data());
    }
    benchmark::DoNotOptimize(det);
  }
}

// {nfakt, nvar, threads}: the medium and large widths.
void Shapes(benchmark::internal::Benchmark* b) {
  b->Args({8, 40, 1})->Args({8, 40, 2})->Args({20, 60, 1})->Args({20, 60, 2})->Unit(benchmark::kMillisecond);
}
void ReferenceShapes(benchmark::internal::Benchmark* b) {
  b->Args({8, 40, 1})->Args({20, 60, 1})->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_ContributionPass<true>)->Apply(Shapes);
BENCHMARK(BM_ContributionPass<false>)->Apply(ReferenceShapes);
BENCHMARK(BM_ProfilePass<true>)->Apply(Shapes);
BENCHMARK(BM_ProfilePass<false>)->Apply(ReferenceShapes);
BENCHMARK(BM_Regressions<true>)->Apply(Shapes);
BENCHMARK(BM_Regressions<false>)->Apply(ReferenceShapes);
BENCHMARK(BM_Matrixinv<true>)->Arg(8)->Arg(20);
BENCHMARK(BM_Matrixinv<false>)->Arg(8)->Arg(20);

}  // namespace

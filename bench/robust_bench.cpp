// The cost of robust mode per pass: one whole pass as the iteration loop runs it
// (the monitor's copy of the starting state, contribution step, profile step),
// plain against robust (plus the copy of ueff and the refresh of the weights),
// on the St. Louis data and on random problems of the medium and large widths.
//   cmake --preset release -DTARNOK_BENCH=ON && cmake --build build/release --target robust_bench
//   build/release/bench/robust_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>

#include "test_model.h"
#include "engine/engine.h"
#include "fit/fit_monitor.h"
#include "engine/engine.h"
#include "formats/data_format.h"
#include "formats/form_format.h"
#include "formats/profile_format.h"
#include "reference/random_model.h"
#include "robust/weights.h"

namespace {

TestModel st_louis() {
  const std::string dir = std::string(TARNOK_EXAMPLES) + "/st_louis/";
  TestModel m;
  read_profile(m, dir + "profile.tsv");
  read_form(m, dir + "form.tsv");
  read_data(m, dir + "data.tsv");
  return m;
}

// range(0) 0: St. Louis; otherwise a random problem of range(0) factors,
// range(1) variables and range(2) records. range(3): threads.
TestModel problem(const benchmark::State& state) {
  TestModel m;
  if (state.range(0) == 0) {
    m = st_louis();
  } else {
    ProblemShape shape;
    shape.nfakt = static_cast<int>(state.range(0));
    shape.nvar = static_cast<int>(state.range(1));
    shape.nrec = static_cast<int>(state.range(2));
    shape.missing = 0.02;
    m = random_model(1, shape);
  }
  m.threads = static_cast<int>(state.range(3));
  m.damp = 1;
  return m;
}

template <bool kRobust>
void BM_WholePass(benchmark::State& state) {
  TestModel m = problem(state);
  m.alpha = kRobust ? 4.0 : 0.0;
  start_robust(m);
  const std::vector<double> start = m.p;
  FitMonitor monitor;
  long pass = 0;
  for (auto _ : state) {
    m.p = start;  // every pass from the same profiles
    monitor.begin_pass(m, m, ++pass);
    m.chi2 = 0.0;
    m.nytot = -m.nfree;
    std::fill(m.sum2.begin(), m.sum2.end(), 0.0);
    m.sumsq = 0.0;
    contribution_pass(m);
    refresh_robust(m);
    m.nfree = 0;
    profile_pass(m);
    benchmark::DoNotOptimize(m.p.data());
  }
}

// What robust mode adds to a pass, alone: the copy of ueff into the monitor's
// starting state and the refresh of the weights from the residuals of a pass.
void BM_RobustAdds(benchmark::State& state) {
  TestModel m = problem(state);
  m.alpha = 4.0;
  start_robust(m);
  contribution_pass(m);
  PassState saved;
  for (auto _ : state) {
    saved.ueff.assign(m.ueff.begin(), m.ueff.end());
    refresh_robust(m);
    benchmark::DoNotOptimize(m.chi2);
  }
}

// {factors, variables, records, threads}; 0 factors: the St. Louis data.
void Shapes(benchmark::internal::Benchmark* b) {
  b->Args({0, 0, 0, 1})->Args({8, 40, 10000, 1})->Args({8, 40, 10000, 2})->Args({20, 60, 4000, 2});
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK(BM_WholePass<false>)->Apply(Shapes);
BENCHMARK(BM_WholePass<true>)->Apply(Shapes);
BENCHMARK(BM_RobustAdds)->Apply(Shapes);

}  // namespace

BENCHMARK_MAIN();

// What the fit monitor adds to a pass: keeping the pass's starting state (and
// noting its statistics), beside the two steps of one pass on the St. Louis data.
//   cmake --preset release -DTARNOK_BENCH=ON && cmake --build build/release --target fit_monitor_bench
//   build/release/bench/fit_monitor_bench
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

namespace {

TestModel st_louis() {
  const std::string dir = std::string(TARNOK_EXAMPLES) + "/st_louis/";
  TestModel m;
  m.damp = 10;
  read_profile(m, dir + "profile.tsv");
  read_form(m, dir + "form.tsv");
  read_data(m, dir + "data.tsv");
  return m;
}

void one_pass(TestModel& m) {
  m.chi2 = 0.0;
  m.nytot = -m.nfree;
  std::fill(m.sum2.begin(), m.sum2.end(), 0.0);
  m.sumsq = 0.0;
  for (int s = 0; s < m.nrec; ++s) contribution_step(m, s);
  m.nfree = 0;
  for (int v = 0; v < m.nvar; ++v) profile_step(m, v);
}

// One pass of the fit (contribution and profile step), without the monitor.
void BM_Pass(benchmark::State& state) {
  TestModel m = st_louis();
  for (auto _ : state) {
    one_pass(m);
    benchmark::DoNotOptimize(m.chi2);
  }
}
BENCHMARK(BM_Pass)->Unit(benchmark::kMicrosecond);

// What the monitor does per pass: the start-of-pass copy and the end-of-pass
// bookkeeping, alternating new best and not, for the St. Louis size and for the
// largest problem the model holds (60 variables, 20 factors).
void BM_MonitorPerPass(benchmark::State& state) {
  TestModel m;
  m.nvar = static_cast<int>(state.range(0));
  m.nfakt = static_cast<int>(state.range(1));
  m.p.assign(static_cast<std::size_t>(m.nvar * m.nfakt), 0.5);
  m.ny.assign(static_cast<std::size_t>(m.nvar), 400);
  FitMonitor monitor(1e-6);
  long pass = 0;
  for (auto _ : state) {
    ++pass;
    monitor.begin_pass(m, m, pass);
    monitor.end_pass((pass % 2 == 0 ? 1000.0 : 1001.0) - 1e-9 * static_cast<double>(pass), 1000, 1);
    benchmark::DoNotOptimize(monitor.converged());
  }
}
BENCHMARK(BM_MonitorPerPass)->Args({13, 7})->Args({60, 20})->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();

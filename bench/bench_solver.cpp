// Whole outer iterations (momentum, energy, mass cycle) on grids from
// 20 x 10 to 320 x 160 real volumes, from the quasi-1D start.
#include <benchmark/benchmark.h>

#include "fixture.hpp"
#include "main.hpp"
#include "usuario.hpp"

namespace {

void BM_OuterIteration(benchmark::State& state) {
  const int nx = static_cast<int>(state.range(0));
  const int ny = nx / 2;
  tx::State s = txtest::make_state(nx, ny, 1);
  s.c.It1 = 10;
  s.c.It2 = 100;
  tx::set_initial_conditions(s);
  // Past the first iterations, where the field changes fastest.
  int it = 1;
  for (; it <= 5; ++it) tx::advance_iteration(s, it);
  for (auto _ : state) {
    tx::advance_iteration(s, it++);
    benchmark::DoNotOptimize(s.k.norm);
  }
  const double volumes = static_cast<double>(nx) * ny;
  state.counters["volumes"] = volumes;
  state.counters["s_per_iter"] =
      benchmark::Counter(static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["ns_per_volume_iter"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * volumes * 1e-9,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_OuterIteration)->Arg(20)->Arg(40)->Arg(80)->Arg(160)->Arg(320)
    ->Unit(benchmark::kMillisecond);

}  // namespace

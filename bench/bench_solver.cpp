// Outer iterations per second of the example nozzle (axisymmetric, central
// differences, the example's solver settings) at 40 x 20 to 320 x 160 real
// volumes, on one thread and on the team, in the same run. Each grid first
// runs `warm` iterations from the quasi-1D start (not timed), so the MSI
// iteration counts are those of a developed flow rather than of the first
// steps; then the same `timed` iterations are run from that state on one
// thread and on the team, alternately, three times each; the best of the
// three is reported. The two runs must give the same norms bit for bit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "fixture.hpp"
#include "main.hpp"
#include "paralelo.hpp"
#include "usuario.hpp"

namespace {

struct Grid {
  int nx;
  double dt2;  // a stable step on that grid
  int warm, timed;
};

void BM_OuterIterations(benchmark::State& state) {
  static const Grid grids[] = {{20, 1e-5, 300, 400}, {40, 1e-5, 300, 300}, {80, 5e-6, 300, 150},
                               {160, 2e-6, 200, 40}, {320, 1e-6, 100, 12}};
  const Grid g = *std::find_if(std::begin(grids), std::end(grids),
                               [&](const Grid& x) { return x.nx == state.range(0); });
  tx::State s = txtest::make_state(g.nx, g.nx / 2, 1);
  s.c.beta = 1.0;
  s.c.It1 = 20;
  s.c.It2 = 100;
  s.c.dt2 = g.dt2;
  s.c.tolu = 1e-3;
  s.c.tolp = 1e-3;
  s.c.nitm_u = 10;
  s.c.nitm_p = 50;
  tx::set_initial_conditions(s);
  int it = 1;
  for (; it <= g.warm; ++it) tx::advance_iteration(s, it);
  const tx::Fields start = s.f;
  const tx::Counters k0 = s.k;
  auto team = std::make_shared<tx::Team>(static_cast<int>(state.range(1)));
  s.par.min_volumes = static_cast<int>(state.range(2));

  auto run = [&](bool parallel, double& norm) {
    s.f = start;
    s.k = k0;
    s.par.team = parallel ? team : nullptr;
    const auto t0 = std::chrono::steady_clock::now();
    for (int n = 0; n < g.timed; ++n) tx::advance_iteration(s, it + n);
    const auto t1 = std::chrono::steady_clock::now();
    norm = s.k.norm;
    return std::chrono::duration<double>(t1 - t0).count() / g.timed;
  };
  double best_seq = 1e30, best_par = 1e30;
  for (auto _ : state) {
    for (int rep = 0; rep < 3; ++rep) {
      double n1 = 0, n2 = 0;
      best_seq = std::min(best_seq, run(false, n1));
      best_par = std::min(best_par, run(true, n2));
      if (std::memcmp(&n1, &n2, sizeof n1) != 0) state.SkipWithError("norms differ");
    }
    state.SetIterationTime(best_par * g.timed);
  }
  state.counters["volumes"] = static_cast<double>(g.nx) * (g.nx / 2);
  state.counters["seq_it_per_s"] = 1.0 / best_seq;
  state.counters["par_it_per_s"] = 1.0 / best_par;
  state.counters["speedup"] = best_seq / best_par;
}

// Arguments: real volumes along the nozzle, threads, smallest grid (in
// volumes, fictitious ones included) the team is used for. The last rows
// put the team on every grid, to see where it starts to pay.
BENCHMARK(BM_OuterIterations)
    ->Args({40, 2, 2000})->Args({80, 2, 2000})->Args({160, 2, 2000})->Args({320, 2, 2000})
    ->Args({20, 2, 0})->Args({40, 2, 0})
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

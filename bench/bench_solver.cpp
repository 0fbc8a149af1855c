// Outer iterations per second of the example nozzle (axisymmetric, central
// differences, the example's solver settings) at 40 x 20 to 320 x 160 real
// volumes, on one thread and on the team, in the same run. Each grid first
// runs `warm` iterations from the quasi-1D start (not timed), so the MSI
// iteration counts are those of a developed flow rather than of the first
// steps; then the same `timed` iterations are run from that state in each
// mode of the team (none: today's sequential path; u and v side by side with
// the assembly loops split; that and the T and pl solves pipelined), in turn,
// three times each; the best of the three is reported, with its ratio to the
// sequential one. All modes must give the same norms bit for bit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>

#include "apoio/fixture.hpp"
#include "escoamento/iteracao.hpp"
#include "base/paralelo.hpp"
#include "escoamento/usuario.hpp"

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
  s.c.msi_iters_uvT = 10;
  s.c.msi_iters_p = 50;
  tx::set_initial_conditions(s);
  int it = 1;
  for (; it <= g.warm; ++it) tx::advance_iteration(s, it);
  const tx::Fields start = s.f;
  const tx::Counters k0 = s.k;
  auto team = std::make_shared<tx::Team>(static_cast<int>(state.range(1)));
  s.par.min_volumes = static_cast<int>(state.range(2));
  s.par.fixed = true;

  auto run = [&](tx::TeamMode mode, double& norm) {
    s.f = start;
    s.k = k0;
    s.par.team = mode == tx::TeamMode::kOff ? nullptr : team;
    s.par.mode = mode;
    const auto t0 = std::chrono::steady_clock::now();
    for (int n = 0; n < g.timed; ++n) tx::advance_iteration(s, it + n);
    const auto t1 = std::chrono::steady_clock::now();
    norm = s.k.norm;
    return std::chrono::duration<double>(t1 - t0).count() / g.timed;
  };
  const tx::TeamMode modes[] = {tx::TeamMode::kOff, tx::TeamMode::kTasks,
                                tx::TeamMode::kPipelined};
  double best[3] = {1e30, 1e30, 1e30};
  for (auto _ : state) {
    for (int rep = 0; rep < 3; ++rep) {
      double norms[3];
      for (int m = 0; m < 3; ++m) best[m] = std::min(best[m], run(modes[m], norms[m]));
      if (std::memcmp(&norms[0], &norms[1], sizeof(double)) != 0 ||
          std::memcmp(&norms[0], &norms[2], sizeof(double)) != 0)
        state.SkipWithError("norms differ");
    }
    state.SetIterationTime(std::min(best[1], best[2]) * g.timed);
  }
  state.counters["volumes"] = static_cast<double>(g.nx) * (g.nx / 2);
  state.counters["seq_it_per_s"] = 1.0 / best[0];
  state.counters["tasks_it_per_s"] = 1.0 / best[1];
  state.counters["pipe_it_per_s"] = 1.0 / best[2];
  state.counters["speedup"] = best[0] / std::min(best[1], best[2]);
}

// Arguments: real volumes along the nozzle, threads, smallest grid (in
// volumes, fictitious ones included) the team is used for. The last rows
// put the team on every grid, to see where it starts to pay.
BENCHMARK(BM_OuterIterations)
    ->Args({40, 2, 5000})->Args({80, 2, 5000})->Args({160, 2, 5000})->Args({320, 2, 5000})
    ->Args({20, 2, 0})->Args({40, 2, 0})->Args({80, 2, 0})
    ->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

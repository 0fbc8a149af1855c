// MSI: factorisation plus one solve iteration on grids from 20 x 10 to
// 1000 x 500 volumes, in ns per volume per iteration, next to a plain
// streaming loop over the same bytes, so the report shows how far the solver
// is from the memory limit.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstddef>
#include <memory>

#include "base/paralelo.hpp"
#include "lineares/solvers.hpp"

namespace {

constexpr int kS = 1, kW = 2, kP = 3, kE = 4, kN = 5;

// Diagonally dominant five-point system inside; on the first and last
// columns the rows the boundary routines build (central 1, the inner
// neighbour -1), so, as in every system the program solves, nothing couples
// across the end of a grid row.
void build_system(int nx, int ny, tx::Mat& a, tx::Vec& b) {
  const int nxy = nx * ny;
  a.assign(nxy, 5, 0.0);
  b.assign(nxy, 1.0);
  for (int np = 1; np <= nxy; ++np) {
    const int i = (np - 1) % nx + 1;
    b(np) = 1.0 + 1e-3 * (np % 17);
    if (i == 1 || i == nx) {
      a(np, kP) = 1.0;
      a(np, i == 1 ? kE : kW) = -1.0;
      b(np) = 0.0;
      continue;
    }
    a(np, kP) = 4.5;
    if (np - nx >= 1) a(np, kS) = -1.0;
    a(np, kW) = -1.0;
    a(np, kE) = -1.0;
    if (np + nx <= nxy) a(np, kN) = -1.0;
  }
}

// The system of an nx x nx/2 grid with room for its factors.
struct Problem {
  int nx, ny, nxy;
  tx::Mat a, l, u;
  tx::Vec b, phi;
  explicit Problem(int n)
      : nx(n), ny(n / 2), nxy(n * (n / 2)), l(nxy, 4), u(nxy, 3), phi(nxy, 0.0) {
    build_system(nx, ny, a, b);
  }
};

// Bytes one factorise-and-iterate step moves per volume: the factorisation
// reads a (5 values) and writes the factors (4 + 3); the iteration reads a,
// both factors, b and phi, and reads and writes phi and its work vector.
constexpr double kBytesPerVolume = 8.0 * (5 + 7 + 5 + 7 + 1 + 2 + 2);

// The same traffic as one plain pass: each array read or written once per
// use above, with no dependence between volumes.
double stream_pass(const double* A, double* F, const double* B, double* x, double* w,
                   std::size_t n) {
  double s = 0.0;
  for (std::size_t q = 0; q < n; ++q) {
    const double* r = A + 5 * q;
    double* f = F + 7 * q;
    const double t = r[0] + r[1] + r[2] + r[3] + r[4];
    for (int k = 0; k < 7; ++k) f[k] = t;
    s += t;
  }
  for (std::size_t q = 0; q < n; ++q) {
    const double* r = A + 5 * q;
    const double* f = F + 7 * q;
    const double t = r[0] + r[1] + r[2] + r[3] + r[4] + f[0] + f[1] + f[2] + f[3] + f[4] +
                     f[5] + f[6] + B[q] + x[q];
    w[q] = t + w[q];
    x[q] = x[q] + 1e-300 * w[q];
  }
  return s;
}

// Arguments: nx (the grid is nx x nx/2) and threads (1: no team).
void BM_MsiFactorizeAndIterate(benchmark::State& state) {
  Problem pb(static_cast<int>(state.range(0)));
  auto& [nx, ny, nxy, a, l, u, b, phi] = pb;
  const int threads = static_cast<int>(state.range(1));
  std::unique_ptr<tx::Team> team;
  if (threads > 1) team = std::make_unique<tx::Team>(threads);

  for (auto _ : state) {
    tx::msi_factorize(a, l, u, nxy, nx, ny, team.get());
    tx::msi_solve(a, l, u, ny, nx, nxy, phi, 0.0, 1, b, team.get());
    benchmark::DoNotOptimize(phi.data());
    benchmark::ClobberMemory();
  }
  const double iters = static_cast<double>(state.iterations());

  // The streaming reference on buffers of the same sizes, timed here so
  // the ratio comes out of the same run.
  tx::Mat F(nxy, 7, 0.0);
  tx::Vec x(nxy, 0.0), w(nxy, 0.0);
  const auto n = static_cast<std::size_t>(nxy);
  const int reps = static_cast<int>(std::max(3.0, std::min(iters, 2e8 / nxy)));
  double sink = 0.0;
  const auto t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < reps; ++r) {
    sink += stream_pass(a.data(), F.data(), b.data(), x.data(), w.data(), n);
    benchmark::ClobberMemory();
  }
  const auto t1 = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(sink);
  const double stream_ns =
      std::chrono::duration<double, std::nano>(t1 - t0).count() / reps / nxy;

  state.counters["volumes"] = nxy;
  state.counters["ns_per_volume_iter"] = benchmark::Counter(
      iters * nxy * 1e-9, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["stream_ns_per_volume"] = stream_ns;
  state.counters["stream_GBps"] = kBytesPerVolume / stream_ns;
  state.SetBytesProcessed(static_cast<int64_t>(iters * nxy * kBytesPerVolume));
}

// One iteration alone, the factors kept: what every further iteration of a
// solve costs.
void BM_MsiIterate(benchmark::State& state) {
  Problem pb(static_cast<int>(state.range(0)));
  auto& [nx, ny, nxy, a, l, u, b, phi] = pb;
  tx::msi_factorize(a, l, u, nxy, nx, ny);
  for (auto _ : state) {
    tx::msi_solve(a, l, u, ny, nx, nxy, phi, 0.0, 1, b);
    benchmark::DoNotOptimize(phi.data());
    benchmark::ClobberMemory();
  }
  state.counters["ns_per_volume_iter"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * nxy * 1e-9,
      benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_MsiIterate)->Arg(20)->Arg(160)->Arg(1000)->Unit(benchmark::kMicrosecond);

// About 10^4, 10^5 and 10^6 unknowns, on one thread and on two.
BENCHMARK(BM_MsiFactorizeAndIterate)
    ->Args({142, 1})->Args({142, 2})->Args({448, 1})->Args({448, 2})->Args({1414, 1})
    ->Args({1414, 2})->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

// Writing the field file caso.vts at 640 x 320 real volumes, against the
// outer iterations of the same grid that it must stay small beside.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "resultados/campo_vtk.hpp"
#include "apoio/fixture.hpp"
#include "escoamento/iteracao.hpp"
#include "apoio/tmpdir.hpp"
#include "escoamento/usuario.hpp"

namespace {

constexpr int kNx = 640, kNy = 320;

tx::State flow_state() {
  tx::State s = txtest::make_state(kNx, kNy, 1);
  s.c.It1 = 10;
  s.c.It2 = 100;
  tx::set_initial_conditions(s);
  return s;
}

void BM_WriteFieldFile(benchmark::State& state) {
  tx::State s = flow_state();
  txtest::ScratchDir dir;
  for (auto _ : state) tx::write_field_file(s);
  const auto bytes = std::filesystem::file_size("teste.vts");
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_WriteFieldFile)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OuterIteration640(benchmark::State& state) {
  tx::State s = flow_state();
  int it = 1;
  for (; it <= 3; ++it) tx::advance_iteration(s, it);
  for (auto _ : state) {
    tx::advance_iteration(s, it++);
    benchmark::DoNotOptimize(s.k.norm);
  }
}
BENCHMARK(BM_OuterIteration640)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace

// Wall time of a whole grid-convergence study (tubrix-estudo -j 2) against
// the run times of its grids: the study can end no sooner than its longest
// run, nor sooner than the sum of the runs shared out over the processes
// (the bound). The report's own figure covers the runs alone; the measured
// wall time adds the extrapolation and the plot.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "apoio/caso.hpp"
#include "apoio/tmpdir.hpp"

namespace {

constexpr int kJobs = 2;

// Run time of one grid as its status file records it.
double grid_seconds(const std::string& grid) {
  const std::string t = txtest::read_file(grid + "/caso_" + grid + ".estudo");
  const auto at = t.find("tempo (s) = ");
  return at == std::string::npos ? 0.0 : std::atof(t.c_str() + at + 12);
}

void BM_Study(benchmark::State& state, const std::string& grids) {
  for (auto _ : state) {
    txtest::ScratchDir dir;
    txtest::CaseFile cf;
    cf.nx = 20;
    cf.ny = 8;
    cf.tole = "1.0e-5";
    cf.itmax = 4000;
    cf.w_r = 100;
    cf.write();
    const std::string cmd = std::string("TUBRIX_TEMPLATES='") + TUBRIX_SOURCE_DIR +
                            "/templates' '" + TUBRIX_ESTUDO_EXE + "' --malhas " + grids +
                            " -j " + std::to_string(kJobs) + " >/dev/null 2>&1";
    const auto t0 = std::chrono::steady_clock::now();
    const int st = std::system(cmd.c_str());
    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (st != 0) state.SkipWithError("tubrix-estudo failed");
    state.SetIterationTime(wall);

    double sum = 0, longest = 0;
    std::size_t pos = 0;
    while (pos <= grids.size()) {
      std::size_t end = grids.find(',', pos);
      if (end == std::string::npos) end = grids.size();
      const double s = grid_seconds(grids.substr(pos, end - pos));
      sum += s;
      longest = std::max(longest, s);
      pos = end + 1;
    }
    // The report gives the wall time of the runs alone, without the
    // extrapolation and the plot drawn after them.
    const std::string txt = txtest::read_file("estudo.txt");
    const std::string key = " do estudo: ";  // ASCII part of the Latin-1 line
    const auto at = txt.find(key);
    const double runs_wall =
        at == std::string::npos ? 0.0 : std::atof(txt.c_str() + at + key.size());
    const double bound = std::max(longest, sum / kJobs);
    state.counters["sum_runs_s"] = sum;
    state.counters["longest_run_s"] = longest;
    state.counters["wall_per_sum_over_jobs"] = wall / (sum / kJobs);
    state.counters["wall_per_bound"] = wall / bound;
    state.counters["runs_wall_per_bound"] = runs_wall / bound;
  }
}

// A refinement series: the finest grid is most of the work.
BENCHMARK_CAPTURE(BM_Study, refinement, std::string("10x4,20x8,40x16,80x32"))
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);
// Four grids of about the same cost: the processes share the work evenly.
BENCHMARK_CAPTURE(BM_Study, equal_grids, std::string("40x16,42x16,44x16,46x16"))
    ->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}  // namespace

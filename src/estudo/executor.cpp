// Runs the grids of a study as child processes and judges each run.
#include "estudo/executor.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "base/console.hpp"
#include "base/erro.hpp"
#include "arquivos/arquivo_texto.hpp"
#include "base/paralelo.hpp"
#include "base/regra_cauchy.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Running {
  Grid* grid = nullptr;
  ChildProcess child;
  std::string out_buf, err_buf;
  RunLog log;
  std::chrono::steady_clock::time_point start;
  int threads = 1;  // granted to it
};

void emit(std::FILE* to, const Grid& g, const std::string& line) {
  std::fprintf(to, "[%s] %s\n", g.name.c_str(), line.c_str());
  std::fflush(to);
}

// Passes complete lines of one pipe on, prefixed with the grid.
void take_lines(Running& r, std::string& buf, bool is_err, bool at_end) {
  std::size_t pos;
  while ((pos = buf.find('\n')) != std::string::npos || (at_end && !buf.empty())) {
    std::string line = pos == std::string::npos ? buf : buf.substr(0, pos);
    buf.erase(0, pos == std::string::npos ? buf.size() : pos + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    note_run_line(*r.grid, r.log, line, is_err);
  }
}

void progress(const std::vector<Grid>& grids, std::size_t running, std::size_t queued,
              std::chrono::steady_clock::time_point t0) {
  std::size_t done = 0, total = 0;
  for (const auto& g : grids)
    if (g.run) {
      ++total;
      if (g.ran_now) ++done;
    }
  std::printf("[estudo] %zu de %zu malhas terminadas, %zu em execução, %zu na fila; %.1f s\n",
              done, total, running, queued, seconds_since(t0));
  std::fflush(stdout);
}

double cost(const Grid* g) {
  return static_cast<double>(g->size.nx) * g->size.ny / g->scale;
}

std::string grant_file(const Grid& g) {
  return (std::filesystem::path(g.name) / kThreadsGrantFile).string();
}

void remove_grant(const Grid& g) {
  std::error_code ec;
  std::filesystem::remove(grant_file(g), ec);
}

// With no grid left to start, the cores the runs no longer use go to the
// costliest run still going: its team grows at its next look at the grant
// file (the results do not depend on the team).
void grant_free_cores(std::vector<Running>& running) {
  const char* env = std::getenv(kThreadsFileVariable);
  if (env == nullptr || *env == '\0' || running.empty()) return;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  int used = 0;
  for (const auto& r : running) used += r.threads;
  if (used >= cores) return;
  Running* big = &running.front();
  for (auto& r : running)
    if (cost(r.grid) > cost(big->grid)) big = &r;
  big->threads += cores - used;
  try {
    write_text_file(grant_file(*big->grid), {std::to_string(big->threads)});
  } catch (const RunError&) {
    return;  // the run goes on with the threads it has
  }
  emit(stdout, *big->grid, "usa agora " + std::to_string(big->threads) + " threads");
}

}  // namespace

std::string cauchy_variable_for(const Grid& g) {
  if (!(g.cauchy_eps > 0)) return {};
  CauchyRule rule;
  rule.eps = g.cauchy_eps;
  rule.window = g.window;
  // The grid's history up to the restart file the run continues from
  // (prepare_grid keeps it), so that the run judges the window it would
  // have judged without the stop.
  if (g.continue_from > 0) rule.history = g.caso + kHistorySuffix;
  return cauchy_variable_value(rule);
}

void note_run_line(const Grid& g, RunLog& log, const std::string& line, bool is_err) {
  if (is_err) {
    if (!line.empty()) log.last_err = line;
  } else if (line.rfind(kClosingLineStart, 0) == 0) {
    log.closing = line;
  } else if (line.rfind(kReportLineStart, 0) == 0) {
    log.last_reported = std::atoi(line.c_str() + std::strlen(kReportLineStart));
  } else if (line.rfind(kCauchyLineStart, 0) == 0) {
    log.cauchy = true;
  }
  emit(is_err ? stderr : stdout, g, line);
}

// Convergence of a finished run from its closing line against tole.
void judge_run(Grid& g, const RunLog& log, int status, double secs) {
  Outcome& o = g.outcome;
  o.exit_status = status;
  o.seconds += secs;
  o.message = log.last_err;
  int it = 0;
  double ratio = kNotAvailable;
  const std::size_t at = log.closing.find(kRatioTag);
  if (!log.closing.empty() &&
      std::sscanf(log.closing.c_str() + std::strlen(kClosingLineStart), "%d", &it) == 1 &&
      at != std::string::npos) {
    char* end = nullptr;
    const char* p = log.closing.c_str() + at + std::strlen(kRatioTag);
    const double v = std::strtod(p, &end);
    if (end != p) ratio = v;
  }
  if (status == 0 || status == kExitInterrupted) {
    o.iterations = it;
    o.ratio = ratio;
  } else {
    o.iterations = log.last_reported;  // where a diverged run stopped
    o.ratio = kNotAvailable;
  }
  if (status == 0 && !std::isnan(ratio))
    o.state = ratio <= g.c.tole ? GridState::Converged : GridState::NotConverged;
  else if (status == kExitInterrupted)
    o.state = GridState::Interrupted;
  else if (status == kExitDiverged)
    o.state = GridState::Diverged;
  else
    o.state = GridState::Failed;
  // A finished run the Cauchy rule stopped short of tole (tole reached first
  // counts as the residual rule).
  if (log.cauchy && g.cauchy_eps > 0 && o.state == GridState::NotConverged) {
    o.state = GridState::CauchyConverged;
    o.message.clear();
    o.cauchy_eps = g.cauchy_eps;
    o.cauchy_window = g.window;
    o.cauchy_tole = g.c.tole;
  }
  if (o.state == GridState::Failed && o.message.empty())
    o.message = status == 127 ? "o programa tubrix não pôde ser executado"
                              : "saída " + std::to_string(status) + " sem a linha final";
}

bool run_grids(std::vector<Grid>& grids, const std::string& tubrix, int jobs,
               volatile std::sig_atomic_t* stop) {
  std::vector<Grid*> queue;
  for (auto& g : grids)
    if (g.run) queue.push_back(&g);
  // Longest first keeps the other processes busy while the finest grid runs.
  std::stable_sort(queue.begin(), queue.end(),
                   [](const Grid* a, const Grid* b) { return cost(a) > cost(b); });
  std::reverse(queue.begin(), queue.end());  // popped from the back

  const auto t0 = std::chrono::steady_clock::now();
  std::vector<Running> running;
  bool forwarded = false;
  while (!queue.empty() || !running.empty()) {
    while (!*stop && static_cast<int>(running.size()) < jobs && !queue.empty()) {
      Running r;
      r.grid = queue.back();
      queue.pop_back();
      r.start = std::chrono::steady_clock::now();
      // The run rewrites it from its start; the last run's lines must not
      // be taken for this one's.
      const std::string itn = (std::filesystem::path(r.grid->name) /
                               (r.grid->caso + ".itn")).string();
      std::error_code ec;
      std::filesystem::remove(itn, ec);
      remove_grant(*r.grid);  // a stopped study's grant is not this run's
      // The run applies the study's Cauchy rule itself (none: the variable
      // blank, whatever the study's own environment says).
      set_environment(kCauchyVariable, cauchy_variable_for(*r.grid));
      try {
        r.threads = threads_from_environment();
      } catch (const RunError&) {
        r.threads = 1;  // the run itself says what is wrong with the variable
      }
      r.child = start_process(tubrix, {}, r.grid->name);
      emit(stdout, *r.grid,
           r.grid->continue_from > 0
               ? "continua da iteração " + std::to_string(r.grid->continue_from)
               : std::string("início"));
      running.push_back(std::move(r));
      progress(grids, running.size(), queue.size(), t0);
    }
    if (*stop && !queue.empty()) queue.clear();
    if (running.empty()) break;
    if (!*stop && queue.empty()) grant_free_cores(running);
    if (*stop && !forwarded) {
      // Each run stops after its current iteration and writes its restart file.
      for (auto& r : running) interrupt_process(r.child);
      forwarded = true;
    }

    std::vector<ChildProcess*> children;
    for (auto& r : running) children.push_back(&r.child);
    for (ChildOutput& o : read_children(children, 200)) {
      Running& r = running[o.child];
      std::string& b = o.is_err ? r.err_buf : r.out_buf;
      b += o.data;
      take_lines(r, b, o.is_err, o.closed);
    }
    for (std::size_t k = 0; k < running.size();) {
      Running& r = running[k];
      if (r.child.out >= 0 || r.child.err >= 0) {
        ++k;
        continue;
      }
      const int status = wait_process(r.child);
      Grid& g = *r.grid;
      remove_grant(g);
      judge_run(g, r.log, status, seconds_since(r.start));
      if (status == 0 || status == kExitInterrupted || status == kExitDiverged)
        keep_history(g, true);
      if (!*stop && halve_step(g)) {
        // Run again at once with half the step (its files rewritten first).
        prepare_grid(g);
        emit(stdout, g, halving_note(g));
        queue.push_back(&g);
        running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
        continue;
      }
      g.ran_now = true;
      write_status(g);
      emit(stdout, g, std::string("terminou: ") + state_text(g.outcome.state));
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
      progress(grids, running.size(), queue.size(), t0);
    }
  }
  return *stop != 0;
}

}  // namespace tx

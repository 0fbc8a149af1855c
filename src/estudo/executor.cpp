// Runs the grids of a study as child processes and judges each run.
#include "estudo/executor.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/console.hpp"
#include "base/erro.hpp"
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
  std::string closing;   // the closing line, when the run wrote one
  std::string last_err;  // last line on standard error
  int last_reported = 0;  // iteration of the last report line
  std::chrono::steady_clock::time_point start;
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
    if (is_err) {
      if (!line.empty()) r.last_err = line;
    } else if (line.rfind(kClosingLineStart, 0) == 0) {
      r.closing = line;
    } else if (line.rfind(kReportLineStart, 0) == 0) {
      r.last_reported = std::atoi(line.c_str() + std::strlen(kReportLineStart));
    }
    emit(is_err ? stderr : stdout, *r.grid, line);
  }
}

// Convergence of a finished run from its closing line against tole.
void judge(Running& r, int status, double secs) {
  Grid& g = *r.grid;
  Outcome& o = g.outcome;
  o.exit_status = status;
  o.seconds += secs;
  o.message = r.last_err;
  int it = 0;
  double ratio = kNotAvailable;
  const std::size_t at = r.closing.find(kRatioTag);
  if (!r.closing.empty() &&
      std::sscanf(r.closing.c_str() + std::strlen(kClosingLineStart), "%d", &it) == 1 &&
      at != std::string::npos) {
    char* end = nullptr;
    const char* p = r.closing.c_str() + at + std::strlen(kRatioTag);
    const double v = std::strtod(p, &end);
    if (end != p) ratio = v;
  }
  if (status == 0 || status == kExitInterrupted) {
    o.iterations = it;
    o.ratio = ratio;
  } else {
    o.iterations = r.last_reported;  // where a diverged run stopped
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
  if (o.state == GridState::Failed && o.message.empty())
    o.message = status == 127 ? "o programa tubrix não pôde ser executado"
                              : "saída " + std::to_string(status) + " sem a linha final";
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

}  // namespace

bool run_grids(std::vector<Grid>& grids, const std::string& tubrix, int jobs,
               volatile std::sig_atomic_t* stop) {
  std::vector<Grid*> queue;
  for (auto& g : grids)
    if (g.run) queue.push_back(&g);
  // Longest first keeps the other processes busy while the finest grid runs.
  std::stable_sort(queue.begin(), queue.end(), [](const Grid* a, const Grid* b) {
    return static_cast<double>(a->size.nx) * a->size.ny / a->scale >
           static_cast<double>(b->size.nx) * b->size.ny / b->scale;
  });
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
      judge(r, status, seconds_since(r.start));
      r.grid->ran_now = true;
      write_status(*r.grid);
      emit(stdout, *r.grid, std::string("terminou: ") + state_text(r.grid->outcome.state));
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
      progress(grids, running.size(), queue.size(), t0);
    }
  }
  return *stop != 0;
}

}  // namespace tx

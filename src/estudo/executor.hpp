// Runs the grids of a study as child processes, side by side, and judges
// each run from its console lines and exit status.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "estudo/malhas.hpp"

namespace tx {

// What a run's console lines say about it, as the lines come.
struct RunLog {
  std::string closing;    // the closing line "Fim: ..."
  std::string last_err;   // last line on standard error
  int last_reported = 0;  // iteration of the last report line
  bool cauchy = false;    // the run says the Cauchy rule stopped it
};

// Notes one console line of a grid's run and passes it on, prefixed with
// the grid, to standard output or error.
void note_run_line(const Grid& g, RunLog& log, const std::string& line, bool is_err);

// The outcome of a finished run of `g` from its lines and exit status (128
// + signal when a signal ended it); `secs` is added to the grid's time. A
// run the Cauchy rule stopped is "convergiu (Cauchy)", with the rule.
void judge_run(Grid& g, const RunLog& log, int status, double secs);

// The value of TUBRIX_CAUCHY (base/regra_cauchy.hpp) for a run of `g`: the
// study's EPS and the grid's window, and the grid's history file when the
// run continues from its restart file; "" without the rule. Every backend
// sets it for every run it starts.
std::string cauchy_variable_for(const Grid& g);

// The variable naming the file through which the study grants a run more
// threads while it runs, and that file's name in the grid's folder.
inline constexpr const char* kThreadsFileVariable = "TUBRIX_THREADS_FILE";
inline constexpr const char* kThreadsGrantFile = "tubrix.nucleos";

// Runs the grids marked to run, up to `jobs` at a time, the costliest first,
// writing each grid's status file as its run ends. A set `*stop` (Ctrl-C)
// passes the interruption on to every run. When no grid waits any more,
// the cores of the runs that ended go to the costliest run still going.
// Returns true when interrupted.
bool run_grids(std::vector<Grid>& grids, const std::string& tubrix, int jobs,
               volatile std::sig_atomic_t* stop);

}  // namespace tx

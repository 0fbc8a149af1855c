// The grids of a study: what each one is, its folder and input files, and
// its status file (what happened to its runs).
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "base/estado.hpp"
#include "extrapolacao/extrapolacao.hpp"

namespace tx {

struct GridSize {
  int nx = 0, ny = 0;  // real volumes
};

// "20x10,40x20": throws RunError naming the argument for a malformed list,
// an odd nx, or two grids with the same nx (the same h).
std::vector<GridSize> parse_grid_list(const std::string& text);

// Case data of one grid of the study: the base case (real volume counts)
// on grid g, the case name suffixed by the grid, a fresh start, and unless
// `fixed_dt` the pseudo-time steps scaled with the grid spacing relative to
// the base grid (dt1, dt2 by the factor, It1, It2, itmax by its inverse, so
// the runs cover the same pseudo-time). Returns the factor in `scale`.
CaseData grid_case_data(const CaseData& base, GridSize g, bool fixed_dt, double& scale);

constexpr int kExitTooFewGrids = 3;
constexpr const char* kStatusSuffix = ".estudo";

// What happened to a grid, as its status file records it.
enum class GridState {
  Pending, Converged, NotConverged, Diverged, Interrupted, Failed,
  CauchyConverged,  // stopped by the study once its answer had settled
};

const char* state_text(GridState s);

struct Outcome {
  GridState state = GridState::Pending;
  int exit_status = -1;
  int iterations = 0;
  double ratio = kNotAvailable;
  double seconds = 0;   // wall time of all the runs of the grid
  std::string message;  // last line the run wrote on standard error (UTF-8)
  std::string job;      // Slurm job id of a run submitted and not yet judged
  // The Cauchy rule that stopped it (CauchyConverged), and the tole then.
  double cauchy_eps = 0;
  int cauchy_window = 0;
  double cauchy_tole = kNotAvailable;
  // The step of the last run over the grid-scaled one, and each step the
  // study tried before it that diverged, with the iteration where it did.
  double dt_factor = 1;
  std::vector<std::pair<double, int>> divergences;
  // read_status: the file is there but not whole (cut, or not written by
  // write_status): the grid is judged from its other files.
  bool unreadable = false;
};

struct Grid {
  GridSize size;
  std::string name;       // "40x20": the subfolder and the case-name suffix
  std::string caso;       // base case name + "_" + name
  std::string data_file;  // caso + ".dat"
  CaseData c;             // fresh-start data (real volume counts), the steps of dt_factor
  double scale = 1;
  double scaled_dt1 = 0, scaled_dt2 = 0;  // the grid-scaled steps (factor 1)
  bool choose_dt = false;  // the study chooses the step (see halve_step)
  Outcome outcome;
  bool run = false;       // to be run by this study
  int continue_from = 0;  // stored iteration of the restart file, 0: fresh start
  bool ran_now = false;
  double cauchy_eps = 0;  // > 0: the run is stopped once settled over `window`
  int window = 0;         // iterations of the Cauchy test and the error estimate
};

// The study's choice of step: each grid is first run with kFirstDtFactor
// times its grid-scaled dt2, and after each divergence with half of it, down
// to kLastDtFactor; dt1 follows only below the scaled step (measured on the
// example: see docs/estudo-passo.md).
inline constexpr double kFirstDtFactor = 2.0;
inline constexpr double kLastDtFactor = 0.5;

// "text" in double quotes.
std::string in_quotes(const std::string& text);
// "40x20".
std::string grid_name(GridSize g);
// Throws the one-line message for a bad command-line argument.
[[noreturn]] void bad_argument(const std::string& arg, const std::string& what);
// An integer argument of at least `min`.
int parse_int(const std::string& arg, const std::string& text, int min);

// The plot templates of the current folder copied into `folder`, each whole,
// never over one already there.
void copy_plot_templates(const std::string& folder);

// The status file of a grid: written after each of its runs, read when the
// study is run again (false when there is none; o.unreadable when it is
// there but lacks what write_status writes).
void write_status(const Grid& g);
bool read_status(const Grid& g, Outcome& o);

// What to do with a grid whose folder may hold earlier runs: checks that the
// folder is this grid's (same data in the items that decide the solution),
// then sets g.run, g.continue_from and g.outcome from its status file. A
// grid that ran but has no status file that reads keeps the step of its
// data file when the study would have chosen it (a factor of the halving
// series) and continues from its restart file, else is made again.
void plan_grid(Grid& g);

// Sets the grid's step to `factor` times its grid-scaled one.
void set_dt_factor(Grid& g, double factor);

// A grid that diverged at a step the study chose: notes the divergence,
// halves the step and sets the grid to run again, from its restart file when
// the run had continued from one, else from the start. False (nothing
// changed) when the step was already the smallest the study tries.
bool halve_step(Grid& g);
// The console's word on the last halving: where the grid diverged, with
// which step, and the step and start of its next run.
std::string halving_note(const Grid& g);

// Makes the folder of a grid to be run, with its three input files and the
// plot templates of the study's folder, each written whole or not at all,
// and its status file last: a folder without one was never started.
void prepare_grid(const Grid& g);

// The grid's iteration history over all its runs: the study's own file
// (kHistorySuffix) when there is one, else the last run's caso.itn.
std::string history_path(const Grid& g);
inline constexpr const char* kHistorySuffix = ".historico";
// The grid's history file: the lines it holds up to the iteration the run
// continues from (from the last run's caso.itn when there is no history
// file yet), then, `after_run`, the lines of the run's caso.itn.
void keep_history(const Grid& g, bool after_run);

}  // namespace tx

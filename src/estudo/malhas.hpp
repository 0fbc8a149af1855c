// The grids of a study: what each one is, its folder and input files, and
// its status file (what happened to its runs).
#pragma once

#include <string>
#include <vector>

#include "base/estado.hpp"
#include "estudo/estudo.hpp"
#include "estudo/extrapolacao.hpp"

namespace tx {

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
};

struct Grid {
  GridSize size;
  std::string name;       // "40x20": the subfolder and the case-name suffix
  std::string caso;       // base case name + "_" + name
  std::string data_file;  // caso + ".dat"
  CaseData c;             // fresh-start data (real volume counts)
  double scale = 1;
  Outcome outcome;
  bool run = false;       // to be run by this study
  int continue_from = 0;  // stored iteration of the restart file, 0: fresh start
  bool ran_now = false;
  double cauchy_eps = 0;  // > 0: the run is stopped once settled over `window`
  int window = 0;         // iterations of the Cauchy test and the error estimate
};

// "text" in double quotes.
std::string in_quotes(const std::string& text);
// "40x20".
std::string grid_name(GridSize g);
// Throws the one-line message for a bad command-line argument.
[[noreturn]] void bad_argument(const std::string& arg, const std::string& what);
// An integer argument of at least `min`.
int parse_int(const std::string& arg, const std::string& text, int min);

// The status file of a grid: written after each of its runs, read when the
// study is run again (false when there is none).
void write_status(const Grid& g);
bool read_status(const Grid& g, Outcome& o);

// What to do with a grid whose folder may hold earlier runs: checks that the
// folder is this grid's (same data in the items that decide the solution),
// then sets g.run, g.continue_from and g.outcome from its status file.
void plan_grid(Grid& g);

// Makes the folder of a grid to be run, with its three input files and the
// plot templates of the study's folder.
void prepare_grid(const Grid& g);

}  // namespace tx

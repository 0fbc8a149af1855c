// Grid-convergence study: runs the case of the current folder on a series
// of grids, each in a subfolder of its own, concurrently, and extrapolates
// the results of the grids that converged. Its course (run_study) is a list
// of the steps below; a family takes the same steps for each of its variants.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "base/estado.hpp"
#include "estudo/malhas.hpp"
#include "estudo/slurm.hpp"
#include "extrapolacao/extrapolacao.hpp"

namespace tx {

// The study's options: tubrix-estudo's command line, parsed once.
struct StudyOptions {
  std::vector<GridSize> grids;  // --malhas; empty: --niveis
  int levels = 3;
  int jobs = 0;
  bool fixed_dt = false;   // --dt-fixo: the data file's steps on every grid
  bool scaled_dt = false;  // --dt-escalado: the grid-scaled steps, not searched
  bool include_unconverged = false;
  double order = 2.0;
  bool slurm = false;
  SlurmOptions sbatch;
  double cauchy = 0;  // EPS of --cauchy, 0: residual rule only
  int window = 0;     // --janela, 0: each grid's default
};

// tubrix-estudo's arguments (the program's name left out) as the study's
// options; --help or -h sets `help`. Throws RunError naming the argument.
StudyOptions parse_study_options(const std::vector<std::string>& args, bool& help);

// tubrix-estudo without --familia: one study of the current folder, or the
// usage when asked for.
int study_main(const std::vector<std::string>& args);

// The base case of the current folder, read and checked as a run reads it;
// no editor is opened.
struct StudyCase {
  std::string data_file;
  std::string caso;  // the case name, trimmed
  CaseData c;        // real volume counts
  Wall wall;
};
StudyCase read_study_case();

// The study's grids on the base case, fine to coarse: those of --malhas, or
// the base grid doubled --niveis - 1 times. Each grid's size and memory are
// checked, and `opt.jobs` is lowered to the runs at once that fit. Nothing
// is written.
std::vector<Grid> plan_study_grids(const StudyCase& base, StudyOptions& opt);

// The grid folders and the report files checked before anything is
// written, then what each grid's folder holds decides its run (plan_grid).
void check_study_folders(std::vector<Grid>& grids);

// What the runs need: no grid waits for a Slurm job unless --slurm follows
// it, Slurm would take the first job, and tubrix is there when a grid runs.
void check_study_runs(const std::vector<Grid>& grids, const StudyOptions& opt);

// The folders of the grids to run, with their input files; a queued Slurm
// job's folder is left as it is (the job reads its files later).
void prepare_study_grids(const std::vector<Grid>& grids);

// Plot templates named by a relative TUBRIX_TEMPLATES must still be found
// from the grid subfolders: the variable is made absolute.
void absolute_template_folder();

// The cores shared among `jobs` runs side by side (TUBRIX_THREADS, unless
// the user set it), and the grant of ended runs' cores switched on with it.
void share_threads(int jobs);

// The tubrix installed beside this program, which runs the grids.
std::string tubrix_program();

// The report's lines on the jobs --sem-esperar left with Slurm, under `head`.
std::vector<std::string> submitted_lines(const std::string& head, const std::vector<Grid>& grids);

// What a study's report found, for the report of a family of variants.
struct StudyReport {
  bool extrapolated = false;
  GridStudy study;                // its extrapolation
  std::vector<std::string> used;  // the summary files it used
  std::string why;                // why it could not extrapolate
};

// The report of grids that have run, `wall` seconds this time: the grid
// table, the rules that stopped them, the extrapolation of the usable grids
// and their iteration error, on the console and in the study's files.
// Returns the exit status (kExitTooFewGrids: fewer than two usable grids).
int report_study(const StudyCase& base, const std::vector<Grid>& grids, const StudyOptions& opt,
                 double wall, volatile std::sig_atomic_t* stop, StudyReport& out);

// The console's word on a study stopped by Ctrl-C; returns kExitInterrupted.
int study_interrupted();

}  // namespace tx

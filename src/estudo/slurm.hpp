// Runs the grids of a study as Slurm batch jobs, one job per grid in its
// folder (a file system shared with the compute nodes), and judges each
// run from the console output the job leaves there and its exit status.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "estudo/malhas.hpp"

namespace tx {

struct SlurmOptions {
  std::vector<std::string> sbatch;  // the user's sbatch options, split into words
  bool no_wait = false;             // submit (or collect what ended) and return
};

// The user's --sbatch text split into words as a shell would (blanks, single
// and double quotes, backslash); throws RunError naming --sbatch when a quote
// is left open.
std::vector<std::string> split_sbatch_options(const std::string& text);

// Throws RunError when the Slurm commands the study needs are not on PATH,
// or when Slurm would refuse the job of the first grid to submit.
void check_slurm(const SlurmOptions& opt, const std::vector<Grid>& grids);

enum class SlurmEnd {
  Done,         // every job ended and was judged
  Waiting,      // --sem-esperar: some jobs still queued or running
  Interrupted,  // Ctrl-C, or a job the scheduler stopped: the next call continues
};

// Submits the grids marked to run that have no job yet, follows those with a
// job (submitted now or by an earlier call), writing each grid's status file
// as its job is submitted and as it ends. A set `*stop` stops every job as
// Ctrl-C stops a run. Throws RunError, after recording what was submitted,
// when Slurm refuses a job or a job can never start.
SlurmEnd run_grids_slurm(std::vector<Grid>& grids, const std::string& tubrix,
                         const SlurmOptions& opt, volatile std::sig_atomic_t* stop);

}  // namespace tx

// Runs the grids of a study as child processes, side by side, and judges
// each run from its console lines and exit status.
#pragma once

#include <csignal>
#include <string>
#include <vector>

#include "estudo/malhas.hpp"

namespace tx {

// Runs the grids marked to run, up to `jobs` at a time, the costliest first,
// writing each grid's status file as its run ends. A set `*stop` (Ctrl-C)
// passes the interruption on to every run. Returns true when interrupted.
bool run_grids(std::vector<Grid>& grids, const std::string& tubrix, int jobs,
               volatile std::sig_atomic_t* stop);

}  // namespace tx

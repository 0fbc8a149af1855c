// Grid-convergence study: runs the case of the current folder on a series
// of grids, each in a subfolder of its own, concurrently, and extrapolates
// the results of the grids that converged.
#pragma once

#include <string>
#include <vector>

#include "base/estado.hpp"

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

// Plot templates named by a relative TUBRIX_TEMPLATES must still be found
// from the grid subfolders: the variable is made absolute.
void absolute_template_folder();

// Entry point of tubrix-estudo.
int estudo_main(int argc, char** argv);

}  // namespace tx

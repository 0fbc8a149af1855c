// Nozzle grid, its metrics and radii, and the grid output files.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/estado.hpp"
#include "base/texto.hpp"

namespace tx {

void generate_boundary_nodes(State& s);
void generate_interior_nodes(State& s);
void write_nozzle_parameters(State& s);
void compute_centres(State& s);
void compute_metrics(State& s);
void compute_radii(State& s);

// Refuses a grid (RunError, status 1) with an area, a volume or a metric
// that is not a finite positive number, naming the wall file (or the case
// data) and the grid's items. The wall's own check keeps its lengths in
// range; this one also covers what nx and ny make of them. Called once the
// grid, its centres, metrics and radii are computed, before any output.
void check_grid(const State& s);

// Measure of the nozzle cross-section whose wall lies at height h, in the
// units of the mass-flow sums (2*pi*sum of r*rho*U*dy): pi*h^2 around the
// axis; in planar flow (radii 1) those sums give 2*pi per unit depth, so the
// section is 2*pi*h.
double section_area(const CaseData& c, double h);

void write_grid_outputs(State& s);
void write_boundary_files(State& s);
void write_domain_script(State& s);
void write_grid_file(State& s);
void write_grid_script(State& s);

}  // namespace tx

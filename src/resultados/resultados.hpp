// Results: per-iteration globals, the results step, field listings, global
// results and the summary file, profiles and plot scripts, and the boundary
// values for output.
#pragma once

#include <string>

#include "base/estado.hpp"

namespace tx {

// fmi, fme and Fd from the current fields (what a reported iteration computes).
void compute_iteration_globals(State& s);
// compute_iteration_globals, then the .itn line of iteration it; returns
// that line as written (the run's Cauchy rule reads its values from it).
std::string write_iteration_globals(State& s);
void write_results(State& s);
void compute_stream_function(State& s);
void complete_boundary_values(State& s);
void write_field(State& s, const Vec& field, int ny, int nx, int nxy);
void write_global_results(State& s);
void write_residual_script(State& s);
void write_profiles(State& s);       // the six quantity profiles, in order
void write_thrust_profile(State& s);

// Mass flow rate through the east face of volume np (kg/s, whole nozzle).
double east_face_mass_flow(const State& s, int np);

// Kliegel and Levine discharge coefficient of a throat with curvature ratio Rcag.
double kliegel_levine_cd(double gama, double Rcag);

}  // namespace tx

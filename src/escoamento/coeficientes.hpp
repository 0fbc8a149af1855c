// Discretisation: density and face densities, momentum and energy systems,
// SIMPLEC coefficients, face velocities, pressure correction and the
// corrections.
#pragma once

#include "base/estado.hpp"

namespace tx {

// The mass factors of the real volumes at the previous time level, f.mass
// (ro_old*rp/Jp) and f.mass_m (ro_old/Jp*rp): once per outer iteration,
// before anything reads them.
void mass_factors(State& s);
// f.psi_T = 1/(T Rg) of every volume: after the T solve, before the
// pressure-correction systems read it.
void compressibilities(State& s);
void update_density(State& s);
void face_densities(State& s);
void build_momentum_coefficients(State& s);
void build_u_source(State& s);
void build_v_source(State& s);
// The same into another source vector (the v system of a run on threads).
void build_v_source(State& s, Vec& b);
void build_energy_source(State& s);
void simplec_d_coefficients(State& s);
void face_velocities(State& s);
void build_pressure_correction_system(State& s);
// The same with the density correction taken from the face densities in f.roe
// and f.ron (the second-order scheme's limited values), beta not applied.
void build_pressure_correction_system_limited(State& s);
void correct_pressure_density(State& s);
void correct_node_velocities(State& s);
void correct_face_velocities(State& s);

}  // namespace tx

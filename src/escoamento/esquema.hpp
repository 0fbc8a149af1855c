// The discretisation schemes (item 30). An outer iteration takes its
// scheme's routines once (scheme_routines) and calls them where the scheme
// decides: the face values of the advection (the deferred correction of u,
// v and T, the face densities and the density correction of the p' system)
// and the wall's fictitious values. The grid's column distribution for a
// wall file is the scheme's too (malha/malha.cpp). A new scheme is a new
// file beside ordem2.cpp and a row of scheme_routines.
#pragma once

#include "base/estado.hpp"

namespace tx {

struct SchemeRoutines {
  void (*face_densities)(State&);
  void (*build_u_source)(State&);
  void (*build_v_source)(State&, Vec& b);
  void (*build_energy_source)(State&);
  void (*build_pressure_correction_system)(State&);
  // The wall row of fictitious volumes (j = ny): velocities after the u, v
  // solves and after set_fictitious_velocities; temperature after the T
  // solve; pressure (and density) after each pressure correction. The
  // current scheme keeps what the solves and corrections wrote there.
  void (*wall_velocities)(State&);
  void (*wall_temperature)(State&);
  void (*wall_pressure)(State&);
};

const SchemeRoutines& scheme_routines(Scheme e);

// The second-order scheme ('ordem2', ordem2.cpp).
void face_densities_ordem2(State& s);
void build_u_source_ordem2(State& s);
void build_v_source_ordem2(State& s, Vec& b);
void build_energy_source_ordem2(State& s);
// Fictitious wall values that make the wall face second order: the pressure
// and the temperature extrapolated linearly along the column (so that the
// face mean is 1.5 q(P) - 0.5 q(S)), never below half the last row's (a
// corner with no radius would make them negative), the velocity's
// component along the wall face extrapolated and its normal component
// reflected (nothing crosses the wall in any face mean).
void wall_velocities_ordem2(State& s);
void wall_temperature_ordem2(State& s);
void wall_pressure_ordem2(State& s);

// The limiter of the second-order face values, van Albada's: the face
// value is q_U + limited_half_step(q_U - q_UU, q_D - q_U), with q_U the
// upwind volume, q_D the downwind one and q_UU the one beyond q_U.
// 0.5 psi(r) (q_D - q_U), psi(r) = (r^2 + r)/(r^2 + 1), r = a/b, written
// without the division by b: 0 at an extremum (a b <= 0), b/2 (central)
// where a = b.
inline double limited_half_step(double a, double b) {
  const double ab = a * b;
  if (!(ab > 0.0)) return 0.0;
  return 0.5 * ab * (a + b) / (a * a + b * b);
}

}  // namespace tx

// The table of the schemes' routines.
#include "escoamento/esquema.hpp"

#include "escoamento/coeficientes.hpp"

namespace tx {

namespace {

// The current scheme's v source into a given vector.
void build_v_source_padrao(State& s, Vec& b) { build_v_source(s, b); }
void keep(State&) {}

constexpr SchemeRoutines kPadrao = {face_densities,
                                    build_u_source,
                                    build_v_source_padrao,
                                    build_energy_source,
                                    build_pressure_correction_system,
                                    keep,
                                    keep,
                                    keep};

constexpr SchemeRoutines kOrdem2 = {face_densities_ordem2,
                                    build_u_source_ordem2,
                                    build_v_source_ordem2,
                                    build_energy_source_ordem2,
                                    build_pressure_correction_system_limited,
                                    wall_velocities_ordem2,
                                    wall_temperature_ordem2,
                                    wall_pressure_ordem2};

}  // namespace

const SchemeRoutines& scheme_routines(Scheme e) {
  return e == Scheme::kOrdem2 ? kOrdem2 : kPadrao;
}

}  // namespace tx

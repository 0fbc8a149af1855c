// The table of the schemes' routines.
#include "escoamento/esquema.hpp"

#include "escoamento/coeficientes.hpp"

#include <cstdlib>
#include <string>

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

// MEASUREMENT ONLY (to be removed): TUBRIX_O2_PARTES picks the parts.
SchemeRoutines partial() {
  const char* e = std::getenv("TUBRIX_O2_PARTES");
  SchemeRoutines r = kOrdem2;
  if (e == nullptr) return r;
  const std::string p = e;
  if (p.find('l') == std::string::npos) {
    r.face_densities = kPadrao.face_densities;
    r.build_u_source = kPadrao.build_u_source;
    r.build_v_source = kPadrao.build_v_source;
    r.build_energy_source = kPadrao.build_energy_source;
    r.build_pressure_correction_system = kPadrao.build_pressure_correction_system;
  }
  if (p.find('p') == std::string::npos) {
    r.wall_velocities = keep;
    r.wall_temperature = keep;
    r.wall_pressure = keep;
  }
  return r;
}

}  // namespace

const SchemeRoutines& scheme_routines(Scheme e) {
  static const SchemeRoutines o2 = partial();
  return e == Scheme::kOrdem2 ? o2 : kPadrao;
}

}  // namespace tx

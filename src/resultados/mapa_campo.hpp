// The field map: caso.campo.dat (Mach number and pressure over the nozzle,
// with the wall and the axis) and its plot script Tubrix_5p5_campo.gnu.
#pragma once

#include "base/estado.hpp"

namespace tx {

// Suffix of the data file after the case name, and the script.
inline constexpr const char* kFieldMapSuffix = ".campo.dat";
inline constexpr const char* kFieldMapScript = "Tubrix_5p5_campo.gnu";

// Writes the data file and the script (its six kept lines, then the plot
// lines) from the fields as the results step leaves them, then opens the
// plot as sem_g asks.
void write_field_map(State& s);

}  // namespace tx

// The 2D field file for visualisation programs: caso.vts, a VTK XML
// structured grid of the real grid nodes with the flow of the real volumes
// as cell data and the stream function as point data.
#pragma once

#include <string>

#include "base/estado.hpp"

namespace tx {

// Suffix of the field file after the case name.
inline constexpr const char* kFieldFileSuffix = ".vts";

// Writes caso.vts from the fields as the results step leaves them. Written
// to a temporary name and renamed over the old file only when complete;
// throws RunError naming the file when it cannot be written.
void write_field_file(const State& s);

}  // namespace tx

// The SIMPLEC outer iteration of the flow solver.
#pragma once

#include "base/estado.hpp"

namespace tx {

// Time step of outer iteration `it` from the ramp between dt1 and dt2.
double time_step(const CaseData& c, int it);

// One outer iteration `it` (time step, old levels, momentum, energy, mass
// cycle); leaves the sum of the four residual norms in s.k.norm and sets
// norm1 at iteration 1.
void advance_iteration(State& s, int it);

}  // namespace tx

// Run driver and platform services.
#pragma once

#include <string>
#include <string_view>

#include "base/estado.hpp"

namespace tx {

// Real platform services: the system shell (with the editor and plotting
// program mapped to what this system has) and a wall-clock stopwatch.
Platform system_platform();
int run_command(std::string_view command_line);

// Time step of outer iteration `it` from the ramp between dt1 and dt2.
double time_step(const CaseData& c, int it);
// Whether iteration `it` is reported (listing, residual and .itn lines).
bool is_report_iteration(const State& s, int it, double ratio);

// One outer iteration `it` (time step, old levels, momentum, energy, mass
// cycle); leaves the sum of the four residual norms in s.k.norm and sets
// norm1 at iteration 1.
void advance_iteration(State& s, int it);

// One whole run in the current directory. Throws RunError for the errors a
// user can cause; returns the exit status of a run that ended (0, or 130
// when interrupted).
int run_case(State& s);

// Entry point used by main(): catches RunError, prints it, returns the status.
int tubrix_main(int argc, char** argv);

}  // namespace tx

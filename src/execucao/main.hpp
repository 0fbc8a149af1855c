// Run driver: one whole run of tubrix in the current folder.
#pragma once

#include <string>
#include <string_view>

#include "base/estado.hpp"

namespace tx {

// The real services of this system for a run: command shell, stopwatch,
// calendar and whether plot windows can be shown.
Platform system_platform();

// Whether iteration `it` is reported (listing, residual and .itn lines).
bool is_report_iteration(const State& s, int it, double ratio);

// One whole run in the current directory. Throws RunError for the errors a
// user can cause (a bad TUBRIX_CAUCHY among them); returns the exit status
// of a run that ended (0, also when the Cauchy rule a study asked for
// stopped it, or 130 when interrupted).
int run_case(State& s);

// Entry point used by main(): catches RunError, prints it, returns the status.
int tubrix_main(int argc, char** argv);

}  // namespace tx

// The console lines of a run that the grid study reads from its runs: a
// report line per reported iteration and one closing line, e.g.
//   Iteração      200   L1(R)n / L1(R)1 =  1.234560E-03   dt = ...
//   Fim: 200 iterações   L1(R)n / L1(R)1 =  1.234560E-03   tempo = ...
#pragma once

namespace tx {

inline constexpr const char* kReportLineStart = "Iteração ";   // then the iteration
inline constexpr const char* kClosingLineStart = "Fim: ";      // then the iterations done
inline constexpr const char* kRatioTag = "L1(R)n / L1(R)1 =";  // then the residual ratio

}  // namespace tx

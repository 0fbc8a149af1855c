// The console lines of a run that the grid study reads from its runs: a
// report line per reported iteration, one closing line and, after it, the
// line of a run the Cauchy rule stopped (TUBRIX_CAUCHY), e.g.
//   Iteração      200   L1(R)n / L1(R)1 =  1.234560E-03   dt = ...
//   Fim: 200 iterações   L1(R)n / L1(R)1 =  1.234560E-03   tempo = ...
//   Regra de Cauchy: parada na iteração 200; fme/fm1D e Fd/Fd1D variaram ...
#pragma once

namespace tx {

inline constexpr const char* kReportLineStart = "Iteração ";   // then the iteration
inline constexpr const char* kClosingLineStart = "Fim: ";      // then the iterations done
inline constexpr const char* kRatioTag = "L1(R)n / L1(R)1 =";  // then the residual ratio
inline constexpr const char* kCauchyLineStart = "Regra de Cauchy: parada na iteração ";

}  // namespace tx

// Grid-refinement extrapolation: Richardson extrapolation and the grid
// convergence index (GCI) of the summary files ".Extrapolix_3p0" that runs
// of the same nozzle on different grids write, following the procedure of
// Celik et al. (2008), J. Fluids Eng. 130, 078001.
#pragma once

#include <limits>
#include <string>
#include <vector>

#include "extrapolacao/resumo.hpp"

namespace tx {

inline constexpr double kNotAvailable = std::numeric_limits<double>::quiet_NaN();

// The orders --ordem accepts: outside them the two-grid estimates lose all
// meaning (and overflow or cancel towards the ends of the double range).
inline constexpr double kMinOrder = 0.1, kMaxOrder = 10.0;
// "esperado um número real de 0.1 a 10 ...", for the messages on --ordem.
std::string order_expected();

enum class Convergence {
  Monotonic,     // observed order from three grids
  Oscillatory,   // differences of opposite signs: no order
  Divergent,     // differences that do not shrink with h: no order
  EqualValues,   // one of the two differences is zero: no order
  Constant,      // all values equal: the value itself, no uncertainty
  AssumedOrder,  // two grids: extrapolated with the order given
};

// Result for one quantity; kNotAvailable where the data allow no value.
struct Extrapolation {
  Convergence kind = Convergence::Monotonic;
  double p = kNotAvailable;        // observed order (or the assumed one)
  double phi_ext = kNotAvailable;  // extrapolated value from the two finest grids
  double e_a = kNotAvailable;      // approximate relative error, two finest grids
  double e_ext = kNotAvailable;    // extrapolated relative error
  double gci = kNotAvailable;      // fine-grid GCI
  double asymptotic = kNotAvailable;  // GCI_32 / (r21^p GCI_21), about 1 when asymptotic
  // Least-squares fit phi = phi0 + alpha h^p over all grids (four or more).
  double p_fit = kNotAvailable, phi0_fit = kNotAvailable, alpha_fit = kNotAvailable;
};

// h and phi ordered from the finest grid to the coarsest (h strictly
// increasing), at least two grids. Three or more: observed order from the
// three finest (safety factor 1.25); four or more: also the least-squares
// fit; two: `assumed_order` with safety factor 3.
Extrapolation extrapolate(const std::vector<double>& h, const std::vector<double>& phi,
                          double assumed_order);

// The least-squares fit alone; false when it does not converge to p > 0.
bool fit_power_law(const std::vector<double>& h, const std::vector<double>& phi,
                   double p_start, double& phi0, double& alpha, double& p);

// A whole extrapolation: the grids sorted from fine to coarse and one result
// per quantity.
struct GridStudy {
  std::vector<SummaryFile> grids;
  std::vector<Extrapolation> results;
  double assumed_order = 2.0;
};

// Reads the files (any order), checks that they are at least two, of the
// same quantities and of different h, and extrapolates. Throws RunError.
GridStudy extrapolate_files(const std::vector<std::string>& paths, double assumed_order);

}  // namespace tx

// The pieces of MSI on a team of threads besides the sweeps: the residual
// and the update of phi split by rows. The factorisation and the sweeps run
// on the team as strips of wavefronts (msi_frentes.cpp): member k takes the
// strips k, k + T, ... and follows the last row of the strip before it.
//
// Their one exception is the band rule's wrap-around term: the west
// neighbour of i = 1 is the last volume of the row below (the east neighbour
// of i = nx, the first of the row above, in the backward sweep), which the
// wavefronts have not reached yet. Those volumes are computed with a
// stand-in for that neighbour (+0 in the sweeps; in the factorisation the
// factor row it had in the previous factorisation, whose signs the zero
// products there inherit) and checked once the sweep is over by recomputing
// them with the true neighbour: when every one of them has the same bits, so
// has every other volume (its inputs are the same), otherwise the sweep is
// done again on one thread. Signed zeros, infinities and NaNs are therefore
// covered.
#include "lineares/msi_nucleo.hpp"

namespace tx::msi {

PipeScratch& pipe_scratch() {
  thread_local PipeScratch p;
  return p;
}

namespace {

// R = b - A.phi over the volumes [q0, q1), ascending; returns the sum of R^2
// over that range in the same order.
double residual_range(const double* a, const double* b, const double* phi, double* R, Index nx,
                      Index n, Index q0, Index q1) {
  const Index head_end = nx;
  const Index tail_begin = n - nx > nx ? n - nx : nx;
  double ss = 0.0;
  Index q = q0;
  for (; q < q1 && q < head_end; ++q) {
    R[q] = b[q] - band_sum_checked(a, phi, q, nx, n);
    ss = ss + R[q] * R[q];
  }
  for (; q < q1 && q < tail_begin; ++q) {
    R[q] = b[q] - band_sum_full(a, phi, q, nx);
    ss = ss + R[q] * R[q];
  }
  for (; q < q1; ++q) {
    R[q] = b[q] - band_sum_checked(a, phi, q, nx, n);
    ss = ss + R[q] * R[q];
  }
  return ss;
}

}  // namespace

// The residual on the team. Its sum of squares is added in another order
// than the solver's, so it is returned as `approx`, good to a relative
// n * 2^-52 of the solver's value (all terms are non-negative).
void residual_on_team(const double* a, const double* b, const double* phi, double* R, Index nx,
                      int ny, Team& team, double& approx) {
  const Index n = static_cast<Index>(ny) * nx;
  double parts[64];
  const int T = team.size() < 64 ? team.size() : 64;
  team.run([&](int k) {
    if (k >= T) return;
    int r0, r1;
    Team::share(0, ny, k, T, r0, r1);
    parts[k] = residual_range(a, b, phi, R, nx, n, r0 * nx, r1 * nx);
  });
  approx = 0.0;
  for (int k = 0; k < T; ++k) approx = approx + parts[k];
}

void add_increment(double* phi, const double* w, Index n, Team& team) {
  team.run([&](int k) {
    int q0, q1;
    Team::share(0, static_cast<int>(n), k, team.size(), q0, q1);
    for (Index q = q0; q < q1; ++q) phi[q] = phi[q] + w[q];
  });
}

}  // namespace tx::msi

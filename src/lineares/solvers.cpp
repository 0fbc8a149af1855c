// MSI (modified strongly implicit) factorisation and iteration for the
// five-point systems: the order each call takes.
#include "lineares/solvers.hpp"

#include <cassert>

#include "lineares/msi_nucleo.hpp"

namespace tx {

using namespace msi;

namespace {

bool use_team(const Team* team, int nx, int ny) {
  return team != nullptr && team->size() > 1 && nx >= 2 && ny >= 2;
}

}  // namespace

void msi_factorize(const Mat& a, Mat& msi_l, Mat& msi_u, int nxy, int nx, int ny, Team* team) {
  if (nxy <= 0) return;
  assert(nx >= 2 && ny >= 1 && nxy == nx * ny);
  assert(a.rows() >= nxy && a.cols() == 5);
  assert(msi_l.rows() >= nxy && msi_l.cols() == 4);
  assert(msi_u.rows() >= nxy && msi_u.cols() == 3);
  const double* A = a.data();
  double* L = msi_l.data();
  double* U = msi_u.data();
  const Index NX = nx;

  if (use_team(team, nx, ny) && factorize_wavefronts(A, L, U, NX, ny, team)) return;
  if (ny >= 2 && factorize_wavefronts(A, L, U, NX, ny)) return;
  factorize_rows(A, L, U, NX, ny);
}

void msi_factorize_rows(const Mat& a, Mat& msi_l, Mat& msi_u, int nxy, int nx, int ny) {
  if (nxy <= 0) return;
  assert(nx >= 2 && ny >= 1 && nxy == nx * ny);
  factorize_rows(a.data(), msi_l.data(), msi_u.data(), nx, ny);
}

void msi_solve_rows(const Mat& a, const Mat& msi_l, const Mat& msi_u, int ny, int nx, int nxy,
                    Vec& phi, double tol, int nitm, const Vec& b) {
  if (nxy <= 0) return;
  assert(nx >= 2 && ny >= 1 && nxy == nx * ny);
  (void)ny;
  const double* A = a.data();
  const double* B = b.data();
  double* x = phi.data();
  const Index n = nxy;
  double* w = solve_scratch(n);
  const double target = std::sqrt(solve_residual(A, B, x, w, nx, n)) * tol;
  for (int it = 1;; ++it) {
    forward_sweep(msi_l.data(), w, nx, n);
    backward_sweep(msi_u.data(), w, x, nx, n);
    const double r = std::sqrt(solve_residual(A, B, x, w, nx, n));
    if (it >= nitm || r <= target) break;
  }
}

void msi_solve(const Mat& a, const Mat& msi_l, const Mat& msi_u, int ny, int nx, int nxy,
               Vec& phi, double tol, int nitm, const Vec& b, Team* team) {
  if (nxy <= 0) return;
  assert(nx >= 2 && ny >= 1 && nxy == nx * ny);
  assert(a.rows() >= nxy && a.cols() == 5);
  assert(msi_l.rows() >= nxy && msi_l.cols() == 4);
  assert(msi_u.rows() >= nxy && msi_u.cols() == 3);
  assert(phi.size() >= nxy && b.size() >= nxy);
  const double* A = a.data();
  const double* L = msi_l.data();
  const double* U = msi_u.data();
  const double* B = b.data();
  double* x = phi.data();
  const Index n = nxy;
  const Index NX = nx;
  double* w = solve_scratch(n);

  if (!use_team(team, nx, ny)) {
    // The stop test r <= r0 * tol on the ordered sums of R^2: exact for r0;
    // for r from the quicker split sum when its error bound decides it.
    const double ss0 = solve_residual(A, B, x, w, NX, n);
    const double target = std::sqrt(ss0) * tol;
    // At least one iteration; a limit below 1 therefore acts as 1 instead of
    // never being reached.
    for (int it = 1;; ++it) {
      if (ny >= 2 && forward_wavefronts(L, w, NX, ny) && backward_wavefronts(U, w, NX, ny)) {
        for (Index q = 0; q < n; ++q) x[q] = x[q] + w[q];
      } else {
        // A wrap-around term was not zero: the sweeps again in row order,
        // from the residual (phi is not updated yet).
        if (ny >= 2) solve_residual(A, B, x, w, NX, n);
        forward_sweep(L, w, NX, n);
        backward_sweep(U, w, x, NX, n);
      }
      const double approx = residual_split(A, B, x, w, NX, n);
      if (it >= nitm) break;
      int stop = tol >= 0.0 ? stop_test_from_bounds(approx, ss0, tol, n) : -1;
      if (stop < 0) stop = std::sqrt(ordered_squares(w, n)) <= target ? 1 : 0;
      if (stop == 1) break;
    }
    return;
  }

  // The same iteration on the team. The exact sum of squares (ascending
  // order) is formed only where the stop test needs it: always for r0, and
  // for r when the team's sum lies too close to the target to decide.
  auto exact_sum = [&] { return ordered_squares(w, n); };
  double approx = 0.0;
  residual_on_team(A, B, x, w, NX, ny, *team, approx);
  const double ss0 = exact_sum();
  const double target = std::sqrt(ss0) * tol;
  for (int it = 1;; ++it) {
    if (!forward_wavefronts(L, w, NX, ny, team)) {
      residual_on_team(A, B, x, w, NX, ny, *team, approx);
      forward_sweep(L, w, NX, n);
    }
    if (backward_wavefronts(U, w, NX, ny, team)) {
      add_increment(x, w, n, *team);
    } else {
      residual_on_team(A, B, x, w, NX, ny, *team, approx);
      forward_sweep(L, w, NX, n);
      backward_sweep(U, w, x, NX, n);
    }
    residual_on_team(A, B, x, w, NX, ny, *team, approx);
    if (it >= nitm) break;
    int stop = tol >= 0.0 ? stop_test_from_bounds(approx, ss0, tol, n) : -1;
    if (stop < 0) stop = std::sqrt(exact_sum()) <= target ? 1 : 0;
    if (stop == 1) break;
  }
}

}  // namespace tx

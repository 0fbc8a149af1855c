// The L1 norm of a system's residual.
#include <cassert>
#include <cmath>

#include "lineares/msi_nucleo.hpp"
#include "lineares/solvers.hpp"

namespace tx {

using namespace msi;

namespace {

// sum of |R(q)| in the documented order: the first row ascending, the
// interior rows column by column (i outer, j inner), the last row ascending;
// a single grid row ascending, once.
double l1_in_order(const double* R, Index nx, int ny, Index n) {
  double sum = 0.0;
  if (ny < 2) {
    for (Index q = 0; q < n; ++q) sum = sum + std::fabs(R[q]);
    return sum;
  }
  for (Index q = 0; q < nx; ++q) sum = sum + std::fabs(R[q]);
  for (Index i = 0; i < nx; ++i) {
    for (Index j = 1; j < ny - 1; ++j) sum = sum + std::fabs(R[i + j * nx]);
  }
  for (Index q = n - nx; q < n; ++q) sum = sum + std::fabs(R[q]);
  return sum;
}

}  // namespace

void residual_l1_norm(int nx, int ny, int nxy, const Mat& a, const Vec& b, const Vec& phi,
                      double& norm) {
  if (nxy <= 0) return;
  assert(nx >= 1 && ny >= 1 && nxy == nx * ny);
  assert(a.rows() >= nxy && a.cols() == 5 && b.size() >= nxy && phi.size() >= nxy);
  const double* A = a.data();
  const double* B = b.data();
  const double* x = phi.data();
  const Index n = nxy;
  const Index NX = nx;
  // The terms are formed first in memory order (two volumes at a time in the
  // interior rows), where the column order of the sum would stride across
  // the system by a grid row per volume, and then added in that order.
  double* r = solve_scratch(n);
  const Index head = ny < 2 ? n : NX;
  const Index tail = ny < 2 ? n : n - NX;
  Index q = 0;
  for (; q < head; ++q) r[q] = abs_residual_checked(A, B, x, q, NX, n);
  for (; q + 1 < tail; q += 2) {
    const V2 t = band_sum_full2(A, x, q, 1, NX) - pair_at(B + q, 1);
    r[q] = std::fabs(t[0]);
    r[q + 1] = std::fabs(t[1]);
  }
  for (; q < tail; ++q) r[q] = std::fabs(band_sum_full(A, x, q, NX) - B[q]);
  for (; q < n; ++q) r[q] = abs_residual_checked(A, B, x, q, NX, n);
  norm = norm + l1_in_order(r, NX, ny, n);
}

// After msi_solve the solve's scratch holds b - A.phi for every row (its
// stop test's residual at the final phi): |b - s| and |s - b| are the same
// number, so the norm needs no pass over the system of its own.
void msi_solve_and_norm(const Mat& a, const Mat& msi_l, const Mat& msi_u, int ny, int nx,
                        int nxy, Vec& phi, double tol, int nitm, const Vec& b, double& norm,
                        Team* team) {
  msi_solve(a, msi_l, msi_u, ny, nx, nxy, phi, tol, nitm, b, team);
  if (nxy <= 0) return;
  norm = norm + l1_in_order(solve_scratch(nxy), nx, ny, nxy);
}

}  // namespace tx

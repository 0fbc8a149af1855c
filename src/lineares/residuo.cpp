// The L1 norm of a system's residual.
#include <cassert>

#include "lineares/msi_nucleo.hpp"
#include "lineares/solvers.hpp"

namespace tx {

using namespace msi;

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
  double sum = 0.0;

  if (ny < 2) {
    // A single grid row: the first and last rows coincide, so the sweep
    // below would visit volumes twice; take them once, in ascending order.
    for (Index q = 0; q < n; ++q) sum = sum + abs_residual_checked(A, B, x, q, NX, n);
    norm = norm + sum;
    return;
  }

  // First row: volume 1 (p, e, n), then 2..nx (w, p, e, n).
  for (Index q = 0; q < NX; ++q) sum = sum + abs_residual_checked(A, B, x, q, NX, n);
  // Interior rows column by column: i outer, j inner, all five terms. The
  // terms are formed first in memory order (two rows at a time), where the
  // column order would stride across the system by a grid row per volume,
  // and then added in the column order.
  double* r = solve_scratch(n);
  Index q = NX;
  for (; q + 1 < n - NX; q += 2) {
    const V2 t = band_sum_full2(A, x, q, 1, NX) - pair_at(B + q, 1);
    r[q] = std::fabs(t[0]);
    r[q + 1] = std::fabs(t[1]);
  }
  for (; q < n - NX; ++q) r[q] = std::fabs(band_sum_full(A, x, q, NX) - B[q]);
  for (Index i = 0; i < NX; ++i) {
    for (Index j = 1; j < ny - 1; ++j) sum = sum + r[i + j * NX];
  }
  // Last row: (ny-1)nx+1 .. nxy-1 (s, w, p, e), then nxy (s, w, p).
  for (q = n - NX; q < n; ++q) sum = sum + abs_residual_checked(A, B, x, q, NX, n);
  norm = norm + sum;
}

}  // namespace tx

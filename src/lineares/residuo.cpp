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
  // Interior rows column by column: i outer, j inner, all five terms.
  // Two rows of a column at a time, added in order.
  for (Index i = 0; i < NX; ++i) {
    Index j = 1;
    for (; j + 1 < ny - 1; j += 2) {
      const Index q = i + j * NX;
      const V2 r = band_sum_full2(A, x, q, NX, NX) - pair_at(B + q, NX);
      sum = sum + std::fabs(r[0]);
      sum = sum + std::fabs(r[1]);
    }
    for (; j < ny - 1; ++j) {
      const Index q = i + j * NX;
      sum = sum + std::fabs(band_sum_full(A, x, q, NX) - B[q]);
    }
  }
  // Last row: (ny-1)nx+1 .. nxy-1 (s, w, p, e), then nxy (s, w, p).
  for (Index q = n - NX; q < n; ++q) sum = sum + abs_residual_checked(A, B, x, q, NX, n);
  norm = norm + sum;
}

}  // namespace tx

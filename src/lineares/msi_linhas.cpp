// MSI in plain ascending / descending order, volume after volume: the order
// the formulas are written in, which the faster orders reproduce bit for bit.
#include "lineares/msi_nucleo.hpp"

namespace tx::msi {

// Work vector of one solve: it holds the residual R, is overwritten in place
// by the forward sweep (y) and then by the backward sweep (the increment).
// A fresh nxy-sized allocation per solve page-faults on large grids, so each
// thread keeps one buffer and grows it when needed; it carries no data from
// one call to the next.
double* solve_scratch(Index n) {
  thread_local std::vector<double> w;
  if (static_cast<Index>(w.size()) < n) w.resize(static_cast<std::size_t>(n));
  return w.data();
}

// R = b - A.phi for every row, ascending; returns sum of R^2 in the same order.
double solve_residual(const double* a, const double* b, const double* phi, double* R, Index nx,
                      Index n) {
  const Index head_end = nx;                                  // rows without a south term
  const Index tail_begin = n - nx > nx ? n - nx : nx;         // rows without a north term
  double ss = 0.0;
  for (Index q = 0; q < head_end; ++q) {
    R[q] = b[q] - band_sum_checked(a, phi, q, nx, n);
    ss = ss + R[q] * R[q];
  }
  Index q = head_end;
  for (; q + 1 < tail_begin; q += 2) {  // two rows at a time, summed in order
    const V2 r = pair_at(b + q, 1) - band_sum_full2(a, phi, q, 1, nx);
    R[q] = r[0];
    R[q + 1] = r[1];
    const V2 sq = r * r;
    ss = ss + sq[0];
    ss = ss + sq[1];
  }
  for (; q < tail_begin; ++q) {
    R[q] = b[q] - band_sum_full(a, phi, q, nx);
    ss = ss + R[q] * R[q];
  }
  for (q = tail_begin; q < n; ++q) {
    R[q] = b[q] - band_sum_checked(a, phi, q, nx, n);
    ss = ss + R[q] * R[q];
  }
  return ss;
}

// R as solve_residual, with the sum of R^2 kept in four running sums so that
// its additions do not wait on each other. The total is only an
// approximation of solve_residual's sum (see stop_test_from_bounds).
double residual_split(const double* a, const double* b, const double* phi, double* R, Index nx,
                      Index n) {
  const Index head_end = nx;
  const Index tail_begin = n - nx > nx ? n - nx : nx;
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  for (Index q = 0; q < head_end; ++q) {
    R[q] = b[q] - band_sum_checked(a, phi, q, nx, n);
    s0 = s0 + R[q] * R[q];
  }
  Index q = head_end;
  V2 s01{s0, s1}, s23{s2, s3};  // the running sums s0, s1 and s2, s3 by lanes
  for (; q + 3 < tail_begin; q += 4) {
    const V2 r01 = pair_at(b + q, 1) - band_sum_full2(a, phi, q, 1, nx);
    const V2 r23 = pair_at(b + q + 2, 1) - band_sum_full2(a, phi, q + 2, 1, nx);
    R[q] = r01[0];
    R[q + 1] = r01[1];
    R[q + 2] = r23[0];
    R[q + 3] = r23[1];
    s01 = s01 + r01 * r01;
    s23 = s23 + r23 * r23;
  }
  s0 = s01[0];
  s1 = s01[1];
  s2 = s23[0];
  s3 = s23[1];
  for (; q < tail_begin; ++q) {
    R[q] = b[q] - band_sum_full(a, phi, q, nx);
    s1 = s1 + R[q] * R[q];
  }
  for (q = tail_begin; q < n; ++q) {
    R[q] = b[q] - band_sum_checked(a, phi, q, nx, n);
    s2 = s2 + R[q] * R[q];
  }
  return (s0 + s1) + (s2 + s3);
}

// The sum of R^2 in ascending order, as solve_residual forms it.
double ordered_squares(const double* R, Index n) {
  double ss = 0.0;
  for (Index q = 0; q < n; ++q) ss = ss + R[q] * R[q];
  return ss;
}

// The stop test r <= r0 * tol decided from an approximate sum of squares,
// or -1 when the bound on its error leaves the answer open.
int stop_test_from_bounds(double approx, double ss0, double tol, Index n) {
  if (!std::isfinite(approx)) return -1;
  const double rel = 4.0 * static_cast<double>(n) * 0x1.0p-52 + 0x1.0p-40;
  const double target = std::sqrt(ss0) * tol;
  if (std::sqrt(approx * (1.0 + rel)) <= target) return 1;
  if (std::sqrt(approx * (1.0 - rel)) > target) return 0;
  return -1;
}

// Forward sweep, ascending, in place over R:
//   y = (R - l_s*y(S) - l_w*y(W) - l_se*y(SE)) / l_p, absent terms omitted.
void forward_sweep(const double* L, double* w, Index nx, Index n) {
  w[0] = w[0] / L[LP];
  for (Index q = 1; q < nx - 1; ++q) {
    const double* l = L + 4 * q;
    w[q] = (w[q] - l[LW] * w[q - 1]) / l[LP];
  }
  {  // q = nx - 1: its south-east row is row 0
    const Index q = nx - 1;
    const double* l = L + 4 * q;
    w[q] = (w[q] - l[LW] * w[q - 1] - l[LSE] * w[0]) / l[LP];
  }
  for (Index q = nx; q < n; ++q) {
    const double* l = L + 4 * q;
    w[q] = (w[q] - l[LS] * w[q - nx] - l[LW] * w[q - 1] - l[LSE] * w[q - nx + 1]) / l[LP];
  }
}

// Backward sweep, descending, in place over y, adding each increment to phi:
//   d = y - u_n*d(N) - u_nw*d(NW) - u_e*d(E), absent terms omitted.
void backward_sweep(const double* U, double* w, double* phi, Index nx, Index n) {
  Index q = n - 1;
  // w[q] = y[q] is already the increment of the last row.
  phi[q] = phi[q] + w[q];
  // No north or north-west row above.
  for (q = n - 2; q > n - nx; --q) {
    const double* u = U + 3 * q;
    w[q] = w[q] - u[UE] * w[q + 1];
    phi[q] = phi[q] + w[q];
  }
  // q = n - nx: its north-west row is the last row.
  q = n - nx;
  {
    const double* u = U + 3 * q;
    w[q] = w[q] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
    phi[q] = phi[q] + w[q];
  }
  for (q = n - nx - 1; q >= 0; --q) {
    const double* u = U + 3 * q;
    w[q] = w[q] - u[UN] * w[q + nx] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
    phi[q] = phi[q] + w[q];
  }
}

// The factorisation in ascending np, row by row.
void factorize_rows(const double* A, double* L, double* U, Index NX, int ny) {
  // alpha is 0.5 inside and 0 on the first and last rows and columns.
  for (Index q = 0; q < NX; ++q) factor_first_row(A, L, U, q, NX, 0.0);
  for (int j = 2; j <= ny; ++j) {
    const double alpha_in = j < ny ? 0.5 : 0.0;
    const Index row = static_cast<Index>(j - 1) * NX;
    factor_full(A, L, U, row, NX, 0.0);
    for (Index i = 1; i < NX - 1; ++i) factor_full(A, L, U, row + i, NX, alpha_in);
    factor_full(A, L, U, row + NX - 1, NX, 0.0);
  }
}

}  // namespace tx::msi

// The inner pieces of MSI shared by its three orders (rows, wavefronts,
// pipelined) and the residual norm.
//
// The system is a band matrix over the linear index: the neighbours of a row
// sit at -nx, -1, +1, +nx and exist exactly when that index is in 1..nxy, so
// the west term of i = 1 couples to the last volume of the row below. The
// loops below work on raw 0-based storage (element q is index q + 1) and
// split each sweep into the ranges where the set of present terms is fixed;
// every value is computed with the same operations, in the same order and
// grouping, as the per-volume formulas in the comments.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "base/estado.hpp"
#include "base/paralelo.hpp"

namespace tx::msi {

using Index = std::ptrdiff_t;

// Column offsets within one row of the packed arrays.
enum : Index { AS = kS - 1, AW = kW - 1, AP = kP - 1, AE = kE - 1, AN = kN - 1 };  // a
enum : Index { LP = 0, LW = 1, LSE = 2, LS = 3 };            // msi_l, 4 columns
enum : Index { UE = 0, UNW = 1, UN = 2 };                    // msi_u, 3 columns

// Sum of the present band terms of row q, in the order s, w, p, e, n.
inline double band_sum_checked(const double* a, const double* x, Index q, Index nx, Index n) {
  const double* r = a + 5 * q;
  double acc = 0.0;
  bool any = false;
  auto add = [&](double t) {
    acc = any ? acc + t : t;
    any = true;
  };
  if (q - nx >= 0) add(r[AS] * x[q - nx]);
  if (q - 1 >= 0) add(r[AW] * x[q - 1]);
  add(r[AP] * x[q]);
  if (q + 1 < n) add(r[AE] * x[q + 1]);
  if (q + nx < n) add(r[AN] * x[q + nx]);
  return acc;
}

// Row q with all five neighbours present.
inline double band_sum_full(const double* a, const double* x, Index q, Index nx) {
  const double* r = a + 5 * q;
  return r[AS] * x[q - nx] + r[AW] * x[q - 1] + r[AP] * x[q] + r[AE] * x[q + 1] +
         r[AN] * x[q + nx];
}

// Two rows side by side, one per lane of a two-wide vector: each lane does
// exactly the operations of its row.
using V2 = double __attribute__((vector_size(16)));

inline V2 pair_at(const double* p, Index d) { return V2{p[0], p[d]}; }

// band_sum_full of rows q and q + d (d = 1: neighbours in a grid row; d = nx:
// in a column), both with all five neighbours present.
inline V2 band_sum_full2(const double* a, const double* x, Index q, Index d, Index nx) {
  const double* r = a + 5 * q;
  const Index e = 5 * d;
  return pair_at(r + AS, e) * pair_at(x + q - nx, d) + pair_at(r + AW, e) * pair_at(x + q - 1, d) +
         pair_at(r + AP, e) * pair_at(x + q, d) + pair_at(r + AE, e) * pair_at(x + q + 1, d) +
         pair_at(r + AN, e) * pair_at(x + q + nx, d);
}

// Factor row q when the south (S), south-east (SE) and west (W) factor rows
// all exist, i.e. q >= nx.
//   l_s  = a_s / (1 - alpha*u_e(S)*u_e(SE))
//   l_se = -l_s*u_e(S)
//   l_w  = (a_w - l_s*u_nw(S)) / (1 + 2alpha*u_nw(W))
//   phi1 = l_se*u_e(SE); phi4 = l_w*u_nw(W)
//   l_p  = a_p - l_w*u_e(W) - l_s*u_n(S) - l_se*u_nw(SE) + 2alpha*(phi1 + phi4)
//   u_e  = (a_e - l_se*u_n(SE) - 2alpha*phi1) / l_p
//   u_nw = -l_w*u_n(W) / l_p
//   u_n  = (a_n - alpha*phi4) / l_p
inline void factor_core(const double* r, const double* uS, const double* uSE, const double* uW,
                        double alpha, double* l, double* u) {
  const double ls = r[AS] / (1.0 - alpha * uS[UE] * uSE[UE]);
  const double lse = -ls * uS[UE];
  const double lw = (r[AW] - ls * uS[UNW]) / (1.0 + 2.0 * alpha * uW[UNW]);
  const double phi1 = lse * uSE[UE];
  const double phi4 = lw * uW[UNW];
  const double lp =
      r[AP] - lw * uW[UE] - ls * uS[UN] - lse * uSE[UNW] + 2.0 * alpha * (phi1 + phi4);
  l[LP] = lp;
  l[LW] = lw;
  l[LSE] = lse;
  l[LS] = ls;
  u[UE] = (r[AE] - lse * uSE[UN] - 2.0 * alpha * phi1) / lp;
  u[UNW] = -lw * uW[UN] / lp;
  u[UN] = (r[AN] - alpha * phi4) / lp;
}

inline void factor_full(const double* a, double* L, double* U, Index q, Index nx, double alpha) {
  factor_core(a + 5 * q, U + 3 * (q - nx), U + 3 * (q - nx + 1), U + 3 * (q - 1), alpha,
              L + 4 * q, U + 3 * q);
}

// Factor row q of the first grid row (q < nx): no south row exists, so
// l_s = a_s with no division and l_se = 0; the south-east row exists only
// for q = nx - 1 (it is row 0) and the west row for q >= 1.
inline void factor_first_row(const double* a, double* L, double* U, Index q, Index nx,
                             double alpha) {
  const double* r = a + 5 * q;
  double* l = L + 4 * q;
  double* u = U + 3 * q;
  if (q == 0) {
    l[LP] = r[AP];
    l[LW] = r[AW];
    l[LSE] = 0.0;
    l[LS] = r[AS];
    u[UE] = r[AE] / r[AP];
    u[UNW] = 0.0;
    u[UN] = r[AN] / r[AP];
    return;
  }
  const double* uW = U + 3 * (q - 1);
  const bool has_se = q == nx - 1;
  const double* uSE = has_se ? U : nullptr;  // row 0
  const double ls = r[AS];
  const double lse = 0.0;
  const double lw = r[AW] / (1.0 + 2.0 * alpha * uW[UNW]);
  const double phi1 = has_se ? lse * uSE[UE] : 0.0;
  const double phi4 = lw * uW[UNW];
  double lp = r[AP] - lw * uW[UE];
  if (has_se) lp = lp - lse * uSE[UNW];
  lp = lp + 2.0 * alpha * (phi1 + phi4);
  double ue = r[AE];
  if (has_se) ue = ue - lse * uSE[UN];
  ue = ue - 2.0 * alpha * phi1;
  l[LP] = lp;
  l[LW] = lw;
  l[LSE] = lse;
  l[LS] = ls;
  u[UE] = ue / lp;
  u[UNW] = -lw * uW[UN] / lp;
  u[UN] = (r[AN] - alpha * phi4) / lp;
}

// |sum of present band terms - b| of row q.
inline double abs_residual_checked(const double* a, const double* b, const double* x, Index q,
                                   Index nx, Index n) {
  return std::fabs(band_sum_checked(a, x, q, nx, n) - b[q]);
}

inline bool same_bits(const double* x, const double* y, int n) {
  return std::memcmp(x, y, sizeof(double) * static_cast<std::size_t>(n)) == 0;
}

// Work vector of one solve: it holds the residual R, is overwritten in place
// by the forward sweep (y) and then by the backward sweep (the increment).
// A fresh nxy-sized allocation per solve page-faults on large grids, so each
// thread keeps one buffer and grows it when needed. It carries no data from
// one call to the next, but for one: after msi_solve it holds b - A.phi at
// the solution, which msi_solve_and_norm reads on the same thread.
double* solve_scratch(Index n);

// ---- Plain order (msi_linhas.cpp) ----

// R = b - A.phi for every row, ascending; returns sum of R^2 in the same order.
double solve_residual(const double* a, const double* b, const double* phi, double* R, Index nx,
                      Index n);
// R as solve_residual, with the sum of R^2 kept in four running sums (an
// approximation of solve_residual's sum, see stop_test_from_bounds).
double residual_split(const double* a, const double* b, const double* phi, double* R, Index nx,
                      Index n);
// The sum of R^2 in ascending order, as solve_residual forms it.
double ordered_squares(const double* R, Index n);
// The stop test r <= r0 * tol decided from an approximate sum of squares,
// or -1 when the bound on its error leaves the answer open.
int stop_test_from_bounds(double approx, double ss0, double tol, Index n);
void forward_sweep(const double* L, double* w, Index nx, Index n);
void backward_sweep(const double* U, double* w, double* phi, Index nx, Index n);
void factorize_rows(const double* A, double* L, double* U, Index NX, int ny);

// ---- On a team (msi_pipeline.cpp) ----

// The residual on the team; its sum of squares, in another order than the
// solver's, is returned as `approx`.
void residual_on_team(const double* a, const double* b, const double* phi, double* R, Index nx,
                      int ny, Team& team, double& approx);
void add_increment(double* phi, const double* w, Index n, Team& team);

// ---- Wavefronts (msi_frentes.cpp); false: redo row by row ----
// With a team, strips of rows are pipelined on it (member k takes strips
// k, k + T, ..., each following the strip before it).

bool factorize_wavefronts(const double* A, double* L, double* U, Index nx, int ny,
                          Team* team = nullptr);
bool forward_wavefronts(const double* L, double* w, Index nx, int ny, Team* team = nullptr);
bool backward_wavefronts(const double* U, double* w, Index nx, int ny, Team* team = nullptr);

// The wrap-around volumes (i = 1 in the factorisation and the forward
// sweep, i = nx backward), computed first with a stand-in for their
// neighbour across the end of the row, recomputed with the true one: true
// when every one has the same bits (msi_frentes.cpp).
// The factor rows of the volumes i = 1 as the previous factorisation left
// them: the stand-in for their west neighbour.
void save_factor_guess(const double* U, Index nx, int ny, double* guess);
bool factor_wraps_hold(const double* A, const double* L, const double* U, Index nx, int ny);
bool forward_wraps_hold(const double* L, const double* w, const double* saved, Index nx, int ny);
bool backward_wraps_hold(const double* U, const double* w, const double* saved, Index nx, int ny);

// Scratch of the pipelined and wavefront sweeps, owned by the calling thread.
struct PipeScratch {
  RowProgress progress;
  std::vector<double> saved;  // per row: what its wrapped volume needs checked
  void reset(int rows) {
    progress.reset(rows);
    const auto n = static_cast<std::size_t>(3 * rows);
    if (saved.size() < n) saved.resize(n);
  }
};

PipeScratch& pipe_scratch();

}  // namespace tx::msi

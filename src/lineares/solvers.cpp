// MSI (modified strongly implicit) factorisation and iteration for the
// five-point systems, and the L1 norm of a system's residual.
//
// The system is a band matrix over the linear index: the neighbours of a row
// sit at -nx, -1, +1, +nx and exist exactly when that index is in 1..nxy, so
// the west term of i = 1 couples to the last volume of the row below. The
// loops below work on raw 0-based storage (element q is index q + 1) and
// split each sweep into the ranges where the set of present terms is fixed;
// every value is computed with the same operations, in the same order and
// grouping, as the per-volume formulas in the comments.
#include "lineares/solvers.hpp"

#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <vector>

#include "base/paralelo.hpp"

namespace tx {

namespace {

using Index = std::ptrdiff_t;

// Column offsets within one row of the packed arrays.
enum : Index { AS = 0, AW = 1, AP = 2, AE = 3, AN = 4 };     // a, 5 columns
enum : Index { LP = 0, LW = 1, LSE = 2, LS = 3 };            // msi_l, 4 columns
enum : Index { UE = 0, UNW = 1, UN = 2 };                    // msi_u, 3 columns

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
  for (Index q = head_end; q < tail_begin; ++q) {
    R[q] = b[q] - band_sum_full(a, phi, q, nx);
    ss = ss + R[q] * R[q];
  }
  for (Index q = tail_begin; q < n; ++q) {
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
  for (; q + 3 < tail_begin; q += 4) {
    R[q] = b[q] - band_sum_full(a, phi, q, nx);
    R[q + 1] = b[q + 1] - band_sum_full(a, phi, q + 1, nx);
    R[q + 2] = b[q + 2] - band_sum_full(a, phi, q + 2, nx);
    R[q + 3] = b[q + 3] - band_sum_full(a, phi, q + 3, nx);
    s0 = s0 + R[q] * R[q];
    s1 = s1 + R[q + 1] * R[q + 1];
    s2 = s2 + R[q + 2] * R[q + 2];
    s3 = s3 + R[q + 3] * R[q + 3];
  }
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

// |sum of present band terms - b| of row q.
inline double abs_residual_checked(const double* a, const double* b, const double* x, Index q,
                                   Index nx, Index n) {
  return std::fabs(band_sum_checked(a, x, q, nx, n) - b[q]);
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

// ---- Pipelined sweeps on a team of threads -------------------------------
//
// Row r of the grid depends only on rows r - 1 (factorisation, forward
// sweep) or r + 1 (backward sweep), and volume i of it only on volumes up to
// i + 1 of that row. Member k of a team of T takes the rows r with r % T == k
// (counted from the far end for the backward sweep) and follows the row of
// the member before it a chunk behind, each volume with exactly the
// operations of the plain sweeps above.
//
// The one exception is the band rule's wrap-around term: the west neighbour
// of i = 1 is the last volume of the row below (the east neighbour of
// i = nx, the first of the row above, in the backward sweep), which the
// pipeline has not reached yet. Those volumes are computed with a stand-in
// for that neighbour (+0 in the sweeps; in the factorisation the factor row
// it had in the previous factorisation, whose signs the zero products there
// inherit) and checked once the sweep is over by recomputing them with the
// true neighbour: when every one of them has the same bits, so has every
// other volume (its inputs are the same), otherwise the sweep is done again
// on one thread. Signed zeros, infinities and NaNs are therefore covered.
//
// Row after row crosses from one core to the other; the lag of a chunk or
// more between the members hides the time a counter takes to get across.

constexpr Index kChunk = 16;                 // volumes between progress reports

bool same_bits(const double* x, const double* y, int n) {
  return std::memcmp(x, y, sizeof(double) * static_cast<std::size_t>(n)) == 0;
}

// Scratch of the pipelined sweeps, owned by the calling thread.
struct PipeScratch {
  RowProgress progress;
  std::vector<double> saved;  // per row: what its wrapped volume needs checked
  void reset(int rows) {
    progress.reset(rows);
    const auto n = static_cast<std::size_t>(3 * rows);
    if (saved.size() < n) saved.resize(n);
  }
};

PipeScratch& pipe_scratch() {
  thread_local PipeScratch p;
  return p;
}

// Waits until row r of the pipeline has reached `need` volumes.
inline void await_row(RowProgress& prog, int r, int need, int& known) {
  if (known < need) known = wait_at_least(prog[r], need);
}

bool factorize_pipelined(const double* A, double* L, double* U, Index nx, int ny, Team& team) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  RowProgress& prog = ps.progress;
  double* guess = ps.saved.data();
  for (int r = 1; r < ny; ++r)
    std::memcpy(guess + 3 * r, U + 3 * (static_cast<Index>(r) * nx - 1), 3 * sizeof(double));
  const int T = team.size();
  team.run([&](int k) {
    for (int r = k; r < ny; r += T) {
      const Index row = static_cast<Index>(r) * nx;
      const double alpha_in = r < ny - 1 ? 0.5 : 0.0;
      int known = 0;
      for (Index i0 = 0; i0 < nx; i0 += kChunk) {
        const Index i1 = i0 + kChunk < nx ? i0 + kChunk : nx;
        if (r == 0) {
          for (Index q = i0; q < i1; ++q) factor_first_row(A, L, U, q, nx, 0.0);
        } else {
          await_row(prog, r - 1, static_cast<int>(i1 + 1 < nx ? i1 + 1 : nx), known);
          Index i = i0;
          if (i == 0) {
            const Index q = row;
            factor_core(A + 5 * q, U + 3 * (q - nx), U + 3 * (q - nx + 1), guess + 3 * r, 0.0,
                        L + 4 * q, U + 3 * q);
            ++i;
          }
          for (; i < i1; ++i) factor_full(A, L, U, row + i, nx, i == nx - 1 ? 0.0 : alpha_in);
        }
        prog[r].store(static_cast<int>(i1), std::memory_order_release);
      }
    }
  });
  for (int r = 1; r < ny; ++r) {
    const Index q = static_cast<Index>(r) * nx;
    double l[4], u[3];
    factor_core(A + 5 * q, U + 3 * (q - nx), U + 3 * (q - nx + 1), U + 3 * (q - 1), 0.0, l, u);
    if (!same_bits(l, L + 4 * q, 4) || !same_bits(u, U + 3 * q, 3)) return false;
  }
  return true;
}

bool forward_pipelined(const double* L, double* w, Index nx, int ny, Team& team) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  RowProgress& prog = ps.progress;
  double* saved = ps.saved.data();
  const int T = team.size();
  team.run([&](int k) {
    for (int r = k; r < ny; r += T) {
      const Index row = static_cast<Index>(r) * nx;
      int known = 0;
      for (Index i0 = 0; i0 < nx; i0 += kChunk) {
        const Index i1 = i0 + kChunk < nx ? i0 + kChunk : nx;
        if (r == 0) {
          for (Index q = i0; q < i1; ++q) {
            const double* l = L + 4 * q;
            if (q == 0) {
              w[0] = w[0] / l[LP];
            } else if (q < nx - 1) {
              w[q] = (w[q] - l[LW] * w[q - 1]) / l[LP];
            } else {
              w[q] = (w[q] - l[LW] * w[q - 1] - l[LSE] * w[0]) / l[LP];
            }
          }
        } else {
          await_row(prog, r - 1, static_cast<int>(i1 + 1 < nx ? i1 + 1 : nx), known);
          Index q = row + i0;
          if (i0 == 0) {
            const double* l = L + 4 * q;
            saved[r] = w[q];
            w[q] = (w[q] - l[LS] * w[q - nx] - l[LW] * 0.0 - l[LSE] * w[q - nx + 1]) / l[LP];
            ++q;
          }
          for (; q < row + i1; ++q) {
            const double* l = L + 4 * q;
            w[q] = (w[q] - l[LS] * w[q - nx] - l[LW] * w[q - 1] - l[LSE] * w[q - nx + 1]) / l[LP];
          }
        }
        prog[r].store(static_cast<int>(i1), std::memory_order_release);
      }
    }
  });
  for (int r = 1; r < ny; ++r) {
    const Index q = static_cast<Index>(r) * nx;
    const double* l = L + 4 * q;
    const double y =
        (saved[r] - l[LS] * w[q - nx] - l[LW] * w[q - 1] - l[LSE] * w[q - nx + 1]) / l[LP];
    if (!same_bits(&y, &w[q], 1)) return false;
  }
  return true;
}

// Backward sweep without the update of phi, which the caller adds once the
// sweep has been checked.
bool backward_pipelined(const double* U, double* w, Index nx, int ny, Team& team) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  RowProgress& prog = ps.progress;
  double* saved = ps.saved.data();
  const int T = team.size();
  const Index n = static_cast<Index>(ny) * nx;
  team.run([&](int k) {
    for (int t = k; t < ny; t += T) {  // t-th row from the top
      const int r = ny - 1 - t;
      const Index row = static_cast<Index>(r) * nx;
      int known = 0;
      for (Index c0 = 0; c0 < nx; c0 += kChunk) {  // c counts volumes from the east end
        const Index c1 = c0 + kChunk < nx ? c0 + kChunk : nx;
        if (t == 0) {
          for (Index c = c0; c < c1; ++c) {
            const Index q = row + nx - 1 - c;
            const double* u = U + 3 * q;
            if (q == n - 1) {
              // the increment of the last row is y itself
            } else if (q > n - nx) {
              w[q] = w[q] - u[UE] * w[q + 1];
            } else {
              w[q] = w[q] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
            }
          }
        } else {
          await_row(prog, t - 1, static_cast<int>(c1 + 1 < nx ? c1 + 1 : nx), known);
          Index c = c0;
          if (c == 0) {
            const Index q = row + nx - 1;
            const double* u = U + 3 * q;
            saved[r] = w[q];
            w[q] = w[q] - u[UN] * w[q + nx] - u[UNW] * w[q + nx - 1] - u[UE] * 0.0;
            ++c;
          }
          for (; c < c1; ++c) {
            const Index q = row + nx - 1 - c;
            const double* u = U + 3 * q;
            w[q] = w[q] - u[UN] * w[q + nx] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
          }
        }
        prog[t].store(static_cast<int>(c1), std::memory_order_release);
      }
    }
  });
  for (int r = 0; r < ny - 1; ++r) {
    const Index q = static_cast<Index>(r) * nx + nx - 1;
    const double* u = U + 3 * q;
    const double d = saved[r] - u[UN] * w[q + nx] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
    if (!same_bits(&d, &w[q], 1)) return false;
  }
  return true;
}

// ---- Wavefront order on one core ------------------------------------------
//
// The same dependences make all volumes with the same i + 2j (mirrored in
// the backward sweep) independent of each other. Visited wavefront by
// wavefront, one volume's division no longer waits for the previous one, so
// the processor overlaps them; each volume keeps exactly its operations.
// The wrap-around volumes come before their neighbour across the end of the
// row here too, and are handled as in the pipeline: a stand-in, then the
// check.

// Rows are taken in strips, so that the volumes in flight stay within a few
// cache lines of each other on wide grids; within a strip all of its rows
// are in flight.
constexpr Index kStripRows = 16;

// elem(r, i) for every volume, strip by strip, by wavefronts i + 2r
// ascending within a strip.
template <class Elem>
void ascending_wavefronts(Index nx, int ny, const Elem& elem) {
  for (Index base = 0; base < ny; base += kStripRows) {
    const Index rows = ny - base < kStripRows ? ny - base : kStripRows;
    const Index kmax = (nx - 1) + 2 * (rows - 1);
    for (Index k = 0; k <= kmax; ++k) {
      const Index r0 = k > nx - 1 ? (k - (nx - 1) + 1) / 2 : 0;
      const Index r1 = k / 2 < rows - 1 ? k / 2 : rows - 1;
      for (Index r = r0; r <= r1; ++r) elem(static_cast<int>(base + r), k - 2 * r);
    }
  }
}

// elem(r, i) for every volume, by wavefronts (nx-1-i) + 2(ny-1-r) ascending.
template <class Elem>
void descending_wavefronts(Index nx, int ny, const Elem& elem) {
  ascending_wavefronts(nx, ny, [&](int t, Index c) { elem(ny - 1 - t, nx - 1 - c); });
}

// The factor rows of the volumes i = 1 as the previous factorisation left
// them: the stand-in for their west neighbour.
void save_factor_guess(const double* U, Index nx, int ny, double* guess) {
  for (int r = 1; r < ny; ++r)
    std::memcpy(guess + 3 * r, U + 3 * (static_cast<Index>(r) * nx - 1), 3 * sizeof(double));
}

bool factor_wraps_hold(const double* A, const double* L, const double* U, Index nx, int ny) {
  for (int r = 1; r < ny; ++r) {
    const Index q = static_cast<Index>(r) * nx;
    double l[4], u[3];
    factor_core(A + 5 * q, U + 3 * (q - nx), U + 3 * (q - nx + 1), U + 3 * (q - 1), 0.0, l, u);
    if (!same_bits(l, L + 4 * q, 4) || !same_bits(u, U + 3 * q, 3)) return false;
  }
  return true;
}

bool forward_wraps_hold(const double* L, const double* w, const double* saved, Index nx,
                        int ny) {
  for (int r = 1; r < ny; ++r) {
    const Index q = static_cast<Index>(r) * nx;
    const double* l = L + 4 * q;
    const double y =
        (saved[r] - l[LS] * w[q - nx] - l[LW] * w[q - 1] - l[LSE] * w[q - nx + 1]) / l[LP];
    if (!same_bits(&y, &w[q], 1)) return false;
  }
  return true;
}

bool backward_wraps_hold(const double* U, const double* w, const double* saved, Index nx,
                         int ny) {
  for (int r = 0; r < ny - 1; ++r) {
    const Index q = static_cast<Index>(r) * nx + nx - 1;
    const double* u = U + 3 * q;
    const double d = saved[r] - u[UN] * w[q + nx] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
    if (!same_bits(&d, &w[q], 1)) return false;
  }
  return true;
}

bool factorize_wavefronts(const double* A, double* L, double* U, Index nx, int ny) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  double* guess = ps.saved.data();
  save_factor_guess(U, nx, ny, guess);
  ascending_wavefronts(nx, ny, [&](int r, Index i) {
    const Index q = static_cast<Index>(r) * nx + i;
    if (r == 0) {
      factor_first_row(A, L, U, q, nx, 0.0);
    } else if (i == 0) {
      factor_core(A + 5 * q, U + 3 * (q - nx), U + 3 * (q - nx + 1), guess + 3 * r, 0.0,
                  L + 4 * q, U + 3 * q);
    } else {
      factor_full(A, L, U, q, nx, i == nx - 1 || r == ny - 1 ? 0.0 : 0.5);
    }
  });
  return factor_wraps_hold(A, L, U, nx, ny);
}

bool forward_wavefronts(const double* L, double* w, Index nx, int ny) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  double* saved = ps.saved.data();
  ascending_wavefronts(nx, ny, [&](int r, Index i) {
    const Index q = static_cast<Index>(r) * nx + i;
    const double* l = L + 4 * q;
    if (r > 0 && i > 0) {
      w[q] = (w[q] - l[LS] * w[q - nx] - l[LW] * w[q - 1] - l[LSE] * w[q - nx + 1]) / l[LP];
    } else if (r > 0) {
      saved[r] = w[q];
      w[q] = (w[q] - l[LS] * w[q - nx] - l[LW] * 0.0 - l[LSE] * w[q - nx + 1]) / l[LP];
    } else if (q == 0) {
      w[0] = w[0] / l[LP];
    } else if (q < nx - 1) {
      w[q] = (w[q] - l[LW] * w[q - 1]) / l[LP];
    } else {
      w[q] = (w[q] - l[LW] * w[q - 1] - l[LSE] * w[0]) / l[LP];
    }
  });
  return forward_wraps_hold(L, w, saved, nx, ny);
}

// Without the update of phi, as the pipelined sweep.
bool backward_wavefronts(const double* U, double* w, Index nx, int ny) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  double* saved = ps.saved.data();
  const Index n = static_cast<Index>(ny) * nx;
  descending_wavefronts(nx, ny, [&](int r, Index i) {
    const Index q = static_cast<Index>(r) * nx + i;
    const double* u = U + 3 * q;
    if (r < ny - 1 && i < nx - 1) {
      w[q] = w[q] - u[UN] * w[q + nx] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
    } else if (r < ny - 1) {
      saved[r] = w[q];
      w[q] = w[q] - u[UN] * w[q + nx] - u[UNW] * w[q + nx - 1] - u[UE] * 0.0;
    } else if (q == n - 1) {
      // the increment of the last row is y itself
    } else if (q > n - nx) {
      w[q] = w[q] - u[UE] * w[q + 1];
    } else {
      w[q] = w[q] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
    }
  });
  return backward_wraps_hold(U, w, saved, nx, ny);
}

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

void add_increment(double* phi, const double* w, Index n, Team& team) {
  team.run([&](int k) {
    int q0, q1;
    Team::share(0, static_cast<int>(n), k, team.size(), q0, q1);
    for (Index q = q0; q < q1; ++q) phi[q] = phi[q] + w[q];
  });
}

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

  if (use_team(team, nx, ny) && factorize_pipelined(A, L, U, NX, ny, *team)) return;
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
    if (!forward_pipelined(L, w, NX, ny, *team)) {
      residual_on_team(A, B, x, w, NX, ny, *team, approx);
      forward_sweep(L, w, NX, n);
    }
    if (backward_pipelined(U, w, NX, ny, *team)) {
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
  for (Index i = 0; i < NX; ++i) {
    for (Index j = 1; j < ny - 1; ++j) {
      const Index q = i + j * NX;
      sum = sum + std::fabs(band_sum_full(A, x, q, NX) - B[q]);
    }
  }
  // Last row: (ny-1)nx+1 .. nxy-1 (s, w, p, e), then nxy (s, w, p).
  for (Index q = n - NX; q < n; ++q) sum = sum + abs_residual_checked(A, B, x, q, NX, n);
  norm = norm + sum;
}

}  // namespace tx

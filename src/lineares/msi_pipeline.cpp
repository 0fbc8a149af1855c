// MSI pipelined row by row on a team of threads.
#include "lineares/msi_nucleo.hpp"

namespace tx::msi {

// ---- Pipelined sweeps on a team of threads -------------------------------
//
// Row r of the grid depends only on rows r - 1 (factorisation, forward
// sweep) or r + 1 (backward sweep), and volume i of it only on volumes up to
// i + 1 of that row. Member k of a team of T takes the rows r with r % T == k
// (counted from the far end for the backward sweep) and follows the row of
// the member before it a chunk behind, each volume with exactly the
// operations of the plain sweeps (msi_linhas.cpp).
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

PipeScratch& pipe_scratch() {
  thread_local PipeScratch p;
  return p;
}

namespace {

// Waits until row r of the pipeline has reached `need` volumes.
inline void await_row(RowProgress& prog, int r, int need, int& known) {
  if (known < need) known = wait_at_least(prog[r], need);
}

}  // namespace

bool factorize_pipelined(const double* A, double* L, double* U, Index nx, int ny, Team& team) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  RowProgress& prog = ps.progress;
  double* guess = ps.saved.data();
  save_factor_guess(U, nx, ny, guess);
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
  return factor_wraps_hold(A, L, U, nx, ny);
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
  return forward_wraps_hold(L, w, saved, nx, ny);
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
  return backward_wraps_hold(U, w, saved, nx, ny);
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

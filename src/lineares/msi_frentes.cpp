// MSI by wavefronts: on one core, or in strips pipelined on the team.
#include "lineares/msi_nucleo.hpp"

namespace tx::msi {

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
namespace {

constexpr Index kStripRows = 16;
// Wavefronts between two reports of a strip's last row to the next strip.
constexpr Index kReportEvery = 8;

// elem(r, i) for every volume of strip s (rows 16s ..), by wavefronts i + 2r
// ascending. With `prog`, the strip first waits for the last row of strip
// s - 1 to be far enough (its volume i + 1 before row 16s reaches i) and
// reports how far its own last row is.
template <class Elem>
void strip_wavefronts(Index nx, int ny, Index s, const Elem& elem, RowProgress* prog) {
  const Index base = s * kStripRows;
  const Index rows = ny - base < kStripRows ? ny - base : kStripRows;
  const Index kmax = (nx - 1) + 2 * (rows - 1);
  int known = 0;
  for (Index k = 0; k <= kmax; ++k) {
    if (prog != nullptr && s > 0) {
      const int need = static_cast<int>(k + 2 < nx ? k + 2 : nx);
      if (known < need) known = wait_at_least((*prog)[static_cast<int>(s - 1)], need);
    }
    const Index r0 = k > nx - 1 ? (k - (nx - 1) + 1) / 2 : 0;
    const Index r1 = k / 2 < rows - 1 ? k / 2 : rows - 1;
    for (Index r = r0; r <= r1; ++r) elem(static_cast<int>(base + r), k - 2 * r);
    if (prog != nullptr && (k % kReportEvery == kReportEvery - 1 || k == kmax)) {
      const Index done = k - 2 * (rows - 1) + 1;
      if (done > 0)
        (*prog)[static_cast<int>(s)].store(static_cast<int>(done < nx ? done : nx),
                                           std::memory_order_release);
    }
  }
}

// elem(r, i) for every volume, strip by strip (so that the volumes in flight
// stay close in memory), by wavefronts within a strip. On a team, member k
// takes strips k, k + T, ... and follows the strip before it.
template <class Elem>
void ascending_wavefronts(Index nx, int ny, const Elem& elem, Team* team = nullptr,
                          RowProgress* prog = nullptr) {
  const Index strips = (ny + kStripRows - 1) / kStripRows;
  if (team == nullptr) {
    for (Index s = 0; s < strips; ++s) strip_wavefronts(nx, ny, s, elem, nullptr);
    return;
  }
  prog->reset(static_cast<int>(strips));
  const int T = team->size();
  team->run([&](int k) {
    for (Index s = k; s < strips; s += T) strip_wavefronts(nx, ny, s, elem, prog);
  });
}

// elem(r, i) for every volume, by wavefronts (nx-1-i) + 2(ny-1-r) ascending.
template <class Elem>
void descending_wavefronts(Index nx, int ny, const Elem& elem, Team* team = nullptr,
                           RowProgress* prog = nullptr) {
  ascending_wavefronts(
      nx, ny, [&](int t, Index c) { elem(ny - 1 - t, nx - 1 - c); }, team, prog);
}

}  // namespace

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

bool factorize_wavefronts(const double* A, double* L, double* U, Index nx, int ny, Team* team) {
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
  }, team, &ps.progress);
  return factor_wraps_hold(A, L, U, nx, ny);
}

bool forward_wavefronts(const double* L, double* w, Index nx, int ny, Team* team) {
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
  }, team, &ps.progress);
  return forward_wraps_hold(L, w, saved, nx, ny);
}

// Without the update of phi, as the pipelined sweep.
bool backward_wavefronts(const double* U, double* w, Index nx, int ny, Team* team) {
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
  }, team, &ps.progress);
  return backward_wraps_hold(U, w, saved, nx, ny);
}

}  // namespace tx::msi

// MSI by wavefronts: on one core, or in strips pipelined on the team.
#include "lineares/msi_nucleo.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tx::msi {

namespace {

// Two volumes of one wavefront side by side, one per lane of a two-wide
// vector (every x86-64 processor has them): each lane does exactly the
// scalar operations of its volume, and a division takes one instruction for
// both. Elsewhere the pair is done one volume after the other.
// A wavefront touches each of the strip's rows in a different place, more
// streams than the processor follows on its own: on systems larger than the
// caches each pair asks for its rows' data some volumes ahead (on smaller
// ones the requests only cost).
constexpr Index kAhead = 16;
inline bool fetch_ahead(Index nx, int ny) { return nx * ny >= 16384; }
inline void prefetch_rows(const double* a, const double* l, const double* u) {
  __builtin_prefetch(a + 5 * kAhead);
  __builtin_prefetch(l + 4 * kAhead, 1);
  __builtin_prefetch(u + 3 * kAhead, 1);
}

#if defined(__SSE2__)
inline __m128d ld2(const double* a, const double* b) { return _mm_loadh_pd(_mm_load_sd(a), b); }
inline void st2(double* a, double* b, __m128d v) {
  _mm_storel_pd(a, v);
  _mm_storeh_pd(b, v);
}
inline __m128d neg(__m128d v) { return _mm_xor_pd(v, _mm_set1_pd(-0.0)); }

// factor_core of rows q0 and q1 (all of S, SE and W present), alpha per lane.
inline void factor_pair(const double* A, double* L, double* U, Index q0, Index q1, Index nx,
                        double alpha0, double alpha1) {
  const double* r0 = A + 5 * q0;
  const double* r1 = A + 5 * q1;
  const double* s0 = U + 3 * (q0 - nx);
  const double* s1 = U + 3 * (q1 - nx);
  const double* e0 = s0 + 3;  // SE
  const double* e1 = s1 + 3;
  const double* w0 = U + 3 * (q0 - 1);
  const double* w1 = U + 3 * (q1 - 1);
  const __m128d alpha = _mm_set_pd(alpha1, alpha0);
  const __m128d two_alpha = _mm_mul_pd(_mm_set1_pd(2.0), alpha);
  const __m128d uS_e = ld2(s0 + UE, s1 + UE), uS_nw = ld2(s0 + UNW, s1 + UNW),
                uS_n = ld2(s0 + UN, s1 + UN);
  const __m128d uSE_e = ld2(e0 + UE, e1 + UE), uSE_nw = ld2(e0 + UNW, e1 + UNW),
                uSE_n = ld2(e0 + UN, e1 + UN);
  const __m128d uW_e = ld2(w0 + UE, w1 + UE), uW_nw = ld2(w0 + UNW, w1 + UNW),
                uW_n = ld2(w0 + UN, w1 + UN);
  const __m128d ls = _mm_div_pd(
      ld2(r0 + AS, r1 + AS),
      _mm_sub_pd(_mm_set1_pd(1.0), _mm_mul_pd(_mm_mul_pd(alpha, uS_e), uSE_e)));
  const __m128d lse = _mm_mul_pd(neg(ls), uS_e);
  const __m128d lw =
      _mm_div_pd(_mm_sub_pd(ld2(r0 + AW, r1 + AW), _mm_mul_pd(ls, uS_nw)),
                 _mm_add_pd(_mm_set1_pd(1.0), _mm_mul_pd(two_alpha, uW_nw)));
  const __m128d phi1 = _mm_mul_pd(lse, uSE_e);
  const __m128d phi4 = _mm_mul_pd(lw, uW_nw);
  __m128d lp = _mm_sub_pd(ld2(r0 + AP, r1 + AP), _mm_mul_pd(lw, uW_e));
  lp = _mm_sub_pd(lp, _mm_mul_pd(ls, uS_n));
  lp = _mm_sub_pd(lp, _mm_mul_pd(lse, uSE_nw));
  lp = _mm_add_pd(lp, _mm_mul_pd(two_alpha, _mm_add_pd(phi1, phi4)));
  double* l0 = L + 4 * q0;
  double* l1 = L + 4 * q1;
  st2(l0 + LP, l1 + LP, lp);
  st2(l0 + LW, l1 + LW, lw);
  st2(l0 + LSE, l1 + LSE, lse);
  st2(l0 + LS, l1 + LS, ls);
  double* u0 = U + 3 * q0;
  double* u1 = U + 3 * q1;
  const __m128d ue = _mm_sub_pd(_mm_sub_pd(ld2(r0 + AE, r1 + AE), _mm_mul_pd(lse, uSE_n)),
                                _mm_mul_pd(two_alpha, phi1));
  st2(u0 + UE, u1 + UE, _mm_div_pd(ue, lp));
  st2(u0 + UNW, u1 + UNW, _mm_div_pd(_mm_mul_pd(neg(lw), uW_n), lp));
  st2(u0 + UN, u1 + UN,
      _mm_div_pd(_mm_sub_pd(ld2(r0 + AN, r1 + AN), _mm_mul_pd(alpha, phi4)), lp));
}

// The forward sweep of q0 and q1 (S, W and SE present).
inline void forward_pair(const double* L, double* w, Index q0, Index q1, Index nx) {
  const double* l0 = L + 4 * q0;
  const double* l1 = L + 4 * q1;
  __m128d y = _mm_sub_pd(ld2(w + q0, w + q1),
                         _mm_mul_pd(ld2(l0 + LS, l1 + LS), ld2(w + q0 - nx, w + q1 - nx)));
  y = _mm_sub_pd(y, _mm_mul_pd(ld2(l0 + LW, l1 + LW), ld2(w + q0 - 1, w + q1 - 1)));
  y = _mm_sub_pd(y, _mm_mul_pd(ld2(l0 + LSE, l1 + LSE), ld2(w + q0 - nx + 1, w + q1 - nx + 1)));
  st2(w + q0, w + q1, _mm_div_pd(y, ld2(l0 + LP, l1 + LP)));
}
// The backward sweep of q0 and q1 (N, NW and E present).
inline void backward_pair(const double* U, double* w, Index q0, Index q1, Index nx) {
  const double* u0 = U + 3 * q0;
  const double* u1 = U + 3 * q1;
  __m128d d = _mm_sub_pd(ld2(w + q0, w + q1),
                         _mm_mul_pd(ld2(u0 + UN, u1 + UN), ld2(w + q0 + nx, w + q1 + nx)));
  d = _mm_sub_pd(d, _mm_mul_pd(ld2(u0 + UNW, u1 + UNW), ld2(w + q0 + nx - 1, w + q1 + nx - 1)));
  d = _mm_sub_pd(d, _mm_mul_pd(ld2(u0 + UE, u1 + UE), ld2(w + q0 + 1, w + q1 + 1)));
  st2(w + q0, w + q1, d);
}
#else
inline void factor_pair(const double* A, double* L, double* U, Index q0, Index q1, Index nx,
                        double alpha0, double alpha1) {
  factor_full(A, L, U, q0, nx, alpha0);
  factor_full(A, L, U, q1, nx, alpha1);
}
inline void forward_pair(const double* L, double* w, Index q0, Index q1, Index nx) {
  for (const Index q : {q0, q1}) {
    const double* l = L + 4 * q;
    w[q] = (w[q] - l[LS] * w[q - nx] - l[LW] * w[q - 1] - l[LSE] * w[q - nx + 1]) / l[LP];
  }
}
inline void backward_pair(const double* U, double* w, Index q0, Index q1, Index nx) {
  for (const Index q : {q0, q1}) {
    const double* u = U + 3 * q;
    w[q] = w[q] - u[UN] * w[q + nx] - u[UNW] * w[q + nx - 1] - u[UE] * w[q + 1];
  }
}
#endif

}  // namespace

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
// ascending; where elem has pair(r, i), it takes the volumes (r, i) and
// (r + 1, i - 2) of a wavefront at once. With `prog`, the strip first waits for the last row of strip
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
    Index r = r0;
    if constexpr (requires { elem.pair(0, Index{0}); }) {
      for (; r < r1; r += 2) elem.pair(static_cast<int>(base + r), k - 2 * r);
    }
    for (; r <= r1; ++r) elem(static_cast<int>(base + r), k - 2 * r);
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
  struct Mirror {
    const Elem& elem;
    Index nx;
    int ny;
    void operator()(int t, Index c) const { elem(ny - 1 - t, nx - 1 - c); }
    // (t, c) and (t + 1, c - 2) are the volumes (r, i) and (r - 1, i + 2).
    void pair(int t, Index c) const { elem.pair(ny - 1 - t, nx - 1 - c); }
  };
  ascending_wavefronts(nx, ny, Mirror{elem, nx, ny}, team, prog);
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
  struct Elem {
    const double* A;
    double* L;
    double* U;
    Index nx;
    int ny;
    const double* guess;
    bool ahead;
    double alpha(int r, Index i) const { return i == nx - 1 || r == ny - 1 ? 0.0 : 0.5; }
    void operator()(int r, Index i) const {
      const Index q = static_cast<Index>(r) * nx + i;
      if (r == 0) {
        factor_first_row(A, L, U, q, nx, 0.0);
      } else if (i == 0) {
        factor_core(A + 5 * q, U + 3 * (q - nx), U + 3 * (q - nx + 1), guess + 3 * r, 0.0,
                    L + 4 * q, U + 3 * q);
      } else {
        factor_full(A, L, U, q, nx, alpha(r, i));
      }
    }
    void pair(int r, Index i) const {  // (r, i) and (r + 1, i - 2)
      if (r == 0 || i < 3) {
        (*this)(r, i);
        (*this)(r + 1, i - 2);
        return;
      }
      const Index q = static_cast<Index>(r) * nx + i;
      if (ahead) {
        prefetch_rows(A + 5 * q, L + 4 * q, U + 3 * q);
        prefetch_rows(A + 5 * (q + nx - 2), L + 4 * (q + nx - 2), U + 3 * (q + nx - 2));
      }
      factor_pair(A, L, U, q, q + nx - 2, nx, alpha(r, i), alpha(r + 1, i - 2));
    }
  };
  ascending_wavefronts(nx, ny, Elem{A, L, U, nx, ny, guess, fetch_ahead(nx, ny)}, team,
                      &ps.progress);
  return factor_wraps_hold(A, L, U, nx, ny);
}

bool forward_wavefronts(const double* L, double* w, Index nx, int ny, Team* team) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  double* saved = ps.saved.data();
  struct Elem {
    const double* L;
    double* w;
    Index nx;
    double* saved;
    bool ahead;
    void operator()(int r, Index i) const {
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
    }
    void pair(int r, Index i) const {  // (r, i) and (r + 1, i - 2)
      if (r == 0 || i < 3) {
        (*this)(r, i);
        (*this)(r + 1, i - 2);
        return;
      }
      const Index q = static_cast<Index>(r) * nx + i;
      if (ahead) {
        for (const Index p : {q, q + nx - 2}) {
          __builtin_prefetch(L + 4 * (p + kAhead));
          __builtin_prefetch(w + p + kAhead, 1);
        }
      }
      forward_pair(L, w, q, q + nx - 2, nx);
    }
  };
  ascending_wavefronts(nx, ny, Elem{L, w, nx, saved, fetch_ahead(nx, ny)}, team, &ps.progress);
  return forward_wraps_hold(L, w, saved, nx, ny);
}

// Without the update of phi, as the pipelined sweep.
bool backward_wavefronts(const double* U, double* w, Index nx, int ny, Team* team) {
  PipeScratch& ps = pipe_scratch();
  ps.reset(ny);
  double* saved = ps.saved.data();
  const Index n = static_cast<Index>(ny) * nx;
  struct Elem {
    const double* U;
    double* w;
    Index nx, n;
    int ny;
    double* saved;
    bool ahead;
    void operator()(int r, Index i) const {
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
    }
    void pair(int r, Index i) const {  // (r, i) and (r - 1, i + 2)
      if (r >= ny - 1 || i + 2 >= nx - 1) {
        (*this)(r, i);
        (*this)(r - 1, i + 2);
        return;
      }
      const Index q = static_cast<Index>(r) * nx + i;
      if (ahead) {
        for (const Index p : {q, q - nx + 2}) {  // descending: ahead is below
          __builtin_prefetch(U + 3 * (p - kAhead));
          __builtin_prefetch(w + p - kAhead, 1);
        }
      }
      backward_pair(U, w, q, q - nx + 2, nx);
    }
  };
  descending_wavefronts(nx, ny, Elem{U, w, nx, n, ny, saved, fetch_ahead(nx, ny)}, team,
                        &ps.progress);
  return backward_wraps_hold(U, w, saved, nx, ny);
}

}  // namespace tx::msi

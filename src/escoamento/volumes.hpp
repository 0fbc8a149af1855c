// The loops and face terms that every scheme's assembly shares: pairs of
// volumes side by side in one vector, rows split over the team, the pressure
// forces and the face mass fluxes with their upwind switches.
#pragma once

#include <type_traits>

#include "base/estado.hpp"
#include "base/paralelo.hpp"

namespace tx {

// Two neighbouring volumes P and P + 1 side by side, one per lane of a
// two-wide vector: the loop bodies below that are written once for a number
// type T run on pairs of volumes with T = V2 and on a last odd volume with
// T = double. Each lane does exactly the scalar operations (a scalar operand
// is copied to both lanes), and a division serves two volumes.
using V2 = double __attribute__((vector_size(16)));

template <class T>
struct Lanes;
template <>
struct Lanes<double> {
  static double at(const Vec& v, int P) { return v(P); }
  static double at(const Mat& a, int P, int k) { return a(P, k); }
  static void put(Vec& v, int P, double x) { v(P) = x; }
  static void put(Mat& a, int P, int k, double x) { a(P, k) = x; }
};
template <>
struct Lanes<V2> {
  static V2 at(const Vec& v, int P) { return V2{v(P), v(P + 1)}; }
  static V2 at(const Mat& a, int P, int k) { return V2{a(P, k), a(P + 1, k)}; }
  static void put(Vec& v, int P, V2 x) {
    v(P) = x[0];
    v(P + 1) = x[1];
  }
  static void put(Mat& a, int P, int k, V2 x) {
    a(P, k) = x[0];
    a(P + 1, k) = x[1];
  }
};

// body.template operator()<T>(P) for np0 <= P < np1, two at a time.
template <class Body>
inline void pairs_of_range(int np0, int np1, const Body& body) {
  int P = np0;
  for (; P + 1 < np1; P += 2) body.template operator()<V2>(P);
  if (P < np1) body.template operator()<double>(P);
}

// body.template operator()<T>(P) for i0 <= i <= i1 of row j: two volumes at a
// time, the last odd one alone.
template <class Body>
inline void pairs_of_row(int nx, int j, int i0, int i1, const Body& body) {
  int i = i0;
  for (; i + 1 <= i1; i += 2) body.template operator()<V2>(i + (j - 1) * nx);
  if (i <= i1) body.template operator()<double>(i + (j - 1) * nx);
}

// body(j0, j1) over the rows j0 <= j < j1 that make up jlo..jhi, split among
// the members of the team when the run uses one.
template <class F>
void over_rows(const State& s, int jlo, int jhi, F&& body) {
  Team* t = s.par.loops;
  if (t == nullptr || jhi - jlo + 1 < 2 * t->size()) {
    body(jlo, jhi + 1);
    return;
  }
  t->run([&](int k) {
    int j0, j1;
    Team::share(jlo, jhi + 1, k, t->size(), j0, j1);
    body(j0, j1);
  });
}

// body over every real volume (2..nx-1 in rows 2..ny-1), two by two, the
// rows split among the members of the team when the run uses one.
template <class Body>
void over_interior_pairs(const State& s, const Body& body) {
  const int nx = s.c.nx;
  over_rows(s, 2, s.c.ny - 1, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 1, body);
  });
}

// body(np0, np1) over the volumes np0 <= np < np1 that make up 1..nxy.
template <class F>
void over_volumes(const State& s, F&& body) {
  Team* t = s.par.loops;
  if (t == nullptr) {
    body(1, s.c.nxy + 1);
    return;
  }
  t->run([&](int k) {
    int np0, np1;
    Team::share(1, s.c.nxy + 1, k, t->size(), np0, np1);
    body(np0, np1);
  });
}


// Upwind switch of a face: +0.5 for c >= 0 (a zero of either sign included),
// -0.5 for c < 0.
inline double upwind_switch(double c) { return c >= 0.0 ? 0.5 : -0.5; }

// x pressure force on volume P for the volume field q (p in the sources, pl
// in the corrections): face values are means of the two adjacent volumes and
// the centre radius multiplies the whole bracket.
template <class T = double>
inline T pressure_force_u(const Fields& f, int nx, int P, const Vec& q) {
  using L = Lanes<T>;
  const auto F = [&](const Vec& x, int k) { return L::at(x, k); };
  const int W = P - 1, E = P + 1, S = P - nx, N = P + nx;
  return 0.5 * F(f.rp, P) *
         (F(f.ye, W) * (F(q, W) + F(q, P)) - F(f.yk, S) * (F(q, S) + F(q, P)) -
          F(f.ye, P) * (F(q, E) + F(q, P)) + F(f.yk, P) * (F(q, N) + F(q, P)));
}

// y pressure force on volume P for the volume field q.
template <class T = double>
inline T pressure_force_v(const Fields& f, int nx, int P, const Vec& q) {
  using L = Lanes<T>;
  const auto F = [&](const Vec& x, int k) { return L::at(x, k); };
  const int W = P - 1, E = P + 1, S = P - nx, N = P + nx;
  return 0.5 * F(f.rp, P) *
         (F(f.xe, P) * (F(q, E) + F(q, P)) - F(f.xe, W) * (F(q, W) + F(q, P)) -
          F(f.xk, P) * (F(q, N) + F(q, P)) + F(f.xk, S) * (F(q, S) + F(q, P)));
}

// Face mass fluxes of volume P (positive towards east or north) and the
// upwind switches of its four faces, from the current roe, ron, Uce, Vcn.
template <class T = double>
struct Faces {
  T Fe, Fw, Fn, Fs;
  T se, sw, sn, ss;
};

// upwind_switch lane by lane.
template <class T>
inline T upwind_of(T c) {
  if constexpr (std::is_same_v<T, double>) {
    return upwind_switch(c);
  } else {
    return c >= 0.0 ? T{0.5, 0.5} : T{-0.5, -0.5};
  }
}

template <class T = double>
inline Faces<T> faces_of(const Fields& f, int nx, int P) {
  using L = Lanes<T>;
  const auto F = [&](const Vec& x, int k) { return L::at(x, k); };
  const int W = P - 1, S = P - nx;
  Faces<T> r;
  r.Fe = F(f.re, P) * F(f.roe, P) * F(f.Uce, P);
  r.Fw = F(f.re, W) * F(f.roe, W) * F(f.Uce, W);
  r.Fn = F(f.rn, P) * F(f.ron, P) * F(f.Vcn, P);
  r.Fs = F(f.rn, S) * F(f.ron, S) * F(f.Vcn, S);
  r.se = upwind_of(F(f.Uce, P));
  r.sw = upwind_of(F(f.Uce, W));
  r.sn = upwind_of(F(f.Vcn, P));
  r.ss = upwind_of(F(f.Vcn, S));
  return r;
}

}  // namespace tx

// The second-order scheme ('ordem2'): limited face values in the deferred
// correction and a second-order slip wall. The upwind implicit part, the
// SIMPLEC face velocities and the pressure correction are the current
// scheme's (coeficientes.cpp); only what the deferred correction adds and
// the wall's fictitious values differ.
#include "escoamento/esquema.hpp"

#include <cmath>

#include "escoamento/volumes.hpp"

namespace tx {

namespace {

// Higher-order minus upwind value of q at a face, the upwind side chosen by
// the sign of the face velocity c as the implicit part chooses it. A face
// with a fictitious volume on one side takes the central mean (there the
// fictitious value already is the boundary's linear extrapolation).
inline double face_step(const Vec& q, double c, int P, int Q, int back, int ahead,
                        bool boundary) {
  if (boundary) return c >= 0.0 ? 0.5 * (q(Q) - q(P)) : 0.5 * (q(P) - q(Q));
  if (c >= 0.0) return limited_half_step(q(P) - q(back), q(Q) - q(P));
  return limited_half_step(q(Q) - q(ahead), q(P) - q(Q));
}

// East face of P = (i, j): between P and P + 1.
inline double east_step(const Vec& q, const Fields& f, int nx, int i, int P) {
  return face_step(q, f.Uce(P), P, P + 1, P - 1, P + 2, i == 1 || i == nx - 1);
}

// North face of P = (i, j): between P and P + nx.
inline double north_step(const Vec& q, const Fields& f, int nx, int ny, int j, int P) {
  return face_step(q, f.Vcn(P), P, P + nx, P - nx, P + 2 * nx, j == 1 || j == ny - 1);
}

// What the limited face values add to the source of P for the field q:
// the higher-order minus upwind advection, faces e, w, n, s.
inline double limited_deferred(const Fields& f, int nx, int ny, int i, int j, int P,
                               const Vec& q) {
  const Faces<double> k = faces_of<double>(f, nx, P);
  return -k.Fe * east_step(q, f, nx, i, P) + k.Fw * east_step(q, f, nx, i - 1, P - 1) -
         k.Fn * north_step(q, f, nx, ny, j, P) + k.Fs * north_step(q, f, nx, ny, j - 1, P - nx);
}

// The fictitious value beyond the wall of a positive field q: the linear
// extrapolation 2 q(P) - q(S), but never below q(P)/2. Where the flow is
// resolved q changes by a few percent from row to row and the bound is
// idle; at a corner with no radius the extrapolation has nothing to hold it
// and would make the wall face's pressure negative.
inline double bounded_extrapolation(double qP, double qS) {
  const double lin = 2.0 * qP - qS;
  const double low = 0.5 * qP;
  return lin < low ? low : lin;
}

// body(i, j, P) over the real volumes, rows split over the team.
template <class Body>
void over_real_volumes(const State& s, const Body& body) {
  const int nx = s.c.nx;
  over_rows(s, 2, s.c.ny - 1, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j)
      for (int i = 2; i <= nx - 1; ++i) body(i, j, i + (j - 1) * nx);
  });
}

}  // namespace

void face_densities_ordem2(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  // As the current scheme: the faces of the first fictitious column and
  // row are included, those of the fictitious ones central.
  over_rows(s, 1, ny - 1, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) {
      for (int i = 1; i <= nx - 1; ++i) {
        const int P = i + (j - 1) * nx, E = P + 1, N = P + nx;
        if (j == 1) {
          f.roe(P) = (f.ro(E) + f.ro(P)) * 0.5;
        } else {
          const double up = f.Uce(P) >= 0.0 ? f.ro(P) : f.ro(E);
          f.roe(P) = up + face_step(f.ro, f.Uce(P), P, E, P - 1, P + 2, i == 1 || i == nx - 1);
        }
        if (i == 1) {
          f.ron(P) = (f.ro(N) + f.ro(P)) * 0.5;
        } else {
          const double up = f.Vcn(P) >= 0.0 ? f.ro(P) : f.ro(N);
          f.ron(P) = up + face_step(f.ro, f.Vcn(P), P, N, P - nx, P + 2 * nx,
                                    j == 1 || j == ny - 1);
        }
      }
    }
  });
}

void build_u_source_ordem2(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double dt = s.k.dt;
  over_real_volumes(s, [&](int i, int j, int P) {
    const double bc = limited_deferred(f, nx, ny, i, j, P, f.u);
    f.bc_u(P) = bc;
    f.b(P) = bc + (f.u_old(P) / dt * f.mass(P) + pressure_force_u<double>(f, nx, P, f.p));
  });
}

void build_v_source_ordem2(State& s, Vec& b) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double dt = s.k.dt;
  over_real_volumes(s, [&](int i, int j, int P) {
    const double bc = limited_deferred(f, nx, ny, i, j, P, f.v);
    f.bc_v(P) = bc;
    b(P) = bc + (f.v_old(P) / dt * f.mass(P) + pressure_force_v<double>(f, nx, P, f.p));
  });
}

void build_energy_source_ordem2(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double dt = s.k.dt;
  over_real_volumes(s, [&](int i, int j, int P) {
    // Pressure work as in the current scheme.
    const double Q = (f.rp(P) * (f.p(P) - f.p_old(P)) / (f.Jp(P) * dt) -
                      f.v(P) * pressure_force_v<double>(f, nx, P, f.p) -
                      f.u(P) * pressure_force_u<double>(f, nx, P, f.p)) /
                     f.cp(P);
    f.b(P) = limited_deferred(f, nx, ny, i, j, P, f.T) + (f.T_old(P) / dt * f.mass(P) + Q);
  });
}

void wall_velocities_ordem2(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Fields& f = s.f;
  for (int i = 2; i <= nx - 1; ++i) {
    const int N = i + (ny - 1) * nx, P = N - nx, S = P - nx;
    // The wall face's direction: its north face's node-to-node vector.
    const double L = std::hypot(f.xk(P), f.yk(P));
    const double tx = f.xk(P) / L, ty = f.yk(P) / L;
    const double tP = f.u(P) * tx + f.v(P) * ty;
    const double tS = f.u(S) * tx + f.v(S) * ty;
    const double nP = f.v(P) * tx - f.u(P) * ty;
    const double tN = 2.0 * tP - tS;
    const double nN = -nP;
    f.u(N) = tN * tx - nN * ty;
    f.v(N) = tN * ty + nN * tx;
  }
}

void wall_temperature_ordem2(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Vec& T = s.f.T;
  for (int N = 2 + (ny - 1) * nx; N <= (nx - 1) + (ny - 1) * nx; ++N)
    T(N) = bounded_extrapolation(T(N - nx), T(N - 2 * nx));
}

void wall_pressure_ordem2(State& s) {
  const int nx = s.c.nx, ny = s.c.ny;
  Fields& f = s.f;
  const double Rg = s.c.Rg;
  for (int N = 2 + (ny - 1) * nx; N <= (nx - 1) + (ny - 1) * nx; ++N) {
    f.p(N) = bounded_extrapolation(f.p(N - nx), f.p(N - 2 * nx));
    f.ro(N) = f.p(N) / (f.T(N) * Rg);
  }
}

}  // namespace tx

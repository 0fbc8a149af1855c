#include "escoamento/coeficientes.hpp"

#include <type_traits>

#include "base/paralelo.hpp"
#include "escoamento/volumes.hpp"

// Every formula below keeps its operation order and grouping: products and
// sums are evaluated left to right as written, so that the rounding (and
// therefore every bit of the converged fields) is reproducible.
//
// No loop here reads an entry that the same loop writes (each writes
// arrays, or entries of its own volume P, that it does not read at any other
// volume), so the order of the volumes fixes no bit of any result. The loops
// therefore run in memory order, j outer and i inner over
// np = i + (j - 1)*nx, and on a run with threads each member of the team
// takes a band of rows.

namespace tx {

namespace {

// Deferred correction (central minus upwind advection) of a momentum
// component phi in volume P, before the factor beta; faces n, s, e, w.
template <class T = double>
inline T momentum_deferred(const Faces<T>& k, int nx, int P, const Vec& phi) {
  const auto q = [&](int m) { return Lanes<T>::at(phi, m); };
  const int W = P - 1, E = P + 1, S = P - nx, N = P + nx;
  return k.sn * k.Fn * (q(P) - q(N)) + k.ss * k.Fs * (q(P) - q(S)) +
         k.se * k.Fe * (q(P) - q(E)) + k.sw * k.Fw * (q(P) - q(W));
}

}  // namespace

// Mass of volume P per unit depth (planar) or per radian (axisymmetric), at
// the previous time level. The energy source and the SIMPLEC face terms
// multiply by the radius first (f.mass); the momentum rows and the
// node-velocity correction divide by Jp first (f.mass_m). The two groupings
// round differently, and each routine keeps its own.
void mass_factors(State& s) {
  auto& f = s.f;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    const T ro_old = L::at(f.ro_old, P), rp = L::at(f.rp, P), Jp = L::at(f.Jp, P);
    L::put(f.mass, P, ro_old * rp / Jp);
    L::put(f.mass_m, P, ro_old / Jp * rp);
  };
  over_interior_pairs(s, body);
}

void compressibilities(State& s) {
  auto& f = s.f;
  const double Rg = s.c.Rg;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    L::put(f.psi_T, P, 1.0 / (L::at(f.T, P) * Rg));
  };
  over_volumes(s, [&](int np0, int np1) { pairs_of_range(np0, np1, body); });
}

void update_density(State& s) {
  auto& f = s.f;
  const double Rg = s.c.Rg;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    L::put(f.ro, P, L::at(f.p, P) / (L::at(f.T, P) * Rg));
  };
  over_volumes(s, [&](int np0, int np1) { pairs_of_range(np0, np1, body); });
}

void face_densities(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double beta = s.c.beta;
  // The faces of the first fictitious column and row are included; nothing
  // is written for i = nx or j = ny.
  over_rows(s, 1, ny - 1, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) {
      for (int i = 1; i <= nx - 1; ++i) {
        const int P = i + (j - 1) * nx, E = P + 1, N = P + nx;
        if (beta == 1.0) {
          f.roe(P) = (f.ro(E) + f.ro(P)) * 0.5;
          f.ron(P) = (f.ro(N) + f.ro(P)) * 0.5;
        } else {
          const double se = upwind_switch(f.Uce(P));
          const double sn = upwind_switch(f.Vcn(P));
          f.roe(P) = beta * se * (f.ro(E) - f.ro(P)) + (se + 0.5) * f.ro(P) + (0.5 - se) * f.ro(E);
          f.ron(P) = beta * sn * (f.ro(N) - f.ro(P)) + (sn + 0.5) * f.ro(P) + (0.5 - sn) * f.ro(N);
        }
      }
    }
  });
}

void build_momentum_coefficients(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx;
  const double dt = s.k.dt;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    const Faces<T> k = faces_of<T>(f, nx, P);
    const T MP = L::at(f.mass_m, P);
    const T aS = -(k.ss + 0.5) * k.Fs;
    const T aW = -(k.sw + 0.5) * k.Fw;
    const T aE = (0.5 - k.se) * k.Fe;
    const T aN = (0.5 - k.sn) * k.Fn;
    L::put(f.a, P, kS, aS);
    L::put(f.a, P, kW, aW);
    L::put(f.a, P, kE, aE);
    L::put(f.a, P, kN, aN);
    L::put(f.a, P, kP, MP / dt - (aN + aW + aE + aS));
  };
  over_interior_pairs(s, body);
}

void build_u_source(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double dt = s.k.dt, beta = s.c.beta;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    L::put(f.b, P, L::at(f.u_old, P) / dt * L::at(f.mass, P) + pressure_force_u<T>(f, nx, P, f.p));
  };
  over_interior_pairs(s, body);
  // With beta <= 0 bc_u keeps what it holds (zero from the initial state).
  if (beta > 0.0) {
    const auto deferred = [&]<class T>(int P) {
      using L = Lanes<T>;
      const T bc = beta * momentum_deferred<T>(faces_of<T>(f, nx, P), nx, P, f.u);
      L::put(f.bc_u, P, bc);
      L::put(f.b, P, bc + L::at(f.b, P));
    };
    over_rows(s, 2, ny - 1, [&](int j0, int j1) {
      for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 1, deferred);
    });
  }
}

void build_v_source(State& s) { build_v_source(s, s.f.b); }

void build_v_source(State& s, Vec& b) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double dt = s.k.dt, beta = s.c.beta;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    L::put(b, P, L::at(f.v_old, P) / dt * L::at(f.mass, P) + pressure_force_v<T>(f, nx, P, f.p));
  };
  over_interior_pairs(s, body);
  if (beta > 0.0) {
    const auto deferred = [&]<class T>(int P) {
      using L = Lanes<T>;
      const T bc = beta * momentum_deferred<T>(faces_of<T>(f, nx, P), nx, P, f.v);
      L::put(f.bc_v, P, bc);
      L::put(b, P, bc + L::at(b, P));
    };
    over_rows(s, 2, ny - 1, [&](int j0, int j1) {
      for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 1, deferred);
    });
  }
}

void build_energy_source(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double dt = s.k.dt, beta = s.c.beta;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    const auto F = [&](const Vec& x, int k) { return L::at(x, k); };
    // Pressure work per volume: dp/dt plus u.grad p, with the same pressure
    // forces as the momentum sources.
    const T Q = (F(f.rp, P) * (F(f.p, P) - F(f.p_old, P)) / (F(f.Jp, P) * dt) -
                 F(f.v, P) * pressure_force_v<T>(f, nx, P, f.p) -
                 F(f.u, P) * pressure_force_u<T>(f, nx, P, f.p)) /
                F(f.cp, P);
    L::put(f.b, P, F(f.T_old, P) / dt * F(f.mass, P) + Q);
  };
  over_interior_pairs(s, body);
  // The correction goes straight into b; faces e, n, s, w.
  if (beta > 0.0) {
    const auto deferred = [&]<class V>(int P) {
      using L = Lanes<V>;
      const int W = P - 1, E = P + 1, S = P - nx, N = P + nx;
      const Faces<V> k = faces_of<V>(f, nx, P);
      const auto T = [&](int q) { return L::at(f.T, q); };
      L::put(f.b, P,
             beta * (k.se * k.Fe * (T(P) - T(E)) + k.sn * k.Fn * (T(P) - T(N)) +
                     k.ss * k.Fs * (T(P) - T(S)) + k.sw * k.Fw * (T(P) - T(W))) +
                 L::at(f.b, P));
    };
    over_rows(s, 2, ny - 1, [&](int j0, int j1) {
      for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 1, deferred);
    });
  }
}

void simplec_d_coefficients(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double dt = s.k.dt;
  // Interior east faces: both neighbours real.
  const auto east = [&]<class T>(int P) {
    using L = Lanes<T>;
    const auto F = [&](const Vec& x, int k) { return L::at(x, k); };
    const int E = P + 1;
    L::put(f.de, P,
           2.0 * dt * F(f.re, P) * (F(f.xe, P) * F(f.xe, P) + F(f.ye, P) * F(f.ye, P)) /
               (F(f.mass, E) + F(f.mass, P)));
  };
  over_rows(s, 2, ny - 1, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 2, east);
  });
  // Interior north faces.
  const auto north = [&]<class T>(int P) {
    using L = Lanes<T>;
    const auto F = [&](const Vec& x, int k) { return L::at(x, k); };
    const int N = P + nx;
    L::put(f.dn, P,
           2.0 * dt * F(f.rn, P) * (F(f.yk, P) * F(f.yk, P) + F(f.xk, P) * F(f.xk, P)) /
               (F(f.mass, P) + F(f.mass, N)));
  };
  over_rows(s, 2, ny - 2, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 1, north);
  });
}

void face_velocities(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const double dt = s.k.dt;

  // Interior east faces: the momentum rows of P and E added, with the
  // pressure force taken across the face itself.
  const auto east = [&]<class T>(int P) {
    using L = Lanes<T>;
    const auto p = [&](int q) { return L::at(f.p, q); };
    const auto u = [&](int q) { return L::at(f.u, q); };
    const auto v = [&](int q) { return L::at(f.v, q); };
    const auto a = [&](int q, int k) { return L::at(f.a, q, k); };
    const auto F = [&](const Vec& x, int q) { return L::at(x, q); };
    const int W = P - 1, E = P + 1, S = P - nx, N = P + nx;
    const int SE = P - nx + 1, NE = P + nx + 1, EE = P + 2;
    const T MP = F(f.mass, P), ME = F(f.mass, E);
    const T Gu = F(f.re, P) * ((p(P) - p(E)) * F(f.ye, P) +
                               0.25 * (F(f.yp, E) - F(f.yp, P)) * (p(N) + p(NE) - p(S) - p(SE)));
    const T Gv = F(f.re, P) * ((p(E) - p(P)) * F(f.xe, P) +
                               0.25 * (F(f.xp, E) - F(f.xp, P)) * (p(S) + p(SE) - p(N) - p(NE)));
    const T sPu = a(P, kN) * u(N) + a(P, kS) * u(S) + a(P, kE) * u(E) + a(P, kW) * u(W);
    const T sEu = a(E, kS) * u(SE) + a(E, kN) * u(NE) + a(E, kE) * u(EE) + a(E, kW) * u(P);
    const T sPv = a(P, kN) * v(N) + a(P, kS) * v(S) + a(P, kE) * v(E) + a(P, kW) * v(W);
    const T sEv = a(E, kS) * v(SE) + a(E, kN) * v(NE) + a(E, kE) * v(EE) + a(E, kW) * v(P);
    const T ue = (F(f.ue_old, P) / dt * (ME + MP) + F(f.bc_u, E) + F(f.bc_u, P) + 2.0 * Gu -
                  sEu - sPu) /
                 (a(E, kP) + a(P, kP));
    const T ve = (F(f.ve_old, P) / dt * (ME + MP) + F(f.bc_v, E) + F(f.bc_v, P) + 2.0 * Gv -
                  sEv - sPv) /
                 (a(E, kP) + a(P, kP));
    L::put(f.ue, P, ue);
    L::put(f.ve, P, ve);
    L::put(f.Uce, P, ue * F(f.ye, P) - ve * F(f.xe, P));
    L::put(f.due, P, 2.0 * dt * F(f.re, P) * F(f.ye, P) / (ME + MP));
    L::put(f.dve, P, 2.0 * dt * F(f.xe, P) * F(f.re, P) / (ME + MP));
  };
  over_rows(s, 2, ny - 1, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 2, east);
  });

  // Interior north faces: the rows of P and N.
  const auto north = [&]<class T>(int P) {
    using L = Lanes<T>;
    const auto p = [&](int q) { return L::at(f.p, q); };
    const auto u = [&](int q) { return L::at(f.u, q); };
    const auto v = [&](int q) { return L::at(f.v, q); };
    const auto a = [&](int q, int k) { return L::at(f.a, q, k); };
    const auto F = [&](const Vec& x, int q) { return L::at(x, q); };
    const int W = P - 1, E = P + 1, S = P - nx, N = P + nx;
    const int NE = P + nx + 1, NW = P + nx - 1, NN = P + 2 * nx;
    const T MP = F(f.mass, P), MN = F(f.mass, N);
    const T Gu = F(f.rn, P) * ((p(N) - p(P)) * F(f.yk, P) +
                               0.25 * (F(f.yp, N) - F(f.yp, P)) * (p(W) + p(NW) - p(E) - p(NE)));
    const T Gv = F(f.rn, P) * ((p(P) - p(N)) * F(f.xk, P) +
                               0.25 * (F(f.xp, N) - F(f.xp, P)) * (p(E) + p(NE) - p(W) - p(NW)));
    const T sPu = a(P, kN) * u(N) + a(P, kS) * u(S) + a(P, kE) * u(E) + a(P, kW) * u(W);
    const T sNu = a(N, kE) * u(NE) + a(N, kN) * u(NN) + a(N, kW) * u(NW) + a(N, kS) * u(P);
    const T sPv = a(P, kN) * v(N) + a(P, kS) * v(S) + a(P, kE) * v(E) + a(P, kW) * v(W);
    const T sNv = a(N, kE) * v(NE) + a(N, kN) * v(NN) + a(N, kW) * v(NW) + a(N, kS) * v(P);
    const T un = (F(f.un_old, P) / dt * (MP + MN) + F(f.bc_u, N) + F(f.bc_u, P) - sNu - sPu +
                  2.0 * Gu) /
                 (a(N, kP) + a(P, kP));
    const T vn = (F(f.vn_old, P) / dt * (MP + MN) + F(f.bc_v, N) + F(f.bc_v, P) - sNv - sPv +
                  2.0 * Gv) /
                 (a(N, kP) + a(P, kP));
    L::put(f.un, P, un);
    L::put(f.vn, P, vn);
    L::put(f.Vcn, P, vn * F(f.xk, P) - un * F(f.yk, P));
    L::put(f.dun, P, 2.0 * dt * F(f.yk, P) * F(f.rn, P) / (MP + MN));
    L::put(f.dvn, P, 2.0 * dt * F(f.rn, P) * F(f.xk, P) / (MP + MN));
  };
  over_rows(s, 2, ny - 2, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 1, north);
  });
}

namespace {

// The rows of the p' system. The density correction D carried by the
// corrected face fluxes is central minus upwind, times beta (the current
// scheme), or the face densities of face_densities (roe, ron) minus upwind,
// in full (kLimited: the second-order scheme's limited face values).
template <bool kLimited>
void pressure_correction_rows(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx;
  const double dt = s.k.dt, beta = s.c.beta, Rg = s.c.Rg;
  const auto row = [&]<class T>(int P) {
    using L = Lanes<T>;
    const auto F = [&](const Vec& x, int q) { return L::at(x, q); };
    const auto ro = [&](int q) { return L::at(f.ro, q); };
    const auto pl = [&](int q) { return L::at(f.pl, q); };
    const int W = P - 1, E = P + 1, S = P - nx, N = P + nx;
    const T sw = upwind_of(F(f.Uce, W));
    const T se = upwind_of(F(f.Uce, P));
    const T ss = upwind_of(F(f.Vcn, S));
    const T sn = upwind_of(F(f.Vcn, P));
    // Upwind face densities from the volume densities.
    const T rw = ro(W) * (sw + 0.5) + ro(P) * (0.5 - sw);
    const T rE = ro(E) * (0.5 - se) + ro(P) * (se + 0.5);
    const T rs = ro(S) * (ss + 0.5) + ro(P) * (0.5 - ss);
    const T rN = ro(N) * (0.5 - sn) + ro(P) * (sn + 0.5);
    // Compressibilities 1/(T Rg), formed once per outer iteration.
    const T psiS = F(f.psi_T, S);
    const T psiW = F(f.psi_T, W);
    const T psiE = F(f.psi_T, E);
    const T psiN = F(f.psi_T, N);
    const T psiP = F(f.psi_T, P);
    const T Uw = F(f.Uce, W), Ue = F(f.Uce, P), Vs = F(f.Vcn, S), Vn = F(f.Vcn, P);
    const T dnS = F(f.dn, S), dnP = F(f.dn, P), deW = F(f.de, W), deP = F(f.de, P);
    const T rnS = F(f.rn, S), rnP = F(f.rn, P), reW = F(f.re, W), reP = F(f.re, P);

    const T aS = -(Vs * psiS * (ss + 0.5) + dnS * rs) * rnS;
    const T aW = -(Uw * psiW * (sw + 0.5) + deW * rw) * reW;
    const T aE = (Ue * psiE * (0.5 - se) - deP * rE) * reP;
    const T aN = (Vn * psiN * (0.5 - sn) - dnP * rN) * rnP;
    const T aP = (dnS * rs - Vs * psiP * (0.5 - ss)) * rnS + (deW * rw - Uw * psiP * (0.5 - sw)) * reW +
                 F(f.rp, P) / (F(f.T, P) * F(f.Jp, P) * Rg * dt) +
                 (Vn * psiP * (sn + 0.5) + dnP * rN) * rnP + (Ue * psiP * (se + 0.5) + deP * rE) * reP;

    // Central minus upwind face densities, carried by the contravariant
    // velocities corrected with the current pl. Computed for every beta.
    T b;
    if constexpr (kLimited) {
      const T D = reW * (Uw + deW * (pl(W) - pl(P))) * (F(f.roe, W) - rw) -
                  reP * (Ue + deP * (pl(P) - pl(E))) * (F(f.roe, P) - rE) -
                  rnP * (Vn + dnP * (pl(P) - pl(N))) * (F(f.ron, P) - rN) +
                  rnS * (Vs + dnS * (pl(S) - pl(P))) * (F(f.ron, S) - rs);
      b = rs * rnS * Vs + rw * reW * Uw - rE * reP * Ue - rN * rnP * Vn +
          F(f.rp, P) * (F(f.ro_old, P) - ro(P)) / (F(f.Jp, P) * dt) + D;
    } else {
      const T D = sw * reW * (Uw + deW * (pl(W) - pl(P))) * (ro(P) - ro(W)) -
                  se * reP * (Ue + deP * (pl(P) - pl(E))) * (ro(E) - ro(P)) -
                  sn * rnP * (Vn + dnP * (pl(P) - pl(N))) * (ro(N) - ro(P)) +
                  ss * rnS * (Vs + dnS * (pl(S) - pl(P))) * (ro(P) - ro(S));
      // Mass imbalance of P (inflow positive).
      b = rs * rnS * Vs + rw * reW * Uw - rE * reP * Ue - rN * rnP * Vn +
          F(f.rp, P) * (F(f.ro_old, P) - ro(P)) / (F(f.Jp, P) * dt) + beta * D;
    }
    if constexpr (std::is_same_v<T, double>) {
      f.a(P, kS) = aS;
      f.a(P, kW) = aW;
      f.a(P, kE) = aE;
      f.a(P, kN) = aN;
      f.a(P, kP) = aP;
      f.b(P) = b;
    } else {
      for (int l = 0; l < 2; ++l) {
        f.a(P + l, kS) = aS[l];
        f.a(P + l, kW) = aW[l];
        f.a(P + l, kE) = aE[l];
        f.a(P + l, kN) = aN[l];
        f.a(P + l, kP) = aP[l];
        f.b(P + l) = b[l];
      }
    }
  };
  over_interior_pairs(s, row);
}

}  // namespace

void build_pressure_correction_system(State& s) { pressure_correction_rows<false>(s); }

void build_pressure_correction_system_limited(State& s) { pressure_correction_rows<true>(s); }

void correct_pressure_density(State& s) {
  auto& f = s.f;
  const double Rg = s.c.Rg;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    L::put(f.ro, P, L::at(f.p, P) / (L::at(f.T, P) * Rg));
  };
  over_volumes(s, [&](int np0, int np1) {
    for (int np = np0; np < np1; ++np) f.p(np) = f.pl(np) + f.p(np);
    pairs_of_range(np0, np1, body);
  });
}

void correct_node_velocities(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx;
  const double dt = s.k.dt;
  const auto body = [&]<class T>(int P) {
    using L = Lanes<T>;
    const T MP = L::at(f.mass_m, P);
    L::put(f.u, P, pressure_force_u<T>(f, nx, P, f.pl) / MP * dt + L::at(f.u, P));
    L::put(f.v, P, pressure_force_v<T>(f, nx, P, f.pl) / MP * dt + L::at(f.v, P));
  };
  over_interior_pairs(s, body);
}

void correct_face_velocities(State& s) {
  auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  const Vec& pl = f.pl;
  const auto east = [&]<class T>(int P) {
    using L = Lanes<T>;
    const auto F = [&](const Vec& x, int k) { return L::at(x, k); };
    const int E = P + 1;
    const T ue = (F(pl, P) - F(pl, E)) * F(f.due, P) + F(f.ue, P);
    const T ve = (F(pl, E) - F(pl, P)) * F(f.dve, P) + F(f.ve, P);
    L::put(f.ue, P, ue);
    L::put(f.ve, P, ve);
    L::put(f.Uce, P, F(f.ye, P) * ue - F(f.xe, P) * ve);
  };
  over_rows(s, 2, ny - 1, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 2, east);
  });
  const auto north = [&]<class T>(int P) {
    using L = Lanes<T>;
    const auto F = [&](const Vec& x, int k) { return L::at(x, k); };
    const int N = P + nx;
    const T un = (F(pl, N) - F(pl, P)) * F(f.dun, P) + F(f.un, P);
    const T vn = (F(pl, P) - F(pl, N)) * F(f.dvn, P) + F(f.vn, P);
    L::put(f.un, P, un);
    L::put(f.vn, P, vn);
    L::put(f.Vcn, P, vn * F(f.xk, P) - F(f.yk, P) * un);
  };
  over_rows(s, 2, ny - 2, [&](int j0, int j1) {
    for (int j = j0; j < j1; ++j) pairs_of_row(nx, j, 2, nx - 1, north);
  });
}

}  // namespace tx

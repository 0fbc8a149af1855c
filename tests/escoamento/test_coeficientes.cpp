#include <gtest/gtest.h>

#include <cmath>

#include "base/estado.hpp"
#include "escoamento/coeficientes.hpp"
#include "apoio/fixture.hpp"

using enum tx::MatrixColumn;

namespace {

using txtest::make_state;
using txtest::np_of;

// A uniform gas state moving with (U, V): centre and face velocities of both
// time levels equal, Uce and Vcn on every face that has metrics, face
// densities taken by the routine itself.
void set_uniform_flow(tx::State& s, double U, double V) {
  auto& f = s.f;
  s.k.dt = 1e-6;
  for (int np = 1; np <= s.c.nxy; ++np) {
    f.p(np) = f.p_old(np) = 2.0e6;
    f.T(np) = f.T_old(np) = 2800.0;
    f.ro(np) = f.ro_old(np) = 2.0e6 / (2800.0 * s.c.Rg);
    f.cp(np) = s.c.gama * s.c.Rg / (s.c.gama - 1.0);
    f.u(np) = f.u_old(np) = f.ue(np) = f.ue_old(np) = f.un(np) = f.un_old(np) = U;
    f.v(np) = f.v_old(np) = f.ve(np) = f.ve_old(np) = f.vn(np) = f.vn_old(np) = V;
    f.Uce(np) = U * f.ye(np) - V * f.xe(np);
    f.Vcn(np) = V * f.xk(np) - U * f.yk(np);
  }
  tx::face_densities(s);
  tx::mass_factors(s);
  tx::compressibilities(s);
}

// Deterministic values in [-1, 1) for fields that must not be uniform.
double wobble(int np) { return std::sin(12.9898 * np); }

double inflow(double F, double towards_p) { return towards_p * F > 0.0 ? towards_p * F : 0.0; }

template <class Fn>
void for_real(const tx::State& s, Fn fn) {
  for (int i = 2; i <= s.c.nx - 1; ++i)
    for (int j = 2; j <= s.c.ny - 1; ++j) fn(np_of(s, i, j), i, j);
}

}  // namespace

TEST(Densidade, FaceDensitiesBlendUpwindAndCentral) {
  auto s = make_state(6, 4, 0);
  auto& f = s.f;
  for (int np = 1; np <= s.c.nxy; ++np) {
    f.ro(np) = 1.0 + np;
    f.Uce(np) = (np % 3 == 0) ? -1.0 : (np % 3 == 1 ? 0.0 : 2.0);
    f.Vcn(np) = -f.Uce(np);
    f.roe(np) = f.ron(np) = -7.0;
  }
  for (double beta : {0.0, 0.5, 1.0}) {
    s.c.beta = beta;
    tx::face_densities(s);
    for (int i = 1; i <= s.c.nx; ++i)
      for (int j = 1; j <= s.c.ny; ++j) {
        const int P = np_of(s, i, j);
        if (i == s.c.nx || j == s.c.ny) {  // never written
          if (i == s.c.nx) {
            EXPECT_EQ(f.roe(P), -7.0);
          }
          if (j == s.c.ny) {
            EXPECT_EQ(f.ron(P), -7.0);
          }
          continue;
        }
        auto expect = [&](double c, double rp, double rn) {
          if (beta == 1.0) return 0.5 * (rp + rn);
          const double up = c >= 0.0 ? rp : rn;  // zero counts as forward
          return up + beta * (0.5 * (rp + rn) - up);
        };
        EXPECT_DOUBLE_EQ(f.roe(P), expect(f.Uce(P), f.ro(P), f.ro(P + 1))) << P;
        EXPECT_DOUBLE_EQ(f.ron(P), expect(f.Vcn(P), f.ro(P), f.ro(P + s.c.nx))) << P;
      }
  }
  f.T(1) = 0.0;  // update_density covers the fictitious volumes too
  f.p(1) = 1.0;
  f.T(2) = 300.0;
  f.p(2) = 300.0 * s.c.Rg;
  tx::update_density(s);
  EXPECT_TRUE(std::isinf(f.ro(1)));
  EXPECT_EQ(f.ro(2), 1.0);
}

TEST(Momento, CoefficientsAreInflowFluxesPlusTransient) {
  for (int coord : {0, 1}) {
    auto s = make_state(20, 10, coord);
    auto& f = s.f;
    set_uniform_flow(s, 300.0, 0.0);
    for (int np = 1; np <= s.c.nxy; ++np) {  // mixed directions, some exact zeros
      f.Uce(np) = np % 7 == 0 ? 0.0 : wobble(np) * 1e-2;
      f.Vcn(np) = np % 5 == 0 ? -0.0 : wobble(3 * np) * 1e-3;
      f.ro_old(np) = 2.0 + wobble(5 * np);
    }
    tx::face_densities(s);
    tx::mass_factors(s);
    f.a.fill(99.0);
    tx::build_momentum_coefficients(s);
    const int nx = s.c.nx;
    for (int np = 1; np <= s.c.nxy; ++np) {
      const int i = (np - 1) % nx + 1, j = (np - 1) / nx + 1;
      if (i == 1 || i == nx || j == 1 || j == s.c.ny) {
        for (int k = 1; k <= 5; ++k) EXPECT_EQ(f.a(np, k), 99.0);
        continue;
      }
      const double Fe = f.re(np) * f.roe(np) * f.Uce(np);
      const double Fw = f.re(np - 1) * f.roe(np - 1) * f.Uce(np - 1);
      const double Fn = f.rn(np) * f.ron(np) * f.Vcn(np);
      const double Fs = f.rn(np - nx) * f.ron(np - nx) * f.Vcn(np - nx);
      EXPECT_EQ(f.a(np, kW), -inflow(Fw, 1.0));
      EXPECT_EQ(f.a(np, kE), -inflow(Fe, -1.0));
      EXPECT_EQ(f.a(np, kS), -inflow(Fs, 1.0));
      EXPECT_EQ(f.a(np, kN), -inflow(Fn, -1.0));
      const double M = f.ro_old(np) * f.rp(np) / f.Jp(np);
      const double in = inflow(Fw, 1) + inflow(Fe, -1) + inflow(Fs, 1) + inflow(Fn, -1);
      EXPECT_NEAR(f.a(np, kP), M / s.k.dt + in, 1e-12 * (M / s.k.dt));
    }
  }
}

TEST(Momento, SourcesAndDeferredCorrection) {
  for (int coord : {0, 1}) {
    auto s = make_state(20, 10, coord);
    auto& f = s.f;
    set_uniform_flow(s, 250.0, 20.0);
    tx::build_momentum_coefficients(s);
    // Uniform pressure exerts no net force on a closed volume, so the sources
    // are the transient terms alone.
    s.c.beta = 1.0;
    tx::build_u_source(s);
    for_real(s, [&](int P, int, int) {
      const double M = f.ro_old(P) / f.Jp(P) * f.rp(P);
      EXPECT_NEAR(f.b(P), 250.0 / s.k.dt * M, 1e-9 * (250.0 / s.k.dt * M)) << P;
      EXPECT_NEAR(f.bc_u(P), 0.0, 1e-12 * (250.0 / s.k.dt * M));  // uniform u
    });
    // beta = 0 never touches bc_u, bc_v, however non-uniform u and v are.
    s.c.beta = 0.0;
    f.bc_u.fill(0.0);
    f.bc_v.fill(0.0);
    for (int np = 1; np <= s.c.nxy; ++np) f.u(np) = f.v(np) = 100.0 * wobble(np);
    tx::build_u_source(s);
    tx::build_v_source(s);
    EXPECT_EQ(f.bc_u, tx::Vec(s.c.nxy));
    EXPECT_EQ(f.bc_v, tx::Vec(s.c.nxy));
    const tx::Vec b0 = f.b;
    s.c.beta = 0.5;
    tx::build_v_source(s);
    for_real(s, [&](int P, int, int) { EXPECT_EQ(f.b(P), f.bc_v(P) + b0(P)); });
  }
}

TEST(Energia, SteadyPressureAtRestLeavesOnlyTransient) {
  auto s = make_state(20, 10, 1);
  auto& f = s.f;
  set_uniform_flow(s, 0.0, 0.0);
  tx::build_momentum_coefficients(s);
  tx::build_energy_source(s);
  for_real(s, [&](int P, int, int) {
    // The energy source takes the mass as ro_old*rp/Jp, the momentum rows as
    // ro_old/Jp*rp: the two round differently in axisymmetric volumes.
    EXPECT_EQ(f.b(P), f.T_old(P) / s.k.dt * (f.ro_old(P) * f.rp(P) / f.Jp(P)));
    EXPECT_EQ(f.a(P, kP), f.ro_old(P) / f.Jp(P) * f.rp(P) / s.k.dt - 0.0);
  });
}

TEST(Simplec, FaceVelocitiesReproduceUniformFlow) {
  for (int coord : {0, 1})
    for (double beta : {0.0, 1.0}) {
      auto s = make_state(20, 10, coord);
      auto& f = s.f;
      s.c.beta = beta;
      set_uniform_flow(s, 400.0, -30.0);
      tx::build_momentum_coefficients(s);
      tx::build_u_source(s);
      tx::build_v_source(s);
      tx::simplec_d_coefficients(s);
      f.ue.fill(0.0);
      f.un.fill(0.0);
      tx::face_velocities(s);
      for_real(s, [&](int P, int i, int j) {
        if (i <= s.c.nx - 2) {
          EXPECT_NEAR(f.ue(P), 400.0, 1e-9);
          EXPECT_NEAR(f.ve(P), -30.0, 1e-9);
          EXPECT_NEAR(f.Uce(P), 400.0 * f.ye(P) + 30.0 * f.xe(P), 1e-9);
          // due, dve give exactly the contravariant correction de assumes
          EXPECT_NEAR(f.due(P) * f.ye(P) + f.dve(P) * f.xe(P), f.de(P), 1e-14 * f.de(P));
        }
        if (j <= s.c.ny - 2) {
          EXPECT_NEAR(f.un(P), 400.0, 1e-9);
          EXPECT_NEAR(f.vn(P), -30.0, 1e-9);
          EXPECT_NEAR(f.dun(P) * f.yk(P) + f.dvn(P) * f.xk(P), f.dn(P), 1e-14 * f.dn(P));
        }
      });
    }
}

TEST(Simplec, PressureFallingEastAcceleratesEastwards) {
  auto s = make_state(20, 10, 1);
  auto& f = s.f;
  set_uniform_flow(s, 0.0, 0.0);
  for (int np = 1; np <= s.c.nxy; ++np) f.p(np) = 2.0e6 - 1.0e3 * ((np - 1) % s.c.nx);
  tx::build_momentum_coefficients(s);
  tx::simplec_d_coefficients(s);
  tx::face_velocities(s);
  for_real(s, [&](int P, int i, int) {
    if (i <= s.c.nx - 2) {
      EXPECT_GT(f.Uce(P), 0.0) << P;
    }
  });
  // The same through the node correction with pl in place of p.
  f.pl = f.p;
  tx::correct_node_velocities(s);
  for_real(s, [&](int P, int, int) { EXPECT_GT(f.u(P), 0.0) << P; });
}

TEST(CorrecaoPressao, FluidAtRestHasNoMassSource) {
  for (double beta : {0.0, 0.7}) {
    auto s = make_state(20, 10, 1);
    auto& f = s.f;
    s.c.beta = beta;
    set_uniform_flow(s, 0.0, 0.0);
    tx::simplec_d_coefficients(s);
    for (int np = 1; np <= s.c.nxy; ++np) f.pl(np) = 50.0 * wobble(np);
    tx::build_pressure_correction_system(s);
    for_real(s, [&](int P, int, int) {
      EXPECT_EQ(f.b(P), 0.0) << P;
      const double t = f.rp(P) / (f.T(P) * f.Jp(P) * s.c.Rg * s.k.dt);
      const double nb = f.a(P, kS) + f.a(P, kW) + f.a(P, kE) + f.a(P, kN);
      EXPECT_NEAR(f.a(P, kP), t - nb, 1e-12 * f.a(P, kP));
    });
  }
}

TEST(CorrecaoPressao, SourceIsMassImbalanceWithBlendedDensities) {
  auto s = make_state(20, 10, 1);
  auto& f = s.f;
  set_uniform_flow(s, 0.0, 0.0);
  tx::simplec_d_coefficients(s);
  for (int np = 1; np <= s.c.nxy; ++np) {
    f.ro(np) = 2.0 + wobble(np);
    f.ro_old(np) = f.ro(np);
    f.Uce(np) = wobble(7 * np);
    f.Vcn(np) = wobble(11 * np);
  }
  const int nx = s.c.nx;
  for (double beta : {0.0, 1.0}) {
    s.c.beta = beta;
    tx::build_pressure_correction_system(s);
    for_real(s, [&](int P, int, int) {
      // face density: upwind + beta (central - upwind); pl = 0
      auto rho = [&](int a, int b, double c) {
        const double up = c >= 0.0 ? f.ro(a) : f.ro(b);
        return up + beta * (0.5 * (f.ro(a) + f.ro(b)) - up);
      };
      const int W = P - 1, S = P - nx;
      const double in = rho(W, P, f.Uce(W)) * f.re(W) * f.Uce(W) +
                        rho(S, P, f.Vcn(S)) * f.rn(S) * f.Vcn(S) -
                        rho(P, P + 1, f.Uce(P)) * f.re(P) * f.Uce(P) -
                        rho(P, P + nx, f.Vcn(P)) * f.rn(P) * f.Vcn(P);
      EXPECT_NEAR(f.b(P), in, 1e-12) << P;
    });
  }
}

TEST(Correcoes, UniformPressureCorrectionMovesNothing) {
  auto s = make_state(20, 10, 1);
  auto& f = s.f;
  set_uniform_flow(s, 300.0, 10.0);
  tx::build_momentum_coefficients(s);
  tx::simplec_d_coefficients(s);
  tx::face_velocities(s);
  const tx::Fields before = s.f;
  f.pl.fill(5000.0);
  tx::correct_pressure_density(s);
  tx::correct_node_velocities(s);
  tx::correct_face_velocities(s);
  for (int np = 1; np <= s.c.nxy; ++np) {
    EXPECT_EQ(f.p(np), before.p(np) + 5000.0);
    EXPECT_EQ(f.ro(np), f.p(np) / (f.T(np) * s.c.Rg));
  }
  for (const tx::Vec tx::Fields::*m : {&tx::Fields::ue, &tx::Fields::ve, &tx::Fields::un,
                                       &tx::Fields::vn, &tx::Fields::Uce, &tx::Fields::Vcn})
    EXPECT_EQ(f.*m, before.*m);
  for_real(s, [&](int P, int, int) {  // only round-off of the closed-contour sum
    EXPECT_NEAR(f.u(P), 300.0, 1e-6);
    EXPECT_NEAR(f.v(P), 10.0, 1e-6);
  });
  // A non-uniform pl moves each contravariant velocity by de (pl(P) - pl(E)).
  for (int np = 1; np <= s.c.nxy; ++np) f.pl(np) = 100.0 * wobble(np);
  const tx::Vec U0 = f.Uce, V0 = f.Vcn;
  tx::correct_face_velocities(s);
  for_real(s, [&](int P, int i, int j) {
    if (i <= s.c.nx - 2) {
      EXPECT_NEAR(f.Uce(P), U0(P) + f.de(P) * (f.pl(P) - f.pl(P + 1)), 1e-9 * std::fabs(U0(P)));
    }
    if (j <= s.c.ny - 2) {
      EXPECT_NEAR(f.Vcn(P), V0(P) + f.dn(P) * (f.pl(P) - f.pl(P + s.c.nx)), 1e-9);
    }
  });
}

// Geometry enters only through the radii: a planar state given the radii of
// an axisymmetric one follows it bit for bit through a whole cycle.
TEST(Geometria, PlanarAndAxisymmetricDifferOnlyThroughRadii) {
  auto ax = make_state(20, 10, 1);
  auto pl = make_state(20, 10, 0);
  pl.f.rc = ax.f.rc;
  pl.f.re = ax.f.re;
  pl.f.rn = ax.f.rn;
  pl.f.rp = ax.f.rp;
  for (tx::State* s : {&ax, &pl}) {
    s->c.beta = 0.3;
    set_uniform_flow(*s, 350.0, 15.0);
    for (int np = 1; np <= s->c.nxy; ++np) {
      s->f.p(np) += 1e4 * wobble(np);
      s->f.u(np) += 20.0 * wobble(3 * np);
      s->f.pl(np) = 10.0 * wobble(5 * np);
    }
    tx::build_momentum_coefficients(*s);
    tx::build_u_source(*s);
    tx::build_v_source(*s);
    tx::build_energy_source(*s);
    tx::update_density(*s);
    tx::face_densities(*s);
    tx::simplec_d_coefficients(*s);
    tx::face_velocities(*s);
    tx::build_pressure_correction_system(*s);
    tx::correct_pressure_density(*s);
    tx::correct_node_velocities(*s);
    tx::correct_face_velocities(*s);
  }
  EXPECT_EQ(ax.f.a, pl.f.a);
  EXPECT_EQ(ax.f.b, pl.f.b);
  for (const tx::Vec tx::Fields::*m :
       {&tx::Fields::u, &tx::Fields::v, &tx::Fields::p, &tx::Fields::ro, &tx::Fields::Uce,
        &tx::Fields::Vcn, &tx::Fields::bc_u, &tx::Fields::bc_v, &tx::Fields::de})
    EXPECT_EQ(ax.f.*m, pl.f.*m);
}

// The second-order scheme ('ordem2'): its limiter, its slip wall and its
// face values on a uniform flow.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "apoio/fixture.hpp"
#include "base/estado.hpp"
#include "escoamento/coeficientes.hpp"
#include "escoamento/esquema.hpp"
#include "malha/malha.hpp"

namespace {

using txtest::make_state;
using txtest::np_of;

// Face values of a 1D profile with the limiter, flow in +x: q_U + step.
std::vector<double> face_values(const std::vector<double>& q) {
  std::vector<double> out;
  for (std::size_t k = 1; k + 1 < q.size(); ++k)
    out.push_back(q[k] + tx::limited_half_step(q[k] - q[k - 1], q[k + 1] - q[k]));
  return out;
}

// No face value leaves the range of its two volumes (no new extremum) on a
// step and on a ragged monotone step; a line gets the central mean, an
// extremum the upwind value.
TEST(Ordem2, LimiterIsBoundedCentralOnLinesUpwindAtExtrema) {
  for (const std::vector<double>& q :
       {std::vector<double>{0, 0, 0, 0, 1, 1, 1, 1}, std::vector<double>{0, 0, 0.05, 0.9, 0.95, 1, 1},
        std::vector<double>{2, 2, -1, -1, -1}}) {
    const std::vector<double> f = face_values(q);
    for (std::size_t k = 0; k < f.size(); ++k) {
      const double lo = std::min(q[k + 1], q[k + 2]), hi = std::max(q[k + 1], q[k + 2]);
      EXPECT_GE(f[k], lo) << k;
      EXPECT_LE(f[k], hi) << k;
    }
  }
  EXPECT_EQ(face_values({1, 3, 5, 7}), (std::vector<double>{4, 6}));
  EXPECT_EQ(face_values({0, 2, 1}), (std::vector<double>{2}));
}

// A planar channel with a straight wall (the built-in grid's wall nodes
// moved to r = 0.75), in a uniform flow along it.
tx::State channel() {
  tx::State s = make_state(20, 10, 0);
  s.c.esquema = tx::Scheme::kOrdem2;
  auto& f = s.f;
  for (int i = 1; i <= s.c.nx - 1; ++i) f.Y(np_of(s, i, s.c.ny - 1)) = 0.75;
  tx::generate_interior_nodes(s);
  tx::compute_centres(s);
  tx::compute_metrics(s);
  tx::compute_radii(s);
  s.k.dt = 1e-6;
  const double U = 300.0, p = 2.0e6, T = 2800.0;
  for (int np = 1; np <= s.c.nxy; ++np) {
    f.p(np) = f.p_old(np) = p;
    f.T(np) = f.T_old(np) = T;
    f.ro(np) = f.ro_old(np) = p / (T * s.c.Rg);
    f.cp(np) = s.c.gama * s.c.Rg / (s.c.gama - 1.0);
    f.u(np) = f.u_old(np) = f.ue(np) = f.ue_old(np) = f.un(np) = f.un_old(np) = U;
    f.Uce(np) = U * f.ye(np);
    f.Vcn(np) = -U * f.yk(np);
  }
  tx::mass_factors(s);
  return s;
}

// Every piece the scheme adds leaves a uniform flow along a straight wall
// exactly as it is: fictitious wall values, face densities, no deferred
// correction, no mass imbalance.
TEST(Ordem2, UniformFlowAlongAStraightWallIsReproducedExactly) {
  tx::State s = channel();
  const tx::Fields before = s.f;
  const tx::SchemeRoutines& sc = tx::scheme_routines(tx::Scheme::kOrdem2);
  sc.wall_velocities(s);
  sc.wall_temperature(s);
  sc.wall_pressure(s);
  sc.face_densities(s);
  sc.build_u_source(s);
  const tx::Vec bu = s.f.b;
  sc.build_v_source(s, s.f.b);
  const tx::Vec bv = s.f.b;
  sc.build_pressure_correction_system(s);
  auto& f = s.f;
  for (int i = 2; i <= s.c.nx - 1; ++i)
    for (int j = 2; j <= s.c.ny; ++j) {
      const int P = np_of(s, i, j);
      for (const tx::Vec tx::Fields::*q : {&tx::Fields::u, &tx::Fields::v, &tx::Fields::p,
                                           &tx::Fields::T, &tx::Fields::ro})
        EXPECT_EQ((f.*q)(P), (before.*q)(P)) << i << " " << j;
      if (j == s.c.ny) continue;
      EXPECT_EQ(f.roe(P), f.ro(P));
      EXPECT_EQ(f.ron(P), f.ro(P));
      EXPECT_EQ(f.bc_u(P), 0.0);
      EXPECT_EQ(f.bc_v(P), 0.0);
      EXPECT_EQ(bv(P), 0.0);  // no pressure force, no v
      EXPECT_EQ(bu(P), f.u_old(P) / s.k.dt * f.mass(P));
      EXPECT_EQ(f.b(P), 0.0) << "massa " << i << " " << j;
    }
}

// On the built-in grid's sloping wall, linear fields: the wall face's mean
// of the last row and the fictitious row is the field's value at the face's
// middle, and the velocity there has the field's tangential component and
// no normal one; a steep drop stays bounded.
TEST(Ordem2, LinearFieldsGiveExactWallFaceValues) {
  tx::State s = make_state(20, 10, 1);
  auto& f = s.f;
  const auto lin = [](double x, double y) { return 1.0e6 + 3.0e5 * x - 7.0e5 * y; };
  for (int i = 2; i <= s.c.nx - 1; ++i)
    for (int j = 2; j <= s.c.ny - 1; ++j) {
      const int P = np_of(s, i, j);
      f.p(P) = lin(f.xp(P), f.yp(P));
      f.T(P) = 1000.0 + lin(f.xp(P), f.yp(P)) * 1e-3;
      f.u(P) = 100.0 + 50.0 * f.xp(P) + 20.0 * f.yp(P);
      f.v(P) = 10.0 * f.xp(P) - 30.0 * f.yp(P);
    }
  tx::wall_pressure_ordem2(s);
  tx::wall_temperature_ordem2(s);
  tx::wall_velocities_ordem2(s);
  for (int i = 2; i <= s.c.nx - 1; ++i) {
    const int N = np_of(s, i, s.c.ny), P = N - s.c.nx;
    const int a = np_of(s, i - 1, s.c.ny - 1), b = np_of(s, i, s.c.ny - 1);
    const double xw = 0.5 * (f.X(a) + f.X(b)), yw = 0.5 * (f.Y(a) + f.Y(b));
    EXPECT_NEAR(0.5 * (f.p(P) + f.p(N)), lin(xw, yw), 1e-9 * 1e6) << i;
    EXPECT_NEAR(0.5 * (f.T(P) + f.T(N)), 1000.0 + lin(xw, yw) * 1e-3, 1e-12 * 1e3) << i;
    const double L = std::hypot(f.xk(P), f.yk(P)), tx = f.xk(P) / L, ty = f.yk(P) / L;
    const double um = 0.5 * (f.u(P) + f.u(N)), vm = 0.5 * (f.v(P) + f.v(N));
    EXPECT_NEAR(vm * tx - um * ty, 0.0, 1e-12 * 100) << i;
    const double uw = 100.0 + 50.0 * xw + 20.0 * yw, vw = 10.0 * xw - 30.0 * yw;
    EXPECT_NEAR(um * tx + vm * ty, uw * tx + vw * ty, 1e-12 * 200) << i;
  }
  // A drop the extrapolation would carry below zero (a corner with no
  // radius): the fictitious pressure and temperature stay at half the last row's.
  const int N = np_of(s, 5, s.c.ny), P = N - s.c.nx;
  f.p(P - s.c.nx) = 3.0 * f.p(P);
  f.T(P - s.c.nx) = 3.0 * f.T(P);
  tx::wall_pressure_ordem2(s);
  tx::wall_temperature_ordem2(s);
  EXPECT_EQ(f.p(N), 0.5 * f.p(P));
  EXPECT_EQ(f.T(N), 0.5 * f.T(P));
  EXPECT_GT(f.ro(N), 0.0);
}

}  // namespace

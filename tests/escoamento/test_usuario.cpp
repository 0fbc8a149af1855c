#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/estado.hpp"
#include "base/erro.hpp"
#include "apoio/fixture.hpp"
#include "apoio/tmpdir.hpp"
#include "malha/malha.hpp"
#include "escoamento/usuario.hpp"
#include "apoio/erros.hpp"

using enum tx::MatrixColumn;

namespace fs = std::filesystem;
using txtest::make_state;
using txtest::np_of;

namespace {

using txtest::error_of;

// Isentropic area ratio A/A* at Mach M, written independently of the solver.
double area_ratio(double g, double M) {
  return std::pow(2.0 / (g + 1.0) * (1.0 + (g - 1.0) / 2.0 * M * M), (g + 1.0) / (2.0 * (g - 1.0))) / M;
}

// a(np,:)·phi − b(np) over the neighbours that exist.
double row_residual(const tx::State& s, const tx::Vec& phi, int np) {
  const int nx = s.c.nx, nxy = s.c.nxy;
  const int nb[5] = {np - nx, np - 1, np, np + 1, np + nx};
  double r = -s.f.b(np);
  for (int k = 0; k < 5; ++k)
    if (nb[k] >= 1 && nb[k] <= nxy) r += s.f.a(np, k + 1) * phi(nb[k]);
  return r;
}

bool is_corner(const tx::State& s, int i, int j) {
  return (i == 1 || i == s.c.nx) && (j == 1 || j == s.c.ny);
}
bool is_fictitious(const tx::State& s, int i, int j) {
  return i == 1 || i == s.c.nx || j == 1 || j == s.c.ny;
}

// The throat area, which the grid listing step computes and the fixture skips.
tx::State nozzle(int nx_real, int ny_real, int coord = 1) {
  tx::State s = make_state(nx_real, ny_real, coord);
  const double rg = s.f.Y(np_of(s, s.g.ig, s.c.ny - 1));
  s.g.Sg = tx::section_area(s.c, rg);
  return s;
}

using txtest::same_bits;

// Runs each test in a fresh scratch directory (the restart file lives in the cwd).
class InScratchDir : public ::testing::Test {
 protected:
  static std::vector<unsigned char> slurp(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void spit(const std::string& name, const std::vector<unsigned char>& bytes) {
    std::ofstream out(name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  txtest::ScratchDir scratch_;
};

// Gives the 15 stored arrays distinct, awkward values (signed zero, tiny, huge).
void scramble_restart_fields(tx::State& s) {
  tx::Fields& f = s.f;
  double seed = 0.1234567890123;
  for (tx::Vec* v : {&f.pin, &f.u, &f.v, &f.p, &f.pl, &f.ue, &f.vn, &f.T, &f.ro, &f.ve, &f.un,
                     &f.Uce, &f.Vcn, &f.roe, &f.ron}) {
    for (int n = 1; n <= v->size(); ++n) {
      seed = std::fmod(seed * 9301.0 + 0.49297, 1.0);
      (*v)(n) = (seed - 0.5) * std::pow(10.0, static_cast<int>(seed * 600.0) - 300);
    }
    (*v)(1) = -0.0;
  }
}

}  // namespace

// ---------------------------------------------------------------- Q1D

constexpr tx::FlowBranch Sub = tx::FlowBranch::Subsonic, Sup = tx::FlowBranch::Supersonic,
                         Any = tx::FlowBranch::FromGiven;

TEST(Q1D, AreaRatioTwoGivesTabulatedMachNumbers) {
  double Msub = 0, Msup = 0;
  tx::mach_from_area_ratio(1.4, 2.0, Sub, Msub);
  tx::mach_from_area_ratio(1.4, 2.0, Sup, Msup);
  EXPECT_NEAR(Msub, 0.3059, 5e-5);
  EXPECT_NEAR(Msup, 2.1972, 5e-5);
  EXPECT_NEAR(area_ratio(1.4, Msub), 2.0, 1e-13);
  EXPECT_NEAR(area_ratio(1.4, Msup), 2.0, 1e-13);
}

TEST(Q1D, ThroatConvergesToSonicWithinRoundOff) {
  // The derivative vanishes at M = 1, so only about half the digits are
  // reachable; round-off decides the side (gama 1.4 lands 1.9e-8 above).
  for (double g : {1.1, 1.2, 1.3, 1.4, 1.67}) {
    double M = 0;
    tx::mach_from_area_ratio(g, 1.0, Sub, M);
    EXPECT_LT(std::fabs(1.0 - M), 5e-8) << g;
    EXPECT_NEAR(area_ratio(g, M), 1.0, 1e-15) << g;
  }
}

TEST(Q1D, FirstGuessIgnoredForBranchesUsedOtherwise) {
  double a = 123.0, b = -5.0;
  tx::mach_from_area_ratio(1.4, 3.0, Sub, a);
  tx::mach_from_area_ratio(1.4, 3.0, Sub, b);
  EXPECT_EQ(a, b);

  // FromGiven starts from the given M and finds the nearer branch.
  double near_sup = 2.5, near_sub = 0.2, Msub = 0, Msup = 0;
  tx::mach_from_area_ratio(1.4, 3.0, Any, near_sup);
  tx::mach_from_area_ratio(1.4, 3.0, Any, near_sub);
  tx::mach_from_area_ratio(1.4, 3.0, Sub, Msub);
  tx::mach_from_area_ratio(1.4, 3.0, Sup, Msup);
  EXPECT_NEAR(near_sup, Msup, 1e-12);
  EXPECT_NEAR(near_sub, Msub, 1e-12);
}

TEST(Q1D, NegativeStepRestartsFromSmallMach) {
  // From M = 0.9 with Ar = 10 the first Newton step is about -90: without the
  // clamp the iteration leaves the physical range for good.
  double M = 0.9, Mref = 0;
  tx::mach_from_area_ratio(1.4, 10.0, Any, M);
  tx::mach_from_area_ratio(1.4, 10.0, Sub, Mref);
  EXPECT_GT(M, 0.0);
  EXPECT_NEAR(M, Mref, 1e-12);
  EXPECT_NEAR(area_ratio(1.4, M), 10.0, 1e-11);
}

TEST(Q1D, CriticalMassFlowMatchesChokedFlow) {
  const double g = 1.4, R = 287.0, po = 3.0e6, T0 = 3000.0, Sg = std::acos(-1.0) / 4.0;
  double fm = 0;
  tx::critical_mass_flow(g, R, po, T0, Sg, fm);
  EXPECT_NEAR(fm, 1738.7207620309994, 1e-9);
  // rho* a* A* from the stagnation state.
  const double rs = po / (R * T0) * std::pow(2.0 / (g + 1.0), 1.0 / (g - 1.0));
  const double as = std::sqrt(g * R * T0 * 2.0 / (g + 1.0));
  EXPECT_NEAR(fm, rs * as * Sg, 1e-9 * fm);
}

// ------------------------------------------------------ initial conditions

TEST(InitialConditions, FreshStartIsQ1DFieldUniformAcrossColumns) {
  tx::State s = nozzle(20, 10, 1);
  tx::set_initial_conditions(s);
  const auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;

  double fm = 0;
  tx::critical_mass_flow(s.c.gama, s.c.Rg, s.c.po, s.c.T0, s.g.Sg, fm);
  EXPECT_EQ(s.r.fm1D, fm);

  for (int i = 1; i <= nx; ++i)
    for (int j = 1; j <= ny; ++j) {
      const int np = np_of(s, i, j);
      EXPECT_EQ(f.v(np), 0.0);
      if (is_corner(s, i, j)) {
        EXPECT_EQ(f.u(np), 0.0);
        EXPECT_EQ(f.p(np), s.c.po);
        EXPECT_EQ(f.T(np), s.c.T0);
      } else if (i >= 2 && i <= nx - 1) {
        EXPECT_EQ(f.u(np), f.u1D(i));
        EXPECT_EQ(f.p(np), f.p1D(i));
        EXPECT_EQ(f.T(np), f.T1D(i));
        const double want = (j >= 2 && j <= ny - 2) ? -f.u(np) * f.yk(np) : 0.0;
        EXPECT_EQ(f.Vcn(np), want) << i << "," << j;
      }
    }

  // Subsonic up to the throat face, supersonic after it; the end columns are
  // the inlet and exit planes.
  for (int i = 2; i <= nx; ++i) EXPECT_GT(f.M1D(i), f.M1D(i - 1)) << i;
  EXPECT_LT(f.M1D(s.g.ig), 1.0);
  EXPECT_GT(f.M1D(s.g.ig + 1), 1.0);
  for (int i = 1; i <= nx; ++i) {
    const double f1 = 1.0 + 0.2 * f.M1D(i) * f.M1D(i);
    EXPECT_NEAR(f.T1D(i), s.c.T0 / f1, 1e-9);
    EXPECT_NEAR(f.p1D(i), s.c.po * std::pow(f1, -3.5), 1e-6);
  }
  // Exit plane: wall radius 0.75, area ratio 2.25.
  EXPECT_NEAR(area_ratio(1.4, f.M1D(nx)), 2.25, 1e-12);
  EXPECT_NEAR(area_ratio(1.4, f.M1D(1)), 2.25, 1e-12);
  EXPECT_EQ(s.r.Fd1D, s.r.fm1D * f.u1D(nx));
  EXPECT_NEAR(s.r.Fpv1D, f.p1D(nx) * s.c.pi * 0.75 * 0.75, 1e-9 * s.r.Fpv1D);

  // Fictitious inlet volumes average to the inlet state; the inlet face
  // velocity is the mean of the two sides.
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = np_of(s, 1, j);
    EXPECT_NEAR(0.5 * (f.p(np) + f.p(np + 1)), f.pin(j), 1e-9 * s.c.po);
    EXPECT_NEAR(0.5 * (f.T(np) + f.T(np + 1)), f.Tin(j), 1e-9 * s.c.T0);
    EXPECT_EQ(f.Uce(np), ((f.u(np) + f.u(np + 1)) / 2.0) * f.ye(np));
  }
  // Every row an identity with zero source.
  for (int np = 1; np <= s.c.nxy; ++np) {
    EXPECT_EQ(f.a(np, kP), 1.0);
    EXPECT_EQ(f.a(np, kS) + f.a(np, kW) + f.a(np, kE) + f.a(np, kN), 0.0);
    EXPECT_EQ(f.b(np), 0.0);
  }
}

// Planar sections are measured by their height: the Q1D field follows the
// height ratio (1.5 at both end planes) and the critical flow matches the
// planar mass-flow sum 2 pi * (flow per unit depth).
TEST(InitialConditions, PlanarQ1DFollowsTheHeightRatio) {
  tx::State s = nozzle(20, 10, 0);
  tx::set_initial_conditions(s);
  const auto& f = s.f;
  EXPECT_DOUBLE_EQ(s.g.Sg, s.c.pi);
  EXPECT_NEAR(area_ratio(1.4, f.M1D(1)), 1.5, 1e-12);
  EXPECT_NEAR(area_ratio(1.4, f.M1D(s.c.nx)), 1.5, 1e-12);
  EXPECT_LT(f.M1D(1), 1.0);
  EXPECT_GT(f.M1D(s.c.nx), 1.0);
  for (int i = 2; i <= s.c.nx; ++i) EXPECT_GT(f.M1D(i), f.M1D(i - 1)) << i;
  EXPECT_NEAR(s.r.Fpv1D, f.p1D(s.c.nx) * 2.0 * s.c.pi * 0.75, 1e-9 * s.r.Fpv1D);
}

TEST_F(InScratchDir, RestartStartContinuesCountNormAndClock) {
  tx::State w = nozzle(6, 4, 1);
  scramble_restart_fields(w);
  w.k.it = 500;
  w.k.norm1 = 3.25e-2;
  w.k.tcpu = 42.5;
  tx::write_restart_file(w);

  tx::State s = nozzle(6, 4, 1);
  s.c.ci = 2;
  s.c.itmax = 300;
  tx::set_initial_conditions(s);
  EXPECT_EQ(s.k.it_ini, 501);
  EXPECT_EQ(s.c.itmax, 800);
  EXPECT_EQ(s.k.norm1, 3.25e-2);
  EXPECT_EQ(s.k.tcpuo, 42.5);
  EXPECT_TRUE(s.f.u == w.f.u);
  EXPECT_TRUE(s.f.pin == w.f.pin);
  // Not stored: keeps the Q1D start.
  for (int np = 1; np <= s.c.nxy; ++np) EXPECT_EQ(s.f.cp(np), 0.0);
  EXPECT_GT(s.r.fm1D, 0.0);
}

// ------------------------------------------------------------ restart file

TEST_F(InScratchDir, RestartRoundTripIsBitIdentical) {
  tx::State w = make_state(10, 6, 1);
  scramble_restart_fields(w);
  w.k.it = 1234;
  w.k.norm1 = 1.0 / 3.0;
  w.k.tcpu = 5e-324;
  tx::write_restart_file(w);
  EXPECT_EQ(tx::restart_file_name(w), "teste.bin");

  tx::State s = make_state(10, 6, 1);
  s.c.itmax = 0;
  tx::check_restart_file(s);
  EXPECT_EQ(s.k.it_ini, 1);  // checking leaves the state alone
  tx::read_restart_file(s);
  EXPECT_EQ(s.k.it_ini, 1235);
  EXPECT_EQ(s.c.itmax, 1234);
  EXPECT_TRUE(same_bits(s.k.norm1, w.k.norm1));
  EXPECT_TRUE(same_bits(s.k.tcpuo, w.k.tcpu));
  const tx::Fields &a = s.f, &b = w.f;
  const tx::Vec* got[] = {&a.pin, &a.u,  &a.v,  &a.p,   &a.pl,  &a.ue,  &a.vn, &a.T,
                          &a.ro,  &a.ve, &a.un, &a.Uce, &a.Vcn, &a.roe, &a.ron};
  const tx::Vec* want[] = {&b.pin, &b.u,  &b.v,  &b.p,   &b.pl,  &b.ue,  &b.vn, &b.T,
                           &b.ro,  &b.ve, &b.un, &b.Uce, &b.Vcn, &b.roe, &b.ron};
  for (int k = 0; k < 15; ++k) {
    ASSERT_EQ(got[k]->size(), want[k]->size());
    EXPECT_EQ(std::memcmp(got[k]->data(), want[k]->data(), sizeof(double) * got[k]->size()), 0)
        << "array " << k;
  }
}

TEST_F(InScratchDir, RestartFileLayoutForTwelveByEight) {
  tx::State w = make_state(10, 6, 1);  // nx = 12, ny = 8, nxy = 96
  ASSERT_EQ(w.c.nxy, 96);
  w.k.it = 7;
  w.k.norm1 = 2.0;
  tx::write_restart_file(w);
  const auto bytes = slurp("teste.bin");
  ASSERT_EQ(bytes.size(), 11008u);
  EXPECT_EQ(bytes.front(), 75);
  EXPECT_EQ(bytes.back(), 130);
  EXPECT_EQ(bytes[1], 129);
  EXPECT_EQ(bytes[1 + 1 + 128], 129);
  // 84 full segments, then 84 bytes.
  const std::size_t last = 1 + 84 * 130;
  EXPECT_EQ(bytes[last], 84);
  EXPECT_EQ(bytes[last + 1 + 84], 84);
  // Little-endian it, then norm1.
  EXPECT_EQ(bytes[2], 7);
  EXPECT_EQ(bytes[3] | bytes[4] | bytes[5], 0);
  double n1;
  std::memcpy(&n1, &bytes[6], 8);
  EXPECT_EQ(n1, 2.0);
  // No leftover temporary file beside it.
  int files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(".")) ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(InScratchDir, DamagedOrForeignRestartFilesAreRejected) {
  tx::State w = make_state(10, 6, 1);
  int status = 0;

  const std::string missing = error_of([&] { tx::check_restart_file(w); }, &status);
  EXPECT_NE(missing.find("teste.bin"), std::string::npos) << missing;
  EXPECT_NE(missing.find("ci = 2"), std::string::npos) << missing;
  EXPECT_EQ(status, tx::kExitInput);

  tx::write_restart_file(w);
  const auto good = slurp("teste.bin");

  auto bad = good;
  bad[0] = 76;
  spit("teste.bin", bad);
  status = 0;
  std::string m = error_of([&] { tx::read_restart_file(w); }, &status);
  EXPECT_NE(m.find("teste.bin"), std::string::npos) << m;
  EXPECT_EQ(status, tx::kExitInput);

  bad = good;
  bad[1 + 1 + 128] = 128;  // trailing length byte of the first segment
  spit("teste.bin", bad);
  status = 0;
  m = error_of([&] { tx::read_restart_file(w); }, &status);
  EXPECT_NE(m.find("teste.bin"), std::string::npos) << m;
  EXPECT_EQ(status, tx::kExitInput);

  // A file of another grid names the grid this case expects; the state is untouched.
  spit("teste.bin", good);
  tx::State s = make_state(12, 6, 1);  // nx = 14, ny = 8
  s.f.u.fill(7.0);
  status = 0;
  m = error_of([&] { tx::read_restart_file(s); }, &status);
  EXPECT_EQ(status, tx::kExitInput);
  EXPECT_NE(m.find("teste.bin"), std::string::npos) << m;
  EXPECT_NE(m.find("nx = 14"), std::string::npos) << m;
  EXPECT_NE(m.find("ny = 8"), std::string::npos) << m;
  EXPECT_NE(m.find("12 x 6"), std::string::npos) << m;
  EXPECT_EQ(s.f.u(1), 7.0);
  EXPECT_EQ(s.k.it_ini, 1);
  EXPECT_EQ(error_of([&] { tx::check_restart_file(s); }), m);

  // Fewer rows, same count of columns: still caught.
  tx::State t = make_state(10, 4, 1);
  EXPECT_NE(error_of([&] { tx::check_restart_file(t); }).find("ny = 6"), std::string::npos);
}

TEST_F(InScratchDir, StoredIterationCountThatWouldOverflowIsRejected) {
  tx::State w = make_state(4, 2, 1);
  w.k.it = INT_MAX - 5;
  tx::write_restart_file(w);
  tx::State s = make_state(4, 2, 1);
  s.c.itmax = 10;
  int status = 0;
  const std::string m = error_of([&] { tx::read_restart_file(s); }, &status);
  EXPECT_NE(m.find("teste.bin"), std::string::npos) << m;
  EXPECT_EQ(status, tx::kExitInput);
  EXPECT_EQ(s.c.itmax, 10);
}

// ------------------------------------------------------ boundary conditions

class Boundaries : public ::testing::Test {
 protected:
  // Axisymmetric 8 x 4 grid; every coefficient row preset to junk so that
  // rows left alone can be told apart.
  void SetUp() override {
    s = make_state(8, 4, 1);
    s.f.a.fill(9.0);
    s.f.b.fill(9.0);
  }
  // Checks the fictitious rows (corners skipped unless asked) against phi.
  void expect_rows_hold(const tx::Vec& phi, bool corners, double tol) {
    for (int i = 1; i <= s.c.nx; ++i)
      for (int j = 1; j <= s.c.ny; ++j) {
        if (!is_fictitious(s, i, j) || (is_corner(s, i, j) && !corners)) continue;
        const int np = np_of(s, i, j);
        EXPECT_EQ(s.f.a(np, kP), 1.0) << i << "," << j;
        EXPECT_NEAR(row_residual(s, phi, np), 0.0, tol) << i << "," << j;
      }
  }
  void expect_corners_untouched() {
    for (int np : {np_of(s, 1, 1), np_of(s, s.c.nx, 1), np_of(s, 1, s.c.ny),
                   np_of(s, s.c.nx, s.c.ny)}) {
      for (int k = 1; k <= 5; ++k) EXPECT_EQ(s.f.a(np, k), 9.0);
      EXPECT_EQ(s.f.b(np), 9.0);
    }
  }
  tx::State s;
};

TEST_F(Boundaries, UniformFlowIsReproducedByEverySystem) {
  auto& f = s.f;
  f.u.fill(0.0);
  f.v.fill(0.0);
  for (int i = 2; i <= s.c.nx - 1; ++i)
    for (int j = 2; j <= s.c.ny - 1; ++j) f.u(np_of(s, i, j)) = 250.0;
  tx::set_fictitious_velocities(s);
  for (int i = 1; i <= s.c.nx; ++i)
    for (int j = 1; j <= s.c.ny; ++j) {
      if (is_corner(s, i, j)) continue;
      EXPECT_EQ(f.u(np_of(s, i, j)), 250.0) << i << "," << j;
      EXPECT_EQ(f.v(np_of(s, i, j)), 0.0) << i << "," << j;
    }

  tx::apply_u_boundary_conditions(s);
  expect_rows_hold(f.u, false, 0.0);
  expect_corners_untouched();
  tx::apply_v_boundary_conditions(s);
  expect_rows_hold(f.v, false, 0.0);
  expect_corners_untouched();

  // Temperature: uniform field and an inlet state at the same temperature;
  // the axis and wall rows also cover the corners.
  f.T.fill(2500.0);
  f.Tin.fill(2500.0);
  tx::apply_T_boundary_conditions(s);
  expect_rows_hold(f.T, true, 0.0);

  f.pl.fill(-40.0);
  f.dpin.fill(-40.0);
  s.f.a.fill(9.0);
  s.f.b.fill(9.0);
  tx::apply_pl_boundary_conditions(s);
  expect_rows_hold(f.pl, false, 0.0);
  expect_corners_untouched();

  // Inlet and exit faces carry u·ye; the pressure correction of a uniform pl
  // leaves them unchanged.
  f.de.fill(1e-3);
  tx::set_boundary_face_velocities(s);
  for (int j = 2; j <= s.c.ny - 1; ++j)
    for (int i : {1, s.c.nx - 1}) {
      const int np = np_of(s, i, j);
      EXPECT_EQ(f.Uce(np), 250.0 * f.ye(np));
      EXPECT_EQ(f.de(np), 1e-3);
    }
  const tx::Vec Uce = f.Uce;
  tx::correct_boundary_face_velocities(s);
  EXPECT_TRUE(f.Uce == Uce);
}

TEST_F(Boundaries, ExplicitAndImplicitFormsAgreeOnAnyField) {
  auto& f = s.f;
  double seed = 0.37;
  for (int np = 1; np <= s.c.nxy; ++np) {
    seed = std::fmod(seed * 7919.0 + 0.113, 1.0);
    f.u(np) = 100.0 + 400.0 * seed;
    f.v(np) = 80.0 * (seed - 0.5);
  }
  // The rows use the field before the explicit update, like the solver sees it.
  tx::apply_u_boundary_conditions(s);
  tx::Mat au = f.a;
  tx::Vec bu = f.b;
  tx::apply_v_boundary_conditions(s);
  tx::set_fictitious_velocities(s);
  expect_rows_hold(f.v, false, 1e-12);
  f.a = au;
  f.b = bu;
  expect_rows_hold(f.u, false, 1e-10);

  // Axis: v antisymmetric, so zero on the axis faces; wall: copied.
  for (int i = 2; i <= s.c.nx - 1; ++i) {
    EXPECT_EQ(f.v(np_of(s, i, 1)) + f.v(np_of(s, i, 2)), 0.0);
    EXPECT_EQ(f.u(np_of(s, i, 1)), f.u(np_of(s, i, 2)));
    EXPECT_EQ(f.v(np_of(s, i, s.c.ny)), f.v(np_of(s, i, s.c.ny - 1)));
  }
  // Inlet face: v of the fictitious volume mirrors the first real one.
  for (int j = 2; j <= s.c.ny - 1; ++j)
    EXPECT_EQ(f.v(np_of(s, 1, j)), -f.v(np_of(s, 2, j)));
}

TEST_F(Boundaries, LinearProfileContinuesToMirrorPoints) {
  auto& f = s.f;
  const int nx = s.c.nx;
  for (int i = 2; i <= nx - 1; ++i)
    for (int j = 2; j <= s.c.ny - 1; ++j) {
      const int np = np_of(s, i, j);
      f.u(np) = 300.0 + 900.0 * f.xp(np);
      f.T(np) = 2900.0 - 1200.0 * f.xp(np);
    }
  tx::set_fictitious_velocities(s);
  for (int j = 2; j <= s.c.ny - 1; ++j) {
    const int w = np_of(s, 1, j), e = np_of(s, nx, j);
    const double x_in = -f.xp(w + 1);
    const double x_out = 2.0 * f.X(e - 1) - f.xp(e - 1);
    EXPECT_NEAR(f.u(w), 300.0 + 900.0 * x_in, 1e-9);
    EXPECT_NEAR(f.u(e), 300.0 + 900.0 * x_out, 1e-9);
  }
  // The exit row of the temperature extrapolates the same way.
  tx::apply_T_boundary_conditions(s);
  for (int j = 2; j <= s.c.ny - 1; ++j) {
    const int e = np_of(s, nx, j);
    const double x_out = 2.0 * f.X(e - 1) - f.xp(e - 1);
    const double T_out = f.b(e) + f.T(e - 1);  // a_p = 1, a_w = -1
    EXPECT_NEAR(T_out, 2900.0 - 1200.0 * x_out, 1e-9);
  }
}

TEST_F(Boundaries, NoFlowThroughAxisOrWall) {
  auto& f = s.f;
  f.Vcn.fill(3.0);
  f.dn.fill(4.0);
  f.u.fill(200.0);
  tx::set_boundary_face_velocities(s);
  for (int i = 2; i <= s.c.nx - 1; ++i) {
    for (int j : {1, s.c.ny - 1}) {
      EXPECT_EQ(f.Vcn(np_of(s, i, j)), 0.0) << i << "," << j;
      EXPECT_EQ(f.dn(np_of(s, i, j)), 0.0) << i << "," << j;
    }
    for (int j = 2; j <= s.c.ny - 2; ++j) EXPECT_EQ(f.Vcn(np_of(s, i, j)), 3.0);
  }
  // A pressure-correction pass moves only the inlet and exit faces.
  f.pl.fill(0.0);
  f.pl(np_of(s, 1, 2)) = 10.0;
  f.de.fill(0.5);
  const double before = f.Uce(np_of(s, 1, 2));
  tx::correct_boundary_face_velocities(s);
  EXPECT_EQ(f.Uce(np_of(s, 1, 2)), before + 5.0);
  for (int i = 2; i <= s.c.nx - 1; ++i) EXPECT_EQ(f.Vcn(np_of(s, i, s.c.ny - 1)), 0.0);
}

TEST_F(Boundaries, InletStateFromStagnationValues) {
  auto& f = s.f;
  f.u.fill(0.0);
  tx::update_inlet_state(s);
  for (int j = 2; j <= s.c.ny - 1; ++j) {
    EXPECT_EQ(f.uin(j), 0.0);
    EXPECT_EQ(f.Tin(j), s.c.T0);
    EXPECT_EQ(f.Min(j), 0.0);
    EXPECT_EQ(f.pin(j), s.c.po);
  }

  for (int j = 2; j <= s.c.ny - 1; ++j) {
    f.u(np_of(s, 1, j)) = 90.0;
    f.u(np_of(s, 2, j)) = 110.0;
  }
  tx::update_inlet_state(s);
  for (int j = 2; j <= s.c.ny - 1; ++j) {
    EXPECT_EQ(f.uin(j), 100.0);
    EXPECT_EQ(f.vin(j), 0.0);
    EXPECT_NEAR(f.Tin(j), 3000.0 - 0.4 / 803.6 * 1e4, 1e-9);
    EXPECT_NEAR(f.Min(j), 100.0 / std::sqrt(1.4 * 287.0 * f.Tin(j)), 1e-14);
    EXPECT_NEAR(f.pin(j), s.c.po * std::pow(f.Tin(j) / s.c.T0, 3.5), 1e-6);
  }
  // Rows 1 and ny stay as created.
  EXPECT_EQ(f.pin(1), 0.0);
  EXPECT_EQ(f.pin(s.c.ny), 0.0);

  f.pin_old = f.pin;
  f.pin_old(2) -= 50.0;
  f.p.fill(2.0e6);
  tx::set_inlet_pressure(s);
  for (int j = 2; j <= s.c.ny - 1; ++j) {
    const int np = np_of(s, 1, j);
    EXPECT_NEAR(0.5 * (f.p(np) + f.p(np + 1)), f.pin(j), 1e-9);
    EXPECT_NEAR(f.dpin(j), j == 2 ? 50.0 : 0.0, 1e-6);
  }

  tx::set_specific_heat(s);
  for (int np = 1; np <= s.c.nxy; ++np) EXPECT_NEAR(f.cp(np), 1004.5, 1e-12);
}

// Whole runs of the flow solver: converged nozzle flows checked against
// their physics, restart continuity and divergence handling.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "apoio/caso.hpp"
#include "base/erro.hpp"
#include "apoio/fixture.hpp"
#include "execucao/main.hpp"
#include "arquivos/registro.hpp"
#include "apoio/tmpdir.hpp"
#include "base/paralelo.hpp"
#include "escoamento/iteracao.hpp"
#include "escoamento/usuario.hpp"

namespace {

using txtest::CaseFile;
using txtest::lines_of;
using txtest::np_of;
using txtest::same_bits;
using txtest::read_file;
using txtest::run_tubrix;
using txtest::ScratchDir;

// Runs a case in-process so the final fields can be inspected.
int run_in_process(tx::State& s) {
  s.os = tx::system_platform();
  std::fflush(stdout);
  return tx::run_case(s);
}

CaseFile converging_case(int coord) {
  CaseFile cf;
  cf.coord = coord;
  cf.beta = "1.0";
  cf.It1 = 20;
  cf.It2 = 100;
  cf.tole = coord == 1 ? "1.0e-7" : "1.0e-6";
  cf.itmax = 8000;
  cf.w_r = 500;
  return cf;
}

void expect_converged_nozzle_flow(const tx::State& s) {
  const auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  ASSERT_LT(s.k.it, s.c.itmax) << "no convergence";

  // Mass conservation: inlet equals exit flow, and the wall row of the
  // stream function carries that flow through every column (no flow
  // through the wall, none through the axis).
  EXPECT_NEAR(s.r.fmi / s.r.fme, 1.0, 1e-6);
  for (int i = 1; i <= nx - 1; ++i) {
    EXPECT_EQ(f.psi(np_of(s, i, 1)), 0.0) << i;
    EXPECT_NEAR(f.psi(np_of(s, i, ny - 1)), s.r.fme, 1e-6 * s.r.fme) << i;
  }
  for (int i = 2; i <= nx - 1; ++i) {
    EXPECT_EQ(f.Vcn(np_of(s, i, 1)), 0.0) << "axis face " << i;
    EXPECT_EQ(f.Vcn(np_of(s, i, ny - 1)), 0.0) << "wall face " << i;
    EXPECT_EQ(f.v(np_of(s, i, 1)), 0.0) << "axis " << i;
  }

  // Discharge coefficient of a sharp throat (Rcag = 0.1): below the ideal
  // flow, as expected, but not far from it.
  const double Cd = s.r.fme / s.r.fm1D;
  EXPECT_GT(Cd, 0.9);
  EXPECT_LT(Cd, 1.02);

  // Accelerating flow along the axis, sonic near the throat, supersonic at
  // the exit. The short divergent (half-angle 26.6 degrees after a sharp
  // corner) leaves the axis behind the quasi-1D exit Mach number: the
  // expansion fan from the throat corner has only just reached the axis.
  const int ig = s.g.ig;
  for (int i = 3; i <= nx - 1; ++i)
    EXPECT_GT(f.M(np_of(s, i, 2)), f.M(np_of(s, i - 1, 2))) << i;
  EXPECT_GT(f.M(np_of(s, ig + 2, 2)), 0.8);
  EXPECT_LT(f.M(np_of(s, ig - 2, 2)), 1.0);
  const double M_axis = f.M(np_of(s, nx, 1));
  EXPECT_GT(M_axis, 1.3);
  EXPECT_LT(M_axis, f.M1D(nx));
}

struct FlowCase {
  int coord;
  double tole;    // what the case converges to
  double Cd;      // fme / fm1D reached at 20 x 10 volumes
  double M1D_ex;  // quasi-1D exit Mach number: area ratio 2.25, height ratio 1.5
};

class Converged : public ::testing::TestWithParam<FlowCase> {};

TEST_P(Converged, NozzleFlow) {
  const FlowCase fc = GetParam();
  ScratchDir dir;
  converging_case(fc.coord).write();
  tx::State s;
  ASSERT_EQ(run_in_process(s), 0);
  expect_converged_nozzle_flow(s);
  EXPECT_LE(s.k.norm / s.k.norm1, fc.tole);
  EXPECT_NEAR(s.f.M1D(s.c.nx), fc.M1D_ex, 1e-3);
  EXPECT_NEAR(s.r.fme / s.r.fm1D, fc.Cd, 0.005);
}

// Axisymmetric Cd falls to 0.967 at 40 x 20 and 0.950 at 160 x 80.
INSTANTIATE_TEST_SUITE_P(Escoamento, Converged,
                         ::testing::Values(FlowCase{1, 1e-7, 0.988, 2.3282},
                                           FlowCase{0, 1e-6, 0.980, 1.8541}),
                         [](const auto& info) {
                           return info.param.coord == 1 ? "Axisymmetric" : "Planar";
                         });

// The payload of a restart file split into its arrays (int, 2 reals, the
// inlet row, then 15 - 1 field arrays of nxy values).
struct Restart {
  int it = 0;
  double norm1 = 0, tcpu = 0;
  std::vector<std::vector<double>> arrays;
};

Restart read_restart(const std::string& path, int ny, int nxy) {
  const auto bytes = tx::read_record_file(path);
  Restart r;
  EXPECT_EQ(bytes.size(), 20u + 8u * ny + 112u * nxy);
  if (bytes.size() != 20u + 8u * ny + 112u * nxy) return r;
  std::size_t at = 0;
  std::memcpy(&r.it, bytes.data(), 4);
  std::memcpy(&r.norm1, bytes.data() + 4, 8);
  std::memcpy(&r.tcpu, bytes.data() + 12, 8);
  at = 20;
  auto take = [&](int n) {
    std::vector<double> v(static_cast<std::size_t>(n));
    std::memcpy(v.data(), bytes.data() + at, 8u * n);
    at += 8u * n;
    r.arrays.push_back(std::move(v));
  };
  take(ny);
  for (int k = 0; k < 14; ++k) take(nxy);
  return r;
}

// Report lines of an .itn file (its header dropped).
std::vector<std::string> data_lines(const std::string& text) {
  std::vector<std::string> out;
  for (const auto& l : lines_of(text))
    if (!l.empty() && l.find("Itera") == std::string::npos) out.push_back(l);
  return out;
}

TEST(Escoamento, RestartContinuesBitForBit) {
  constexpr int N = 120;
  CaseFile cf;
  cf.beta = "0.5";
  cf.itmax = N;
  cf.w_r = 10;
  const int nx = cf.nx + 2, ny = cf.ny + 2, nxy = nx * ny;

  ScratchDir whole;
  cf.write();
  ASSERT_EQ(run_tubrix(), 0) << read_file("stderr.log");
  const Restart a = read_restart("caso.bin", ny, nxy);
  const auto itn_a = data_lines(read_file("caso.itn"));

  ScratchDir halves;
  cf.itmax = N / 2;
  cf.write();
  ASSERT_EQ(run_tubrix(), 0) << read_file("stderr.log");
  cf.ci = 2;  // itmax counts the iterations added to the stored ones
  cf.write();
  ASSERT_EQ(run_tubrix(), 0) << read_file("stderr.log");
  const Restart b = read_restart("caso.bin", ny, nxy);
  const auto itn_b = data_lines(read_file("caso.itn"));

  EXPECT_EQ(a.it, N);
  EXPECT_EQ(b.it, N);
  EXPECT_TRUE(same_bits(a.norm1, b.norm1));
  ASSERT_EQ(a.arrays.size(), b.arrays.size());
  // Every volume, fictitious ones and corners included, and the inlet row.
  for (std::size_t k = 0; k < a.arrays.size(); ++k)
    for (std::size_t q = 0; q < a.arrays[k].size(); ++q)
      ASSERT_TRUE(same_bits(a.arrays[k][q], b.arrays[k][q])) << "array " << k << " index " << q;
  // The restarted run reports the second half exactly as the whole run did.
  ASSERT_EQ(itn_b.size(), static_cast<std::size_t>(N / 2 / cf.w_r));
  const std::vector<std::string> tail(itn_a.end() - itn_b.size(), itn_a.end());
  EXPECT_EQ(tail, itn_b);
}

TEST(Escoamento, DivergenceStopsWithoutStoringTheBrokenState) {
  ScratchDir dir;
  CaseFile cf;
  cf.itmax = 10;
  cf.write();
  ASSERT_EQ(run_tubrix(), 0);
  const std::string good = read_file("caso.bin");

  // Time steps far beyond what the scheme tolerates.
  cf.dt1 = "1.0e-3";
  cf.dt2 = "1.0e-3";
  cf.itmax = 200;
  cf.write();
  EXPECT_EQ(run_tubrix(), 2);
  const std::string err = read_file("stderr.log");
  EXPECT_NE(err.find("divergiu"), std::string::npos) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(read_file("caso.bin"), good);
  // The listing says so too, at the iteration that broke.
  const std::string txt = read_file("caso.txt");
  EXPECT_NE(txt.find("a solu\xE7\xE3o divergiu"), std::string::npos);  // Latin-1
}

}  // namespace

// A study may grow or shrink a run's team between two outer iterations: the
// iterations after each hand-over are those of one thread, bit for bit.
TEST(Escoamento, TeamChangedBetweenIterationsKeepsTheBits) {
  auto run = [](bool hand_over) {
    tx::State s = txtest::make_state(24, 12, 1);
    s.c.beta = 1.0;
    s.c.It1 = 20;
    s.c.It2 = 100;
    s.c.dt2 = 1e-5;
    s.c.tolu = s.c.tolp = 1e-3;
    s.c.msi_iters_uvT = 10;
    s.c.msi_iters_p = 50;
    s.par.min_volumes = 0;
    tx::set_initial_conditions(s);
    for (int it = 1; it <= 40; ++it) {
      if (hand_over && it % 10 == 1) tx::resize_team(s.par, it % 20 == 1 ? 2 : 1, s.c.nxy);
      tx::advance_iteration(s, it);
    }
    return s;
  };
  const tx::State a = run(false), b = run(true);
  EXPECT_EQ(b.par.team, nullptr);  // the last hand-over went back to one thread
  EXPECT_TRUE(std::isfinite(a.k.norm));
  EXPECT_TRUE(same_bits(a.k.norm, b.k.norm));
  for (tx::Vec tx::Fields::*f : {&tx::Fields::u, &tx::Fields::v, &tx::Fields::p, &tx::Fields::T})
    for (int q = 1; q <= a.c.nxy; ++q) {
      const double x = (a.f.*f)(q), y = (b.f.*f)(q);  // unused corners may hold NaN
      ASSERT_TRUE(same_bits(x, y) || (std::isnan(x) && std::isnan(y))) << q;
    }
}

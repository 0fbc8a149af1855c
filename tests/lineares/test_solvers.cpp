// MSI factorisation and iteration, and the L1 residual norm, checked against
// a dense direct solve, exact integer systems and hand-computed factors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "base/estado.hpp"
#include "base/paralelo.hpp"
#include "lineares/solvers.hpp"

using enum tx::MatrixColumn;

namespace {

using tx::Mat;
using tx::Vec;

struct System {
  int nx = 0, ny = 0, nxy = 0;
  Mat a;
  Vec b;
};

// Small deterministic generator, so every run sees the same systems.
struct Lcg {
  std::uint64_t s;
  explicit Lcg(std::uint64_t seed) : s(seed) {}
  double uniform() {  // in [0, 1)
    s = s * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(s >> 11) * 0x1.0p-53;
  }
};

bool present(const System& sy, int np, int k) {
  static const int off[5] = {-1, -1, 0, 1, 1};
  const int d = (k == 1 || k == 5) ? off[k - 1] * sy.nx : off[k - 1];
  return np + d >= 1 && np + d <= sy.nxy;
}

int neighbour(const System& sy, int np, int k) {
  switch (k) {
    case 1: return np - sy.nx;
    case 2: return np - 1;
    case 3: return np;
    case 4: return np + 1;
    default: return np + sy.nx;
  }
}

// Strictly diagonally dominant band system with every present band term
// non-zero (the wrap-around west/east couplings at i = 1 and i = nx too),
// except for boundary-style rows (central 1, one neighbour -1) on the west
// and east columns, as the boundary routines build them.
System random_system(int nx, int ny, std::uint64_t seed, bool boundary_rows = true) {
  System sy;
  sy.nx = nx;
  sy.ny = ny;
  sy.nxy = nx * ny;
  sy.a.assign(sy.nxy, 5);
  sy.b.assign(sy.nxy);
  Lcg g(seed);
  for (int np = 1; np <= sy.nxy; ++np) {
    const int i = (np - 1) % nx + 1;
    const int j = (np - 1) / nx + 1;
    if (boundary_rows && (i == 1 || i == nx) && j > 1 && j < ny) {
      sy.a(np, kP) = 1.0;
      sy.a(np, i == 1 ? 4 : 2) = -1.0;
    } else {
      double off = 0.0;
      for (int k : {1, 2, 4, 5}) {
        if (!present(sy, np, k)) continue;
        sy.a(np, k) = -(0.2 + g.uniform());
        off += std::fabs(sy.a(np, k));
      }
      sy.a(np, kP) = off * (1.1 + g.uniform());
    }
    sy.b(np) = 2.0 * g.uniform() - 1.0;
  }
  return sy;
}

std::vector<std::vector<double>> dense(const System& sy) {
  std::vector<std::vector<double>> m(sy.nxy, std::vector<double>(sy.nxy, 0.0));
  for (int np = 1; np <= sy.nxy; ++np)
    for (int k = 1; k <= 5; ++k)
      if (present(sy, np, k)) m[np - 1][neighbour(sy, np, k) - 1] += sy.a(np, k);
  return m;
}

// Gaussian elimination with partial pivoting on the dense matrix.
std::vector<double> direct_solve(const System& sy) {
  auto m = dense(sy);
  const int n = sy.nxy;
  std::vector<double> x(sy.b.raw());
  for (int c = 0; c < n; ++c) {
    int piv = c;
    for (int r = c + 1; r < n; ++r)
      if (std::fabs(m[r][c]) > std::fabs(m[piv][c])) piv = r;
    std::swap(m[c], m[piv]);
    std::swap(x[c], x[piv]);
    for (int r = c + 1; r < n; ++r) {
      const double f = m[r][c] / m[c][c];
      if (f == 0.0) continue;
      for (int k = c; k < n; ++k) m[r][k] -= f * m[c][k];
      x[r] -= f * x[c];
    }
  }
  for (int r = n - 1; r >= 0; --r) {
    double s = x[r];
    for (int k = r + 1; k < n; ++k) s -= m[r][k] * x[k];
    x[r] = s / m[r][r];
  }
  return x;
}

// Residual b - A.phi through the dense matrix.
std::vector<double> dense_residual(const System& sy, const Vec& phi) {
  const auto m = dense(sy);
  std::vector<double> r(sy.nxy);
  for (int i = 0; i < sy.nxy; ++i) {
    double s = 0.0;
    for (int k = 0; k < sy.nxy; ++k) s += m[i][k] * phi(k + 1);
    r[i] = sy.b(i + 1) - s;
  }
  return r;
}

double euclid(const std::vector<double>& r) {
  double s = 0.0;
  for (double v : r) s += v * v;
  return std::sqrt(s);
}

// Factorise and solve from phi with the given tolerance and limit.
Vec solve(const System& sy, Vec phi, double tol, int nitm) {
  Mat l(sy.nxy, 4), u(sy.nxy, 3);
  tx::msi_factorize(sy.a, l, u, sy.nxy, sy.nx, sy.ny);
  tx::msi_solve(sy.a, l, u, sy.ny, sy.nx, sy.nxy, phi, tol, nitm, sy.b);
  return phi;
}

TEST(MsiSolve, ConvergesToDirectSolution) {
  for (auto [nx, ny] : {std::pair{7, 5}, std::pair{4, 3}, std::pair{12, 9}, std::pair{2, 6}}) {
    // Boundary rows need a third column to lean on.
    const System sy = random_system(nx, ny, 17 + nx, nx >= 3);
    const auto ref = direct_solve(sy);
    const Vec phi = solve(sy, Vec(sy.nxy, 0.0), 1e-14, 1000);
    for (int np = 1; np <= sy.nxy; ++np)
      EXPECT_NEAR(phi(np), ref[np - 1], 1e-11 * (1.0 + std::fabs(ref[np - 1])))
          << nx << "x" << ny << " np=" << np;
  }
}

TEST(MsiSolve, TridiagonalSystemIsSolvedInOneSweep) {
  // Without south and north couplings the incomplete factors are the exact
  // LU factors, so one forward/backward sweep gives the direct solution.
  System sy = random_system(6, 4, 5, false);
  for (int np = 1; np <= sy.nxy; ++np) {
    sy.a(np, kP) -= std::fabs(sy.a(np, kS)) + std::fabs(sy.a(np, kN));
    sy.a(np, kS) = 0.0;
    sy.a(np, kN) = 0.0;
  }
  const auto ref = direct_solve(sy);
  Vec start(sy.nxy);
  for (int np = 1; np <= sy.nxy; ++np) start(np) = 0.1 * np;
  const Vec phi = solve(sy, start, 0.0, 1);
  for (int np = 1; np <= sy.nxy; ++np) EXPECT_NEAR(phi(np), ref[np - 1], 1e-13);
}

TEST(MsiSolve, IterationCountAndStopRule) {
  const System sy = random_system(9, 6, 3);
  Vec start(sy.nxy);
  for (int np = 1; np <= sy.nxy; ++np) start(np) = std::sin(0.3 * np);

  // Each iteration depends only on the current phi, so k chained one-sweep
  // calls equal one call of k iterations bit for bit.
  std::vector<Vec> chain{start};
  for (int k = 1; k <= 8; ++k) chain.push_back(solve(sy, chain.back(), 0.0, 1));
  EXPECT_NE(chain[1], chain[2]);
  EXPECT_EQ(solve(sy, start, 0.0, 2), chain[2]);
  EXPECT_EQ(solve(sy, start, 0.0, 5), chain[5]);

  // A limit below 1 still does one iteration.
  EXPECT_EQ(solve(sy, start, 0.0, 0), chain[1]);
  EXPECT_EQ(solve(sy, start, 0.0, -3), chain[1]);

  // The tolerance is relative to the residual of the entry guess: pick one
  // between the residuals after 3 and 4 sweeps, and exactly 4 are done
  // however high the limit.
  const double r0 = euclid(dense_residual(sy, start));
  const double r3 = euclid(dense_residual(sy, chain[3]));
  const double r4 = euclid(dense_residual(sy, chain[4]));
  for (int k = 1; k <= 3; ++k) ASSERT_GT(euclid(dense_residual(sy, chain[k])), r3 * 0.99);
  ASSERT_LT(r4, r3 * 0.5);
  ASSERT_LT(euclid(dense_residual(sy, chain[1])), 0.9 * r0);
  EXPECT_EQ(solve(sy, start, std::sqrt(r3 * r4) / r0, 100), chain[4]);
  // A loose tolerance met after the first sweep stops there.
  EXPECT_EQ(solve(sy, start, 0.99, 100), chain[1]);

  // The reused work vector carries nothing between calls of other sizes.
  const System big = random_system(40, 30, 8);
  solve(big, Vec(big.nxy, 1.0), 0.0, 3);
  EXPECT_EQ(solve(sy, start, 0.0, 5), chain[5]);
}

TEST(MsiSolve, ExactGuessIsLeftUnchanged) {
  // Integer coefficients and values: b = A.phi holds exactly, so r0 = 0.
  System sy;
  sy.nx = 5;
  sy.ny = 4;
  sy.nxy = 20;
  sy.a.assign(sy.nxy, 5);
  sy.b.assign(sy.nxy);
  Vec exact(sy.nxy);
  for (int np = 1; np <= sy.nxy; ++np) exact(np) = (np * 7) % 11 - 5;
  for (int np = 1; np <= sy.nxy; ++np) {
    double s = 0.0;
    for (int k : {1, 2, 4, 5})
      if (present(sy, np, k)) {
        sy.a(np, k) = -1.0 - (np + k) % 2;
        s += sy.a(np, k) * exact(neighbour(sy, np, k));
      }
    sy.a(np, kP) = 8.0;
    sy.b(np) = s + 8.0 * exact(np);
  }
  EXPECT_EQ(solve(sy, exact, 0.0, 1), exact);
  EXPECT_EQ(solve(sy, exact, 0.0, 50), exact);
  EXPECT_EQ(solve(sy, exact, 1e-3, 50), exact);
}

TEST(MsiFactorize, FirstRowHasNoSouthCoupling) {
  const System sy = random_system(6, 4, 11);
  Mat l(sy.nxy, 4, 99.0), u(sy.nxy, 3, 99.0);
  tx::msi_factorize(sy.a, l, u, sy.nxy, sy.nx, sy.ny);
  const Mat& a = sy.a;
  // np = 1
  EXPECT_EQ(l(1, 4), a(1, kS));
  EXPECT_EQ(l(1, 3), 0.0);
  EXPECT_EQ(l(1, 2), a(1, kW));
  EXPECT_EQ(l(1, 1), a(1, kP));
  EXPECT_EQ(u(1, 1), a(1, kE) / a(1, kP));
  EXPECT_EQ(u(1, 2), 0.0);
  EXPECT_EQ(u(1, 3), a(1, kN) / a(1, kP));
  // 2 <= np <= nx: l_s = a_s exactly and l_se = 0
  for (int np = 2; np <= sy.nx; ++np) {
    EXPECT_EQ(l(np, 4), a(np, kS)) << np;
    EXPECT_EQ(l(np, 3), 0.0) << np;
  }
  // Every entry is written.
  for (int np = 1; np <= sy.nxy; ++np) {
    for (int k = 1; k <= 4; ++k) EXPECT_NE(l(np, k), 99.0);
    for (int k = 1; k <= 3; ++k) EXPECT_NE(u(np, k), 99.0);
  }
}

TEST(MsiFactorize, HandComputedFactorsOnThreeByThree) {
  // All band terms present (wrap-around ones included); volume 5 is the only
  // one with alpha = 0.5. Expected values are the exact rational results,
  // rounded (l: p, w, se, s; u: e, nw, n).
  System sy;
  sy.nx = 3;
  sy.ny = 3;
  sy.nxy = 9;
  sy.a.assign(9, 5);
  for (int np = 1; np <= 9; ++np) {
    const double row[5] = {-1, -1, 4, -1, -1};
    for (int k = 1; k <= 5; ++k) sy.a(np, k) = row[k - 1];
  }
  const double r5[5] = {-1, -2, 6, -1, -0.5}, r6[5] = {-0.5, -1, 5, -1, -1};
  for (int k = 1; k <= 5; ++k) {
    sy.a(5, k) = r5[k - 1];
    sy.a(6, k) = r6[k - 1];
  }
  const double expect_l[9][4] = {
      {4, -1, 0, -1},
      {3.75, -1, 0, -1},
      {3.7333333333333334, -1, 0, -1},
      {3.4654761904761906, -1, -0.25, -1},
      {5.2608789976374988, -2.2424625171212416, -0.27654320987654318, -1.037037037037037},
      {4.6296826586451969, -1.0357142857142858, -0.13392857142857142, -0.5},
      {3.4318949262141238, -1.0772930264513914, -0.30779800755754039, -1},
      {3.5445851770987407, -1.1229996739439261, -0.2182426451290263, -1},
      {3.4660017817809137, -1.0249470612610703, -0.22434507714825513, -1}};
  const double expect_u[9][3] = {
      {-0.25, 0, -0.25},
      {-0.26666666666666666, -0.066666666666666666, -0.26666666666666666},
      {-0.26785714285714285, -0.071428571428571425, -0.26785714285714285},
      {-0.30779800755754039, -0.077293026451391272, -0.28856063208519411},
      {-0.2182426451290263, -0.12299967394392604, -0.11151432252851767},
      {-0.22434507714825513, -0.024947061261070217, -0.21599752590658861},
      {-0.30138565093815839, -0.067802958246922562, -0.29138421236664858},
      {-0.29541958200374469, -0.092316691271611281, -0.28212045981033657},
      {-0.30737739928563068, -0.083427117009631152, -0.28851687418526839}};
  Mat l(9, 4), u(9, 3);
  tx::msi_factorize(sy.a, l, u, 9, 3, 3);
  for (int np = 1; np <= 9; ++np) {
    for (int k = 1; k <= 4; ++k)
      EXPECT_NEAR(l(np, k), expect_l[np - 1][k - 1], 1e-15 * 8) << "l np=" << np << " k=" << k;
    for (int k = 1; k <= 3; ++k)
      EXPECT_NEAR(u(np, k), expect_u[np - 1][k - 1], 1e-15) << "u np=" << np << " k=" << k;
  }
}

// Dense L.U from the stored factors: l_p, l_w, l_se, l_s at offsets 0, -1,
// -nx+1, -nx; unit diagonal and u_e, u_nw, u_n at +1, +nx-1, +nx.
std::vector<std::vector<double>> factor_product(const System& sy, const Mat& l, const Mat& u) {
  const int n = sy.nxy, nx = sy.nx;
  std::vector<std::vector<double>> L(n, std::vector<double>(n, 0.0)), U = L, P = L;
  auto put = [n](std::vector<std::vector<double>>& m, int r, int c, double v) {
    if (c >= 0 && c < n) m[r][c] = v;
  };
  for (int r = 0; r < n; ++r) {
    put(L, r, r, l(r + 1, 1));
    put(L, r, r - 1, l(r + 1, 2));
    put(L, r, r - nx + 1, l(r + 1, 3));
    put(L, r, r - nx, l(r + 1, 4));
    put(U, r, r, 1.0);
    put(U, r, r + 1, u(r + 1, 1));
    put(U, r, r + nx - 1, u(r + 1, 2));
    put(U, r, r + nx, u(r + 1, 3));
  }
  for (int r = 0; r < n; ++r)
    for (int k = 0; k < n; ++k)
      for (int c = 0; c < n; ++c) P[r][c] += L[r][k] * U[k][c];
  return P;
}

TEST(MsiFactorize, BoundaryOnlyGridIsExactOnTheBand) {
  // With two grid rows every volume has alpha = 0; the factors then
  // reproduce A on its five diagonals, cancel the +-(nx-1) diagonals, and
  // leave fill only on the +-(nx-2) diagonals.
  const System sy = random_system(6, 2, 29, false);
  Mat l(sy.nxy, 4), u(sy.nxy, 3);
  tx::msi_factorize(sy.a, l, u, sy.nxy, sy.nx, sy.ny);
  const auto P = factor_product(sy, l, u);
  const auto A = dense(sy);
  const int nx = sy.nx;
  for (int r = 0; r < sy.nxy; ++r)
    for (int c = 0; c < sy.nxy; ++c) {
      const int d = c - r;
      if (d == nx - 2 || d == -(nx - 2)) continue;
      EXPECT_NEAR(P[r][c], A[r][c], 1e-14 * (1.0 + std::fabs(A[r][c]))) << r << "," << c;
    }
}

TEST(MsiSolve, OneSweepInvertsTheFactors) {
  // One iteration adds delta with L.U.delta = R(entry guess).
  const System sy = random_system(7, 5, 41);
  Mat l(sy.nxy, 4), u(sy.nxy, 3);
  tx::msi_factorize(sy.a, l, u, sy.nxy, sy.nx, sy.ny);
  Vec start(sy.nxy);
  for (int np = 1; np <= sy.nxy; ++np) start(np) = std::sin(1.3 * np);
  Vec phi = start;
  tx::msi_solve(sy.a, l, u, sy.ny, sy.nx, sy.nxy, phi, 0.0, 1, sy.b);
  const auto R = dense_residual(sy, start);
  const auto P = factor_product(sy, l, u);
  for (int r = 0; r < sy.nxy; ++r) {
    double s = 0.0;
    for (int c = 0; c < sy.nxy; ++c) s += P[r][c] * (phi(c + 1) - start(c + 1));
    EXPECT_NEAR(s, R[r], 1e-12) << r;
  }
}

// Integer system whose exact solution is `phi`; b(np) is then offset by
// `off(np)` so that the residual of row np is exactly -off(np).
System integer_system(int nx, int ny, Vec& phi) {
  System sy;
  sy.nx = nx;
  sy.ny = ny;
  sy.nxy = nx * ny;
  sy.a.assign(sy.nxy, 5);
  sy.b.assign(sy.nxy);
  phi.assign(sy.nxy);
  for (int np = 1; np <= sy.nxy; ++np) phi(np) = (np * 5) % 9 - 4;
  for (int np = 1; np <= sy.nxy; ++np) {
    double s = 0.0;
    for (int k = 1; k <= 5; ++k) {
      if (!present(sy, np, k)) continue;
      sy.a(np, k) = k == 3 ? 6.0 : -1.0 - (np % 3);
      s += sy.a(np, k) * phi(neighbour(sy, np, k));
    }
    sy.b(np) = s;
  }
  return sy;
}

TEST(ResidualL1Norm, ExactSolutionAndAccumulation) {
  Vec phi;
  const System sy = integer_system(6, 5, phi);
  double norm = 0.0;
  tx::residual_l1_norm(sy.nx, sy.ny, sy.nxy, sy.a, sy.b, phi, norm);
  EXPECT_EQ(norm, 0.0);
  norm = 2.5;
  tx::residual_l1_norm(sy.nx, sy.ny, sy.nxy, sy.a, sy.b, phi, norm);
  EXPECT_EQ(norm, 2.5);  // never cleared

  const System rs = random_system(8, 5, 21);
  Vec x(rs.nxy);
  for (int np = 1; np <= rs.nxy; ++np) x(np) = std::cos(0.7 * np);
  double once = 0.0;
  tx::residual_l1_norm(rs.nx, rs.ny, rs.nxy, rs.a, rs.b, x, once);
  double twice = 0.0;
  tx::residual_l1_norm(rs.nx, rs.ny, rs.nxy, rs.a, rs.b, x, twice);
  tx::residual_l1_norm(rs.nx, rs.ny, rs.nxy, rs.a, rs.b, x, twice);
  EXPECT_GT(once, 0.0);
  EXPECT_EQ(twice, 2.0 * once);

  // Same value as the dense residual, wrap-around couplings included.
  double ref = 0.0;
  for (double r : dense_residual(rs, x)) ref += std::fabs(r);
  EXPECT_NEAR(once, ref, 1e-12 * ref);
}

TEST(ResidualL1Norm, EveryVolumeCountsOnce) {
  // Offsetting b(np) by np makes each row's residual exactly np, so the norm
  // is 1 + 2 + ... + nxy if and only if every volume, fictitious rows and
  // corners included, is visited exactly once.
  for (auto [nx, ny] : {std::pair{6, 5}, std::pair{4, 3}, std::pair{5, 2}, std::pair{7, 1},
                        std::pair{1, 4}}) {
    Vec phi;
    System sy = integer_system(nx, ny, phi);
    for (int np = 1; np <= sy.nxy; ++np) sy.b(np) += np;
    double norm = 0.0;
    tx::residual_l1_norm(sy.nx, sy.ny, sy.nxy, sy.a, sy.b, phi, norm);
    EXPECT_EQ(norm, sy.nxy * (sy.nxy + 1) / 2.0) << nx << "x" << ny;
  }
  // A single fictitious corner row.
  Vec phi;
  System sy = integer_system(6, 5, phi);
  sy.b(sy.nxy) -= 3.0;
  double norm = 0.0;
  tx::residual_l1_norm(sy.nx, sy.ny, sy.nxy, sy.a, sy.b, phi, norm);
  EXPECT_EQ(norm, 3.0);
}

TEST(MsiOrders, SameBitsAsThePlainOrder) {
  // The wavefront order (one thread) and its strips pipelined on a team
  // (70 and 49 rows: several strips per member) against the plain order. Boundary-style west/east rows leave the wrap-around terms
  // at zero; without them every wrap-around term is present and both must
  // notice and redo the sweep. Zeros of both signs in b and
  // phi check that skipping the zero terms changes no sign. The norm a solve
  // takes from its last residual is the residual norm of its solution.
  struct Case {
    int nx, ny;
    bool boundary_rows;
    bool signed_zeros;
  };
  for (int threads : {2, 3}) {
    tx::Team team(threads);
    for (const Case c : {Case{40, 13, true, false}, Case{40, 13, false, false},
                         Case{17, 30, true, true}, Case{2, 5, false, false},
                         Case{33, 2, true, false}, Case{24, 70, true, true},
                         Case{30, 49, false, false}}) {
      System sy = random_system(c.nx, c.ny, 99 + c.nx, c.boundary_rows);
      Vec phi0(sy.nxy, 0.0);
      if (c.signed_zeros) {
        for (int np = 1; np <= sy.nxy; ++np) {
          if (np % 3 == 0) sy.b(np) = -0.0;
          phi0(np) = np % 2 ? -0.0 : 0.0;
        }
      }
      for (int nitm : {1, 7}) {
        Mat l1(sy.nxy, 4), u1(sy.nxy, 3), l2(sy.nxy, 4), u2(sy.nxy, 3), l3(sy.nxy, 4),
            u3(sy.nxy, 3);
        Vec phi1 = phi0, phi2 = phi0, phi3 = phi0;
        tx::msi_factorize_rows(sy.a, l1, u1, sy.nxy, sy.nx, sy.ny);
        tx::msi_solve_rows(sy.a, l1, u1, sy.ny, sy.nx, sy.nxy, phi1, 1e-3, nitm, sy.b);
        tx::msi_factorize(sy.a, l2, u2, sy.nxy, sy.nx, sy.ny, &team);
        double norm1 = 1.0, norm2 = 1.0, norm3 = 1.0;
        tx::residual_l1_norm(sy.nx, sy.ny, sy.nxy, sy.a, sy.b, phi1, norm1);
        tx::msi_solve_and_norm(sy.a, l2, u2, sy.ny, sy.nx, sy.nxy, phi2, 1e-3, nitm, sy.b, norm2,
                               &team);
        tx::msi_factorize(sy.a, l3, u3, sy.nxy, sy.nx, sy.ny);
        tx::msi_solve_and_norm(sy.a, l3, u3, sy.ny, sy.nx, sy.nxy, phi3, 1e-3, nitm, sy.b,
                               norm3);
        const auto bits = [](const double* p, int n) {
          return std::vector<unsigned char>(reinterpret_cast<const unsigned char*>(p),
                                            reinterpret_cast<const unsigned char*>(p + n));
        };
        const std::string where = std::to_string(c.nx) + "x" + std::to_string(c.ny) +
                                  " threads " + std::to_string(threads);
        EXPECT_EQ(bits(l1.data(), 4 * sy.nxy), bits(l2.data(), 4 * sy.nxy)) << where;
        EXPECT_EQ(bits(u1.data(), 3 * sy.nxy), bits(u2.data(), 3 * sy.nxy)) << where;
        EXPECT_EQ(bits(phi1.data(), sy.nxy), bits(phi2.data(), sy.nxy)) << where;
        EXPECT_EQ(bits(l1.data(), 4 * sy.nxy), bits(l3.data(), 4 * sy.nxy)) << where;
        EXPECT_EQ(bits(u1.data(), 3 * sy.nxy), bits(u3.data(), 3 * sy.nxy)) << where;
        EXPECT_EQ(bits(phi1.data(), sy.nxy), bits(phi3.data(), sy.nxy)) << where;
        EXPECT_EQ(bits(&norm1, 1), bits(&norm2, 1)) << where;
        EXPECT_EQ(bits(&norm1, 1), bits(&norm3, 1)) << where;
      }
    }
  }
}

}  // namespace

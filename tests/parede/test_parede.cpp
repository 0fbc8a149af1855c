#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "apoio/caso.hpp"
#include "apoio/erros.hpp"
#include "apoio/fixture.hpp"
#include "apoio/tmpdir.hpp"
#include "malha/malha.hpp"
#include "parede/parede.hpp"

namespace {

using txtest::input_error_of;

void spit(const std::string& name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

std::string conical_text(double rin, double Lin, double rf, double tc, double rcu, double rg,
                         double rcd, double td, double rex) {
  std::string t = "'conica'  parede de teste\n";
  for (double v : {rin, Lin, rf, tc, rcu, rg, rcd, td, rex}) t += tx::real_text(v) + "\n";
  return t;
}

// The bell of examples/sino with the given angles and length fraction.
std::string bell_text(double tn, double te, double Lf) {
  std::string t = "'sino'  parede de teste\n";
  for (double v : {1.0, 0.0, 0.0, 30.0, 0.75, 0.5, 0.191, tn, te, 0.5 * std::sqrt(10.0), Lf})
    t += tx::real_text(v) + "\n";
  return t;
}

double second_derivative(const tx::Wall& w, double x, double h) {
  return (tx::wall_radius(w, x + h) - 2 * tx::wall_radius(w, x) + tx::wall_radius(w, x - h)) /
         (h * h);
}

}  // namespace

// Tangent at every joint, the throat the lowest point with the curvatures of
// its two arcs, and the ends where the parameters put them.
TEST(ConicalWall, TangentPiecesThroatCurvatureAndEnds) {
  const double d = std::acos(-1.0) / 180;
  txtest::ScratchDir scratch;
  spit("p.parede", conical_text(1.0, 0.2, 0.3, 30, 0.4, 0.5, 0.8, 15, 0.9));
  const tx::Wall w = tx::read_wall_file("p.parede");
  EXPECT_EQ(w.x_end[0], 0.2);
  EXPECT_NEAR(w.x_end[1], 0.2 + 0.3 * std::sin(30 * d), 1e-15);
  // Throat: the cone ends where the upstream arc starts.
  const double r1 = 1.0 - 0.3 * (1 - std::cos(30 * d)), r2 = 0.5 + 0.4 * (1 - std::cos(30 * d));
  EXPECT_NEAR(w.x_throat, w.x_end[1] + (r1 - r2) / std::tan(30 * d) + 0.4 * std::sin(30 * d),
              1e-14);
  EXPECT_EQ(w.r_throat, 0.5);
  EXPECT_NEAR(tx::wall_radius(w, w.x_exit), 0.9, 1e-14);
  EXPECT_EQ(tx::wall_radius(w, 0.0), 1.0);
  for (double xj : w.x_end) {
    if (xj >= w.x_exit) continue;
    EXPECT_NEAR(tx::wall_slope(w, xj - 1e-9), tx::wall_slope(w, xj + 1e-9), 1e-6) << xj;
    EXPECT_NEAR(tx::wall_radius(w, xj - 1e-12), tx::wall_radius(w, xj + 1e-12), 1e-11) << xj;
  }
  for (double x = 0; x <= w.x_exit; x += w.x_exit / 997)
    EXPECT_GE(tx::wall_radius(w, x), 0.5);
  EXPECT_NEAR(second_derivative(w, w.x_throat - 1e-3, 1e-4), 1 / 0.4, 1e-3);
  EXPECT_NEAR(second_derivative(w, w.x_throat + 1e-3, 1e-4), 1 / 0.8, 1e-3);
}

// The bell leaves the downstream throat arc at tn without a kink, reaches
// the exit at Lf times the 15-degree cone's length with angle te, and rises
// between the two angles all the way.
TEST(BellWall, TangentToTheArcReachesTheExitAtItsAngle) {
  const double d = std::acos(-1.0) / 180, rex = 0.5 * std::sqrt(10.0);
  txtest::ScratchDir scratch;
  spit("s.parede", bell_text(30, 9, 0.8));
  const tx::Wall w = tx::read_wall_file("s.parede");
  EXPECT_EQ(w.r_throat, 0.5);
  const double cone = (rex - 0.5 + 0.191 * (1 / std::cos(15 * d) - 1)) / std::tan(15 * d);
  EXPECT_NEAR(w.x_exit - w.x_throat, 0.8 * cone, 1e-13);
  EXPECT_NEAR(tx::wall_radius(w, w.x_exit), rex, 1e-13);
  EXPECT_NEAR(tx::wall_slope(w, w.x_exit), std::tan(9 * d), 1e-9);
  // The joints after the inlet's corner: cone and arc, the throat, arc and bell.
  for (double xj : {w.x_end[2], w.x_end[3], w.x_end[4]}) {
    EXPECT_NEAR(tx::wall_slope(w, xj - 1e-9), tx::wall_slope(w, xj + 1e-9), 1e-6) << xj;
    EXPECT_NEAR(tx::wall_radius(w, xj - 1e-12), tx::wall_radius(w, xj + 1e-12), 1e-11) << xj;
  }
  EXPECT_NEAR(tx::wall_slope(w, w.x_end[4] + 1e-9), std::tan(30 * d), 1e-6);
  EXPECT_NEAR(second_derivative(w, w.x_throat - 1e-3, 1e-4), 1 / 0.75, 1e-3);
  EXPECT_NEAR(second_derivative(w, w.x_throat + 1e-3, 1e-4), 1 / 0.191, 1e-3);
  double prev = 0;
  for (double x = w.x_end[4]; x <= w.x_exit; x += (w.x_exit - w.x_end[4]) / 499) {
    const double r = tx::wall_radius(w, x), m = tx::wall_slope(w, x);
    EXPECT_GT(r, prev) << x;
    EXPECT_GE(m, std::tan(9 * d) - 1e-9) << x;
    EXPECT_LE(m, std::tan(30 * d) + 1e-9) << x;
    prev = r;
  }
}

// The grid's throat data come from its wall nodes: on a fine grid the
// dimensionless radius of curvature is that of the wall, and the areas are
// the wall's.
TEST(ConicalWall, GridThroatDataFollowTheWall) {
  txtest::ScratchDir scratch;
  spit("p.parede", conical_text(1.0, 0, 0, 30, 1.0, 0.5, 1.0, 15, 1.0));
  tx::State s = txtest::make_state(400, 10);
  s.wall = tx::read_wall_file("p.parede");
  s.c.parede = "p.parede";
  tx::allocate_fields(s);
  tx::generate_boundary_nodes(s);
  tx::generate_interior_nodes(s);
  s.io.listagem.open("l.txt");
  tx::write_nozzle_parameters(s);
  s.io.listagem.close();
  EXPECT_NEAR(s.g.Rcag, 2.0, 2e-3);
  EXPECT_EQ(s.g.ig, 201);
  EXPECT_NEAR(s.g.Sg, s.c.pi * 0.25, 1e-15);
  const int jw = s.c.ny - 1;
  EXPECT_EQ(s.f.X(txtest::np_of(s, s.c.nx - 1, jw)), s.wall.x_exit);
  EXPECT_EQ(s.f.Y(txtest::np_of(s, 1, jw)), 1.0);
  EXPECT_EQ(s.f.Y(txtest::np_of(s, s.c.nx - 1, jw)), 1.0);
}

// In the second-order scheme the throat gets the finest columns: equal
// widths on both sides of it, the shorter convergent uniform, the divergent
// growing by one ratio up to the exact exit.
TEST(ConicalWall, SecondOrderColumnsFinestAtTheThroat) {
  txtest::ScratchDir scratch;
  spit("p.parede", conical_text(1.0, 0, 0, 30, 0.5, 0.5, 0.5, 15, 1.0));
  tx::State s = txtest::make_state(40, 10);
  s.c.esquema = tx::Scheme::kOrdem2;
  s.wall = tx::read_wall_file("p.parede");
  s.c.parede = "p.parede";
  tx::allocate_fields(s);
  tx::generate_boundary_nodes(s);
  const int n = 20;
  auto width = [&](int i) { return s.f.X(txtest::np_of(s, i + 1, 1)) - s.f.X(txtest::np_of(s, i, 1)); };
  const double w0 = s.wall.x_throat / n;
  for (int i = 1; i <= n; ++i) EXPECT_NEAR(width(i), w0, 1e-12) << i;
  EXPECT_NEAR(width(n + 1), w0, 1e-12);
  const double q = width(n + 2) / width(n + 1);
  EXPECT_GT(q, 1.01);
  for (int i = n + 2; i <= 2 * n; ++i) EXPECT_NEAR(width(i) / width(i - 1), q, 1e-9) << i;
  EXPECT_EQ(s.f.X(txtest::np_of(s, n + 1, 1)), s.wall.x_throat);
  EXPECT_EQ(s.f.X(txtest::np_of(s, 2 * n + 1, 1)), s.wall.x_exit);
}

// Through every point, slope and curvature continuous, no overshoot where
// the points are monotone, and the throat near the lowest point of a table
// taken from a smooth valley.
TEST(PointsWall, SmoothThroughThePointsWithoutOvershoot) {
  std::vector<double> x, r;
  std::vector<int> lines;
  // A straight inlet, a steep fall, a rounded throat near x = 0.5, a cone.
  const double px[] = {0, 0.1, 0.2, 0.3, 0.4, 0.45, 0.5, 0.55, 0.6, 0.8, 1.0};
  const double pr[] = {1, 1, 0.95, 0.75, 0.56, 0.515, 0.5, 0.506, 0.52, 0.6, 0.7};
  for (int i = 0; i < 11; ++i) x.push_back(px[i]), r.push_back(pr[i]), lines.push_back(i + 2);
  const tx::Wall w = tx::points_wall(x, r, lines, "t.parede");
  for (std::size_t i = 0; i < x.size(); ++i) EXPECT_NEAR(tx::wall_radius(w, x[i]), r[i], 1e-14);
  for (std::size_t i = 1; i + 1 < x.size(); ++i) {
    EXPECT_NEAR(tx::wall_slope(w, x[i] - 1e-9), tx::wall_slope(w, x[i] + 1e-9), 1e-6);
    EXPECT_NEAR(second_derivative(w, x[i] - 2e-5, 1e-5), second_derivative(w, x[i] + 2e-5, 1e-5),
                0.05 * (1 + std::fabs(second_derivative(w, x[i], 1e-5))));
  }
  const double tol = 1e-4 * (1 - 0.5);
  for (double xs = 0; xs <= 0.4; xs += 1e-3) EXPECT_LE(tx::wall_radius(w, xs), 1 + tol);
  for (double xs = 0.6; xs <= 1.0; xs += 1e-3) EXPECT_GE(tx::wall_slope(w, xs), -1e-9);
  EXPECT_NEAR(w.x_throat, 0.5, 0.03);
  EXPECT_LE(w.r_throat, 0.5);
  EXPECT_GT(w.r_throat, 0.49);
  EXPECT_NEAR(tx::wall_slope(w, w.x_throat), 0.0, 1e-9);
}

// Every refused wall file: one message naming the file and the line or the
// parameter.
TEST(WallFile, BadFilesNameTheLineOrParameter) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"", "o arquivo da parede está vazio"},
      {"'tulipa'\n", "linha 1: forma de parede desconhecida 'tulipa'"},
      {"conica\n", "linha 1: esperado a forma da parede entre apóstrofos"},
      {"'conica'\n1\nabc\n", "linha 3: esperado um número real finito em o parâmetro Lin"},
      {"'conica'\n1\n0,5\n", "linha 3: encontrado \"0,5\""},
      {"'conica'\n1\n0\n", "parâmetro rf: o arquivo terminou antes deste parâmetro"},
      {"'conica'\ninf\n0\n0\n30\n0.5\n0.5\n0.5\n15\n1\n", "linha 2: esperado um número real finito"},
      {"'conica'\n-1\n0\n0\n30\n0.5\n0.5\n0.5\n15\n1\n", "parâmetro rin: o raio deve ser positivo"},
      {"'conica'\n1\n0\n0\n90\n0.5\n0.5\n0.5\n15\n1\n", "parâmetro tc: o semi-ângulo deve estar"},
      {"'conica'\n1\n0\n0\n30\n0\n0.5\n0.5\n15\n1\n", "parâmetro rcu: o raio de curvatura"},
      {"'conica'\n1\n0\n0\n30\n0.5\n0.5\n0.5\n15\n0.4\n", "parâmetro rex: a saída"},
      {"'conica'\n1\n0\n2\n30\n2\n0.5\n0.5\n15\n1\n", "parâmetro rf: os arcos não cabem no convergente"},
      {"'conica'\n1\n0\n0\n30\n0.5\n0.5\n40\n15\n0.6\n", "parâmetro rcd: o arco a jusante"},
      // The bell: its own names in the checks it shares with 'conica', its
      // angles, and a parabola whose end tangents do not meet between its
      // ends (Lf too short, then too long, for tn = 30 and te = 9).
      {"'sino'\n1\n0\n0\n30\n0.75\n0.5\n0.191\n30\n9\n1.58\n",
       "parâmetro Lf: o arquivo terminou antes deste parâmetro (a parede 'sino' tem 11: rin, Lin, rf, tc, rcu, rg, rcd, tn, te, rex, Lf)"},
      {"'sino'\n1\n0\n0\n30\n0.75\n0.5\n0.191\n90\n9\n1.58\n0.8\n", "parâmetro tn: o semi-ângulo deve estar"},
      {"'sino'\n1\n0\n0\n30\n0.75\n0.5\n0.191\n30\n9\n0.4\n0.8\n", "parâmetro rex: a saída"},
      {"'sino'\n1\n0\n0\n30\n0.75\n0.5\n0.191\n30\n30\n1.58\n0.8\n", "parâmetro te: o semi-ângulo da saída (30 graus) deve ser menor"},
      {"'sino'\n1\n0\n0\n30\n0.75\n0.5\n0.191\n30\n9\n1.58\n0.4\n", "parâmetro Lf: o sino não seria monótono"},
      {"'sino'\n1\n0\n0\n30\n0.75\n0.5\n0.191\n30\n9\n1.58\n2\n", "não mais que te = 9 graus"},
      {"'sino'\n1\n0\n0\n30\n0.75\n0.5\n0.191\n30\n9\n1.58\n0.01\n", "parâmetro Lf: o sino terminaria em x"},
      {"'pontos'\n0 1\n0.5 0.5\n1 1\n", "precisa de pelo menos 4 pontos"},
      {"'pontos'\n0 1\n0.5 0.5\n0.5 0.6\n1 1\n", "linha 4: x deve crescer"},
      {"'pontos'\n0.1 1\n0.5 0.5\n0.7 0.6\n1 1\n", "linha 2: o primeiro ponto deve estar na entrada"},
      {"'pontos'\n0 1\n0.3 0.9\n0.6 0.8\n1 0.7\n", "não tem mínimo interior (garganta): o menor raio está na saída"},
      {"'pontos'\n0 1\n0.3 0.6\n0.5 0.8\n0.7 0.5\n1 1\n", "mais de um mínimo"},
      {"'pontos'\n0 1\n0.3\n", "linha 3: esperado um par x r"},
      {"'pontos'\n0 1\n0.3 -0.5\n0.6 0.6\n1 1\n", "linha 3: o raio deve ser positivo"},
      // Lengths whose areas and volumes would not be finite numbers.
      {"'conica'\n2e300\n1e300\n1e300\n30\n1e300\n1e300\n1e300\n15\n2e300\n",
       "parâmetro rin: 2e+300 m é grande demais: as áreas, os volumes"},
      {"'conica'\n1\n0\n0\n30\n0.5\n0.5\n0.5\n1e-40\n1\n", "parâmetro td: o cone divergente teria"},
      {"'pontos'\n0 1e300\n1e300 5e299\n2e300 1e300\n3e300 2e300\n", "linha 2: 1e+300 m é grande demais"},
  };
  txtest::ScratchDir scratch;
  for (const auto& c : cases) {
    spit("w.parede", c.text);
    const std::string m = input_error_of([] { tx::read_wall_file("w.parede"); });
    EXPECT_NE(m.find("\"w.parede\""), std::string::npos) << m;
    EXPECT_NE(m.find(c.message), std::string::npos) << c.text << " -> " << m;
  }
  EXPECT_NE(input_error_of([] { tx::read_wall_file("falta.parede"); })
                .find("não foi possível ler o arquivo da parede \"falta.parede\""),
            std::string::npos);
}

// Whole runs with each form: the listing echoes the wall, the grid follows
// it; a data file without item 29 but with other text after item 28 runs the
// built-in wall.
TEST(WallFile, WholeRunsWithEachForm) {
  txtest::ScratchDir scratch;
  txtest::CaseFile cf;
  cf.nx = 10;
  cf.ny = 4;
  cf.itmax = 5;
  cf.write();
  spit("c.parede", conical_text(1.0, 0, 0.2, 30, 0.5, 0.5, 0.5, 15, 1.0));
  spit("p.parede", "'pontos'\n0 1\n0.3 0.9\n0.5 0.5\n0.8 0.7\n1.0 0.8\n");
  spit("s.parede", bell_text(30, 9, 0.8));
  const std::string data = txtest::read_file("caso.dat");
  for (const char* wall : {"c.parede", "p.parede", "s.parede"}) {
    spit("caso.dat", data + "'" + wall + "'   parede\r\n");
    ASSERT_EQ(txtest::run_tubrix(), 0) << wall << txtest::read_file("stderr.log");
    const std::string listing = txtest::read_file("caso.txt");
    EXPECT_NE(listing.find(std::string("parede: arquivo da parede = ") + wall), std::string::npos);
    const char* form = wall[0] == 'c'   ? "parede c\xF4nica"
                       : wall[0] == 'p' ? "parede por 5 pontos"
                                        : "parede em sino";
    EXPECT_NE(listing.find(form), std::string::npos) << wall;
  }
  spit("caso.dat", data + "segunda descrição sem apóstrofos\r\n");
  ASSERT_EQ(txtest::run_tubrix(), 0);
  EXPECT_EQ(txtest::read_file("caso.txt").find("parede:"), std::string::npos);
}

// The study copies the wall into each grid's folder, and a grid folder of
// another wall is refused by name rather than resumed.
TEST(WallFile, StudyCopiesTheWallAndRefusesAnother) {
  txtest::ScratchDir scratch;
  txtest::CaseFile cf;
  cf.nx = 10;
  cf.ny = 4;
  cf.write();
  spit("c.parede", conical_text(1.0, 0, 0.2, 30, 0.5, 0.5, 0.5, 15, 1.0));
  spit("caso.dat", txtest::read_file("caso.dat") + "'c.parede'\r\n");
  const auto study = [] { return txtest::run_estudo("--malhas 10x4,20x8 -j 2", "out.log", "err.log"); };
  ASSERT_EQ(study(), 3) << txtest::read_file("err.log");  // itmax 20: no grid converges
  for (const char* g : {"10x4", "20x8"}) {
    EXPECT_EQ(tx::read_wall_file(std::string(g) + "/c.parede").p[5], 0.5);
    EXPECT_NE(txtest::read_file(std::string(g) + "/caso_" + g + ".dat").find("'c.parede'"),
              std::string::npos);
  }
  spit("c.parede", conical_text(1.0, 0, 0.2, 30, 0.5, 0.45, 0.5, 15, 1.0));
  EXPECT_EQ(study(), 1);
  EXPECT_NE(txtest::read_file("err.log").find("/c.parede\": a parede da malha não é a de"),
            std::string::npos)
      << txtest::read_file("err.log");
}

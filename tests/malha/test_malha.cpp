#include <gtest/gtest.h>

#include <regex>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "base/erro.hpp"
#include "apoio/erros.hpp"
#include "apoio/fixture.hpp"
#include "apoio/tmpdir.hpp"
#include "arquivos/layout.hpp"
#include "graficos/modelos.hpp"
#include "malha/malha.hpp"
#include "plataforma/plataforma.hpp"

namespace fs = std::filesystem;
using txtest::make_state;
using txtest::np_of;
using txtest::read_file;

namespace {

void spit(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

const fs::path kSourceTemplates = fs::path(TUBRIX_SOURCE_DIR) / "templates";

// Runs each test in a fresh directory of its own.
class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    dir_ = fs::temp_directory_path() /
           (std::string("tx_malha_") + info->test_suite_name() + "_" + info->name() + "_" +
            std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    old_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_);
    if (!HasFailure()) fs::remove_all(dir_);
  }
  void copy_templates() {
    for (const auto& t : tx::kTemplates) fs::copy_file(kSourceTemplates / t.name, t.name);
  }
  fs::path dir_, old_;
};

std::string message_of(const std::function<void()>& f, int* status = nullptr) {
  try {
    f();
  } catch (const tx::RunError& e) {
    if (status) *status = e.status();
    return e.what();
  }
  return "";
}

}  // namespace

// ---------------------------------------------------------------------------
// Nodes

TEST(Nodes, NozzleShapeAndExactNodes) {
  auto s = make_state(20, 10, 1);
  const auto& X = s.f.X;
  const auto& Y = s.f.Y;
  EXPECT_EQ(s.g.ig, 11);
  // Throat, exit and corner nodes are exact, not accumulated.
  EXPECT_EQ(X(np_of(s, 11, 1)), 0.5);
  EXPECT_EQ(X(np_of(s, 21, 1)), 1.0);
  EXPECT_EQ(X(np_of(s, 11, 11)), 0.5);
  EXPECT_EQ(Y(np_of(s, 11, 11)), 0.5);
  EXPECT_EQ(Y(np_of(s, 1, 11)), 0.75);
  EXPECT_EQ(Y(np_of(s, 21, 11)), 0.75);
  EXPECT_EQ(X(np_of(s, 21, 5)), 1.0);
  // Accumulated sums: 14 steps of 0.05 added one by one past the throat
  // give 0.7000000000000002 (a product would give 0.7000000000000001).
  EXPECT_EQ(X(np_of(s, 15, 1)), 0.5 + 0.05 + 0.05 + 0.05 + 0.05);
  EXPECT_NE(X(np_of(s, 15, 1)), 14 * 0.05);
  // The wall is the V of two straight segments.
  EXPECT_DOUBLE_EQ(Y(np_of(s, 5, 11)), 0.65);
  EXPECT_DOUBLE_EQ(Y(np_of(s, 15, 11)), 0.6);
  for (int i = 1; i <= s.c.nx - 1; ++i) {
    EXPECT_EQ(Y(np_of(s, i, 1)), 0.0) << i;
    for (int j = 1; j <= s.c.ny - 1; ++j) {
      EXPECT_EQ(X(np_of(s, i, j)), X(np_of(s, i, 1))) << i << "," << j;  // vertical lines
      if (j < s.c.ny - 1) {
        EXPECT_LT(Y(np_of(s, i, j)), Y(np_of(s, i, j + 1)));
      }
    }
  }
  for (int j = 1; j <= s.c.ny - 1; ++j)
    EXPECT_NEAR(Y(np_of(s, 1, j)), (j - 1) * 0.75 / 10, 1e-15) << j;
  // The fictitious last row and column of nodes stay at the origin.
  for (int i = 1; i <= s.c.nx; ++i) EXPECT_EQ(Y(np_of(s, i, s.c.ny)), 0.0);
  for (int j = 1; j <= s.c.ny; ++j) EXPECT_EQ(X(np_of(s, s.c.nx, j)), 0.0);
}

TEST(Nodes, OneRealRowHasOnlyAxisAndWall) {
  auto s = make_state(4, 1, 1);
  ASSERT_EQ(s.c.ny, 3);
  EXPECT_EQ(s.g.ig, 3);
  const double wall[] = {0.75, 0.625, 0.5, 0.625, 0.75};
  for (int i = 1; i <= 5; ++i) {
    EXPECT_EQ(s.f.Y(np_of(s, i, 1)), 0.0);
    EXPECT_EQ(s.f.X(np_of(s, i, 2)), s.f.X(np_of(s, i, 1)));
    EXPECT_EQ(s.f.Y(np_of(s, i, 2)), wall[i - 1]) << i;
    EXPECT_EQ(s.f.Y(np_of(s, i, 3)), 0.0);  // fictitious row of nodes
  }
  // One real volume per column, its Jacobian the inverse of its area.
  const int np = np_of(s, 2, 2);
  EXPECT_NEAR(s.f.Jp(np), 1.0 / (0.25 * 0.5 * (0.75 + 0.625)), 1e-12);
}

// ---------------------------------------------------------------------------
// Throat parameters (listing block)

class Throat : public InTempDir {};

TEST_F(Throat, WorkedValuesAndListing) {
  auto s = make_state(20, 10, 1);
  s.io.listagem.open("teste.txt");
  tx::write_nozzle_parameters(s);
  s.io.listagem.close();
  EXPECT_EQ(s.g.ig, 11);
  EXPECT_NEAR(s.g.Rcag, 0.1, 1e-14);
  EXPECT_DOUBLE_EQ(s.g.Sg, std::acos(-1.0) / 4);

  const std::string expected = tx::to_latin1(
      "\r\n\r\n*** Parâmetros da Tubeira ***\r\n\r\n"
      "      11               = ig:   número do volume na direção X cuja face leste coincide "
      "com a garganta da tubeira\r\n"
      "       5.000000000E-01 = Xg:   coordenada X da garganta da tubeira (m)\r\n"
      "       5.000000000E-01 = rg:   raio da garganta da tubeira (m)\r\n"
      "       5.000000000E-02 = rcg:  raio de curvatura na garganta da tubeira (m)\r\n"
      "       1.000000000E-01 = Rcag: raio de curvatura adimensional na garganta da tubeira\r\n"
      "       7.853981634E-01 = Sg:   área da garganta da tubeira (m2)\r\n"
      "       2.250000000E+00 = rain: razão de áreas do convergente\r\n"
      "       2.250000000E+00 = raex: razão de áreas do divergente\r\n");
  EXPECT_EQ(read_file("teste.txt"), expected);
}

TEST_F(Throat, CurvatureFollowsTheSpacing) {
  for (int nx : {2, 8, 40}) {
    auto s = make_state(nx, 3, 0);
    s.io.listagem.open("teste.txt");
    tx::write_nozzle_parameters(s);
    s.io.listagem.close();
    const int n = nx / 2;
    EXPECT_EQ(s.g.ig, n + 1);
    EXPECT_NEAR(s.g.Rcag, 1.0 / n, 1e-12) << nx;
    // Planar: 2 pi rg, the measure the planar mass-flow sums (2 pi per
    // unit depth) give the throat, so Q1D area ratios are height ratios.
    EXPECT_DOUBLE_EQ(s.g.Sg, std::acos(-1.0));
  }
  auto a = make_state(20, 3, 1);
  a.io.listagem.open("teste.txt");
  tx::write_nozzle_parameters(a);
  a.io.listagem.close();
  EXPECT_DOUBLE_EQ(a.g.Sg, std::acos(-1.0) * 0.25);
}

// ---------------------------------------------------------------------------
// Centres, metrics and radii

TEST(Metrics, SingleVolumeJacobianAndCentre) {
  tx::State s;
  s.c.nx = 3;
  s.c.ny = 3;
  s.c.nxy = 9;
  s.c.coord = 0;
  tx::allocate_fields(s);
  // Corners (0,0), (0.05,0), (0,0.1), (0.05,0.1) of the volume np = 5.
  s.f.X(2) = 0.05;
  s.f.X(5) = 0.05;
  s.f.Y(4) = 0.1;
  s.f.Y(5) = 0.1;
  tx::compute_centres(s);
  tx::compute_metrics(s);
  tx::compute_radii(s);
  EXPECT_DOUBLE_EQ(s.f.Jp(5), 200.0);
  EXPECT_DOUBLE_EQ(s.f.xp(5), 0.025);
  EXPECT_DOUBLE_EQ(s.f.yp(5), 0.05);
  for (int np = 1; np <= 9; ++np) {
    if (np == 5) continue;
    EXPECT_EQ(s.f.Jp(np), 0.0) << np;  // fictitious volumes
    EXPECT_EQ(s.f.xp(np), 0.0) << np;
    EXPECT_EQ(s.f.yp(np), 0.0) << np;
  }
}

TEST(Metrics, NozzleGridFaces) {
  auto s = make_state(20, 10, 1);
  const int nx = s.c.nx, ny = s.c.ny;
  for (int i = 1; i <= nx - 1; ++i)
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = np_of(s, i, j);
      EXPECT_EQ(s.f.xe(np), 0.0);  // vertical grid lines
      EXPECT_GT(s.f.ye(np), 0.0);
    }
  for (int i = 2; i <= nx - 1; ++i)
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = np_of(s, i, j);
      EXPECT_GT(s.f.Jp(np), 0.0);
      EXPECT_NEAR(s.f.xp(np), s.f.X(np) - 0.025, 1e-15);
    }
  // Sum of the real volume areas is the half-nozzle area 0.5*(0.75+0.5).
  double area = 0;
  for (int i = 2; i <= nx - 1; ++i)
    for (int j = 2; j <= ny - 1; ++j) area += 1.0 / s.f.Jp(np_of(s, i, j));
  EXPECT_NEAR(area, 0.625, 1e-12);
}

// Behind the wall's own checks: a grid whose sections or cells overflow is
// refused before any output, naming the grid's items.
TEST(Metrics, GridWithoutFiniteAreasIsRefused) {
  auto s = make_state(4, 2, 1);
  s.c.data_file = "caso.dat";
  EXPECT_NO_THROW(tx::check_grid(s));
  for (int np = 1; np <= s.c.nxy; ++np) s.f.Y(np) *= 1e200;
  tx::compute_metrics(s);
  tx::compute_radii(s);
  const std::string m = txtest::input_error_of([&] { tx::check_grid(s); });
  EXPECT_NE(m.find("\"caso.dat\", itens 3 e 4 (nx, ny): na malha de 4 x 2"), std::string::npos)
      << m;
}

TEST(Radii, AxisymmetricAndPlanar) {
  auto a = make_state(20, 10, 1);
  const int nx = a.c.nx, ny = a.c.ny;
  for (int i = 2; i <= nx - 1; ++i) {
    EXPECT_EQ(a.f.rn(np_of(a, i, 1)), 0.0) << i;  // axis faces
    EXPECT_EQ(a.f.rn(np_of(a, i, ny - 1)), 0.5 * (a.f.Y(np_of(a, i, ny - 1)) +
                                                   a.f.Y(np_of(a, i - 1, ny - 1))));
  }
  for (int i = 2; i <= nx - 1; ++i)
    for (int j = 2; j <= ny - 1; ++j) {
      const int np = np_of(a, i, j);
      EXPECT_NEAR(a.f.rp(np), a.f.yp(np), 1e-15);
      EXPECT_GT(a.f.re(np), 0.0);
    }
  // Outside the face and centre ranges the radii keep 1.
  EXPECT_EQ(a.f.rp(np_of(a, 1, 5)), 1.0);
  EXPECT_EQ(a.f.re(np_of(a, 5, 1)), 1.0);
  EXPECT_EQ(a.f.rn(np_of(a, 1, 5)), 1.0);
  EXPECT_EQ(a.f.rc, a.f.Y);

  for (int coord : {0, 2, -1}) {
    auto p = make_state(20, 10, coord);
    for (int np = 1; np <= p.c.nxy; ++np) {
      ASSERT_EQ(p.f.rc(np), 1.0);
      ASSERT_EQ(p.f.rp(np), 1.0);
      ASSERT_EQ(p.f.re(np), 1.0);
      ASSERT_EQ(p.f.rn(np), 1.0);
    }
  }
}

// ---------------------------------------------------------------------------
// Grid output files

class GridFiles : public InTempDir {};

namespace {

const char* kHeader = "#   i    j        np   x (m)                   y (m)\r\n";

}  // namespace

TEST_F(GridFiles, TwentyByTenEveryFifthNode) {
  copy_templates();
  auto s = make_state(20, 10, 1);
  s.c.w_g = 5;
  s.c.sem_g = 0;
  std::vector<std::string> commands;
  s.os.run_command = [&](std::string_view cmd) {
    commands.emplace_back(cmd);
    return 1;  // the status is ignored
  };
  s.io.listagem.open("teste.txt");
  tx::write_grid_outputs(s);
  s.io.listagem.close();

  EXPECT_EQ(read_file("teste.contorno_sul.dat"),
            std::string(kHeader) +
                "    1    1         1   0.000000000000000E+00   0.000000000000000E+00\r\n"
                "    5    1         5   2.000000000000000E-01   0.000000000000000E+00\r\n"
                "   10    1        10   4.500000000000000E-01   0.000000000000000E+00\r\n"
                "   15    1        15   7.000000000000002E-01   0.000000000000000E+00\r\n"
                "   20    1        20   9.500000000000004E-01   0.000000000000000E+00\r\n"
                "   21    1        21   1.000000000000000E+00   0.000000000000000E+00\r\n");
  EXPECT_EQ(read_file("teste.contorno_norte.dat"),
            std::string(kHeader) +
                "    1   11       221   0.000000000000000E+00   7.500000000000000E-01\r\n"
                "    5   11       225   2.000000000000000E-01   6.500000000000000E-01\r\n"
                "   10   11       230   4.500000000000000E-01   5.250000000000000E-01\r\n"
                "   15   11       235   7.000000000000002E-01   6.000000000000000E-01\r\n"
                "   20   11       240   9.500000000000004E-01   7.250000000000000E-01\r\n"
                "   21   11       241   1.000000000000000E+00   7.500000000000000E-01\r\n");
  EXPECT_EQ(read_file("teste.contorno_oeste.dat"),
            std::string(kHeader) +
                "    1    1         1   0.000000000000000E+00   0.000000000000000E+00\r\n"
                "    1    5        89   0.000000000000000E+00   3.000000000000000E-01\r\n"
                "    1   10       199   0.000000000000000E+00   6.749999999999999E-01\r\n"
                "    1   11       221   0.000000000000000E+00   7.500000000000000E-01\r\n");
  EXPECT_EQ(read_file("teste.contorno_leste.dat"),
            std::string(kHeader) +
                "   21    1        21   1.000000000000000E+00   0.000000000000000E+00\r\n"
                "   21    5       109   1.000000000000000E+00   3.000000000000000E-01\r\n"
                "   21   10       219   1.000000000000000E+00   6.749999999999999E-01\r\n"
                "   21   11       241   1.000000000000000E+00   7.500000000000000E-01\r\n");

  // Grid file: 11 lines of constant j with 6 nodes, then 21 lines of
  // constant i with 4 nodes, each after a one-blank separator record.
  const std::string grid = read_file("teste.malha.dat");
  const std::string first_block =
      " \r\n"
      "   0.000000000000000E+00   0.000000000000000E+00\r\n"
      "   2.000000000000000E-01   0.000000000000000E+00\r\n"
      "   4.500000000000000E-01   0.000000000000000E+00\r\n"
      "   7.000000000000002E-01   0.000000000000000E+00\r\n"
      "   9.500000000000004E-01   0.000000000000000E+00\r\n"
      "   1.000000000000000E+00   0.000000000000000E+00\r\n"
      " \r\n";
  EXPECT_EQ(grid.substr(0, first_block.size()), first_block);
  const std::string last_block =
      " \r\n"
      "   1.000000000000000E+00   0.000000000000000E+00\r\n"
      "   1.000000000000000E+00   3.000000000000000E-01\r\n"
      "   1.000000000000000E+00   6.749999999999999E-01\r\n"
      "   1.000000000000000E+00   7.500000000000000E-01\r\n";
  ASSERT_GE(grid.size(), last_block.size());
  EXPECT_EQ(grid.substr(grid.size() - last_block.size()), last_block);
  const std::string wall_line =  // j = 11, i = 10: the last line of constant j
      " \r\n"
      "   0.000000000000000E+00   7.500000000000000E-01\r\n"
      "   2.000000000000000E-01   6.500000000000000E-01\r\n"
      "   4.500000000000000E-01   5.250000000000000E-01\r\n"
      "   7.000000000000002E-01   6.000000000000000E-01\r\n"
      "   9.500000000000004E-01   7.250000000000000E-01\r\n"
      "   1.000000000000000E+00   7.500000000000000E-01\r\n"
      " \r\n"
      "   0.000000000000000E+00   0.000000000000000E+00\r\n";
  EXPECT_NE(grid.find(wall_line), std::string::npos);
  int lines = 0, separators = 0;
  for (std::size_t p = 0; (p = grid.find("\r\n", p)) != std::string::npos; p += 2) ++lines;
  for (std::size_t p = 0; (p = grid.find(" \r\n", p)) != std::string::npos; p += 3)
    if (p == 0 || grid[p - 1] == '\n') ++separators;
  EXPECT_EQ(separators, 11 + 21);
  EXPECT_EQ(lines, 32 + 11 * 6 + 21 * 4);

  // Scripts: the template's lines untouched, then the program's lines.
  EXPECT_EQ(read_file("Tubrix_5p5_dominio.gnu"),
            read_file(kSourceTemplates / "Tubrix_5p5_dominio.gnu") +
                "plot 'teste.contorno_sul.dat' using 4:5 title 'sul'\r\n"
                "replot 'teste.contorno_norte.dat' using 4:5 title 'norte'\r\n"
                "replot 'teste.contorno_oeste.dat' using 4:5 title 'oeste'\r\n"
                "replot 'teste.contorno_leste.dat' using 4:5 title 'leste'\r\n"
                "set title 'Tubeira teste'\r\n"
                "replot\r\n");
  EXPECT_EQ(read_file("Tubrix_5p5_malha.gnu"), read_file(kSourceTemplates / "Tubrix_5p5_malha.gnu") +
                                               "plot 'teste.malha.dat' notitle\r\n"
                                               "set title 'Tubeira teste'\r\n"
                                               "replot\r\n");
  EXPECT_EQ(commands, (std::vector<std::string>{"wgnuplot Tubrix_5p5_dominio.gnu",
                                                "wgnuplot Tubrix_5p5_malha.gnu"}));
  EXPECT_NE(read_file("teste.txt").find(tx::to_latin1("*** Parâmetros da Tubeira ***")),
            std::string::npos);
}

TEST_F(GridFiles, SubsamplingExtremesAndSecondRun) {
  copy_templates();
  auto s = make_state(4, 2, 0);
  s.c.caso = tx::padded("  caso b");  // left-adjusted in the file names
  s.c.titulo = tx::padded("  Outro  titulo");
  int runs = 0;
  s.os.run_command = [&](std::string_view) { return ++runs; };
  s.io.listagem.open("teste.txt");

  s.c.w_g = 1;  // every node
  tx::write_grid_outputs(s);
  std::string sul = read_file("caso b.contorno_sul.dat");
  EXPECT_EQ(std::count(sul.begin(), sul.end(), '\n'), 1 + 5);

  s.c.w_g = 100;  // only the ends of each line; the files are rewritten
  tx::write_grid_outputs(s);
  s.io.listagem.close();
  sul = read_file("caso b.contorno_sul.dat");
  EXPECT_EQ(sul, std::string(kHeader) +
                     "    1    1         1   0.000000000000000E+00   0.000000000000000E+00\r\n"
                     "    5    1         5   1.000000000000000E+00   0.000000000000000E+00\r\n");
  const std::string oeste = read_file("caso b.contorno_oeste.dat");
  EXPECT_EQ(std::count(oeste.begin(), oeste.end(), '\n'), 1 + 2);
  const std::string grid = read_file("caso b.malha.dat");
  EXPECT_EQ(std::count(grid.begin(), grid.end(), '\n'), (3 + 5) * (1 + 2));

  // The scripts end with the new lines only, not with both runs' lines.
  const std::string dom = read_file("Tubrix_5p5_dominio.gnu");
  EXPECT_EQ(std::count(dom.begin(), dom.end(), '\n'), 6 + 6);
  EXPECT_NE(dom.find("plot 'caso b.contorno_sul.dat' using 4:5 title 'sul'\r\n"),
            std::string::npos);
  const std::string mal = read_file("Tubrix_5p5_malha.gnu");
  const std::string title = "set title 'Outro  titulo'\r\nreplot\r\n";
  ASSERT_GE(mal.size(), title.size());
  EXPECT_EQ(mal.substr(mal.size() - title.size()), title);
  EXPECT_EQ(runs, 0);  // sem_g = 1: nothing started
}

TEST_F(GridFiles, ScriptsRenderWithGnuplot) {
  if (std::system("gnuplot --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no gnuplot";
  copy_templates();
  auto s = make_state(20, 10, 1);
  s.c.w_g = 2;
  // Apostrophes in the title and the case name, doubled inside the quotes;
  // these two scripts also left-adjust the title.
  s.c.titulo = tx::padded("  Tubeira d'água axissimétrica");  // UTF-8 here; bytes kept
  s.c.caso = tx::padded("caso'1");
  s.io.listagem.open("teste.txt");
  tx::write_grid_outputs(s);
  s.io.listagem.close();
  EXPECT_NE(read_file("Tubrix_5p5_malha.gnu")
                .find("plot 'caso''1.malha.dat' notitle\r\nset title 'Tubeira d''água"),
            std::string::npos);
  for (const char* script : {"Tubrix_5p5_dominio.gnu", "Tubrix_5p5_malha.gnu"}) {
    // A png file keeps the first plot of a script; the second command also
    // renders the finished plot (after the last replot) for a look by eye.
    const std::string png = std::string(script) + ".png";
    const std::string full = std::string(script) + ".final.png";
    const std::string cmds[] = {
        "gnuplot -e \"set terminal png; set output '" + png + "'\" " + script,
        "gnuplot -e \"set terminal png; set output '/dev/null'\" " + std::string(script) +
            " -e \"set output '" + full + "'; replot\""};
    for (const std::string& cmd : cmds) {
      // Started as the program starts gnuplot, in a locale where it draws without a warning.
      EXPECT_EQ(tx::run_command(cmd + " > gnuplot.log 2>&1"), 0)
          << cmd << "\n" << read_file("gnuplot.log");
      // The first plot of the domain script is the axis alone, a flat line
      // whose empty y range gnuplot widens with a warning; nothing else may
      // be reported.
      const std::string log =
          std::regex_replace(read_file("gnuplot.log"), std::regex("Warning: empty y range[^\n]*\n"), "");
      EXPECT_EQ(log, "") << cmd;
    }
    for (const std::string& out : {png, full}) {
      ASSERT_TRUE(fs::exists(out)) << out;
      EXPECT_GT(fs::file_size(out), 1000u) << out;
      EXPECT_EQ(read_file(out).substr(1, 3), "PNG") << out;
    }
  }
}

// ---------------------------------------------------------------------------
// Templates

class Templates : public InTempDir {};

TEST_F(Templates, ShippedTemplatesHaveExactlyTheKeptLines) {
  for (const auto& t : tx::kTemplates) {
    const std::string b = read_file(kSourceTemplates / t.name);
    EXPECT_EQ(std::count(b.begin(), b.end(), '\n'), t.kept) << t.name;
    EXPECT_EQ(b.find("set terminal"), std::string::npos) << t.name;
    EXPECT_EQ(b.find("set term "), std::string::npos) << t.name;
    EXPECT_EQ(b.back(), '\n') << t.name;
  }
}

TEST_F(Templates, CopiesMissingAndKeepsTheUsersOwn) {
  const std::string own = "set grid\nset key left\n# mine\n\n\nset xlabel 'x'\nextra\n";
  spit("Tubrix_5p5_Mach.gnu", own);
  tx::ensure_templates(kSourceTemplates.string());
  for (const auto& t : tx::kTemplates) {
    ASSERT_TRUE(fs::exists(t.name)) << t.name;
    if (std::string(t.name) != "Tubrix_5p5_Mach.gnu") {
      EXPECT_EQ(read_file(t.name), read_file(kSourceTemplates / t.name));
    }
  }
  EXPECT_EQ(read_file("Tubrix_5p5_Mach.gnu"), own);
  // Nothing to copy: a source folder that does not exist is fine now.
  tx::ensure_templates("/nonexistent/templates");
}

TEST_F(Templates, MissingEverywhereOrShortIsAClearError) {
  fs::create_directory("src");
  for (const auto& t : tx::kTemplates) fs::copy_file(kSourceTemplates / t.name, fs::path("src") / t.name);
  fs::remove(fs::path("src") / "Tubrix_5p5_pressao.gnu");
  int status = 0;
  std::string msg = message_of([] { tx::ensure_templates("src"); }, &status);
  EXPECT_NE(msg.find("Tubrix_5p5_pressao.gnu"), std::string::npos) << msg;
  EXPECT_NE(msg.find("src"), std::string::npos) << msg;
  EXPECT_EQ(status, tx::kExitInput);

  // A short template, whether the user's or the installed one.
  spit("Tubrix_5p5_pressao.gnu", "set grid\r\nset key\r\n");
  msg = message_of([] { tx::ensure_templates("src"); }, &status);
  EXPECT_NE(msg.find("Tubrix_5p5_pressao.gnu"), std::string::npos) << msg;
  EXPECT_NE(msg.find("2 linhas"), std::string::npos) << msg;
  EXPECT_NE(msg.find("6"), std::string::npos) << msg;
  EXPECT_EQ(read_file("Tubrix_5p5_pressao.gnu"), "set grid\r\nset key\r\n");

  fs::remove("Tubrix_5p5_pressao.gnu");
  spit(fs::path("src") / "Tubrix_5p5_pressao.gnu", "a\nb\nc\nd\ne");  // 5 lines, last unterminated
  msg = message_of([] { tx::ensure_templates("src"); });
  EXPECT_NE(msg.find("5 linhas"), std::string::npos) << msg;
}

TEST_F(Templates, RewriteKeepsTheLeadingLinesByteForByte) {
  // Mixed line ends, Latin-1 bytes and trailing blanks survive as they are.
  const std::string head = "set grid  \nset xlabel 'pressão (Pa)'\r\n\n\xe7\xe3o\r\n";
  spit("s.gnu", head + "plot 'old' using 1:2\r\nreplot\r\n");
  tx::rewrite_script("s.gnu", 4, "plot 'new'\r\n");
  EXPECT_EQ(read_file("s.gnu"), head + "plot 'new'\r\n");
  tx::rewrite_script("s.gnu", 4, "plot 'newer'\r\n");
  EXPECT_EQ(read_file("s.gnu"), head + "plot 'newer'\r\n");
  EXPECT_FALSE(fs::exists("s.gnu.tmp"));

  // An unterminated last kept line is ended before the program's lines.
  spit("t.gnu", "a\r\nb");
  tx::rewrite_script("t.gnu", 2, "c\r\n");
  EXPECT_EQ(read_file("t.gnu"), "a\r\nb\r\nc\r\n");

  spit("u.gnu", "a\r\nb\r\n");
  std::string msg = message_of([] { tx::rewrite_script("u.gnu", 3, "x\r\n"); });
  EXPECT_NE(msg.find("u.gnu"), std::string::npos);
  EXPECT_EQ(read_file("u.gnu"), "a\r\nb\r\n");  // untouched on error

  int status = 0;
  msg = message_of([] { tx::rewrite_script("nada.gnu", 6, "x\r\n"); }, &status);
  EXPECT_NE(msg.find("nada.gnu"), std::string::npos);
  EXPECT_EQ(status, tx::kExitInput);
  EXPECT_FALSE(fs::exists("nada.gnu"));
}

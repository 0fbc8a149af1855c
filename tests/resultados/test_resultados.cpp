#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <unistd.h>

#include "apoio/fixture.hpp"
#include "apoio/tmpdir.hpp"
#include "graficos/modelos.hpp"
#include "malha/malha.hpp"
#include "plataforma/plataforma.hpp"
#include "resultados/resultados.hpp"

namespace fs = std::filesystem;
using txtest::make_state;
using txtest::np_of;
using txtest::read_file;

namespace {

using txtest::lines_of;

// Numeric rows of a profile file (comment lines skipped).
std::vector<std::vector<double>> rows_of(const fs::path& p) {
  std::vector<std::vector<double>> rows;
  for (const auto& l : lines_of(read_file(p))) {
    if (l.empty() || l[0] == '#') continue;
    std::vector<double> r;
    const char* c = l.c_str();
    char* end = nullptr;
    for (double v = std::strtod(c, &end); end != c; v = std::strtod(c, &end)) {
      r.push_back(v);
      c = end;
    }
    rows.push_back(r);
  }
  return rows;
}

// Each test works in a scratch directory of its own, as a case directory.
class CaseDir : public ::testing::Test {
 protected:
  // Six-line stand-ins for the profile and residual templates.
  static void plain_templates() {
    for (const auto& t : tx::kTemplates) {
      std::ofstream o(t.name, std::ios::binary);
      for (int n = 1; n <= t.kept; ++n) o << "# setting " << n << "\r\n";
      o << "plot 'old' \r\n";
    }
  }
  txtest::ScratchDir scratch_;
};

// A smooth, non-uniform flow with every array the results step reads set,
// as the solver leaves it after the last iteration.
void set_flow(tx::State& s) {
  auto& c = s.c;
  auto& f = s.f;
  for (int i = 1; i <= c.nx; ++i)
    for (int j = 1; j <= c.ny; ++j) {
      const int np = np_of(s, i, j);
      f.u(np) = 100.0 * i + j;
      f.v(np) = 0.5 * j - 1.0;
      f.p(np) = 2.0e6 - 5.0e4 * i - 100.0 * j;
      f.T(np) = 2900.0 - 20.0 * i;
      f.ro(np) = f.p(np) / (c.Rg * f.T(np));
      f.roe(np) = f.ro(np);
      f.ron(np) = f.ro(np);
      f.Uce(np) = f.u(np) * f.ye(np);
      f.Vcn(np) = f.v(np) * f.xk(np);
      f.cp(np) = 1004.5;
    }
  for (int j = 1; j <= c.ny; ++j) {
    f.uin(j) = 90.0 + j;
    f.vin(j) = 0.0;
    f.pin(j) = 2.05e6 - j;
    f.Tin(j) = 2950.0 + j;
  }
  for (int i = 1; i <= c.nx; ++i) {
    f.u1D(i) = 100.0 * i;
    f.p1D(i) = 2.0e6 - 5.0e4 * i;
    f.T1D(i) = 2900.0 - 20.0 * i;
    f.M1D(i) = 0.1 * i;
  }
  s.r.fm1D = 50.0;
  s.r.Fd1D = 6.0e4;
  s.r.Fpv1D = 3.0e4;
  s.g.Sg = c.pi / 4.0;
}

std::string run_listing(tx::State& s) {
  s.io.listagem.open("teste.txt");
  tx::write_results(s);
  return read_file("teste.txt");
}

// ---------------------------------------------------------------------------
// Field printer

tx::State printer_state(int nx, int ny) {
  tx::State s;
  s.c.nx = nx;
  s.c.ny = ny;
  s.c.nxy = nx * ny;
  s.f.xp.assign(s.c.nxy);
  s.f.yp.assign(s.c.nxy);
  for (int np = 1; np <= s.c.nxy; ++np) {
    s.f.xp(np) = 0.25 * np;
    s.f.yp(np) = 0.5 * np;
  }
  return s;
}

std::string print_field(tx::State& s, const tx::Vec& field) {
  s.io.listagem.open("campo.txt");
  tx::write_field(s, field, s.c.ny, s.c.nx, s.c.nxy);
  s.io.listagem.close();
  return read_file("campo.txt");
}

std::string header_of(int from, int to) {
  std::string h = "i=";
  for (int i = from; i <= to; ++i) {
    std::string n = std::to_string(i);
    h += std::string(10 - n.size(), ' ') + n + "     ";
  }
  return h;
}

TEST_F(CaseDir, WriteFieldOneBlockBelowTenColumns) {
  auto s = printer_state(6, 3);
  tx::Vec f(18);
  for (int np = 1; np <= 18; ++np) f(np) = np;
  f(4) = 0.0;  // minimum twice: the lower index is reported
  f(9) = 0.0;
  f(10) = 50.0;  // maximum twice
  f(17) = 50.0;
  const std::string expected =
      "\r\n"
      "i=         1              2              3              4              5   "
      "           6     \r\n"
      "j=   3  1.3000000E+01  1.4000000E+01  1.5000000E+01  1.6000000E+01  5.0000000E+01"
      "  1.8000000E+01\r\n"
      "j=   2  7.0000000E+00  8.0000000E+00  0.0000000E+00  5.0000000E+01  1.1000000E+01"
      "  1.2000000E+01\r\n"
      "j=   1  1.0000000E+00  2.0000000E+00  3.0000000E+00  0.0000000E+00  5.0000000E+00"
      "  6.0000000E+00\r\n"
      "\r\n"
      "M\xednimo do campo:       0.0000000E+00 = valor       1.0000000E+00 = x       "
      "2.0000000E+00 = y\r\n"
      "\r\n"
      "M\xe1ximo do campo:       5.0000000E+01 = valor       2.5000000E+00 = x       "
      "5.0000000E+00 = y\r\n";
  EXPECT_EQ(print_field(s, f), expected);
}

TEST_F(CaseDir, WriteFieldSplitsIntoBlocksOfTen) {
  struct Case {
    int nx;
    std::vector<std::pair<int, int>> blocks;
  };
  for (const Case& k : {Case{12, {{1, 10}, {11, 12}}}, Case{25, {{1, 10}, {11, 20}, {21, 25}}},
                        Case{10, {{1, 10}}}}) {
    SCOPED_TRACE(k.nx);
    const int ny = 2;
    auto s = printer_state(k.nx, ny);
    tx::Vec f(k.nx * ny);
    for (int np = 1; np <= k.nx * ny; ++np) f(np) = -1.0 * np;
    const auto lines = lines_of(print_field(s, f));
    // Each block: empty line, header, ny rows; then min and max (2 lines each).
    ASSERT_EQ(lines.size(), k.blocks.size() * (2 + ny) + 4);
    std::size_t at = 0;
    for (const auto& [from, to] : k.blocks) {
      EXPECT_EQ(lines[at], "");
      EXPECT_EQ(lines[at + 1], header_of(from, to));
      const int w = to - from + 1;
      // North row first: j = 2 starts with the value of volume (from, 2).
      EXPECT_EQ(lines[at + 2].substr(0, 6), "j=   2");
      EXPECT_EQ(lines[at + 2].size(), 6u + 15u * w);
      EXPECT_DOUBLE_EQ(std::strtod(lines[at + 2].c_str() + 6, nullptr), -1.0 * (from + k.nx));
      EXPECT_EQ(lines[at + 3].substr(0, 6), "j=   1");
      EXPECT_DOUBLE_EQ(std::strtod(lines[at + 3].c_str() + 6 + 15 * (w - 1), nullptr),
                       -1.0 * to);
      at += 2 + ny;
    }
    // Minimum is the last volume, maximum the first.
    EXPECT_NE(lines[at + 1].find(" = valor"), std::string::npos);
    EXPECT_DOUBLE_EQ(std::strtod(lines[at + 1].c_str() + 21, nullptr), -1.0 * k.nx * ny);
    EXPECT_DOUBLE_EQ(std::strtod(lines[at + 3].c_str() + 21, nullptr), -1.0);
  }
}

// ---------------------------------------------------------------------------
// Global quantities

TEST(KliegelLevine, MatchesHandEvaluation) {
  // gama = 1.4, Rcag = 0.1: q1 = 2.4/1.21, q2 = -15.8/2534.4,
  // q3 = 4051.04; CdKL = 1 - (4051.04/334540.8 + 15.8/2534.4 + 1/96)*2.4/1.21,
  // evaluated in exact rational arithmetic.
  EXPECT_NEAR(tx::kliegel_levine_cd(1.4, 0.1), 0.94295509565982894, 2e-16);
  // Rcag = 1, gama = 1.2: q1 = 0.55, q2 = -17.4/4608, q3 = 3810.36,
  // CdKL = 1 - (3811.36/1105920 + 17.4/4608 + 1/96)*0.55.
  EXPECT_NEAR(tx::kliegel_levine_cd(1.2, 1.0), 0.99029902886284722, 2e-16);
}

TEST(IterationGlobals, StreamFunctionOnWallRowIsColumnFlow) {
  for (int coord : {1, 0}) {
    SCOPED_TRACE(coord);
    auto s = make_state(8, 4, coord);
    auto& f = s.f;
    // Row j carries j kg/s through every east face: a conserving field.
    double total = 0.0;
    for (int j = 2; j <= s.c.ny - 1; ++j) total += j;
    for (int i = 1; i <= s.c.nx; ++i)
      for (int j = 1; j <= s.c.ny; ++j) {
        const int np = np_of(s, i, j);
        f.roe(np) = 1.5 + 0.01 * i;
        f.Uce(np) = j / (2.0 * s.c.pi * f.re(np) * f.roe(np));
        f.u(np) = 300.0;
      }
    tx::compute_stream_function(s);
    for (int i = 1; i <= s.c.nx - 1; ++i) {
      EXPECT_EQ(f.psi(np_of(s, i, 1)), 0.0);
      EXPECT_NEAR(f.psi(np_of(s, i, s.c.ny - 1)), total, 1e-12 * total) << i;
      EXPECT_EQ(f.psi(np_of(s, i, s.c.ny)), 0.0);
    }
    for (int j = 1; j <= s.c.ny; ++j) EXPECT_EQ(f.psi(np_of(s, s.c.nx, j)), 0.0);

    tx::compute_iteration_globals(s);
    EXPECT_EQ(s.r.fme, f.psi(np_of(s, s.c.nx - 1, s.c.ny - 1)));
    EXPECT_NEAR(s.r.fmi, total, 1e-12 * total);
    EXPECT_NEAR(s.r.Fd, 300.0 * total, 1e-12 * 300.0 * total);
  }
}

TEST_F(CaseDir, IterationLineOfTheItnFile) {
  auto s = make_state(4, 2);
  set_flow(s);
  s.k.it = 7;
  s.io.itn.open("teste.itn");
  tx::write_iteration_globals(s);
  s.io.itn.close();
  const auto lines = lines_of(read_file("teste.itn"));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].size(), 8u + 2u + 3u * 24u);
  EXPECT_EQ(lines[0].substr(0, 8), "       7");
  const double ratio = std::strtod(lines[0].c_str() + 10, nullptr);
  EXPECT_NEAR(ratio, s.r.fmi / s.r.fme, 1e-14 * std::fabs(ratio));
}

// ---------------------------------------------------------------------------
// Boundary values for output

TEST(BoundaryValues, CornersAndFacesTakeBoundaryStates) {
  auto s = make_state(6, 3);
  set_flow(s);
  const auto before = s.f;
  tx::complete_boundary_values(s);
  const auto& f = s.f;
  const int nx = s.c.nx, ny = s.c.ny;
  // Corner (1, 1): inlet values of row 2, no v, node at the inlet on the axis.
  EXPECT_EQ(f.u(1), before.uin(2));
  EXPECT_EQ(f.p(1), before.pin(2));
  EXPECT_EQ(f.T(1), before.Tin(2));
  EXPECT_EQ(f.v(1), 0.0);
  EXPECT_EQ(f.xp(1), f.X(1));
  EXPECT_EQ(f.yp(1), f.Y(1));
  // Exit volumes: mean of the old value and the last real volume.
  for (int j = 2; j <= ny - 1; ++j) {
    const int np = j * nx;
    EXPECT_EQ(f.u(np), (before.u(np - 1) + before.u(np)) * 0.5);
    EXPECT_EQ(f.T(np), (before.T(np - 1) + before.T(np)) * 0.5);
    EXPECT_EQ(f.xp(np), 1.0);
  }
  // Corner (nx, 1) gets the exit-face values of row 2.
  EXPECT_EQ(f.p(nx), f.p(2 * nx));
  EXPECT_EQ(f.v(nx), 0.0);
  // Wall corners sit on the wall at the inlet and exit planes.
  EXPECT_EQ(f.xp((ny - 1) * nx + 1), 0.0);
  EXPECT_EQ(f.yp((ny - 1) * nx + 1), 0.75);
  EXPECT_EQ(f.xp(ny * nx), 1.0);
  EXPECT_EQ(f.yp(ny * nx), 0.75);
  // The wall corner (nx, ny) copies the exit-face value of the top real row.
  EXPECT_EQ(f.u(ny * nx), f.u((ny - 1) * nx));
  // Axis row: the first real row, v = 0.
  for (int i = 2; i <= nx - 1; ++i) {
    EXPECT_EQ(f.u(i), before.u(i + nx));
    EXPECT_EQ(f.v(i), 0.0);
    EXPECT_EQ(f.yp(i), 0.0);
  }
  // Nothing else is touched.
  EXPECT_EQ(f.ro, before.ro);
  EXPECT_EQ(f.Uce, before.Uce);
}

TEST(BoundaryValues, OneRealRowCopiedToAxisAndWall) {
  auto s = make_state(4, 1);
  set_flow(s);
  tx::complete_boundary_values(s);
  for (int i = 1; i <= s.c.nx; ++i) {
    EXPECT_EQ(s.f.u(np_of(s, i, 1)), s.f.u(np_of(s, i, 2)));
    EXPECT_EQ(s.f.u(np_of(s, i, 3)), s.f.u(np_of(s, i, 2)));
    EXPECT_EQ(s.f.p(np_of(s, i, 3)), s.f.p(np_of(s, i, 2)));
  }
}

// ---------------------------------------------------------------------------
// Results step

TEST_F(CaseDir, ListingBlocksInOrderWithExactLines) {
  plain_templates();
  auto s = make_state(4, 2);
  set_flow(s);
  s.k.it = 3;
  s.k.norm1 = 101325.0;
  s.k.tcpuo = 12.5;
  s.k.tcpu1 = 0.0;
  s.k.tcpu2 = 3.25;
  s.k.tcpu = 15.75;
  s.g.Rcag = 0.1;
  s.r.fme = 40.0;  // left by the last reported iteration
  const std::string out = run_listing(s);
  EXPECT_FALSE(s.io.listagem.is_open());

  const std::string norm =
      "\r\n     Norma L1 dos res\xed" "duos na itera\xe7\xe3o 1 =   1.013250E+05\r\n";
  EXPECT_EQ(out.substr(0, norm.size()), norm);
  const std::string kl =
      "\r\n *** Solu\xe7\xe3o anal\xedtica 2D ***\r\n\r\n"
      "    9.429550956598289E-01 = CdKL: coeficiente de descarga de Kliegel e Levine "
      "(adimensional)\r\n";
  const std::string cpu =
      "\r\n\r\n         12.50 = tcpuo: tempo de CPU (s) anterior acumulado deste caso\r\n"
      "          3.25 = dtcpu: tempo de CPU (s) da simula\xe7\xe3o atual\r\n"
      "         15.75 = tcpu:  tempo de CPU (s) total acumulado deste caso\r\n";
  const auto q1d = out.find("\r\n *** Solu\xe7\xe3o anal\xedtica do escoamento Q1D");
  const auto at_kl = out.find(kl);
  const auto n2d = out.find("\r\n *** Solu\xe7\xe3o num\xe9rica 2D ***\r\n\r\n"
                            "    4.000000000000000E+01 = fme: fluxo de massa (kg/s)\r\n");
  const auto eff = out.find("\r\n *** Efici\xeancias: solu\xe7\xe3o num\xe9rica 2D");
  ASSERT_NE(q1d, std::string::npos);
  ASSERT_NE(at_kl, std::string::npos);
  ASSERT_NE(n2d, std::string::npos);
  ASSERT_NE(eff, std::string::npos);
  EXPECT_EQ(q1d, norm.size());  // no field listing with w_cam = 0
  EXPECT_LT(q1d, at_kl);
  EXPECT_LT(at_kl, n2d);
  EXPECT_LT(n2d, eff);
  ASSERT_GE(out.size(), cpu.size());
  EXPECT_EQ(out.substr(out.size() - cpu.size()), cpu);
  // The Fo line appears in both the Q1D and the 2D block with the same value.
  const std::string fo = "    2.356194490192345E+06";
  EXPECT_NE(out.find(fo + " = Fo:    empuxo padr\xe3o (N)"), std::string::npos);
  EXPECT_NE(out.find(fo + " = Fo:  empuxo padr\xe3o (N)"), std::string::npos);
}

TEST_F(CaseDir, FieldListingsWhenAsked) {
  plain_templates();
  auto s = make_state(4, 2);
  set_flow(s);
  s.k.it = 1;
  s.c.w_cam = 1;
  const std::string out = run_listing(s);
  const auto lines = lines_of(out);
  int titles = 0, minima = 0;
  for (const auto& l : lines) {
    if (l.rfind(std::string(30, ' '), 0) == 0) ++titles;
    if (l.rfind("M\xednimo do campo:", 0) == 0) ++minima;
  }
  EXPECT_EQ(titles, 21);
  EXPECT_EQ(minima, 21);
  EXPECT_NE(out.find("          *** campos ***\r\n"), std::string::npos);
  const auto mach = out.find("M: n\xfamero de Mach (adimensional)");
  const auto dn = out.find("dn: coeficiente d do SIMPLEC na face norte (m4.s/kg)");
  const auto q1d = out.find("*** Solu\xe7\xe3o anal\xedtica do escoamento Q1D");
  EXPECT_LT(mach, dn);
  EXPECT_LT(dn, q1d);
}

TEST_F(CaseDir, NoIterationStillGivesFiniteResults) {
  plain_templates();
  auto s = make_state(4, 2);
  set_flow(s);
  s.k.it = 0;  // itmax = 0: the loop never ran
  s.k.it_ini = 1;
  s.r.fme = 0.0;
  const std::string out = run_listing(s);
  EXPECT_GT(s.r.fme, 0.0);
  EXPECT_GT(s.r.fmi, 0.0);
  EXPECT_EQ(out.find("NaN"), std::string::npos);
  EXPECT_EQ(out.find("Inf"), std::string::npos);
  EXPECT_EQ(out.find("***************"), std::string::npos);
  const std::string summary = read_file("teste.Extrapolix_3p0");
  EXPECT_EQ(summary.find("NaN"), std::string::npos);
  EXPECT_EQ(summary.find("Inf"), std::string::npos);
}

TEST_F(CaseDir, SummaryFileHasFourteenNumberedLines) {
  plain_templates();
  auto s = make_state(10, 2);
  set_flow(s);
  s.k.it = 1;
  run_listing(s);
  const auto lines = lines_of(read_file("teste.Extrapolix_3p0"));
  ASSERT_EQ(lines.size(), 14u);
  // 10 real columns over the 1 m nozzle.
  EXPECT_EQ(lines[0], "      1.000000000000000E-01 = h m\xe9" "dio em X (m)");
  const char* numbers[] = {" 1", " 2", " 3", " 4", " 5", " 6", " 7",
                           " 8", " 9", "10", "11", "12", "13"};
  for (int n = 0; n < 13; ++n) EXPECT_EQ(lines[n + 1].substr(0, 2), numbers[n]);
  EXPECT_EQ(lines[1].substr(27), " = coeficiente de descarga");
  EXPECT_EQ(lines[13].substr(27), " = impulso espec\xed" "fico no v\xe1" "cuo");
  // The discharge-coefficient ratio is fme / fm1D.
  EXPECT_NEAR(std::strtod(lines[1].c_str() + 2, nullptr), s.r.fme / s.r.fm1D,
              1e-14 * s.r.fme / s.r.fm1D);
}

TEST_F(CaseDir, CommandsInOrderAndListingClosedBeforeItsEditor) {
  plain_templates();
  auto s = make_state(4, 2);
  set_flow(s);
  s.k.it = 1;
  s.c.sem_a = 0;
  s.c.sem_g = 0;
  std::vector<std::string> cmds;
  std::vector<bool> open;
  s.os.run_command = [&](std::string_view c) {
    cmds.emplace_back(c);
    open.push_back(s.io.listagem.is_open());
    return 1;  // ignored
  };
  run_listing(s);
  const std::vector<std::string> expected = {
      "wgnuplot Tubrix_5p5_residuo.gnu",
      "notepad teste.itn",
      "notepad teste.txt",
      "notepad teste.Extrapolix_3p0",
      "wgnuplot Tubrix_5p5_velocidade_u.gnu",
      "wgnuplot Tubrix_5p5_velocidade_v.gnu",
      "wgnuplot Tubrix_5p5_pressao.gnu",
      "wgnuplot Tubrix_5p5_temperatura.gnu",
      "wgnuplot Tubrix_5p5_massa_especifica.gnu",
      "wgnuplot Tubrix_5p5_Mach.gnu",
      "wgnuplot Tubrix_5p5_empuxo.gnu",
      "wgnuplot Tubrix_5p5_campo.gnu"};
  EXPECT_EQ(cmds, expected);
  ASSERT_EQ(open.size(), expected.size());
  EXPECT_TRUE(open[1]);
  EXPECT_FALSE(open[2]);

  // Switched off: files still written, nothing started.
  auto t = make_state(4, 2);
  set_flow(t);
  t.k.it = 1;
  cmds.clear();
  t.os.run_command = [&](std::string_view c) {
    cmds.emplace_back(c);
    return 0;
  };
  t.io.listagem.open("teste.txt");
  tx::write_results(t);
  EXPECT_TRUE(cmds.empty());
}

TEST_F(CaseDir, SecondRunRewritesEveryFile) {
  plain_templates();
  const std::vector<std::string> files = {
      "teste.txt", "teste.Extrapolix_3p0", "teste.velocidade_u.dat",
      "teste.velocidade_v.dat", "teste.pressao.dat", "teste.temperatura.dat",
      "teste.massa_especifica.dat", "teste.Mach.dat", "teste.empuxo.dat",
      "Tubrix_5p5_velocidade_u.gnu", "Tubrix_5p5_empuxo.gnu", "Tubrix_5p5_residuo.gnu"};
  std::vector<std::string> first;
  for (int run = 0; run < 2; ++run) {
    auto s = make_state(4, 2);
    set_flow(s);
    s.k.it = 1;
    s.c.titulo = tx::padded("  Tubeira teste");  // leading blanks stay in these scripts
    run_listing(s);
    for (std::size_t n = 0; n < files.size(); ++n) {
      ASSERT_TRUE(fs::exists(files[n])) << files[n];
      if (run == 0)
        first.push_back(read_file(files[n]));
      else
        EXPECT_EQ(read_file(files[n]), first[n]) << files[n];
    }
  }
  // Scripts: the kept lines, then the program's lines; the old tail is gone.
  EXPECT_EQ(lines_of(read_file("Tubrix_5p5_velocidade_u.gnu")).size(), 6u + 5u);
  EXPECT_EQ(lines_of(read_file("Tubrix_5p5_empuxo.gnu")).size(), 6u + 7u);
  const auto res = lines_of(read_file("Tubrix_5p5_residuo.gnu"));
  ASSERT_EQ(res.size(), 6u + 3u);
  EXPECT_EQ(res[6], "plot 'teste.residuo.dat' using 1:2 notitle");
  EXPECT_EQ(res[7], "set title '  Tubeira teste'");
  EXPECT_EQ(res[8], "replot");
}

// ---------------------------------------------------------------------------
// Profiles

TEST_F(CaseDir, ProfilesRunFromInletToExitPlane) {
  plain_templates();
  auto s = make_state(8, 4);
  set_flow(s);
  s.k.it = 1;
  const auto before = s.f;
  run_listing(s);
  const int nx = s.c.nx, ny = s.c.ny;
  const auto u = rows_of("teste.velocidade_u.dat");
  ASSERT_EQ(u.size(), static_cast<std::size_t>(nx));
  for (const auto& r : u) ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(u.front()[0], 0.0);
  EXPECT_NEAR(u.back()[0], 1.0, 1e-15);
  // Inlet row: the inlet-face values of rows 2 (axis) and ny - 1 (wall).
  EXPECT_EQ(u.front()[1], before.u1D(1));
  EXPECT_EQ(u.front()[2], before.uin(2));
  EXPECT_EQ(u.front()[3], before.uin(ny - 1));
  // Exit row: interpolated to the exit face.
  const double exit_axis = (before.u(2 * nx - 1) + before.u(2 * nx)) * 0.5;
  const double exit_wall = (before.u((ny - 1) * nx - 1) + before.u((ny - 1) * nx)) * 0.5;
  EXPECT_NEAR(u.back()[2], exit_axis, 1e-13 * exit_axis);
  EXPECT_NEAR(u.back()[3], exit_wall, 1e-13 * exit_wall);

  const auto v = rows_of("teste.velocidade_v.dat");
  for (const auto& r : v) {
    EXPECT_EQ(r[1], 0.0);
    EXPECT_EQ(r[2], 0.0);
  }
  const auto ro = rows_of("teste.massa_especifica.dat");
  const int i = 3;
  EXPECT_NEAR(ro[i - 1][1], before.p1D(i) / (s.c.Rg * before.T1D(i)), 1e-13 * ro[i - 1][1]);
  EXPECT_NEAR(ro[i - 1][2], s.f.p(i) / (s.c.Rg * s.f.T(i)), 1e-13 * ro[i - 1][2]);
  const auto mach = rows_of("teste.Mach.dat");
  EXPECT_NEAR(mach[i - 1][2], s.f.M(i), 1e-14);
  EXPECT_NEAR(mach[i - 1][2],
              std::sqrt(s.f.u(i) * s.f.u(i) / (s.c.gama * s.c.Rg * s.f.T(i))), 1e-14);

  const auto head = lines_of(read_file("teste.pressao.dat"));
  EXPECT_EQ(head[0], "### PRESS\xc3O (Pa) ###");
  // Column titles start in columns 4, 28, 52 and 76.
  EXPECT_EQ(head[1], "#  x (m)" + std::string(19, ' ') + "1D" + std::string(22, ' ') + "centro" +
                         std::string(18, ' ') + "parede");
}

TEST_F(CaseDir, RowSelectionByWg) {
  plain_templates();
  struct Case {
    int w_g;
    std::vector<int> columns, thrust;
  };
  // 20 real columns: nx = 22, ig = 11.
  const Case cases[] = {
      {1, {}, {}},
      {5, {1, 5, 10, 15, 20, 22}, {12, 15, 20, 22}},
      {40, {1, 22}, {12, 22}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.w_g);
    auto s = make_state(20, 2);
    set_flow(s);
    s.k.it = 1;
    s.c.w_g = k.w_g;
    run_listing(s);
    ASSERT_EQ(s.g.ig, 11);
    auto cols = k.columns, thr = k.thrust;
    if (k.w_g == 1) {
      for (int i = 1; i <= 22; ++i) cols.push_back(i);
      for (int i = 12; i <= 22; ++i) thr.push_back(i);
    }
    for (const char* name : {"teste.velocidade_u.dat", "teste.pressao.dat", "teste.Mach.dat"}) {
      const auto rows = rows_of(name);
      ASSERT_EQ(rows.size(), cols.size()) << name;
      for (std::size_t n = 0; n < cols.size(); ++n)
        EXPECT_NEAR(rows[n][0], s.f.xp(cols[n]), 1e-15) << name;
    }
    const auto rows = rows_of("teste.empuxo.dat");
    ASSERT_EQ(rows.size(), thr.size());
    for (std::size_t n = 0; n < thr.size(); ++n) {
      ASSERT_EQ(rows[n].size(), 6u);
      EXPECT_NEAR(rows[n][0], s.f.xp(thr[n]), 1e-5 * std::fabs(s.f.xp(thr[n])));
    }
  }
}

TEST_F(CaseDir, LastThrustRowIsTheExitFace) {
  plain_templates();
  for (int coord : {1, 0}) {
    SCOPED_TRACE(coord);
    auto s = make_state(10, 6, coord);
    set_flow(s);
    s.k.it = 1;
    // Uniform state: the exit-face values equal the volume values.
    const double U = 2000.0, P = 2.0e5, Tm = 1500.0;
    s.f.u.fill(U);
    s.f.v.fill(0.0);
    s.f.p.fill(P);
    s.f.T.fill(Tm);
    s.f.uin.fill(U);
    s.f.pin.fill(P);
    s.f.Tin.fill(Tm);
    run_listing(s);
    const double ro = P / (s.c.Rg * Tm);
    const double r_ex = 0.75;
    // Momentum and pressure through the exit section: a disc of radius r_ex
    // when axisymmetric; 2 pi times the half-channel height when planar.
    const double area = coord == 1 ? s.c.pi * r_ex * r_ex : 2.0 * s.c.pi * r_ex;
    const auto rows = rows_of("teste.empuxo.dat");
    const auto& last = rows.back();
    EXPECT_NEAR(last[0], 1.0, 1e-15);
    EXPECT_NEAR(last[1], area * U * U * ro, 1e-5 * area * U * U * ro);
    EXPECT_NEAR(last[2], area * (P - 101325.0), 1e-5 * area * P);
    EXPECT_NEAR(last[3], area * P, 1e-5 * area * P);
    EXPECT_NEAR(last[4], last[1] + last[2], 1e-5 * last[4]);
    EXPECT_NEAR(last[5], last[1] + last[3], 1e-5 * last[5]);
  }
}

// ---------------------------------------------------------------------------
// Generated scripts in the real plotting program

TEST_F(CaseDir, ScriptsRenderWithGnuplot) {
  if (std::system("gnuplot --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no gnuplot";
  const fs::path templates = fs::path(TUBRIX_SOURCE_DIR) / "templates";
  for (const auto& t : tx::kTemplates)
    if (!fs::exists(templates / t.name)) GTEST_SKIP() << "template missing: " << t.name;
  for (const auto& t : tx::kTemplates) fs::copy_file(templates / t.name, t.name);
  auto s = make_state(10, 4);
  set_flow(s);
  s.k.it = 1;
  s.c.titulo = tx::padded("Tubeira d'\xe1gua");  // an apostrophe in the title
  s.c.caso = tx::padded("caso'1");               // and in the case name
  // The residual file of the loop.
  {
    std::ofstream r("caso'1.residuo.dat", std::ios::binary);
    r << "# Itera\xe7\xe3o   L1(R)n / L1(R)1\r\n"
      << "         1   1.000000E+00\r\n         2   5.000000E-01\r\n";
  }
  s.io.listagem.open("caso'1.txt");
  tx::write_results(s);
  const char* scripts[] = {"Tubrix_5p5_residuo.gnu",     "Tubrix_5p5_velocidade_u.gnu",
                           "Tubrix_5p5_velocidade_v.gnu", "Tubrix_5p5_pressao.gnu",
                           "Tubrix_5p5_temperatura.gnu", "Tubrix_5p5_massa_especifica.gnu",
                           "Tubrix_5p5_Mach.gnu",        "Tubrix_5p5_empuxo.gnu",
                           "Tubrix_5p5_campo.gnu"};
  // Started as the program starts gnuplot, with LC_ALL naming a locale
  // without the degree sign: no warning either.
  const char* lc_all = std::getenv("LC_ALL");
  const bool had_lc_all = lc_all != nullptr;
  const std::string old_lc_all = had_lc_all ? lc_all : "";
  setenv("LC_ALL", "C", 1);
  for (const char* script : scripts) {
    SCOPED_TRACE(script);
    fs::remove("x.png");
    const std::string cmd = std::string("gnuplot -e \"set terminal png; set output 'x.png'\" ") +
                            script + " > gnuplot.log 2>&1";
    EXPECT_EQ(tx::run_command(cmd), 0) << read_file("gnuplot.log");
    EXPECT_TRUE(fs::exists("x.png") && fs::file_size("x.png") > 0);
    EXPECT_EQ(read_file("gnuplot.log").find("warning"), std::string::npos) << read_file("gnuplot.log");
  }
  if (had_lc_all)
    setenv("LC_ALL", old_lc_all.c_str(), 1);
  else
    unsetenv("LC_ALL");
}

}  // namespace

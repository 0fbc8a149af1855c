// Grid-refinement extrapolation: exact power-law data, data that allow no
// order, the two-grid path, and bad summary files.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "extrapolacao/extrapolacao.hpp"
#include "extrapolacao/relatorio.hpp"
#include "arquivos/layout.hpp"
#include "apoio/tmpdir.hpp"

namespace {

using tx::Convergence;
using txtest::read_file;
using txtest::ScratchDir;
using txtest::write_file;

std::vector<double> power_law(const std::vector<double>& h, double phi0, double c, double p) {
  std::vector<double> phi;
  for (double x : h) phi.push_back(phi0 + c * std::pow(x, p));
  return phi;
}

// phi = phi0 + C h^p is recovered from the three finest grids and, with four
// or more, by the least-squares fit, for constant and varying ratios (among
// them r32 > r21^2, where the fixed-point iteration does not contract, and a
// small r32, where |eps32| < |eps21| although the data converge).
TEST(Extrapolation, RecoversExactPowerLaw) {
  const std::vector<std::vector<double>> spacings = {
      {0.01, 0.02, 0.04, 0.08, 0.16},
      {0.01, 0.015, 0.027, 0.04, 0.07},
      {0.01, 0.011, 0.04},
      {0.01, 0.02, 0.024},
  };
  for (const auto& hs : spacings) {
    for (double p : {0.8, 1.0, 1.7, 2.0}) {
      for (std::size_t n = 3; n <= hs.size(); ++n) {
        const std::vector<double> h(hs.begin(), hs.begin() + static_cast<std::ptrdiff_t>(n));
        const double phi0 = 0.95, c = -3.0;
        const auto phi = power_law(h, phi0, c, p);
        const tx::Extrapolation x = tx::extrapolate(h, phi, 2.0);
        SCOPED_TRACE("h1 = " + std::to_string(h[1]) + ", p = " + std::to_string(p) +
                     ", grids = " + std::to_string(n));
        EXPECT_EQ(x.kind, Convergence::Monotonic);
        EXPECT_NEAR(x.p, p, 1e-10);
        EXPECT_NEAR(x.phi_ext, phi0, 1e-10);
        // Exact data: the extrapolated error is the true one, and GCI its 1.25-fold.
        EXPECT_NEAR(x.e_ext, std::fabs((phi0 - phi[0]) / phi0), 1e-10);
        EXPECT_NEAR(x.gci, 1.25 * std::fabs((phi[0] - phi0) / phi[0]), 1e-10);
        EXPECT_NEAR(x.asymptotic, phi[0] / phi[1], 1e-9);
        if (n >= 4) {
          EXPECT_NEAR(x.p_fit, p, 1e-10);
          EXPECT_NEAR(x.phi0_fit, phi0, 1e-10);
          EXPECT_NEAR(x.alpha_fit, c, 1e-8);
        } else {
          EXPECT_TRUE(std::isnan(x.p_fit));
        }
      }
    }
  }
}

TEST(Extrapolation, DataWithoutAnOrder) {
  const std::vector<double> h = {0.01, 0.02, 0.04};
  struct Case {
    std::vector<double> phi;
    Convergence kind;
  };
  const Case cases[] = {
      {{1.0, 1.1, 0.95}, Convergence::Oscillatory},
      {{1.0, 0.9, 1.05}, Convergence::Oscillatory},
      // Differences growing towards the fine grid: monotonic divergence,
      // whatever the absolute value in the order equation would suggest.
      {{1.0, 1.1, 1.15}, Convergence::Divergent},
      {{1.0, 1.1, 1.2}, Convergence::Divergent},
      {{1.0, 1.0, 1.2}, Convergence::EqualValues},
      {{1.0, 1.2, 1.2}, Convergence::EqualValues},
  };
  for (const Case& k : cases) {
    const tx::Extrapolation x = tx::extrapolate(h, k.phi, 2.0);
    EXPECT_EQ(x.kind, k.kind) << k.phi[1];
    EXPECT_TRUE(std::isnan(x.p));
    EXPECT_TRUE(std::isnan(x.phi_ext));
    EXPECT_TRUE(std::isnan(x.gci));
  }
  // eps32/eps21 = 1.5 converges at a constant ratio 2, but not when the
  // fine step is small beside the coarse one (r32 >= r21^1.5).
  const tx::Extrapolation d = tx::extrapolate({0.01, 0.02, 0.04}, {1.0, 1.1, 1.25}, 2.0);
  EXPECT_EQ(d.kind, Convergence::Monotonic);
  const tx::Extrapolation e = tx::extrapolate({0.01, 0.012, 0.024}, {1.0, 1.1, 1.25}, 2.0);
  EXPECT_EQ(e.kind, Convergence::Divergent);
  EXPECT_TRUE(std::isnan(e.p));

  const tx::Extrapolation c = tx::extrapolate(h, {1.5, 1.5, 1.5}, 2.0);
  EXPECT_EQ(c.kind, Convergence::Constant);
  EXPECT_EQ(c.phi_ext, 1.5);
  EXPECT_EQ(c.gci, 0.0);
}

TEST(Extrapolation, TwoGridsUseTheAssumedOrder) {
  const std::vector<double> h = {0.01, 0.015};
  const auto phi = power_law(h, 2.0, 5.0, 1.5);
  const tx::Extrapolation x = tx::extrapolate(h, phi, 1.5);
  EXPECT_EQ(x.kind, Convergence::AssumedOrder);
  EXPECT_EQ(x.p, 1.5);
  EXPECT_NEAR(x.phi_ext, 2.0, 1e-12);
  // Safety factor 3 for an order that was not observed.
  const double rp = std::pow(1.5, 1.5);
  EXPECT_NEAR(x.gci, 3.0 * std::fabs((phi[0] - phi[1]) / phi[0]) / (rp - 1.0), 1e-14);
  // The default order 2 extrapolates this p = 1.5 data short of 2.0.
  const tx::Extrapolation y = tx::extrapolate(h, phi, 2.0);
  EXPECT_GT(std::fabs(y.phi_ext - 2.0), 1e-4);
}

// A summary file as the program writes it.
std::string summary(double h, double first = 0.95, const char* label1 = "coeficiente de descarga") {
  std::string t = tx::format_record("(2X,1P,E25.15,' = h médio em X (m)')", {h});
  for (int q = 1; q <= 13; ++q) {
    char num[4];
    std::snprintf(num, sizeof num, "%2d", q);
    const std::string label = q == 1 ? label1 : "grandeza " + std::to_string(q);
    t += tx::format_record("(A,1P,E25.15,' = ',A)",
                           {std::string(num), q == 1 ? first : 1.0 + 0.01 * q * h, label});
  }
  return t;
}

TEST(Extrapolation, FilesInAnyOrderAndBadInput) {
  ScratchDir dir;
  write_file("a", summary(0.02, 0.97));
  write_file("b", summary(0.01, 0.96));
  write_file("c", summary(0.04, 0.99));
  const tx::GridStudy g = tx::extrapolate_files({"a", "b", "c"}, 2.0);
  ASSERT_EQ(g.grids.size(), 3u);
  EXPECT_EQ(g.grids[0].path, "b");
  EXPECT_EQ(g.grids[2].path, "c");
  EXPECT_EQ(g.results.size(), 13u);
  EXPECT_EQ(g.results[0].kind, Convergence::Monotonic);

  std::string cut = summary(0.08);
  cut.resize(cut.find("\r\n 9 ") + 2);
  std::string bad_value = summary(0.08);
  bad_value.replace(bad_value.find("9.5"), 3, "9,5");
  write_file("cortado", cut);
  write_file("valor", bad_value);
  write_file("mesmo_h", summary(0.02));
  write_file("outra", summary(0.08, 0.95, "empuxo"));
  namespace fs = std::filesystem;
  write_file("alvo", "alvo\n");
  struct Case {
    std::vector<std::string> args;
    const char* expect;
    std::function<void()> make = [] {};
  };
  const Case cases[] = {
      {{"a"}, "pelo menos dois"},
      {{"a", "nenhum"}, "\"nenhum\""},
      {{"a", "cortado"}, "\"cortado\", linha 10"},
      {{"a", "valor"}, "\"valor\", linha 2"},
      {{"a", "mesmo_h"}, "\"mesmo_h\", linha 1"},
      {{"a", "outra"}, "\"outra\", linha 2"},
      {{"a", "b", "--ordem", "0"}, "--ordem"},
      // no order that overflows or cancels, no unknown option with the usage
      {{"a", "b", "--ordem", "1e300"}, "--ordem"},
      {{"a", "b", "--ordem", "1e-300"}, "--ordem"},
      {{"a", "b", "--xyz"}, "\"--xyz\"; tubrix-extrapola --help"},
      // only regular files are read, and only so far
      {{"a", "fila"}, "\"fila\"", [] { ::mkfifo("fila", 0644); }},
      {{"a", "grande"}, "\"grande\"", [] { write_file("grande", std::string(70000, ' ')); }},
      // outputs checked before anything is written; links never followed
      {{"a", "b"}, "\"estudo.gnu\"", [] { fs::create_directory("estudo.gnu"); }},
      {{"a", "b"}, "\"estudo.txt.tmp\"", [] { fs::create_symlink("alvo", "estudo.txt.tmp"); }},
      {{"a", "b"}, "\"estudo.png\"", [] { fs::create_symlink("nada", "estudo.png"); }},
  };
  for (const Case& k : cases) {
    k.make();
    const auto before = txtest::snapshot();
    std::string cmd = std::string("'") + TUBRIX_EXTRAPOLA_EXE + "'";
    for (const auto& a : k.args) cmd += " '" + a + "'";
    const int st = std::system((cmd + " >out.log 2>err.log").c_str());
    EXPECT_EQ(WEXITSTATUS(st), 1) << k.expect;
    const std::string err = read_file("err.log");
    EXPECT_NE(err.find(k.expect), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(read_file("out.log"), "");
    EXPECT_TRUE(txtest::snapshot() == before) << k.expect;
    for (const char* made : {"fila", "grande", "estudo.gnu", "estudo.txt.tmp", "estudo.png"})
      fs::remove_all(made);
  }

  // Values at the ends of the double range: what cannot be formed is "-",
  // never an infinity, and no zero GCI is claimed.
  const auto extreme = [](double h, const char* v) {
    std::string t = summary(h, 1.5);
    return t.replace(t.find("1.500000000000000E+00"), 21, v);
  };
  write_file("x1", extreme(0.01, "1.7E+308"));
  write_file("x2", extreme(0.02, "-1.7E+308"));
  const tx::GridStudy x = tx::extrapolate_files({"x1", "x2"}, 2.0);
  EXPECT_TRUE(std::isnan(x.results[0].e_a));
  EXPECT_TRUE(std::isnan(x.results[0].gci));
  const std::string cmd = std::string("'") + TUBRIX_EXTRAPOLA_EXE + "' --ordem 10 x1 x2";
  EXPECT_EQ(WEXITSTATUS(std::system((cmd + " >out.log 2>err.log").c_str())), 0)
      << read_file("err.log");
  for (const std::string& out : {read_file("out.log"), read_file("estudo.txt")})
    for (const char* bad : {"INF", "inf", "NAN", "nan"})
      EXPECT_EQ(out.find(bad), std::string::npos) << out;
}

}  // namespace

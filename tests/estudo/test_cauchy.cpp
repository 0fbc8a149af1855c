// The study's Cauchy rule: following caso.itn as it grows, the iteration
// error estimate, a whole study stopped by the rule and resumed without it,
// and the arguments it refuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "apoio/caso.hpp"
#include "apoio/tmpdir.hpp"
#include "estudo/cauchy.hpp"

namespace {

using txtest::read_file;
using txtest::ScratchDir;
using txtest::write_file;

std::string itn_line(int it, double fm, double fd) {
  char buf[128];
  std::snprintf(buf, sizeof buf, "%8d  %24.15E%24.15E%24.15E\r\n", it, 1.0, fm, fd);
  return buf;
}

// A line being written is no value until its line end is there; a file
// written over from its start is a new history.
TEST(Cauchy, FollowsTheFileLineByLine) {
  ScratchDir dir;
  std::string text =
      "Itera\xE7\xE3o     fmi / fme               fme / fm1D              Fd / Fd1D\r\n";
  for (int it = 100; it <= 1000; it += 100) text += itn_line(it, 0.95, 0.85 + 1e-7 * it / 1000);
  write_file("caso.itn", text);
  tx::ItnFollower f("caso.itn");
  ASSERT_TRUE(f.poll());
  ASSERT_EQ(f.samples().size(), 10u);
  EXPECT_TRUE(tx::settled(f.samples(), 500, 1e-5));
  EXPECT_FALSE(tx::settled(f.samples(), 1000, 1e-5));  // the window is not covered
  EXPECT_FALSE(tx::settled(f.samples(), 500, 1e-8));

  const std::string next = itn_line(1100, 0.5, 0.85);
  write_file("caso.itn", text + next.substr(0, 40));  // cut inside the second number
  ASSERT_TRUE(f.poll());
  EXPECT_EQ(f.samples().size(), 10u);
  EXPECT_TRUE(tx::settled(f.samples(), 500, 1e-5));
  write_file("caso.itn", text + next);
  ASSERT_TRUE(f.poll());
  ASSERT_EQ(f.samples().size(), 11u);
  EXPECT_EQ(f.samples().back().it, 1100);
  EXPECT_FALSE(tx::settled(f.samples(), 500, 1e-5));

  write_file("caso.itn", text.substr(0, text.find('\n') + 1) + itn_line(1, 0.9, 0.8));
  ASSERT_TRUE(f.poll());
  ASSERT_EQ(f.samples().size(), 1u);
  EXPECT_EQ(f.samples().front().it, 1);
  EXPECT_FALSE(tx::ItnFollower("missing.itn").poll());
}

// What the run keeps of its history (the lines a later window can look at)
// answers as the whole history does; the variable that asks a run for the
// rule reads back the study's EPS exactly.
TEST(Cauchy, RunKeepsTheWindowAndReadsTheVariable) {
  std::vector<tx::ItnSample> whole, kept;
  for (int it = 1; it <= 3000; it += (it % 7) + 1) {
    const tx::ItnSample s{it, 1.0, 0.95 + 1e-3 * std::pow(0.998, it) * std::cos(it * 0.01), 0.85};
    whole.push_back(s);
    tx::add_itn_sample(kept, s);
    tx::drop_before_window(kept, 400);
    ASSERT_EQ(tx::settled(kept, 400, 1e-5), tx::settled(whole, 400, 1e-5)) << it;
  }
  EXPECT_TRUE(tx::settled(whole, 400, 1e-5));
  EXPECT_LT(kept.size(), 200u);

  tx::CauchyRule r;
  r.eps = 0.1 * 3;  // not the double 0.3
  r.window = 500;
  r.history = "bocal 40x20.historico";
  setenv(tx::kCauchyVariable, tx::cauchy_variable_value(r).c_str(), 1);
  const tx::CauchyRule back = tx::cauchy_rule_from_environment();
  EXPECT_EQ(back.eps, r.eps);
  EXPECT_EQ(back.window, 500);
  EXPECT_EQ(back.history, r.history);
  setenv(tx::kCauchyVariable, "", 1);
  EXPECT_EQ(tx::cauchy_rule_from_environment().eps, 0.0);
  unsetenv(tx::kCauchyVariable);
}

// A geometric history phi = phi_inf + A rho^it gives its own error back;
// one that does not decay (oscillating, or growing) gives the spread of its
// window, said to be so.
TEST(Cauchy, IterationErrorOfAKnownHistory) {
  struct Case {
    const char* what;
    double rho;  // per iteration; negative: alternating
    double amplitude;
    bool geometric;
  };
  for (const Case& c : {Case{"decaying", 0.999, 1e-3, true}, Case{"alternating", -1.0, 1e-6, false},
                        Case{"growing", 1.0005, 1e-6, false}}) {
    SCOPED_TRACE(c.what);
    std::vector<int> it;
    std::vector<double> phi;
    const double phi_inf = 0.95;
    auto value = [&](int k) { return phi_inf + c.amplitude * std::pow(c.rho, k); };
    for (int k = 10; k <= 3000; k += 10) {
      it.push_back(c.rho < 0 ? k / 10 : k);  // alternating: consecutive iterations
      phi.push_back(value(it.back()));
    }
    const int window = c.rho < 0 ? 99 : 1000;
    const tx::IterationError e = tx::iteration_error(it, phi, window);
    EXPECT_EQ(e.geometric, c.geometric);
    const double last = phi.back();
    double expected = std::fabs(last - phi_inf) / last;
    if (!c.geometric) {
      double lo = last, hi = last;
      for (std::size_t k = 0; k < it.size(); ++k)
        if (it[k] >= it.back() - window) lo = std::min(lo, phi[k]), hi = std::max(hi, phi[k]);
      expected = (hi - lo) / last;
    }
    EXPECT_NEAR(e.value, expected, 1e-6 * expected);
  }
  // Quantities 1, 2 and 9 (the reciprocal of 1) follow from caso.itn; the
  // rest depend on the exit pressure.
  std::vector<tx::ItnSample> h;
  for (int k = 10; k <= 3000; k += 10)
    h.push_back({k, 1.0, 0.95 + 1e-3 * std::pow(0.999, k), 0.85 + 1e-4 * std::pow(0.998, k)});
  const auto q = tx::quantity_errors(h, 1000);
  ASSERT_EQ(q.size(), 13u);
  EXPECT_NEAR(q[0].value, 1e-3 * std::pow(0.999, 3000) / h.back().fm, 1e-9);
  EXPECT_NEAR(q[1].value, 1e-4 * std::pow(0.998, 3000) / h.back().fd, 1e-9);
  EXPECT_NEAR(q[8].value, q[0].value, 1e-3 * q[0].value);
  for (int k : {2, 3, 4, 5, 6, 7, 9, 10, 11, 12}) EXPECT_TRUE(std::isnan(q[k].value)) << k;
}

int run_study(const std::string& args, const std::string& out, const std::string& err) {
  const std::string cmd = std::string("TUBRIX_TEMPLATES='") + TUBRIX_SOURCE_DIR +
                          "/templates' '" + TUBRIX_ESTUDO_EXE + "' " + args + " >" + out +
                          " 2>" + err;
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Stopped by the rule before tole: marked so in the report with its
// iteration, restart file kept; the same rule again leaves it; without the
// rule it goes on from its restart file.
TEST(Cauchy, StudyStopsSettledGridsAndResumesWithoutTheRule) {
  ScratchDir dir;
  txtest::CaseFile cf;
  cf.nx = 20;
  cf.ny = 8;
  cf.tole = "1.0e-6";
  cf.itmax = 3000;
  cf.write();
  const std::string grids = "--malhas 10x4,20x8,40x16 -j 2";
  ASSERT_EQ(run_study(grids + " --cauchy 1e-5", "out1.log", "err1.log"), 0)
      << read_file("err1.log");
  const std::string status = read_file("40x16/caso_40x16.estudo");
  ASSERT_NE(status.find("situa\xE7\xE3o = convergiu (Cauchy)"), std::string::npos) << status;
  // The cores the coarser runs left went to the finest; the grant is gone.
  if (std::getenv("TUBRIX_THREADS") == nullptr && std::thread::hardware_concurrency() >= 2) {
    EXPECT_NE(read_file("out1.log").find("[40x16] usa agora "), std::string::npos);
  }
  for (const char* g : {"10x4", "20x8", "40x16"})
    EXPECT_FALSE(std::filesystem::exists(std::string(g) + "/tubrix.nucleos"));
  EXPECT_NE(status.find("Cauchy EPS = 1e-05"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists("40x16/caso_40x16.bin"));
  std::smatch m;
  ASSERT_TRUE(std::regex_search(status, m, std::regex("itera\xE7\xF5" "es = (\\d+)")));
  const int stopped = std::stoi(m[1]);
  EXPECT_LT(stopped, 6000);  // itmax of 40x16
  const std::string txt = read_file("estudo.txt");
  EXPECT_TRUE(std::regex_search(txt, std::regex("40x16 .* " + std::to_string(stopped) +
                                                " .*convergiu \\(Cauchy\\)")));
  EXPECT_NE(txt.find("Malha 40x16: convergiu pela regra de Cauchy na itera\xE7\xE3o " +
                     std::to_string(stopped)),
            std::string::npos);
  // The iteration error of quantity 1 on every grid, beside the GCI.
  EXPECT_TRUE(std::regex_search(
      txt, std::regex("\r\n  1  coeficiente de descarga( +[0-9.]+E-[0-9]+[gv]){3} +[0-9.]+E-")))
      << txt;

  ASSERT_EQ(run_study(grids + " --cauchy 1e-5", "out2.log", "err2.log"), 0);
  EXPECT_EQ(read_file("out2.log").find("[40x16] "), std::string::npos);

  ASSERT_EQ(run_study(grids, "out3.log", "err3.log"), 0) << read_file("err3.log");
  const std::string out = read_file("out3.log");
  EXPECT_NE(out.find("[40x16] continua da iteração " + std::to_string(stopped)),
            std::string::npos)
      << out;
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(\[40x16\] Fim: (\d+) iterações)")));
  EXPECT_GT(std::stoi(m[1]), stopped);
}

// Each refused argument: one line naming it, exit 1, nothing written.
TEST(Cauchy, RefusesBadArguments) {
  ScratchDir dir;
  txtest::CaseFile().write();
  for (const char* args : {"--cauchy abc", "--cauchy 0", "--cauchy 1", "--cauchy -1e-3",
                           "--cauchy nan", "--cauchy 1e-5x", "--cauchy",
                           "--cauchy 1e-5 --janela 0", "--janela 2.5", "--janela -3"}) {
    SCOPED_TRACE(args);
    const std::string arg = std::string(args).find("janela") != std::string::npos ? "--janela"
                                                                                    : "--cauchy";
    EXPECT_EQ(run_study(std::string("--malhas 10x4,20x8 ") + args, "/dev/null", "err.log"), 1);
    const std::string err = read_file("err.log");
    EXPECT_EQ(err.rfind("Erro no argumento " + arg + ":", 0), 0u) << err;
    EXPECT_EQ(err.find('\n'), err.size() - 1) << err;
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("."))
      names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"Tubrix_5p5.ent", "Tubrix_5p5.in", "caso.dat",
                                                "err.log"}));
  }
}

}  // namespace

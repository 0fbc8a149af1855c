// The run's stop by the Cauchy rule a study asks for (TUBRIX_CAUCHY): where
// it stops, with and without the study's earlier history, and a bad value.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "apoio/caso.hpp"
#include "apoio/tmpdir.hpp"

namespace {

using txtest::CaseFile;
using txtest::read_file;
using txtest::reported_iterations;
using txtest::run_tubrix;
using txtest::ScratchDir;

// The Cauchy rule a study asks for (TUBRIX_CAUCHY = "EPS N [HISTORY]"): the
// run stops at the first caso.itn line whose window of N iterations has
// settled, as on Ctrl-C (restart file and results) but finished, status 0,
// with its own console line. Continued from its restart file, it judges
// the history file's lines before its first iteration with its own: here
// EPS is loose, so the window's length alone decides where it stops. A bad
// value is bad input: one message naming the variable, nothing written.
TEST(CauchyRun, StopsTheRunAndJudgesTheEarlierHistory) {
  ScratchDir dir;
  CaseFile cf;
  cf.itmax = 3000;
  cf.tole = "1.0e-30";
  cf.w_r = 5;
  const auto run_with = [](const char* rule) {
    setenv("TUBRIX_CAUCHY", rule, 1);
    const int st = run_tubrix("../stdout.log", "../stderr.log");
    unsetenv("TUBRIX_CAUCHY");
    return st;
  };
  std::filesystem::create_directory("caso");
  std::filesystem::current_path("caso");
  cf.write();
  for (const char* bad : {"1 500", "1e-5", "1e-5 0", "1e-5 2.5 h", "abc 500"}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(run_with(bad), 1);
    const std::string err = read_file("../stderr.log");
    EXPECT_EQ(err.rfind("Erro na vari\u00e1vel de ambiente TUBRIX_CAUCHY = \"" +
                            std::string(bad) + "\"",
                        0),
              0u)
        << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(read_file("../stdout.log"), "");
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(".")) files += !e.path().empty();
    EXPECT_EQ(files, 3u);  // the case's own
  }
  const auto stopped_at = [](int it) {
    return "Regra de Cauchy: parada na itera\u00e7\u00e3o " + std::to_string(it) + ";";
  };
  // Lines at 1, 5, 10, ...: the window first covered at 65.
  ASSERT_EQ(run_with("0.5 60"), 0) << read_file("../stderr.log");
  std::string out = read_file("../stdout.log");
  EXPECT_NE(out.find("Fim: 65 itera"), std::string::npos) << out;
  EXPECT_NE(out.find(stopped_at(65)), std::string::npos) << out;
  EXPECT_EQ(out.find("n\u00e3o atingida"), std::string::npos) << out;
  EXPECT_EQ(read_file("../stderr.log"), "");
  EXPECT_TRUE(std::filesystem::exists("caso.bin"));
  EXPECT_TRUE(std::filesystem::exists("caso.Extrapolix_3p0"));
  EXPECT_EQ(reported_iterations(read_file("caso.residuo.dat")).back(), 65);

  // Continued from iteration 65: alone its lines cover the window at 130;
  // with the earlier history (a line past 65 there is not this run's) at 70.
  txtest::write_file("historico.itn", read_file("caso.itn") + "     100  1.0 2.0 2.0\r\n");
  std::filesystem::copy_file("caso.bin", "caso.bin.65");
  cf.ci = 2;
  cf.write();
  ASSERT_EQ(run_with("5e-1 60"), 0) << read_file("../stderr.log");
  EXPECT_NE(read_file("../stdout.log").find(stopped_at(130)), std::string::npos);
  std::filesystem::copy_file("caso.bin.65", "caso.bin",
                             std::filesystem::copy_options::overwrite_existing);
  ASSERT_EQ(run_with("0.5 60 historico.itn"), 0) << read_file("../stderr.log");
  EXPECT_NE(read_file("../stdout.log").find(stopped_at(70)), std::string::npos)
      << read_file("../stdout.log");
  // Blank: no rule (tole and itmax alone).
  cf.ci = 1;
  cf.itmax = 40;
  cf.write();
  ASSERT_EQ(run_with(" "), 0);
  EXPECT_NE(read_file("../stdout.log").find("Fim: 40 itera"), std::string::npos);
}

}  // namespace

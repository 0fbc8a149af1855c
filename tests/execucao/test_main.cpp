// The run driver: time-step ramp, report selection, stop rule, the listing
// up to the loop, bad input, interruption, and whole runs of the program.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "apoio/caso.hpp"
#include "base/erro.hpp"
#include "escoamento/iteracao.hpp"
#include "execucao/main.hpp"
#include "base/texto.hpp"
#include "apoio/tmpdir.hpp"

namespace {

using txtest::CaseFile;
using txtest::lines_of;
using txtest::read_file;
using txtest::reported_iterations;
using txtest::run_tubrix;
using txtest::ScratchDir;

TEST(Driver, TimeStepRamp) {
  tx::CaseData c;
  c.dt1 = 1e-6;
  c.dt2 = 1e-5;
  c.It1 = 10;
  c.It2 = 20;
  EXPECT_EQ(tx::time_step(c, 1), 1e-6);
  EXPECT_EQ(tx::time_step(c, 10), 1e-6);
  EXPECT_EQ(tx::time_step(c, 15), 1e-6 + (1e-5 - 1e-6) * 5.0 / 10.0);
  EXPECT_NEAR(tx::time_step(c, 15), 5.5e-6, 1e-18);
  EXPECT_EQ(tx::time_step(c, 20), 1e-5);
  EXPECT_EQ(tx::time_step(c, 500), 1e-5);
  // It2 <= It1: the step jumps to dt2 at It2, before It1 is reached.
  c.It1 = 20;
  c.It2 = 10;
  EXPECT_EQ(tx::time_step(c, 9), 1e-6);
  EXPECT_EQ(tx::time_step(c, 10), 1e-5);
  EXPECT_EQ(tx::time_step(c, 15), 1e-5);
  EXPECT_EQ(tx::time_step(c, 25), 1e-5);
}

TEST(Driver, ReportSelection) {
  tx::State s;
  s.c.itmax = 100;
  s.c.w_r = 30;
  s.c.tole = 1e-4;
  EXPECT_TRUE(tx::is_report_iteration(s, 1, 1.0));
  EXPECT_FALSE(tx::is_report_iteration(s, 2, 0.5));
  EXPECT_TRUE(tx::is_report_iteration(s, 60, 0.5));
  EXPECT_TRUE(tx::is_report_iteration(s, 41, 1e-4));
  EXPECT_TRUE(tx::is_report_iteration(s, 100, 0.5));
}

TEST(Run, ListingUpToTheLoopAndFileHeaders) {
  ScratchDir dir;
  CaseFile cf;
  cf.itmax = 2;
  cf.w_r = 1;
  cf.write();
  ASSERT_EQ(run_tubrix(), 0) << read_file("stderr.log");
  const std::string txt = read_file("caso.txt");
  const std::string banner = "\r\nListagem gerada pelo programa Tubrix 5.5.08, de 29 Jan 2009\r\n";
  ASSERT_EQ(txt.substr(0, banner.size()), banner);
  const auto l = lines_of(txt.substr(banner.size()));
  ASSERT_GT(l.size(), 10u);
  EXPECT_EQ(l[0], "");
  EXPECT_TRUE(std::regex_match(l[1], std::regex(R"(     Dia = \([0-9/]+\) *     Hora = [0-9:]+ *)")))
      << l[1];
  EXPECT_EQ(l[1].size(), 5u + 6 + 12 + 5 + 7 + 8);
  EXPECT_EQ(l[2], "");
  EXPECT_EQ(l[3], "t\xEDtulo = " + tx::padded("Tubeira de teste"));
  EXPECT_EQ(l[4], "");
  EXPECT_EQ(l[5], "     DADOS");
  EXPECT_EQ(l[7], "caso: nome do experimento num\xE9rico = " + tx::padded("caso"));
  EXPECT_EQ(l[9], "       1               = coord: sistema de coordenadas: 0=plano; 1=axissimetrico");
  EXPECT_EQ(l[11], "      20               = nx:  n\xFAmero de volumes reais na dire\xE7\xE3o X");
  EXPECT_EQ(l[12], "      10               = ny:  n\xFAmero de volumes reais na dire\xE7\xE3o Y");
  EXPECT_EQ(l[13], "     200               = nxy: n\xFAmero total de volumes reais");

  const std::string itn = read_file("caso.itn");
  const std::string itn_head =
      "Itera\xE7\xE3o     fmi / fme               fme / fm1D              Fd / Fd1D\r\n";
  EXPECT_EQ(itn.substr(0, itn_head.size()), itn_head);
  const std::string res = read_file("caso.residuo.dat");
  const std::string res_head = "# Itera\xE7\xE3o   L1(R)n / L1(R)1\r\n";
  ASSERT_EQ(res.substr(0, res_head.size()), res_head);
  // The residual line shares the listing's layout: the dt value is left
  // out, the spacing before it is still written. Iteration 1 has ratio 1.
  EXPECT_EQ(lines_of(res)[1], "         1   1.000000E+00         ");
  // Column header of the listing, then one line per reported iteration.
  const std::string head =
      "\r\n\r\n  Itera\xE7\xE3o   L1(R)n / L1(R)1         dt (s)\r\n\r\n"
      "         1   1.000000E+00            1.000000E-06\r\n";
  EXPECT_NE(txt.find(head), std::string::npos);
  EXPECT_EQ(reported_iterations(res), (std::vector<int>{1, 2}));
}

TEST(Run, StopRuleAndReportSelection) {
  struct Case {
    int itmax, w_r;
    const char* tole;
    std::vector<int> reported;
  };
  const Case cases[] = {
      {0, 1, "1.0e-8", {}},          // no outer iteration at all
      {6, 100, "1.0", {1}},          // tole reached at iteration 1
      {7, 1, "1.0e-30", {1, 2, 3, 4, 5, 6, 7}},
      {7, 100, "1.0e-30", {1, 7}},   // w_r beyond itmax: first and last
      {7, 3, "1.0e-30", {1, 3, 6, 7}},
  };
  for (const Case& k : cases) {
    ScratchDir dir;
    CaseFile cf;
    cf.itmax = k.itmax;
    cf.w_r = k.w_r;
    cf.tole = k.tole;
    cf.write();
    ASSERT_EQ(run_tubrix(), 0) << read_file("stderr.log");
    EXPECT_EQ(reported_iterations(read_file("caso.residuo.dat")), k.reported)
        << "itmax " << k.itmax << " w_r " << k.w_r;
    // Console: one line per reported iteration, then the closing line.
    const std::string out = read_file("stdout.log");
    const int last = k.reported.empty() ? 0 : k.reported.back();
    EXPECT_EQ(static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')),
              k.reported.size() + 1) << out;
    EXPECT_NE(out.find("Fim: " + std::to_string(last) + " itera"), std::string::npos) << out;
    // Ended by itmax short of tole: still status 0, but said on both streams.
    const bool short_of_tole = last > 1;
    EXPECT_EQ(out.find("(toler\u00e2ncia n\u00e3o atingida)") != std::string::npos, short_of_tole);
    EXPECT_EQ(read_file("stderr.log").find("n\u00e3o foi atingida") != std::string::npos,
              short_of_tole);
    EXPECT_TRUE(std::filesystem::exists("caso.bin"));
    EXPECT_TRUE(std::filesystem::exists("caso.Extrapolix_3p0"));
  }
}

// Bad input ends the run before any output file exists, with one message
// naming the file and the item, and status 1.
TEST(Run, BadInputCreatesNothing) {
  struct Case {
    const char* what;
    std::function<void()> make;
    const char* expect;
  };
  const Case cases[] = {
      {"sem seleção", [] {}, "Tubrix_5p5.in"},
      {"nx ímpar", [] { CaseFile cf; cf.nx = 21; cf.write(); }, "item 3 (nx)"},
      {"dt2 zero", [] { CaseFile cf; cf.dt2 = "0"; cf.write(); }, "item 10 (dt2)"},
      {"texto em po", [] { CaseFile cf; cf.po = "alto"; cf.write(); }, "item 5 (po)"},
      {"reinício ausente", [] { CaseFile cf; cf.ci = 2; cf.write(); }, "caso.bin"},
      {"threads inválido",
       [] {
         CaseFile cf;
         cf.write();
         setenv("TUBRIX_THREADS", "dois", 1);
       },
       "TUBRIX_THREADS = \"dois\""},
  };
  for (const Case& k : cases) {
    // The case in a folder of its own, the console logs beside it: all
    // inside the scratch folder, which goes with them.
    ScratchDir dir;
    std::filesystem::create_directory("caso");
    std::filesystem::current_path("caso");
    k.make();
    std::vector<std::string> before;
    for (auto& e : std::filesystem::directory_iterator(".")) before.push_back(e.path().string());
    const int st = run_tubrix("../out.log", "../err.log");
    EXPECT_EQ(st, 1) << k.what;
    const std::string err = read_file("../err.log");
    EXPECT_NE(err.find(k.expect), std::string::npos) << k.what << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_EQ(read_file("../out.log"), "");
    std::vector<std::string> after;
    for (auto& e : std::filesystem::directory_iterator(".")) after.push_back(e.path().string());
    EXPECT_EQ(after.size(), before.size()) << k.what;
  }
  unsetenv("TUBRIX_THREADS");
}

TEST(Run, MissingTemplateIsNamed) {
  ScratchDir dir;
  CaseFile cf;
  cf.write();
  std::filesystem::create_directory("vazio");
  const std::string cmd = std::string("TUBRIX_TEMPLATES=vazio '") + TUBRIX_EXE +
                          "' >out.log 2>err.log";
  const int st = std::system(cmd.c_str());
  EXPECT_EQ(WEXITSTATUS(st), 1);
  EXPECT_NE(read_file("err.log").find("Tubrix_5p5_"), std::string::npos) << read_file("err.log");
  EXPECT_FALSE(std::filesystem::exists("caso.txt"));
}

// --help lists every item of the case data; --exemplo makes a new folder
// ready to run and never writes into one that exists.
TEST(Run, HelpAndExampleFolder) {
  ScratchDir dir;
  const std::string exe = std::string("'") + TUBRIX_EXE + "'";
  ASSERT_EQ(std::system((exe + " --help > help.txt").c_str()), 0);
  const std::string help = read_file("help.txt");
  for (const char* item : {"   1 caso", "   5 po      press", "(Pa)", "  28 titulo"})
    EXPECT_NE(help.find(item), std::string::npos) << item;
  ASSERT_EQ(std::system((exe + " --exemplo novo > out.log").c_str()), 0);
  const std::string src = std::string(TUBRIX_SOURCE_DIR) + "/examples/bocal/";
  for (const char* f : {"Tubrix_5p5.in", "Tubrix_5p5.ent", "bocal.dat"})
    EXPECT_EQ(read_file(std::string("novo/") + f), read_file(src + f)) << f;
  EXPECT_TRUE(std::filesystem::exists("novo/Tubrix_5p5_Mach.gnu"));
  txtest::write_file("novo/bocal.dat", "meu");
  EXPECT_NE(WEXITSTATUS(std::system((exe + " --exemplo novo 2> err.log").c_str())), 0);
  EXPECT_NE(read_file("err.log").find("novo"), std::string::npos);
  EXPECT_EQ(read_file("novo/bocal.dat"), "meu");
}

// SIGINT during the loop, with the console gone (the reader of the pipe
// ended, as tee does on the same Ctrl-C): the run ends after the current
// iteration, writes its restart file and results, and exits with 130.
TEST(Run, InterruptWithClosedConsoleEndsTheLoopCleanly) {
  ScratchDir dir;
  CaseFile cf;
  cf.itmax = 1000000;
  cf.tole = "1.0e-300";
  cf.w_r = 1;
  cf.write();
  const std::string tpl = std::string(TUBRIX_SOURCE_DIR) + "/templates";
  int pipe_fd[2];
  ASSERT_EQ(pipe(pipe_fd), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("TUBRIX_TEMPLATES", tpl.c_str(), 1);
    close(pipe_fd[0]);
    if (dup2(pipe_fd[1], 1) < 0 || !freopen("err.log", "w", stderr)) _exit(99);
    execl(TUBRIX_EXE, TUBRIX_EXE, static_cast<char*>(nullptr));
    _exit(98);
  }
  close(pipe_fd[1]);
  // A few reported iterations, then the reader goes away.
  FILE* console = fdopen(pipe_fd[0], "r");
  ASSERT_NE(console, nullptr);
  char line[256];
  for (int i = 0; i < 3; ++i) ASSERT_NE(fgets(line, sizeof line, console), nullptr);
  fclose(console);
  kill(pid, SIGINT);
  int st = 0;
  waitpid(pid, &st, 0);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 130);
  EXPECT_NE(read_file("err.log").find("interrompida"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists("caso.bin"));
  EXPECT_NE(read_file("caso.txt").find("tcpu:"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists("caso.Mach.dat"));
}

}  // namespace

// A whole grid-convergence study on small grids: subfolders and names,
// scaled time steps, interruption and resumption, the report and the CSV.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "apoio/caso.hpp"
#include "apoio/tmpdir.hpp"

namespace {

using txtest::CaseFile;
using txtest::lines_of;
using txtest::read_file;
using txtest::ScratchDir;
using txtest::snapshot;
using txtest::write_file;

const char* const kGrids = "10x4,20x8,40x16";

int run_study(const std::string& out, const std::string& err,
              const std::string& args = std::string("--malhas ") + kGrids + " -j 3") {
  return txtest::run_estudo(args, out, err);
}

using txtest::count_of;

TEST(Study, RunsInterruptsResumesAndReports) {
  ScratchDir dir;
  CaseFile cf;
  cf.nx = 20;
  cf.ny = 8;
  cf.tole = "1.0e-5";
  cf.itmax = 3000;
  cf.w_r = 10;
  cf.sem_a = 0;  // a study never opens an editor or a plot window
  cf.sem_g = 0;
  cf.write();

  // Ctrl-C once the finest grid is under way: every run stops and keeps its
  // restart file, and the study exits as an interrupted run does.
  EXPECT_EQ(txtest::interrupt_estudo({"--malhas", kGrids, "-j", "3"}, "[40x16] Itera", "out1.log",
                                     "err1.log"),
            130)
      << read_file("err1.log");
  EXPECT_NE(read_file("err1.log").find("interrompido"), std::string::npos);
  EXPECT_NE(read_file("40x16/caso_40x16.estudo").find("situa\xE7\xE3o = interrompida"),
            std::string::npos);
  EXPECT_TRUE(std::filesystem::exists("40x16/caso_40x16.bin"));
  EXPECT_FALSE(std::filesystem::exists("estudo.txt"));

  // The second study continues the finest grid from its restart file.
  ASSERT_EQ(run_study("out2.log", "err2.log"), 0) << read_file("err2.log");
  const std::string out = read_file("out2.log");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(\[40x16\] continua da iteração (\d+))")))
      << out;
  const int stored = std::stoi(m[1]);
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(\[40x16\] Fim: (\d+) iterações)")));
  EXPECT_GT(std::stoi(m[1]), stored);

  // The grid's history runs through the restart, while the run's own
  // caso.itn holds only the iterations since.
  const auto hist = lines_of(read_file("40x16/caso_40x16.historico"));
  const auto itn = lines_of(read_file("40x16/caso_40x16.itn"));
  ASSERT_GT(hist.size(), 2u);
  ASSERT_GT(itn.size(), 1u);
  EXPECT_LT(std::stoi(hist[1]), stored);
  EXPECT_GT(std::stoi(itn[1]), stored);
  EXPECT_TRUE(std::equal(itn.begin() + 1, itn.end(), hist.end() - (itn.size() - 1)));

  // One subfolder per grid, the case name suffixed by it; time steps scaled
  // with the spacing (base 20 x 8), dt2 doubled (the study's first try,
  // which this case takes), and the iteration counts by the inverse.
  // A grid continued from iteration n runs the remaining itmax - n.
  struct Expect {
    const char* grid;
    const char* dt1;
    const char* dt2;
    const char* It2;
    int itmax;
  };
  for (const Expect& e : {Expect{"10x4", "2e-06", "4e-05", "20", 1500},
                          Expect{"20x8", "1e-06", "2e-05", "40", 3000},
                          Expect{"40x16", "5e-07", "1e-05", "80", 6000}}) {
    const std::string g = e.grid, caso = "caso_" + g;
    SCOPED_TRACE(g);
    int from = 0;
    if (std::regex_search(out, m, std::regex("\\[" + g + "\\] continua da iteração (\\d+)")))
      from = std::stoi(m[1]);
    EXPECT_EQ(lines_of(read_file(g + "/Tubrix_5p5.ent"))[0], "'" + caso + ".dat'");
    EXPECT_EQ(lines_of(read_file(g + "/Tubrix_5p5.in"))[0], "1");
    const auto d = lines_of(read_file(g + "/" + caso + ".dat"));
    ASSERT_EQ(d.size(), 28u);
    auto value = [&](int item) { return d[item - 1].substr(0, d[item - 1].find(' ')); };
    EXPECT_EQ(value(1), "'" + caso + "'");
    EXPECT_EQ(value(9), e.dt1);
    EXPECT_EQ(value(10), e.dt2);
    EXPECT_EQ(value(12), e.It2);
    EXPECT_EQ(value(14), std::to_string(e.itmax - from));
    EXPECT_EQ(value(21), from > 0 ? "2" : "1");
    EXPECT_EQ(value(25), "1");
    EXPECT_EQ(value(26), "1");
    EXPECT_NE(read_file(g + "/" + caso + ".estudo").find("situa\xE7\xE3o = convergiu"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(g + "/" + caso + ".Extrapolix_3p0"));
  }

  // The report (Latin-1, CR LF) lists the grids and the extrapolation; the
  // CSV has a header (with each grid's h) and one row per quantity.
  const std::string txt = read_file("estudo.txt");
  EXPECT_EQ(count_of(txt, "\r\n"), count_of(txt, "\n"));
  EXPECT_NE(txt.find("1.0000E-05"), std::string::npos);
  EXPECT_EQ(count_of(txt, "convergiu"), 3);
  EXPECT_NE(txt.find("40x16/caso_40x16.Extrapolix_3p0"), std::string::npos);
  EXPECT_NE(txt.find("converg\xEAncia"), std::string::npos);
  const auto csv = lines_of(read_file("estudo.csv"));
  ASSERT_EQ(csv.size(), 14u);
  EXPECT_TRUE(std::regex_search(
      csv[0], std::regex("^n,grandeza,malha_1 \\(h = 2.500000E-02 m\\),malha_2 [^,]*,"
                         "malha_3 [^,]*,p,extrapolado,e_a,e_ext,GCI,")))
      << csv[0];
  EXPECT_EQ(csv[1].rfind("1,\"coeficiente de descarga\",", 0), 0u);
  EXPECT_EQ(count_of(csv[1], ","), count_of(csv[0], ","));
  EXPECT_TRUE(std::filesystem::exists("estudo.png"));

  // A study with other data in the same folder is refused before anything
  // changes, naming the grid's data file and the item.
  cf.dt1 = "2.0e-6";
  cf.write();
  EXPECT_EQ(run_study("out3.log", "err3.log"), 1);
  EXPECT_NE(read_file("err3.log").find("item 9 (dt1)"), std::string::npos)
      << read_file("err3.log");
  EXPECT_EQ(read_file("estudo.txt"), txt);
}

// A 20x8 case that diverges with twice its dt2 (4e-5, at about iteration
// 270) and converges with it.
void write_diverging_case() {
  CaseFile cf;
  cf.nx = 20;
  cf.ny = 8;
  cf.dt2 = "2.0e-5";
  cf.tole = "1.0e-5";
  cf.itmax = 3000;
  cf.write();
}

// The step the study chooses: a case whose doubled step diverges on both
// grids is run again with the scaled one, and the report says so, the table
// giving the step used; --dt-escalado runs the scaled step alone. A grid
// folder left half made by a study stopped while preparing it (no status
// file, an empty data file) is made again.
TEST(Study, StepHalvedAfterDivergenceAndHalfMadeFolderRemade) {
  namespace fs = std::filesystem;
  ScratchDir dir;
  write_diverging_case();
  for (const char* args : {"--dt-escalado", ""}) {
    SCOPED_TRACE(args);
    fs::remove_all("20x8");
    fs::create_directory("20x8");
    write_file("20x8/Tubrix_5p5.in", "1\r\n");
    write_file("20x8/Tubrix_5p5.ent", "'caso_20x8.dat'\r\n");
    write_file("20x8/caso_20x8.dat", "");
    fs::remove_all("10x4");
    ASSERT_EQ(run_study("out.log", "err.log", std::string("--malhas 10x4,20x8 ") + args), 0)
        << read_file("err.log");
    const std::string txt = read_file("estudo.txt");
    const std::string out = read_file("out.log");
    // Either way 20x8 ends with the scaled step.
    EXPECT_TRUE(std::regex_search(txt, std::regex("\r\n +20x8 +1\\.0000E-06 +2\\.0000E-05 .*"
                                                  "convergiu")))
        << txt;
    if (*args != '\0') {
      EXPECT_NE(txt.find("escalados com o espa\xE7" "amento da malha; It1"), std::string::npos);
      EXPECT_EQ(txt.find("divergiu"), std::string::npos) << txt;
      continue;
    }
    EXPECT_NE(out.find("[20x8] divergiu na itera\xC3\xA7\xC3\xA3o "), std::string::npos) << out;
    EXPECT_NE(out.find("refeita com dt2 = 2.0000E-05 s, do in\xC3\xAD" "cio"), std::string::npos);
    EXPECT_TRUE(std::regex_search(
        txt, std::regex("Malha 20x8: divergiu na itera\xE7\xE3o [0-9]+ com dt2 = 4\\.0000E-05 s "
                        "\\(2 x o escalado\\); refeita com a metade\\.")))
        << txt;
    EXPECT_NE(read_file("20x8/caso_20x8.estudo").find("fator de dt = 1\r\n"), std::string::npos);
  }
}

// A grid whose status file no longer reads (garbage, or cut short) is judged
// from the files the study wrote: its data file's step is one the study
// chose (twice the scaled dt2 at 40x16; at 20x8, which diverged with it,
// the scaled one), so the grid keeps it and continues from its restart
// file, never refused for it.
TEST(Study, UnreadableStatusFileResumed) {
  ScratchDir dir;
  write_diverging_case();
  const std::string args = "--malhas 20x8,40x16";
  ASSERT_EQ(run_study("out1.log", "err1.log", args), 0) << read_file("err1.log");
  const std::string grids[2] = {"40x16", "20x8"}, factor[2] = {"2", "1"};
  int stored[2] = {0, 0};
  std::smatch m;
  for (int k = 0; k < 2; ++k) {
    const std::string status = read_file(grids[k] + "/caso_" + grids[k] + ".estudo");
    ASSERT_TRUE(std::regex_search(status, m, std::regex("itera\xE7\xF5" "es = (\\d+)")));
    stored[k] = std::stoi(m[1]);
    ASSERT_NE(status.find("fator de dt = " + factor[k] + "\r\n"), std::string::npos) << status;
  }
  write_file("40x16/caso_40x16.estudo", read_file("40x16/caso_40x16.estudo").substr(0, 30));
  write_file("20x8/caso_20x8.estudo", "\x01\xFF garbage \x80\x7F\n\n");

  ASSERT_EQ(run_study("out2.log", "err2.log", args), 0) << read_file("err2.log");
  const std::string out = read_file("out2.log");
  for (int k = 0; k < 2; ++k) {
    const std::string& g = grids[k];
    SCOPED_TRACE(g);
    EXPECT_NE(out.find("[" + g + "] o arquivo de situa\xC3\xA7\xC3\xA3o \"" + g + "/caso_" + g +
                       ".estudo\" n\xC3\xA3o p\xC3\xB4" "de ser lido: a malha continua do arquivo "
                       "de rein\xC3\xAD" "cio, itera\xC3\xA7\xC3\xA3o " + std::to_string(stored[k]) +
                       ", com o passo que o estudo escolheu (dt2 = 2.0000E-05 s, " + factor[k] +
                       " x o escalado)."),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("[" + g + "] continua da itera\xC3\xA7\xC3\xA3o " +
                       std::to_string(stored[k])),
              std::string::npos);
    const std::string status = read_file(g + "/caso_" + g + ".estudo");
    EXPECT_NE(status.find("situa\xE7\xE3o = convergiu\r\n"), std::string::npos) << status;
    EXPECT_NE(status.find("fator de dt = " + factor[k] + "\r\n"), std::string::npos) << status;
    EXPECT_TRUE(std::regex_search(read_file("estudo.txt"),
                                  std::regex("\r\n +" + g + " .* 2\\.0000E-05 .*convergiu")));
  }
}

// A study that cannot be done whole is refused before it makes or changes
// anything, inside the folder or outside it (links lead to "alvo" and to the
// folder "fora"), with one line naming the argument, the folder or the file.
TEST(Study, RefusedStudiesChangeNothing) {
  namespace fs = std::filesystem;
  ScratchDir dir;
  fs::create_directory("base");
  fs::current_path("base");
  CaseFile cf;
  cf.nx = 20;
  cf.ny = 8;
  cf.write();
  ASSERT_EQ(run_study("out.log", "err.log"), 3) << read_file("err.log");  // itmax 20: no grid converges
  fs::current_path("..");
  write_file("alvo", "alvo\n");
  fs::create_directory("fora");

  int lock = -1;
  struct Case {
    const char* what;
    std::function<void()> make;
    std::vector<const char*> expect;
    std::string args = std::string("--malhas ") + kGrids;
  };
  const Case cases[] = {
      {"volumes demais", [] {}, {"--malhas", "100000x100000", "2147483647"},
       "--malhas 10x4,100000x100000"},
      {"memória", [] {}, {"--niveis", "memória"}, "--niveis 12"},
      {"ordem absurda", [] {}, {"--ordem", "1e300"}, "--ordem 1e300"},
      {"argumento desconhecido", [] {}, {"--xyz", "--help"}, "--xyz"},
      {"relatório temporário é link", [] { fs::create_symlink("../alvo", "estudo.txt.tmp"); },
       {"estudo.txt.tmp", "link"}},
      {"relatório é pasta", [] { fs::create_directory("estudo.csv"); }, {"estudo.csv", "pasta"}},
      {"pasta da malha é link", [] {
         fs::remove_all("20x8");
         fs::copy_file("../base/20x8/caso_20x8.dat", "../fora/caso_20x8.dat");
         fs::create_directory_symlink("../fora", "20x8");
       }, {"\"20x8\"", "link"}},
      {"link pendente no lugar da malha", [] { fs::create_symlink("../nada", "80x32"); },
       {"\"80x32\"", "link"}, "--malhas 10x4,20x8,40x16,80x32"},
      {"situação da malha é pasta", [] {
         fs::remove("20x8/caso_20x8.estudo");
         fs::create_directory("20x8/caso_20x8.estudo");
       }, {"20x8/caso_20x8.estudo", "pasta"}},
      {"reinício temporário da malha é link", [] {
         fs::create_symlink("../../alvo", "40x16/caso_40x16.bin.tmp");
       }, {"40x16/caso_40x16.bin.tmp", "link"}},
      {"outro esquema", [] {
         std::ofstream("caso.dat", std::ios::app) << "'padrao' parede\r\n'ordem2' esquema\r\n";
       }, {"item 30 (esquema)", "'ordem2'", "'padrao'"}},
      {"outro estudo na pasta", [&lock] {
         lock = ::open("estudo.trava", O_RDWR | O_CREAT, 0644);
         ::flock(lock, LOCK_EX);
       }, {"estudo.trava", "outro tubrix-estudo"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    fs::remove_all("caso");
    fs::copy("base", "caso", fs::copy_options::recursive);
    fs::current_path("caso");
    k.make();
    const auto before = snapshot("..");
    EXPECT_EQ(run_study("out.log", "err.log", k.args), 1);
    const std::string err = read_file("err.log");
    for (const char* piece : k.expect) EXPECT_NE(err.find(piece), std::string::npos) << err;
    EXPECT_EQ(count_of(err, "\n"), 1) << err;
    EXPECT_EQ(read_file("out.log"), "");
    EXPECT_TRUE(snapshot("..") == before);
    if (lock >= 0) ::close(lock);
    lock = -1;
    fs::current_path("..");
    fs::remove_all("fora");
    fs::create_directory("fora");
  }
}

}  // namespace

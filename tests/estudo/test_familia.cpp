// A family of nozzles in one command: two variants of a case with a conical
// wall run together, interrupted, resumed and reported; and the tables the
// family refuses before it makes any folder.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>

#include "apoio/caso.hpp"
#include "apoio/tmpdir.hpp"

namespace {

using txtest::CaseFile;
using txtest::lines_of;
using txtest::read_file;
using txtest::ScratchDir;
using txtest::snapshot;
using txtest::write_file;

const char* const kGrids = "20x8,40x16";

int run_family(const std::string& args, const std::string& out, const std::string& err) {
  return txtest::run_estudo(args, out, err);
}

using txtest::count_of;

// The base case of the tests: caso.dat on nx x ny, with a wall file of the
// form given ("" for the built-in wall).
void write_case(const std::string& wall, int nx = 20, int ny = 8) {
  CaseFile cf;
  cf.nx = nx;
  cf.ny = ny;
  cf.tole = "1.0e-5";
  cf.itmax = 1500;  // 3000 on the finest grid: long enough to be interrupted
  cf.w_r = 10;
  cf.write();
  if (wall.empty()) return;
  const std::string src = std::string(TUBRIX_SOURCE_DIR) + "/examples/" +
                          (wall == "conica" ? "bocal/conica.parede"
                           : wall == "sino" ? "sino/sino.parede"
                                            : "pontos/pontos.parede");
  write_file("parede.txt", read_file(src));
  write_file("caso.dat", read_file("caso.dat") + "'parede.txt'\r\n");
}

TEST(Family, RunsInterruptsResumesAndReports) {
  ScratchDir dir;
  write_case("conica");
  // A Latin-1 table with ';', a decimal comma and a wall parameter.
  write_file("tab.csv", "nome;rcu;gama\r\nr1;1,0;1.4\r\n\r\nr2;2;1.3\r\n");
  const std::string args = std::string("--familia tab.csv --malhas ") + kGrids +
                           " -j 2 --incluir-nao-convergidas";

  // Ctrl-C once a finest grid is under way: the family stops as a study does.
  EXPECT_EQ(txtest::interrupt_estudo({"--familia", "tab.csv", "--malhas", kGrids, "-j", "2",
                                      "--incluir-nao-convergidas"},
                                     "/40x16] Itera", "out1.log", "err1.log"),
            130)
      << read_file("err1.log");
  EXPECT_FALSE(std::filesystem::exists("familia.txt"));
  EXPECT_TRUE(std::filesystem::exists("r1/40x16/caso_r1_40x16.bin") ||
              std::filesystem::exists("r2/40x16/caso_r2_40x16.bin"));

  // The same command continues and reports every variant and the family.
  ASSERT_EQ(run_family(args, "out2.log", "err2.log"), 0) << read_file("err2.log");
  EXPECT_TRUE(std::regex_search(read_file("out2.log"),
                                std::regex(R"(\[r[12]/40x16\] continua da iteração \d+)")));

  // Each variant is a case folder of its own: its data and wall from the row.
  const auto d2 = lines_of(read_file("r2/caso.dat"));
  ASSERT_EQ(d2.size(), 29u);
  EXPECT_EQ(d2[0].rfind("'caso_r2' ", 0), 0u);
  EXPECT_EQ(d2[6].rfind("1.3 ", 0), 0u);
  const auto w2 = lines_of(read_file("r2/parede.txt"));
  ASSERT_EQ(w2.size(), 10u);
  EXPECT_EQ(w2[0].rfind("'conica'", 0), 0u);
  EXPECT_EQ(w2[5].rfind("2 ", 0), 0u);  // rcu
  EXPECT_EQ(read_file("r1/parede.txt"), read_file("r1/40x16/parede.txt"));
  for (const char* v : {"r1", "r2"}) {
    SCOPED_TRACE(v);
    EXPECT_TRUE(std::filesystem::exists(std::string(v) + "/estudo.csv"));
    EXPECT_NE(read_file(std::string(v) + "/estudo.txt").find(std::string("caso_") + v),
              std::string::npos);
  }

  // The family's table: one row per variant, its values, then per quantity
  // value, GCI, order and iteration error, then CdKL.
  const auto csv = lines_of(read_file("familia.csv"));
  ASSERT_EQ(csv.size(), 3u);
  EXPECT_EQ(csv[0].rfind("variante,rcu,gama,extrapolado_1,GCI_1,p_1,erro_iteracao_1,", 0), 0u);
  EXPECT_EQ(csv[2].rfind("r2,2,1.3,", 0), 0u) << csv[2];
  EXPECT_EQ(count_of(csv[1], ","), 3 + 4 * 13 + 1);
  EXPECT_EQ(csv[1].substr(csv[1].rfind(',')), ",\"extrapolado\"");
  const std::string txt = read_file("familia.txt");
  EXPECT_EQ(count_of(txt, "\r\n"), count_of(txt, "\n"));
  EXPECT_NE(txt.find("Variante r2 (rcu = 2, gama = 1.3)"), std::string::npos);
  EXPECT_EQ(count_of(txt, "CdKL (malha mais fina): 0.99"), 2);
  EXPECT_TRUE(std::filesystem::exists("familia.png"));

  // A table that now gives a variant other data is refused: nothing changes.
  write_file("tab.csv", "nome;rcu;gama\nr1;1;1.4\nr2;2;1.35\n");
  const auto before = snapshot();
  const std::string log = dir.path().string() + ".err";  // outside the folder
  EXPECT_EQ(run_family(args, "/dev/null", log), 1);
  const std::string err3 = read_file(log);
  std::filesystem::remove(log);
  EXPECT_NE(err3.find("r2/caso.dat\", item 7 (gama)"), std::string::npos) << err3;
  EXPECT_EQ(snapshot(), before);

  // So is one that now gives a variant the other scheme (item 30).
  write_file("tab.csv", "nome;rcu;gama;esquema\nr1;1;1.4;padrao\nr2;2;1.3;'ordem2'\n");
  const auto before4 = snapshot();
  EXPECT_EQ(run_family(args, "/dev/null", log), 1);
  const std::string err4 = read_file(log);
  std::filesystem::remove(log);
  EXPECT_NE(err4.find("r2/caso.dat\", item 30 (esquema): a tabela \"tab.csv\" daria 'ordem2', "
                      "a variante já tem 'padrao'"),
            std::string::npos)
      << err4;
  EXPECT_EQ(snapshot(), before4);
}

// Every bad table: one message naming the table, the line and the column,
// exit 1, and no folder or file made.
TEST(Family, RefusesBadTables) {
  struct Bad {
    const char* wall;   // the base case's wall
    const char* table;  // familia.csv
    const char* where;  // in the message
  };
  const Bad cases[] = {
      {"", "", "linha 1: tabela vazia"},
      {"", "nome;gama\n", "linha 1: tabela sem variantes"},
      {"", "nome;gama;xyz\na;1.4;1\n", "linha 1, coluna \"xyz\": coluna desconhecida"},
      {"", "nome;nx\na;40\n", "linha 1, coluna \"nx\": não pode variar"},
      {"", "nome;titulo\na;1\n", "linha 1, coluna \"titulo\": não pode variar"},
      {"", "nome;gama;gama\na;1.4;1.3\n", "linha 1, coluna \"gama\": coluna repetida"},
      {"", "nome;gama\na;1.4\nA;1.3\n", "linha 3, coluna \"nome\": a variante \"A\" repete"},
      {"", "nome;gama\na/b;1.4\n", "linha 2, coluna \"nome\": o nome \"a/b\""},
      {"", "nome;gama\n..;1.4\n", "linha 2, coluna \"nome\""},
      {"", "nome;gama\nfamilia.txt;1.4\n", "linha 2: o nome \"familia.txt\" é o de um arquivo"},
      {"", "nome;gama\na;1.4x\n", "linha 2, coluna \"gama\": esperado um número"},
      {"", "nome;imax\na;2.5\n", "linha 2, coluna \"imax\": esperado um inteiro"},
      {"", "nome;esquema\na;ordem2\nb;'ordem3'\n", "linha 3, coluna \"esquema\": esperado 'padrao'"},
      {"", "nome;gama;po\na;1.4\n", "linha 2: 2 campos, mas o cabeçalho tem 3"},
      {"", "nome,gama\na,1.4,3\n", "linha 2: 3 campos, mas o cabeçalho tem 2"},
      {"", "nome;gama\na;1.4\nb;0.9\n", "linha 3, coluna \"gama\": a variante \"b\" seria recusada"},
      {"", "nome;rcu\na;1\n", "linha 1, coluna \"rcu\": o caso \"caso.dat\" não tem arquivo"},
      {"pontos", "nome;rg\na;0.4\n", "linha 1, coluna \"rg\": a parede \"parede.txt\" é dada"},
      {"conica", "nome;rg\na;0.5\nb;5\n", "linha 3, coluna \"rg\": a variante \"b\" seria recusada"},
      {"conica", "nome;tn\na;25\n", "linha 1, coluna \"tn\": a parede \"parede.txt\" é 'conica'"},
      {"sino", "nome;Lf\na;0.8\nb;0.1\n", "linha 3, coluna \"Lf\": a variante \"b\" seria recusada"},
  };
  for (const Bad& c : cases) {
    SCOPED_TRACE(c.table);
    ScratchDir dir;
    write_case(c.wall);
    write_file("familia.csv", c.table);
    const auto before = snapshot();
    const std::string log = dir.path().string() + ".err";  // outside the folder
    EXPECT_EQ(run_family("--familia familia.csv --malhas 10x4,20x8", "/dev/null", log), 1);
    const std::string err = read_file(log);
    std::filesystem::remove(log);
    EXPECT_NE(err.find(std::string("Erro no arquivo \"familia.csv\", ") + c.where),
              std::string::npos)
        << err;
    EXPECT_EQ(count_of(err, "\n"), 1) << err;
    EXPECT_EQ(snapshot(), before);
  }
}

}  // namespace

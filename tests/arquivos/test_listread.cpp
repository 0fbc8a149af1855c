#include "arquivos/listread.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "base/erro.hpp"
#include "base/texto.hpp"
#include "apoio/erros.hpp"

namespace fs = std::filesystem;
using tx::ListReader;
using tx::RunError;

namespace {

using txtest::input_error_of;

class ListReadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("tx_listread_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes the bytes as they are (no line-end translation).
  std::string file(const std::string& bytes, const std::string& name = "caso.dat") {
    const std::string p = (dir_ / name).string();
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }

  fs::path dir_;
};

TEST_F(ListReadTest, RealsInEveryFortranForm) {
  ListReader in(file(
      "2\n2.\n.5\n1e-6\n1.0D-06\n1.0d+5\n+3\n-1.5E3\n1.0+5\n2.5q1\n-.25e-2\n007.50\n"
      "4.9e-324\n1e-400\n1.7976931348623157e308\n0.1\n"));
  const double expected[] = {2.0,    2.0,  0.5,    1e-6,    1.0e-6, 1.0e5,
                             3.0,    -1.5e3, 1.0e5, 25.0,   -0.25e-2, 7.5,
                             4.9e-324, 0.0, 1.7976931348623157e308, 0.1};
  int item = 1;
  for (double x : expected) {
    EXPECT_EQ(in.read_real(item, "x"), x) << "item " << item;
    ++item;
  }
}

TEST_F(ListReadTest, OneValuePerLineRestDiscarded) {
  // Descriptions after the value, separators of every kind, repeat counts.
  ListReader in(file(
      "0  sem_a: 1=não abre arquivos\n"
      "3.0e6, po (Pa)\n"
      "12,13,14\n"
      "\t-7\tcom tabulação\n"
      "3*5 repetido\n"
      "2*2.5D0\n"
      "8/ barra encerra\n"
      "+42\n"));
  EXPECT_EQ(in.read_int(1, "sem_a"), 0);
  EXPECT_EQ(in.read_real(2, "po"), 3.0e6);
  EXPECT_EQ(in.read_int(3, "nx"), 12);  // 13 and 14 are dropped with the line
  EXPECT_EQ(in.read_int(4, "ny"), -7);
  EXPECT_EQ(in.read_int(5, "a"), 5);
  EXPECT_EQ(in.read_real(6, "b"), 2.5);
  EXPECT_EQ(in.read_int(7, "c"), 8);
  EXPECT_EQ(in.read_int(8, "d"), 42);
}

TEST_F(ListReadTest, BlankLinesCrLfBomAndLastLineWithoutEnd) {
  ListReader in(file("\xEF\xBB\xBF" "1\r\n\r\n   \r\n\t\n2 descr\r\n\n'jato 1'\r\n7"));
  EXPECT_EQ(in.read_int(1, "a"), 1);
  EXPECT_EQ(in.read_int(2, "b"), 2);
  EXPECT_EQ(tx::trimmed(in.read_char(3, "c")), "jato 1");
  EXPECT_EQ(in.read_int(4, "d"), 7);
  EXPECT_NE(input_error_of([&] { in.read_int(5, "e"); }).find("terminou"), std::string::npos);
}

TEST_F(ListReadTest, CharacterValues) {
  const std::string long_value(120, 'x');
  ListReader in(file(
      "'  jato1  '  nome do caso\n"
      "'it''s, a/b'\n"
      "\"diz \"\"oi\"\" e it's\"\n"
      "jato1 descr\n"
      "jato2,descr\n"
      "a/b\n"
      "2*'ab c' x\n"
      "''\n"
      "'p\xe9 de moleque' Latin-1\n"
      "'p\xc3\xa9' UTF-8\n" +
      long_value + "\n'linha\nquebrada' resto\n"));
  const std::string caso = in.read_char(1, "caso");
  EXPECT_EQ(caso.size(), tx::kCharLen);
  EXPECT_EQ(caso, tx::padded("  jato1  "));
  EXPECT_EQ(tx::trimmed(caso) + ".txt", "jato1.txt");
  EXPECT_EQ(in.read_char(2, "c"), tx::padded("it's, a/b"));
  EXPECT_EQ(in.read_char(3, "c"), tx::padded("diz \"oi\" e it's"));
  EXPECT_EQ(in.read_char(4, "c"), tx::padded("jato1"));
  EXPECT_EQ(in.read_char(5, "c"), tx::padded("jato2"));
  EXPECT_EQ(in.read_char(6, "c"), tx::padded("a"));
  EXPECT_EQ(in.read_char(7, "c"), tx::padded("ab c"));
  EXPECT_EQ(in.read_char(8, "c"), std::string(100, ' '));
  EXPECT_EQ(in.read_char(9, "c"), tx::padded("p\xe9 de moleque"));
  EXPECT_EQ(in.read_char(10, "c"), tx::padded("p\xc3\xa9"));
  EXPECT_EQ(in.read_char(11, "c"), std::string(100, 'x'));
  // A delimited value goes on over the line end, which is not part of it.
  EXPECT_EQ(in.read_char(12, "c"), tx::padded("linhaquebrada"));
  EXPECT_NE(input_error_of([&] { in.read_char(13, "c"); }).find("terminou"), std::string::npos);
}

TEST_F(ListReadTest, MissingOrUnreadableFile) {
  const std::string missing = (dir_ / "nao_existe.dat").string();
  EXPECT_EQ(input_error_of([&] { ListReader in(missing); }),
            "Erro: não foi possível ler o arquivo \"" + missing +
                "\" (o arquivo ou a pasta não existe).");
  const std::string d = dir_.string();
  EXPECT_EQ(input_error_of([&] { ListReader in(d); }),
            "Erro: não foi possível ler o arquivo \"" + d + "\" (é uma pasta).");
}

TEST_F(ListReadTest, EndOfFileNamesTheItem) {
  const std::string p = file("1\n2\n\n   \n");
  ListReader in(p);
  in.read_int(1, "a");
  in.read_int(2, "b");
  EXPECT_EQ(input_error_of([&] { in.read_real(5, "po"); }),
            "Erro no arquivo \"" + p + "\", item 5 (po): o arquivo terminou antes deste item.");
  ListReader empty(file("", "vazio.dat"));
  EXPECT_NE(input_error_of([&] { empty.read_char(1, "caso"); }).find("item 1 (caso): o arquivo terminou"),
            std::string::npos);
}

TEST_F(ListReadTest, WrongTypeMessages) {
  const std::string p = file(
      "2.5\n2.\n1e3\nabc\ncinco\n'5'\n99999999999\n-2147483648\n1e400\nInf\nNaN\n1.0e\n"
      "2.5abc\n--1\n.\n+\n");
  ListReader in(p);
  const std::string head = "Erro no arquivo \"" + p + "\", item ";
  EXPECT_EQ(input_error_of([&] { in.read_int(3, "nx"); }),
            head + "3 (nx): esperado um número inteiro, encontrado \"2.5\".");
  EXPECT_EQ(input_error_of([&] { in.read_int(4, "ny"); }),
            head + "4 (ny): esperado um número inteiro, encontrado \"2.\".");
  EXPECT_EQ(input_error_of([&] { in.read_int(11, "It1"); }),
            head + "11 (It1): esperado um número inteiro, encontrado \"1e3\".");
  EXPECT_EQ(input_error_of([&] { in.read_int(2, "coord"); }),
            head + "2 (coord): esperado um número inteiro, encontrado \"abc\".");
  EXPECT_EQ(input_error_of([&] { in.read_real(5, "po"); }),
            head + "5 (po): esperado um número real, encontrado \"cinco\".");
  EXPECT_EQ(input_error_of([&] { in.read_int(6, "x"); }),
            head + "6 (x): esperado um número inteiro, encontrado \"'5'\".");
  EXPECT_NE(input_error_of([&] { in.read_int(7, "x"); })
                .find("esperado um número inteiro de -2147483648 a 2147483647, encontrado "
                      "\"99999999999\""),
            std::string::npos);
  EXPECT_EQ(in.read_int(8, "x"), -2147483647 - 1);
  EXPECT_NE(input_error_of([&] { in.read_real(9, "x"); }).find("encontrado \"1e400\""),
            std::string::npos);
  // Non-finite values are refused: they would slip past every range check.
  for (int item = 10; item <= 16; ++item)
    EXPECT_NE(input_error_of([&] { in.read_real(item, "x"); }).find("esperado um número real"),
              std::string::npos)
        << "item " << item;
}

TEST_F(ListReadTest, EmptyValuesAndBadQuotes) {
  const std::string p = file(",5\n3*\n  / \n0*7\n, 'x'\n'sem fim\nmais texto\n");
  ListReader in(p);
  const std::string head = "Erro no arquivo \"" + p + "\", item ";
  EXPECT_EQ(input_error_of([&] { in.read_int(1, "a"); }),
            head + "1 (a): esperado um número inteiro, encontrado um valor vazio.");
  EXPECT_EQ(input_error_of([&] { in.read_real(2, "b"); }),
            head + "2 (b): esperado um número real, encontrado um valor vazio.");
  EXPECT_EQ(input_error_of([&] { in.read_int(3, "c"); }),
            head + "3 (c): esperado um número inteiro, encontrado \"/\".");
  EXPECT_NE(input_error_of([&] { in.read_int(4, "d"); }).find("contagem de repetição nula"),
            std::string::npos);
  EXPECT_EQ(input_error_of([&] { in.read_char(5, "caso"); }),
            head + "5 (caso): esperado um texto, encontrado um valor vazio.");
  EXPECT_EQ(input_error_of([&] { in.read_char(6, "titulo"); }),
            head + "6 (titulo): o texto iniciado com apóstrofo não foi fechado até o fim do "
                   "arquivo.");
}

}  // namespace

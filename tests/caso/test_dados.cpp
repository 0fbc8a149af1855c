// Case data input: the selection files, the 28 items and their checks, the
// derived counts; the date line and the data echo of the listing.
#include <gtest/gtest.h>

#include <iterator>
#include <string>
#include <vector>

#include "caso/dados.hpp"
#include "caso/itens.hpp"
#include "base/erro.hpp"
#include "base/texto.hpp"
#include "apoio/tmpdir.hpp"

namespace {

using txtest::read_file;
using txtest::write_file;

// The 28 lines of a valid data file, each value followed by the item's name.
std::vector<std::string> good_lines() {
  const char* values[] = {"'  jato1  ' ", "1", "20", "10", "3.0D+06", "3000.", "1.4", "287",
                          "1e-6", "1.0d-5", "10", "20", "1.0E-08", "100", "2", ".001", "1.e-3",
                          "10", "50", "0.0", "1", "0", "10", "5", "0", "1", "'PC, 2 cores'",
                          "'Tubeira de teste'"};
  static_assert(std::size(values) == tx::kCaseItemCount);
  std::vector<std::string> lines;
  for (const tx::CaseItem& it : tx::kCaseItems)
    lines.push_back(std::string(values[it.number - 1]) + " " + it.name);
  return lines;
}

void write_case(const std::vector<std::string>& lines, const std::string& sem_a = "1") {
  write_file("Tubrix_5p5.in", sem_a + "   editor\n");
  write_file("Tubrix_5p5.ent", "caso.dat\n");
  std::string text;
  for (const auto& l : lines) text += l + "\r\n";
  write_file("caso.dat", text);
}

tx::State quiet_state(std::vector<std::string>* commands = nullptr) {
  tx::State s;
  s.os.run_command = [commands](std::string_view c) {
    if (commands) commands->emplace_back(c);
    return 0;
  };
  s.os.read_stopwatch = [] { return 0.0; };
  return s;
}

// The message of the error read_case_data gives, or "" when it reads.
std::string read_error(tx::State& s) {
  try {
    tx::read_case_data(s);
  } catch (const tx::RunError& e) {
    EXPECT_EQ(e.status(), 1);
    return e.what();
  }
  return "";
}

TEST(CaseData, ReadsEveryItemAndDerivesCounts) {
  txtest::ScratchDir dir;
  write_case(good_lines());
  std::vector<std::string> commands;
  tx::State s = quiet_state(&commands);
  ASSERT_EQ(read_error(s), "");
  const auto& c = s.c;
  EXPECT_EQ(tx::trimmed(c.caso), "jato1");
  EXPECT_EQ(c.caso.size(), 100u);
  EXPECT_EQ(c.caso.substr(0, 9), "  jato1  ");
  EXPECT_EQ(c.nx, 22);
  EXPECT_EQ(c.ny, 12);
  EXPECT_EQ(c.nxy, 264);
  EXPECT_EQ(tx::field_storage_bytes(c.nx, c.ny), 133056 + 1376);  // checked against memory
  EXPECT_EQ(c.po, 3.0e6);
  EXPECT_EQ(c.Rg, 287.0);
  EXPECT_EQ(c.dt2, 1.0e-5);
  EXPECT_EQ(c.tolu, 0.001);
  EXPECT_EQ(c.w_g, 5);
  // The data file's sem_a counts from item 25 on; the start-up switch was 1.
  EXPECT_EQ(c.sem_a, 0);
  EXPECT_TRUE(commands.empty());
  EXPECT_EQ(tx::trimmed(c.hard), "PC, 2 cores");
  EXPECT_EQ(s.k.it_ini, 1);
  EXPECT_EQ(s.k.tcpuo, 0.0);
  EXPECT_DOUBLE_EQ(c.pi, 3.141592653589793);
}

TEST(CaseData, StartupSwitchOpensBothFilesInTheEditor) {
  txtest::ScratchDir dir;
  write_case(good_lines(), "0");
  std::vector<std::string> commands;
  tx::State s = quiet_state(&commands);
  ASSERT_EQ(read_error(s), "");
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0], "notepad Tubrix_5p5.ent");
  EXPECT_EQ(commands[1], "notepad caso.dat");
}

TEST(CaseData, MissingFilesNameTheFile) {
  txtest::ScratchDir dir;
  tx::State s = quiet_state();
  EXPECT_NE(read_error(s).find("Tubrix_5p5.in"), std::string::npos);
  write_file("Tubrix_5p5.in", "1\n");
  EXPECT_NE(read_error(s).find("Tubrix_5p5.ent"), std::string::npos);
  write_file("Tubrix_5p5.ent", "'outro.dat'\n");
  EXPECT_NE(read_error(s).find("outro.dat"), std::string::npos);
}

TEST(CaseData, FileEndingEarlyNamesTheMissingItem) {
  txtest::ScratchDir dir;
  auto lines = good_lines();
  lines.resize(12);
  write_case(lines);
  tx::State s = quiet_state();
  const std::string msg = read_error(s);
  EXPECT_NE(msg.find("caso.dat"), std::string::npos) << msg;
  EXPECT_NE(msg.find("item 13 (tole)"), std::string::npos) << msg;
}

// Each bad value is reported with the file, its item number and name.
TEST(CaseData, RejectsValuesTheRunCannotUse) {
  struct Bad {
    int item;
    const char* value;
  };
  const Bad cases[] = {
      {3, "2.5"}, {3, "21"},  {3, "0"},     {4, "0"},     {5, "0"},  {5, "abc"}, {6, "-300"},
      {7, "1.0"}, {8, "0."},  {9, "0"},     {10, "-1e-5"}, {14, "1e3"}, {15, "0"}, {18, "0"},
      {19, "-1"}, {23, "0"},  {24, "0"},    {1, "''"},    {2, "plano"},
  };
  for (const Bad& b : cases) {
    const char* name = tx::case_item(b.item).name;
    txtest::ScratchDir dir;
    auto lines = good_lines();
    lines[static_cast<std::size_t>(b.item - 1)] = std::string(b.value) + "   valor ruim";
    write_case(lines);
    tx::State s = quiet_state();
    const std::string msg = read_error(s);
    const std::string where = "item " + std::to_string(b.item) + " (" + name + ")";
    EXPECT_NE(msg.find("caso.dat"), std::string::npos) << name << ": " << msg;
    EXPECT_NE(msg.find(where), std::string::npos) << name << ": " << msg;
  }
}

TEST(CaseData, AcceptsValuesWithADocumentedMeaning) {
  txtest::ScratchDir dir;
  auto lines = good_lines();
  lines[1] = "7 coord";   // anything but 1 is planar
  lines[20] = "5 ci";     // anything but 2 is a fresh start
  lines[13] = "0 itmax";  // no outer iteration
  lines[10] = "30 It1";   // ramp bounds in any order
  write_case(lines);
  tx::State s = quiet_state();
  EXPECT_EQ(read_error(s), "");
}

// Item 30 after item 29: 'padrao' or 'ordem2'; anything else is refused
// naming the file and the item.
TEST(CaseData, SchemeItem) {
  struct Case {
    std::vector<std::string> tail;
    tx::Scheme want;
    bool ok;
  };
  const Case cases[] = {{{}, tx::Scheme::kPadrao, true},
                        {{"'padrao' parede", "'padrao' esquema"}, tx::Scheme::kPadrao, true},
                        {{"'padrao' parede", "'ordem2' esquema"}, tx::Scheme::kOrdem2, true},
                        {{"'padrao' parede", "'ordem3' esquema"}, tx::Scheme::kPadrao, false},
                        {{"'padrao' parede", "'' esquema"}, tx::Scheme::kPadrao, false}};
  for (const Case& k : cases) {
    txtest::ScratchDir dir;
    auto lines = good_lines();
    lines.insert(lines.end(), k.tail.begin(), k.tail.end());
    write_case(lines);
    tx::State s = quiet_state();
    const std::string msg = read_error(s);
    if (k.ok) {
      EXPECT_EQ(msg, "");
      EXPECT_EQ(s.c.esquema, k.want);
    } else {
      EXPECT_NE(msg.find("Erro no arquivo \"caso.dat\", item 30 (esquema): esperado 'padrao' ou "
                         "'ordem2'"),
                std::string::npos)
          << msg;
    }
  }
}

TEST(DataListing, DateAndTimeTexts) {
  EXPECT_EQ(tx::date_text(2009, 3, 5), "(5/3/2009)  ");
  EXPECT_EQ(tx::time_text(8, 4, 9), "8:4:9   ");
  EXPECT_EQ(tx::time_text(23, 59, 59), "23:59:59");
}

TEST(DataListing, DateLineAndEcho) {
  txtest::ScratchDir dir;
  write_case(good_lines());
  tx::State s = quiet_state();
  ASSERT_EQ(read_error(s), "");
  s.os.read_calendar = [] { return std::array<int, 6>{2009, 3, 5, 8, 4, 9}; };
  s.io.listagem.open("l.txt");
  tx::write_date_time(s);
  tx::write_data_listing(s);
  s.io.listagem.close();
  const std::string text = read_file("l.txt");
  const std::string head = "\r\n     Dia = (5/3/2009)       Hora = 8:4:9   \r\n";
  ASSERT_EQ(text.substr(0, head.size()), head);
  const std::string echo = text.substr(head.size());
  // Title and case name at their full 100 bytes.
  const std::string title = "\r\nt\xEDtulo = " + s.c.titulo + "\r\n";
  EXPECT_EQ(echo.substr(0, title.size()), title);
  auto has = [&](const std::string& line) {
    EXPECT_NE(echo.find("\r\n" + line + "\r\n"), std::string::npos) << line;
  };
  has("      20               = nx:  n\xFAmero de volumes reais na dire\xE7\xE3o X");
  has("      10               = ny:  n\xFAmero de volumes reais na dire\xE7\xE3o Y");
  has("     200               = nxy: n\xFAmero total de volumes reais");
  has("       3.000000000E+06 = po: press\xE3o de estagna\xE7\xE3o na entrada da tubeira (Pa)");
  has("       1.000000000E-03 = tolp: toler\xE2ncia no MSI para plinha");
  has("      50               = nitm_p: n\xFAmero m\xE1ximo de itera\xE7\xF5" "es internas no MSI "
      "para p'");
  has("       0               = sem_a: 1=n\xE3o abre arquivos; 0=abre");
  const std::string hard = "\r\nhard: hardware = " + s.c.hard + "\r\n";
  EXPECT_EQ(echo.substr(echo.size() - hard.size()), hard);
}

}  // namespace

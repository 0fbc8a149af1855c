// Every input text file goes through one reader: whatever program reads it,
// a file that is not a regular one, or too long, or unreadable is refused at
// once with one message naming it, exit status 1 and nothing written.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "apoio/caso.hpp"
#include "apoio/tmpdir.hpp"
#include "arquivos/leitura.hpp"

namespace {

namespace fs = std::filesystem;
using txtest::read_file;
using txtest::write_file;

// Runs a program in the current folder, killed if it hangs.
int run(const char* exe, const std::string& args) {
  const std::string cmd = std::string("TUBRIX_TEMPLATES='") + TUBRIX_SOURCE_DIR +
                          "/templates' timeout 60 '" + exe + "' " + args + " >out.log 2>err.log";
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

void small_case(const std::string& extra = "") {
  txtest::CaseFile cf;
  cf.nx = 10;
  cf.ny = 4;
  cf.write();
  write_file("caso.dat", read_file("caso.dat") + extra);
}

}  // namespace

TEST(InputFiles, SpecialFilesAreRefusedByEveryReader) {
  const struct {
    const char* kind;
    std::string file;
    std::size_t limit;
    std::function<void()> prepare;  // everything else the program needs
    const char* exe;
    std::string args;
  } kinds[] = {
      {"dados do caso", "caso.dat", tx::kInputTextLimit, [] { small_case(); }, TUBRIX_EXE, ""},
      {"parede", "w.parede", tx::kInputTextLimit, [] { small_case("'w.parede'\r\n"); },
       TUBRIX_EXE, ""},
      {"tabela da família", "tab.csv", tx::kInputTextLimit, [] { small_case(); },
       TUBRIX_ESTUDO_EXE, "--familia tab.csv --malhas 10x4,20x8"},
      {"resumo", "a.Extrapolix_3p0", tx::kSmallTextLimit, [] {}, TUBRIX_EXTRAPOLA_EXE,
       "a.Extrapolix_3p0 b.Extrapolix_3p0"},
      {"situação da malha", "10x4/caso_10x4.estudo", tx::kSmallTextLimit,
       [] {
         small_case();
         fs::create_directory("10x4");
       },
       TUBRIX_ESTUDO_EXE, "--malhas 10x4,20x8"},
  };
  const struct {
    const char* what;
    std::function<void(const std::string&, std::size_t)> make;
  } specials[] = {
      {"pasta", [](const std::string& f, std::size_t) { fs::create_directory(f); }},
      {"pipe", [](const std::string& f, std::size_t) { ASSERT_EQ(mkfifo(f.c_str(), 0600), 0); }},
      {"link para /dev/zero",
       [](const std::string& f, std::size_t) { fs::create_symlink("/dev/zero", f); }},
      {"grande demais",
       [](const std::string& f, std::size_t limit) {
         write_file(f, "");
         fs::resize_file(f, limit + 1);
       }},
      // Reading a process's own memory at address 0 fails (EIO).
      {"erro de leitura",
       [](const std::string& f, std::size_t) { fs::create_symlink("/proc/self/mem", f); }},
  };
  for (const auto& k : kinds) {
    for (const auto& sp : specials) {
      txtest::ScratchDir dir;
      k.prepare();
      fs::remove(k.file);
      sp.make(k.file, k.limit);
      const auto before = txtest::snapshot();
      const std::string where = std::string(k.kind) + ", " + sp.what;
      EXPECT_EQ(run(k.exe, k.args), 1) << where;
      const std::string err = read_file("err.log");
      EXPECT_EQ(txtest::count_of(err, "\n"), 1) << where << ": " << err;
      EXPECT_NE(err.find("\"" + k.file + "\""), std::string::npos) << where << ": " << err;
      EXPECT_EQ(txtest::snapshot(), before) << where;
    }
  }
}

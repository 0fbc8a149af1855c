// A run that fails for a reason the user can mend changes nothing: every
// file it found keeps its bytes, none appears, the status is 1 and the one
// message names the file and the item.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>

#include "apoio/caso.hpp"
#include "apoio/tmpdir.hpp"

namespace {

namespace fs = std::filesystem;
using txtest::CaseFile;
using txtest::read_file;
using txtest::run_tubrix;
using txtest::ScratchDir;
using txtest::snapshot;
using txtest::write_file;

// Line n (from 1) of a file replaced by `text`.
void set_line(const std::string& name, int n, const std::string& text) {
  std::string bytes = read_file(name), out;
  std::size_t pos = 0;
  for (int k = 1; pos < bytes.size(); ++k) {
    const std::size_t end = bytes.find('\n', pos) + 1;
    out += k == n ? text + "\r\n" : bytes.substr(pos, end - pos);
    pos = end;
  }
  write_file(name, out);
}

std::string tpl(const char* name) {
  return std::string(TUBRIX_SOURCE_DIR) + "/templates/" + name;
}

TEST(Falhas, FailedRunsChangeNothing) {
  struct Case {
    const char* what;
    std::function<void()> make;
    std::vector<const char*> expect;  // pieces of the message
  };
  const Case cases[] = {
      // sizes the indices cannot hold, and one that does not fit in memory
      {"65536 x 65536", [] { set_line("caso.dat", 3, "65536"); set_line("caso.dat", 4, "65536"); },
       {"caso.dat", "itens 3 e 4 (nx, ny)", "2147483647"}},
      {"ny máximo", [] { set_line("caso.dat", 4, "2147483647"); },
       {"caso.dat", "itens 3 e 4 (nx, ny)"}},
      {"46000 x 46000", [] { set_line("caso.dat", 3, "46000"); set_line("caso.dat", 4, "46000"); },
       {"caso.dat", "itens 3 e 4 (nx, ny)", "GB de memória"}},
      // an output that cannot be written
      {"saída é pasta", [] { fs::remove("caso.residuo.dat"); fs::create_directory("caso.residuo.dat"); },
       {"caso.residuo.dat", "item 1"}},
      // templates: one is a folder; one missing and another too short
      {"modelo é pasta", [] { fs::remove("Tubrix_5p5_Mach.gnu"); fs::create_directory("Tubrix_5p5_Mach.gnu"); },
       {"Tubrix_5p5_Mach.gnu"}},
      {"modelo curto", [] { fs::remove("Tubrix_5p5_pressao.gnu"); write_file("Tubrix_5p5_Mach.gnu", "a\r\n"); },
       {"Tubrix_5p5_Mach.gnu", "1 linha"}},
      // the data file is an output under another name
      {"dados = listagem", [] { fs::copy_file("caso.dat", "caso.txt", fs::copy_options::overwrite_existing);
                                write_file("Tubrix_5p5.ent", "'./caso.txt'\r\n"); },
       {"./caso.txt", "item 1 (caso)", "caso.txt"}},
      {"dados = modelo", [] { fs::copy_file("caso.dat", "Tubrix_5p5_Mach.gnu", fs::copy_options::overwrite_existing);
                              write_file("Tubrix_5p5.ent", "'Tubrix_5p5_Mach.gnu'\r\n"); },
       {"Tubrix_5p5.ent", "item 1", "Tubrix_5p5_Mach.gnu"}},
      // outputs and temporaries that are links, even dangling ones, are
      // never written through (the link points to "alvo")
      {"reinício temporário é link", [] { fs::create_symlink("alvo", "caso.bin.tmp"); },
       {"caso.bin.tmp", "link simbólico"}},
      {"campo temporário é link", [] { fs::create_symlink("alvo", "caso.vts.tmp"); },
       {"caso.vts.tmp", "link simbólico"}},
      {"modelo temporário é link", [] { fs::create_symlink("alvo", "Tubrix_5p5_Mach.gnu.tmp"); },
       {"Tubrix_5p5_Mach.gnu.tmp", "link simbólico"}},
      {"saída é link pendente", [] { fs::remove("caso.itn"); fs::create_symlink("nada", "caso.itn"); },
       {"caso.itn", "link simbólico"}},
      // names and numbers of the data file
      {"caminho no caso", [] { set_line("caso.dat", 1, "'../x'"); }, {"caso.dat", "item 1 (caso)", "../x"}},
      {"apóstrofo aberto", [] { set_line("caso.dat", 1, "'caso    nome"); },
       {"caso.dat", "item 1 (caso)", "apóstrofo"}},
      {"vírgula decimal", [] { set_line("caso.dat", 5, "3,0e6   po"); },
       {"caso.dat", "item 5 (po)", "3,0e6", "ponto"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    ScratchDir dir;
    CaseFile cf;
    cf.itmax = 2;
    cf.write();
    for (const char* t : {"Tubrix_5p5_Mach.gnu", "Tubrix_5p5_pressao.gnu"})
      fs::copy_file(tpl(t), t);
    ASSERT_EQ(run_tubrix("out.log", "err.log"), 0) << read_file("err.log");
    write_file("alvo", "alvo\n");
    k.make();
    const auto before = snapshot();
    EXPECT_EQ(run_tubrix("out.log", "err.log"), 1);
    const std::string err = read_file("err.log");
    for (const char* piece : k.expect) EXPECT_NE(err.find(piece), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_TRUE(snapshot() == before);
  }
}

// A folder the user may not write to (a user other than root only).
TEST(Falhas, ReadOnlyFolderChangesNothing) {
  if (geteuid() == 0) GTEST_SKIP() << "root writes anywhere";
  ScratchDir dir;
  CaseFile cf;
  cf.itmax = 2;
  cf.write();
  ASSERT_EQ(run_tubrix("out.log", "err.log"), 0);
  const auto before = snapshot();
  fs::permissions(".", fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_EQ(run_tubrix("out.log", "err.log"), 1);
  fs::permissions(".", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_NE(read_file("err.log").find("pasta"), std::string::npos);
  EXPECT_TRUE(snapshot() == before);
}

}  // namespace

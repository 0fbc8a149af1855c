// Case files for runs of the whole program: the two selection files and a
// data file with the 28 items, from a small nozzle case by default.
#pragma once

#include <cstdlib>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "apoio/tmpdir.hpp"
#include "caso/itens.hpp"

namespace txtest {

struct CaseFile {
  std::string caso = "caso";
  int coord = 1, nx = 20, ny = 10;
  std::string po = "3.0e6", T0 = "3000.0", gama = "1.4", Rg = "287.0";
  std::string dt1 = "1.0e-6", dt2 = "1.0e-5";
  int It1 = 10, It2 = 40;
  std::string tole = "1.0e-8";
  int itmax = 20, imax = 2;
  std::string tolu = "1.0e-3", tolp = "1.0e-3";
  int nitm_u = 10, nitm_p = 50;
  std::string beta = "0.0";
  int ci = 1, w_cam = 0, w_r = 5, w_g = 1, sem_a = 1, sem_g = 1;
  std::string hard = "PC de teste";
  std::string titulo = "Tubeira de teste";

  // Writes Tubrix_5p5.in, Tubrix_5p5.ent and caso.dat in the current folder.
  void write() const {
    write_file("Tubrix_5p5.in", "1\r\n");
    write_file("Tubrix_5p5.ent", "'caso.dat'\r\n");
    auto i = [](int v) { return std::to_string(v); };
    const std::string values[] = {caso,      i(coord), i(nx),     i(ny),    po,       T0,
                                  gama,      Rg,       dt1,       dt2,      i(It1),   i(It2),
                                  tole,      i(itmax), i(imax),   tolu,     tolp,     i(nitm_u),
                                  i(nitm_p), beta,     i(ci),     i(w_cam), i(w_r),   i(w_g),
                                  i(sem_a),  i(sem_g), hard,      titulo};
    static_assert(std::size(values) == tx::kCaseItemCount);
    std::string text;
    for (const tx::CaseItem& it : tx::kCaseItems)
      text += tx::case_data_line(it, values[it.number - 1]) + "\r\n";
    write_file("caso.dat", text);
  }
};

// Runs the program in the current folder; returns its exit status.
inline int run_tubrix(const std::string& out = "stdout.log", const std::string& err = "stderr.log") {
  const std::string cmd = std::string("TUBRIX_TEMPLATES='") + TUBRIX_SOURCE_DIR +
                          "/templates' '" + TUBRIX_EXE + "' >" + out + " 2>" + err;
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// Runs tubrix-estudo with `args` in the current folder; returns its exit status.
inline int run_estudo(const std::string& args, const std::string& out, const std::string& err) {
  const std::string cmd = std::string("TUBRIX_TEMPLATES='") + TUBRIX_SOURCE_DIR +
                          "/templates' '" + TUBRIX_ESTUDO_EXE + "' " + args + " >" + out +
                          " 2>" + err;
  const int st = std::system(cmd.c_str());
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

// How many times `what` stands in `text`.
inline int count_of(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// Starts tubrix-estudo with `args` in the current folder, its console in
// `out` and `err`, stops it with Ctrl-C once `marker` stands three times in
// `out`, and returns its exit status (-1: it did not exit).
inline int interrupt_estudo(const std::vector<std::string>& args, const std::string& marker,
                            const std::string& out, const std::string& err) {
  const std::string tpl = std::string(TUBRIX_SOURCE_DIR) + "/templates";
  std::vector<char*> argv{const_cast<char*>(TUBRIX_ESTUDO_EXE)};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    setenv("TUBRIX_TEMPLATES", tpl.c_str(), 1);
    if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(99);
    execv(TUBRIX_ESTUDO_EXE, argv.data());
    _exit(98);
  }
  for (int i = 0; i < 3000 && count_of(read_file(out), marker) < 3; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  kill(pid, SIGINT);
  int st = 0;
  waitpid(pid, &st, 0);
  return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
}

}  // namespace txtest

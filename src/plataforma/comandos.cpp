// The program names of the command lines mapped to what this system has:
// the same rule on every platform, on top of on_path.
#include "plataforma/plataforma.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace tx {

namespace {
bool starts_with(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
}  // namespace

// The editor and plotting program named in the command lines ("notepad",
// "wgnuplot") are mapped to what this system has. Returns an empty string,
// after one line on standard error, when there is nothing to run.
std::string mapped_command(const std::string& line) {
  if (starts_with(line, "notepad ") && !on_path("notepad")) {
    const char* ed = std::getenv("VISUAL");
    if (ed == nullptr || *ed == '\0') ed = std::getenv("EDITOR");
    if (ed == nullptr || *ed == '\0') {
      std::fprintf(stderr, "Aviso: nenhum editor de texto disponível (notepad, VISUAL ou EDITOR); "
                           "%s não foi aberto.\n", line.substr(8).c_str());
      return {};
    }
    return std::string(ed) + line.substr(7);
  }
  if (starts_with(line, "wgnuplot ") && !on_path("wgnuplot")) {
    if (!on_path("gnuplot")) {
      std::fprintf(stderr, "Aviso: programa de gráficos não disponível (wgnuplot ou gnuplot); "
                           "%s não foi aberto.\n", line.substr(9).c_str());
      return {};
    }
    return "gnuplot -persist" + line.substr(8);
  }
  // A script rendered to a picture (no display).
  if (starts_with(line, "gnuplot ") && !on_path("gnuplot")) {
    std::fprintf(stderr, "Aviso: programa de gráficos não disponível (gnuplot); "
                         "a figura não foi gravada: %s\n", line.c_str());
    return {};
  }
  return line;
}

}  // namespace tx

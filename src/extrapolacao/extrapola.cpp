// The command line of tubrix-extrapola.
#include "extrapolacao/extrapola.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "base/erro.hpp"
#include "extrapolacao/extrapolacao.hpp"
#include "extrapolacao/relatorio.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

int extrapola_main(int argc, char** argv) {
  const char* usage =
      "Uso: tubrix-extrapola [--csv] [--ordem P] ARQ1 ARQ2 [ARQ3 ...]\n"
      "  ARQ: arquivos de resumo (caso.Extrapolix_3p0) do mesmo bocal em malhas diferentes,\n"
      "  em qualquer ordem. Escreve a tabela na saída padrão (--csv: em CSV) e, na pasta\n"
      "  atual, estudo.txt, estudo.gnu e estudo.png.\n"
      "  --ordem P: ordem assumida quando há só duas malhas (padrão 2).\n";
  bool csv = false;
  double order = 2.0;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") {
      std::fputs(usage, stdout);
      return 0;
    }
    if (a == "--csv") {
      csv = true;
    } else if (a == "--ordem") {
      char* end = nullptr;
      const char* v = i + 1 < argc ? argv[++i] : "";
      order = std::strtod(v, &end);
      if (*v == '\0' || *end != '\0' || !(order >= kMinOrder && order <= kMaxOrder)) {
        std::fprintf(stderr, "Erro no argumento --ordem: %s, encontrado \"%s\".\n",
                     order_expected().c_str(), v);
        return kExitInput;
      }
    } else if (a.size() > 1 && a[0] == '-') {
      std::fprintf(stderr, "Erro: argumento desconhecido \"%s\"; tubrix-extrapola --help mostra "
                           "os argumentos.\n", a.c_str());
      return kExitInput;
    } else {
      files.push_back(a);
    }
  }
  try {
    const GridStudy g = extrapolate_files(files, order);
    check_report_files(study_file_names(false));
    if (csv) {
      std::fputs(csv_text(g, "\n").c_str(), stdout);
    } else {
      for (const auto& l : report_lines(g)) std::printf("%s\n", l.c_str());
    }
    std::fflush(stdout);
    // Ctrl-C while the picture is drawn ends the program as it ends a study.
    volatile std::sig_atomic_t* stop = catch_stop_signals(false);
    write_study_files(g, {}, false, {}, stop);
    if (*stop) {
      std::fprintf(stderr, "Interrompido; %s não foi desenhado (rode \"gnuplot %s\").\n",
                   kPlotImage, kPlotScript);
      return kExitInterrupted;
    }
  } catch (const RunError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return e.status();
  }
  return 0;
}

}  // namespace tx

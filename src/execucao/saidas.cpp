// The files a run writes and the checks made before writing any.
#include "execucao/saidas.hpp"

#include <string>

#include "caso/dados.hpp"
#include "base/erro.hpp"
#include "graficos/graficos.hpp"
#include "graficos/modelos.hpp"
#include "malha/malha.hpp"
#include "plataforma/plataforma.hpp"
#include "base/texto.hpp"

namespace tx {

std::vector<std::string> run_output_files(const State& s) {
  const std::string caso = trimmed(s.c.caso);
  std::vector<std::string> out;
  for (const char* suffix : kCaseOutputSuffixes) out.push_back(caso + suffix);
  out.push_back(caso + ".bin.tmp");
  out.push_back(caso + ".vts.tmp");
  for (const ScriptTemplate& t : kTemplates) {
    out.push_back(t.name);
    out.push_back(std::string(t.name) + ".tmp");
    if (s.c.sem_g == 0) out.push_back(picture_name(caso, t.name));
  }
  return out;
}

namespace {

bool is_template(const std::string& name) {
  for (const ScriptTemplate& t : kTemplates)
    if (name == t.name || name == std::string(t.name) + ".tmp") return true;
  return false;
}

std::string output_what(const State& s, const std::string& out) {
  return is_template(out) ? "o script de gráfico \"" + out + "\""
                          : "o arquivo de saída \"" + out + "\" (item 1, caso = \"" +
                                trimmed(s.c.caso) + "\")";
}

}  // namespace

void check_outputs(const State& s) {
  const std::vector<std::string> outputs = run_output_files(s);
  struct Input {
    std::string name;
    FileId id;
  };
  const Input inputs[] = {{s.c.data_file, identify(s.c.data_file)},
                          {kSelectionFile, identify(kSelectionFile)},
                          {kSwitchFile, identify(kSwitchFile)}};
  for (const std::string& out : outputs) {
    const FileId id = identify(out);
    if (!id.exists) continue;
    for (const Input& in : inputs) {
      if (!same_file(id, in.id)) continue;
      // A script name is chosen in Tubrix_5p5.ent; a case output by item 1.
      if (is_template(out) || in.name != s.c.data_file)
        throw RunError("Erro no arquivo \"" + std::string(kSelectionFile) +
                       "\", item 1 (arquivo de dados): o arquivo de entrada \"" + in.name +
                       "\" é o arquivo \"" + out +
                       "\" que a execução reescreve; escolha outro nome.");
      throw RunError("Erro no arquivo \"" + in.name + "\", item 1 (caso): o arquivo de dados "
                     "seria sobrescrito pela saída \"" + out + "\"; escolha outro nome.");
    }
    if (id.link) {
      // A link would have the run write wherever it points.
      throw RunError("Erro: " + output_what(s, out) + " é um link simbólico; a execução não "
                     "grava através de links: remova-o" +
                     (is_template(out) ? std::string() : " ou escolha outro nome de caso") +
                     ". Nenhum arquivo foi alterado.");
    }
    if (!id.regular) {
      const std::string what =
          is_template(out) ? "o script de gráfico \"" + out + "\""
                           : "o arquivo de saída \"" + out + "\" (item 1, caso = \"" +
                                 trimmed(s.c.caso) + "\")";
      throw RunError("Erro: " + what + " existe e não é um arquivo comum (uma pasta, talvez); "
                     "a execução o reescreve: remova-o" +
                     (is_template(out) ? std::string() : " ou escolha outro nome de caso") +
                     ". Nenhum arquivo foi alterado.");
    }
    if (std::string why; !is_writable(out, &why))
      throw RunError("Erro: o arquivo de saída \"" + out + "\" não pode ser gravado (" + why +
                     "). Nenhum arquivo foi alterado.");
  }
  // The scripts and the restart file are replaced through new files.
  if (std::string why; !folder_takes_new_files(".", &why))
    throw RunError("Erro: a pasta de trabalho não permite criar os arquivos de saída (" + why +
                   "). Nenhum arquivo foi alterado.");
}

}  // namespace tx

// Help text, the example case and the installed data folders.
#include "execucao/ajuda.hpp"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "base/erro.hpp"
#include "caso/itens.hpp"
#include "graficos/modelos.hpp"
#include "parede/parede.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

namespace fs = std::filesystem;

// share/tubrix/<what> beside the binary, wherever the install prefix put it.
std::string installed_folder(const char* what, const char* configured, const char* source) {
  std::error_code ec;
  const std::string exe_dir = executable_folder();
  if (!exe_dir.empty()) {
    const fs::path bin = file_path(exe_dir);
    // Installed (share/ beside bin/), or unpacked from the Windows zip.
    for (const fs::path& beside : {bin.parent_path() / "share" / "tubrix" / what, bin / what})
      if (fs::is_directory(beside, ec)) return beside.string();
  }
  if (fs::is_directory(configured, ec)) return configured;
  return source;
}

// Before the items' lines.
constexpr const char* kHelpStart =
    "Tubrix 5.5: escoamento 2D permanente de gás perfeito em tubeira convergente-divergente\n"
    "(plano ou axissimétrico; volumes finitos, SIMPLEC, MSI).\n"
    "\n"
    "Uso:\n"
    "  tubrix                  roda o caso da pasta atual\n"
    "  tubrix --exemplo PASTA  cria PASTA com um caso de exemplo pronto para rodar\n"
    "  tubrix --help           este texto;  tubrix --version  a versão\n"
    "\n"
    "Arquivos de entrada, na pasta atual:\n"
    "  Tubrix_5p5.in   um inteiro: 0 abre Tubrix_5p5.ent e o arquivo de dados no editor\n"
    "                  antes de rodar; 1 não abre\n"
    "  Tubrix_5p5.ent  o nome do arquivo de dados, p. ex. 'bocal.dat'\n"
    "  arquivo de dados  28 itens (e os 29 e 30, opcionais), um por linha, cada um no início da sua\n"
    "                  linha e seguido de qualquer descrição; textos com brancos entre apóstrofos;\n"
    "                  o separador decimal é o ponto (3.0e6, não 3,0e6)\n"
    "  Tubrix_5p5_*.gnu  modelos dos scripts de gráfico (copiados da instalação se\n"
    "                  faltarem); suas primeiras linhas são mantidas\n"
    "\n"
    "Itens do arquivo de dados:\n";

// Between the items' lines and the wall's parameters.
constexpr const char* kHelpWall =
    "\n"
    "Arquivo da parede (item 29), na pasta do caso, Latin-1 ou UTF-8, um valor no início de\n"
    "cada linha, seguido de qualquer descrição; x vai de 0 na entrada até a saída e, no caso\n"
    "plano, o raio é a meia-altura; todo comprimento (não nulo) entre 1e-30 e 1e30 m:\n"
    "  'conica'  parede cônica com arcos circulares tangentes; a seguir, em ordem:\n";
constexpr const char* kHelpPoints =
    "  'pontos'  a seguir um par x r (m) por linha, x crescente a partir de 0, pelo menos 4\n"
    "            pares com um só mínimo interior (a garganta); ligados por uma spline cúbica\n"
    "            sob tensão, com inclinação e curvatura contínuas e sem oscilar entre os pontos\n";
constexpr const char* kHelpBell =
    "  'sino'    sino de empuxo ótimo na aproximação parabólica de Rao: entrada, cone\n"
    "            convergente e arcos da garganta como em 'conica'; depois do arco rcd, uma\n"
    "            parábola (Bézier quadrática) que parte dele no ângulo tn e chega à saída no\n"
    "            ângulo te (0 <= te < tn < 90); seu comprimento desde a garganta é Lf vezes o\n"
    "            do cone de 15 graus com a mesma garganta, arco rcd e saída,\n"
    "            ((rex - rg) + rcd (1/cos 15 - 1)) / tan 15; a seguir, em ordem:\n";

// After the items' lines (the case items table).
constexpr const char* kHelpEnd =
    "\n"
    "Saída: caso.txt (listagem), caso.itn, caso.residuo.dat, caso.bin (reinício) e os\n"
    "arquivos de perfis, malha e contornos, todos na pasta atual. Estado de saída: 0 fim\n"
    "normal; 1 dado inválido (nenhum arquivo alterado); 2 divergência; 130 interrompido.\n";

}  // namespace

std::string template_folder() {
  if (const char* env = std::getenv("TUBRIX_TEMPLATES"); env != nullptr && *env != '\0')
    return env;
  return installed_folder("templates", TUBRIX_INSTALLED_TEMPLATES, TUBRIX_SOURCE_TEMPLATES);
}

std::string example_folder() {
  return installed_folder("exemplo", TUBRIX_INSTALLED_EXAMPLE, TUBRIX_SOURCE_EXAMPLE);
}

void print_help(std::FILE* out) {
  std::fputs(kHelpStart, out);
  std::fputs(help_item_lines().c_str(), out);
  std::fputs(kHelpWall, out);
  for (const WallParam& p : kConicalParams)
    std::fprintf(out, "            %-4s %s (%s)\n", p.name, p.meaning, p.unit);
  std::fputs(kHelpPoints, out);
  std::fputs(kHelpBell, out);
  for (const WallParam& p : kBellParams)
    std::fprintf(out, "            %-4s %s (%s)\n", p.name, p.meaning, p.unit);
  std::fputs(kHelpEnd, out);
}

void install_example(const std::string& folder) {
  std::error_code ec;
  const fs::path dest = file_path(folder);
  if (fs::exists(fs::symlink_status(dest, ec)))
    throw RunError("Erro: \"" + folder + "\" já existe; o exemplo é copiado para uma pasta nova.");
  const fs::path example = file_path(example_folder());
  const fs::path templates = file_path(template_folder());
  if (!fs::is_directory(example, ec))
    throw RunError("Erro: o caso de exemplo não foi encontrado em \"" + example.string() + "\".");
  if (!fs::create_directory(dest, ec) || ec)
    throw RunError("Erro: não foi possível criar a pasta \"" + folder + "\"" +
                   (ec ? " (" + error_reason(ec.value()) + ")" : std::string()) + ".");
  auto fail = [&](const fs::path& what, const std::error_code& why) {
    std::error_code ignored;
    fs::remove_all(dest, ignored);
    throw RunError("Erro: não foi possível copiar \"" + what.string() + "\" para \"" + folder +
                   "\" (" + error_reason(why.value()) + ").");
  };
  for (const auto& entry : fs::directory_iterator(example, ec)) {
    if (!entry.is_regular_file()) continue;
    fs::copy_file(entry.path(), dest / entry.path().filename(), ec);
    if (ec) fail(entry.path(), ec);
  }
  if (ec) fail(example, ec);
  for (const ScriptTemplate& t : kTemplates) {
    fs::copy_file(templates / t.name, dest / t.name, ec);
    if (ec) fail(templates / t.name, ec);
  }
  std::printf("Caso de exemplo copiado para %s; para rodar: cd %s && tubrix\n"
              "(conica.parede é um exemplo de arquivo da parede: acrescente 'conica.parede' como\n"
              "item 29 do arquivo de dados para usá-lo; veja tubrix --help)\n",
              folder.c_str(), folder.c_str());
}

}  // namespace tx

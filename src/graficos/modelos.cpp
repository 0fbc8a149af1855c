// Plot-script templates: checking, copying and rewriting the scripts.
#include "graficos/modelos.hpp"

#include <filesystem>
#include <stdexcept>
#include <system_error>

#include "arquivos/layout.hpp"
#include "arquivos/leitura.hpp"
#include "base/erro.hpp"
#include "plataforma/plataforma.hpp"
#include "base/texto.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

constexpr const char* kScriptKind = "o script de gráfico";

// Length of the first `kept` lines of `bytes`, and how many of them there
// are; an unterminated last line counts as a line.
std::size_t kept_prefix(const std::string& bytes, int kept, int& lines) {
  std::size_t pos = 0;
  lines = 0;
  while (lines < kept && pos < bytes.size()) {
    const std::size_t nl = bytes.find('\n', pos);
    pos = nl == std::string::npos ? bytes.size() : nl + 1;
    ++lines;
  }
  return pos;
}

[[noreturn]] void too_short(const std::string& name, int lines, int kept) {
  throw RunError("O script de gráfico \"" + name + "\" tem " + std::to_string(lines) +
                 (lines == 1 ? " linha" : " linhas") + "; são necessárias pelo menos " +
                 std::to_string(kept) + " (as configurações do usuário que o programa preserva).");
}

}  // namespace

int kept_lines(std::string_view script) {
  for (const ScriptTemplate& t : kTemplates)
    if (script == t.name) return t.kept;
  throw std::logic_error("no plot-script template " + std::string(script));
}

std::vector<std::string> check_templates(const std::string& template_dir) {
  namespace fs = std::filesystem;
  std::vector<std::string> missing;
  for (const ScriptTemplate& t : kTemplates) {
    const std::string name = t.name;
    std::error_code ec;
    std::string from = name;
    if (!fs::exists(fs::symlink_status(name, ec))) {
      const fs::path src = file_path(template_dir) / name;
      if (!fs::is_regular_file(src, ec))
        throw RunError("Modelo de script de gráfico \"" + name +
                       "\" não encontrado: não está no diretório de trabalho nem em \"" +
                       template_dir + "\".");
      from = src.string();
      missing.push_back(name);
    } else if (!fs::is_regular_file(name, ec)) {
      throw RunError("O script de gráfico \"" + name +
                     "\" não é um arquivo comum (é uma pasta ou outro tipo de entrada); "
                     "remova-o ou substitua-o pelo modelo.");
    }
    const std::string bytes = read_input_text(from, kScriptKind);
    int lines = 0;
    kept_prefix(bytes, t.kept, lines);
    if (lines < t.kept) too_short(from, lines, t.kept);
  }
  return missing;
}

void copy_templates(const std::string& template_dir, const std::vector<std::string>& names) {
  namespace fs = std::filesystem;
  std::vector<std::string> copied;
  for (const std::string& name : names) {
    const fs::path src = file_path(template_dir) / name;
    std::error_code ec;
    // copy_options::none never replaces an existing file.
    if (!fs::copy_file(src, name, fs::copy_options::none, ec) || ec) {
      const std::string why = ec ? ": " + error_reason(ec.value()) : std::string();
      for (const std::string& c : copied) fs::remove(c, ec);
      throw RunError("Não foi possível copiar o modelo de script de gráfico \"" + src.string() +
                     "\" para o diretório de trabalho" + why + ".");
    }
    copied.push_back(name);
  }
}

void ensure_templates(const std::string& template_dir) {
  copy_templates(template_dir, check_templates(template_dir));
}


std::string script_title_lines(std::string_view title) {
  return format_record("('set title ''',A,'''',/,'replot')", {gnuplot_quoted(title)});
}

void rewrite_script(const std::string& name, int kept, const std::string& tail) {
  const std::string bytes = read_input_text(name, kScriptKind);
  int lines = 0;
  std::string out = bytes.substr(0, kept_prefix(bytes, kept, lines));
  if (lines < kept) too_short(name, lines, kept);
  if (!out.empty() && out.back() != '\n') out += "\r\n";
  out += tail;

  // Written beside the script and renamed over it, so an interrupted run
  // never loses the user's settings.
  const std::string tmp = name + ".tmp";
  TextFile f;
  f.open_temporary(tmp);
  f.put(out);
  f.close();
  std::error_code ec;
  std::filesystem::rename(tmp, name, ec);
  if (ec) {
    std::filesystem::remove(tmp, ec);
    throw RunError("Não foi possível reescrever o script de gráfico \"" + name + "\".");
  }
}

}  // namespace tx

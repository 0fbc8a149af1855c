// Whole text files written from lines.
#include "arquivos/arquivo_texto.hpp"

#include <filesystem>

#include "arquivos/layout.hpp"
#include "arquivos/gravacao.hpp"
#include "base/erro.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

// Writes Latin-1 lines with CR LF to a temporary name; returns that name.
std::string write_lines_tmp(const std::string& name, const std::vector<std::string>& lines) {
  const std::string tmp = name + ".tmp";
  TextFile f;
  f.open_temporary(tmp);
  try {
    for (const auto& l : lines) f.write("(A)", {to_latin1(l)});
    f.close();
  } catch (...) {
    f = TextFile();
    std::error_code ec;
    std::filesystem::remove(file_path(tmp), ec);
    throw;
  }
  return tmp;
}

}  // namespace

void write_text_files(const std::vector<TextFileLines>& files) {
  std::vector<std::string> tmps;
  try {
    for (const auto& [name, lines] : files) tmps.push_back(write_lines_tmp(name, lines));
  } catch (...) {
    std::error_code ec;
    for (const auto& t : tmps) std::filesystem::remove(file_path(t), ec);
    throw;
  }
  for (const auto& [name, lines] : files) {
    if (std::string why; !replaceable(name, &why)) {
      std::error_code ec;
      for (const auto& t : tmps) std::filesystem::remove(t, ec);
      throw RunError("Erro: não foi possível gravar o arquivo \"" + name + "\" (" + why +
                     "); nenhum arquivo do estudo foi alterado.");
    }
  }
  for (std::size_t i = 0; i < files.size(); ++i) {
    std::error_code ec;
    std::filesystem::rename(file_path(tmps[i]), file_path(files[i].first), ec);
    if (ec) {
      for (std::size_t j = i; j < files.size(); ++j) std::filesystem::remove(file_path(tmps[j]), ec);
      throw RunError("Erro: não foi possível gravar o arquivo \"" + files[i].first + "\".");
    }
  }
}

void write_text_file(const std::string& name, const std::vector<std::string>& lines) {
  write_text_files({{name, lines}});
}

}  // namespace tx

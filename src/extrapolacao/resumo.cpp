// The summary files of the extrapolation.
#include "extrapolacao/resumo.hpp"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "arquivos/layout.hpp"
#include "arquivos/leitura.hpp"
#include "base/erro.hpp"
#include "caso/resumo.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace {

// Summary layout: 2 characters (blanks, or the quantity number), E25.15, " = ", label.
constexpr std::size_t kValueStart = 2, kValueWidth = 25;
constexpr int kQuantities = static_cast<int>(kSummaryQuantities.size());

[[noreturn]] void bad_line(const std::string& path, int line, const std::string& what) {
  throw RunError("Erro no arquivo \"" + path + "\", linha " + std::to_string(line) + ": " + what +
                 ".");
}

std::string show(const std::string& latin1_text) {
  constexpr std::size_t kMax = 60;
  std::string t = latin1_to_utf8(latin1_text.substr(0, kMax));
  if (latin1_text.size() > kMax) t += "...";
  return "\"" + t + "\"";
}

}  // namespace

std::string exact(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.17g", v);
  return buf;
}

SummaryFile read_summary_file(const std::string& path) {
  // A summary file has fourteen short lines.
  std::vector<std::string> lines = read_input_lines(path, "o arquivo de resumo", kSmallTextLimit);
  while (!lines.empty() && lines.back().find_first_not_of(' ') == std::string::npos)
    lines.pop_back();

  SummaryFile s;
  s.path = path;
  for (int n = 0; n <= kQuantities; ++n) {
    const int line = n + 1;
    if (n >= static_cast<int>(lines.size()))
      bad_line(path, line, n == 0 ? "o arquivo está vazio; esperado o valor de h"
                                  : "o arquivo terminou; esperada a grandeza " + std::to_string(n));
    const std::string& l = lines[n];
    char tag[3];
    if (n == 0)
      std::snprintf(tag, sizeof tag, "  ");
    else
      std::snprintf(tag, sizeof tag, "%2d", n);
    const std::size_t eq = l.find(" = ", kValueStart);
    if (l.compare(0, 2, tag) != 0 || eq == std::string::npos) {
      bad_line(path, line,
               std::string("esperado ") +
                   (n == 0 ? "\"h = descrição\"" : "o número " + std::to_string(n) +
                                                        ", um valor e \" = descrição\"") +
                   ", encontrado " + show(l));
    }
    const std::string field = l.substr(kValueStart, eq - kValueStart);
    const std::size_t a = field.find_first_not_of(' ');
    const std::size_t b = field.find_last_not_of(' ');
    double v = 0.0;
    char* stop = nullptr;
    const std::string text = a == std::string::npos ? "" : field.substr(a, b - a + 1);
    if (!text.empty()) v = std::strtod(text.c_str(), &stop);
    if (text.empty() || stop != text.c_str() + text.size() || !std::isfinite(v))
      bad_line(path, line, "esperado um número real finito, encontrado " + show(field));
    if (eq > kValueStart + kValueWidth + 8)
      bad_line(path, line, "valor fora das colunas esperadas: " + show(l));
    std::string label = l.substr(eq + 3);
    if (n == 0) {
      if (!(v > 0.0)) bad_line(path, line, "h deve ser positivo, encontrado " + show(text));
      s.h = v;
    } else {
      s.values.push_back(v);
      s.labels.push_back(label);
    }
  }
  if (lines.size() > static_cast<std::size_t>(kQuantities + 1))
    bad_line(path, kQuantities + 2,
             "esperadas " + std::to_string(kQuantities + 1) + " linhas, encontrado " +
                 show(lines[kQuantities + 1]));
  return s;
}

void check_summary_files(const std::vector<SummaryFile>& grids) {
  const SummaryFile& first = grids.front();
  for (std::size_t k = 1; k < grids.size(); ++k) {
    const SummaryFile& s = grids[k];
    for (std::size_t q = 0; q < s.labels.size(); ++q)
      if (s.labels[q] != first.labels[q])
        bad_line(s.path, static_cast<int>(q) + 2,
                 "a grandeza " + show(s.labels[q]) + " difere de " + show(first.labels[q]) +
                     " do arquivo \"" + first.path + "\"");
    for (std::size_t j = 0; j < k; ++j)
      if (std::fabs(s.h - grids[j].h) <= 1e-12 * s.h)
        bad_line(s.path, 1,
                 "h = " + exact(s.h) + " é o mesmo do arquivo \"" + grids[j].path +
                     "\"; as malhas devem ser diferentes");
  }
}

}  // namespace tx

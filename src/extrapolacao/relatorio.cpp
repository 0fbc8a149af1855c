// The extrapolation's report, CSV table and plot.
#include "extrapolacao/relatorio.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "arquivos/arquivo_texto.hpp"
#include "arquivos/gravacao.hpp"
#include "arquivos/layout.hpp"
#include "base/erro.hpp"
#include "base/texto.hpp"
#include "caso/resumo.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace fs = std::filesystem;

namespace {

bool available(double v) { return !std::isnan(v); }

// Number of code points of a UTF-8 text (its width on the console).
std::size_t width_of(std::string_view utf8) {
  std::size_t n = 0;
  for (char ch : utf8)
    if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80) ++n;
  return n;
}

std::string pad_right(const std::string& s, std::size_t w) {
  const std::size_t n = width_of(s);
  return n >= w ? s : s + std::string(w - n, ' ');
}

std::string pad_left(const std::string& s, std::size_t w) {
  const std::size_t n = width_of(s);
  return n >= w ? s : std::string(w - n, ' ') + s;
}

// A number in printf format `f`, or "-" where there is none; right-aligned in w.
std::string cell(double v, const char* f, std::size_t w) {
  if (!available(v)) return pad_left("-", w);
  char buf[64];
  std::snprintf(buf, sizeof buf, f, v);
  return pad_left(buf, w);
}

std::string csv_number(double v) {
  if (!available(v)) return {};
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15E", v);
  return buf;
}

}  // namespace

const char* kind_text(Convergence k) {
  switch (k) {
    case Convergence::Monotonic: return "monotônica";
    case Convergence::Oscillatory: return "oscilatória";
    case Convergence::Divergent: return "divergente";
    case Convergence::EqualValues: return "valores iguais";
    case Convergence::Constant: return "constante";
    case Convergence::AssumedOrder: return "ordem assumida";
  }
  return "";
}

std::vector<std::string> report_lines(const GridStudy& g) {
  const std::size_t n = g.grids.size();
  std::vector<std::string> out;
  char buf[256];
  out.push_back("Extrapolação de Richardson e índice de convergência de malha (GCI)");
  out.push_back("procedimento de Celik et al. (2008), J. Fluids Eng. 130, 078001");
  out.push_back("");
  out.push_back("Malhas, da mais fina (1) à mais grossa (" + std::to_string(n) + "):");
  out.push_back("  malha            h (m)        r  arquivo");
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(buf, sizeof buf, "  %5zu  %15.8E", i + 1, g.grids[i].h);
    std::string l = buf;
    l += i == 0 ? std::string(9, ' ') : cell(g.grids[i].h / g.grids[i - 1].h, "%.4f", 9);
    out.push_back(l + "  " + g.grids[i].path);
  }
  out.push_back("");
  if (n == 2) {
    std::snprintf(buf, sizeof buf,
                  "Duas malhas: ordem assumida p = %g (--ordem), fator de segurança 3.",
                  g.assumed_order);
    out.push_back(buf);
  } else {
    out.push_back("p: ordem observada das três malhas mais finas; extrapolado: das malhas 1 e 2;");
    out.push_back("e_a, e_ext: erros relativos aproximado e extrapolado; GCI: incerteza relativa na "
                  "malha 1 (fator de segurança 1.25);");
    out.push_back("razão assint.: GCI_32 / (r21^p GCI_21), perto de 1 na faixa assintótica.");
    if (n >= 4)
      out.push_back("mq: ajuste por mínimos quadrados de phi = phi0 + alfa h^p às " +
                    std::to_string(n) + " malhas.");
  }
  out.push_back("Sem ordem (oscilatória, divergente, valores iguais): os dados não permitem "
                "extrapolar.");

  std::size_t lw = 8;
  for (const auto& l : g.grids.front().labels) lw = std::max(lw, width_of(latin1_to_utf8(l)));
  auto lead = [&](const std::string& num, const std::string& label) {
    return pad_left(num, 3) + "  " + pad_right(label, lw);
  };

  out.push_back("");
  std::string head = lead("n", "grandeza");
  for (std::size_t i = 0; i < n; ++i) head += pad_left("malha " + std::to_string(i + 1), 17);
  out.push_back(head);
  for (std::size_t q = 0; q < g.results.size(); ++q) {
    std::string l = lead(std::to_string(q + 1), latin1_to_utf8(g.grids.front().labels[q]));
    for (const auto& s : g.grids) l += cell(s.values[q], "%.8E", 17);
    out.push_back(l);
  }

  out.push_back("");
  head = lead("n", "grandeza") + pad_left("p", 8) + pad_left("extrapolado", 17) +
         pad_left("e_a", 11) + pad_left("e_ext", 11) + pad_left("GCI", 11) + "  " +
         pad_right("convergência", 14);
  if (n >= 3) head += pad_left("razão assint.", 14);
  if (n >= 4) head += pad_left("p (mq)", 9) + pad_left("extrapolado (mq)", 17);
  out.push_back(head);
  for (std::size_t q = 0; q < g.results.size(); ++q) {
    const Extrapolation& x = g.results[q];
    std::string l = lead(std::to_string(q + 1), latin1_to_utf8(g.grids.front().labels[q]));
    l += cell(x.p, "%.4f", 8) + cell(x.phi_ext, "%.8E", 17) + cell(x.e_a, "%.3E", 11) +
         cell(x.e_ext, "%.3E", 11) + cell(x.gci, "%.3E", 11) + "  " +
         pad_right(kind_text(x.kind), 14);
    if (n >= 3) l += cell(x.asymptotic, "%.4f", 14);
    if (n >= 4) l += cell(x.p_fit, "%.4f", 9) + cell(x.phi0_fit, "%.8E", 17);
    while (!l.empty() && l.back() == ' ') l.pop_back();
    out.push_back(l);
  }
  return out;
}

std::string csv_text(const GridStudy& g, const char* eol) {
  // Appended field by field (g++ 12 warns falsely on "literal" + std::string).
  std::string t;
  auto field = [&t](const std::string& v) {
    t += ',';
    t += v;
  };
  t += "n,grandeza";
  for (std::size_t i = 0; i < g.grids.size(); ++i) {
    char h[32];
    std::snprintf(h, sizeof h, "%.6E", g.grids[i].h);
    field("malha_" + std::to_string(i + 1) + " (h = " + h + " m)");
  }
  t += ",p,extrapolado,e_a,e_ext,GCI,convergencia,razao_assintotica,p_mq,extrapolado_mq";
  t += eol;
  for (std::size_t q = 0; q < g.results.size(); ++q) {
    const Extrapolation& x = g.results[q];
    t += std::to_string(q + 1);
    t += ",\"";
    for (char ch : latin1_to_utf8(g.grids.front().labels[q])) {
      if (ch == '"') t += '"';
      t += ch;
    }
    t += '"';
    for (const auto& s : g.grids) field(csv_number(s.values[q]));
    for (double v : {x.p, x.phi_ext, x.e_a, x.e_ext, x.gci}) field(csv_number(v));
    field(kind_text(x.kind));
    for (double v : {x.asymptotic, x.p_fit, x.phi0_fit}) field(csv_number(v));
    t += eol;
  }
  return t;
}

namespace {

// Text inside a gnuplot single-quoted string: apostrophes doubled.
// Appended piece by piece (g++ 12 warns falsely on "literal" + std::string).
std::string gp_quoted(const std::string& s) {
  std::string r = "'";
  r += gnuplot_quoted(s);
  r += '\'';
  return r;
}

bool plottable(double v) { return std::fabs(v) <= 1e300; }  // false for NaN too

// The plot script, UTF-8 lines (converted to Latin-1 when written).
std::vector<std::string> plot_script(const GridStudy& g) {
  double hmax = g.grids.back().h;
  const auto plots = std::count_if(kSummaryQuantities.begin(), kSummaryQuantities.end(),
                                   [](const SummaryQuantity& q) { return q.plotted; });
  std::vector<std::string> s = {
      "# Estudo de convergência de malha: grandezas contra h, com o valor extrapolado em h = 0",
      "set encoding iso_8859_1",
      "set terminal pngcairo noenhanced size 900,1400",
      "set output " + gp_quoted(kPlotImage),
      "set multiplot layout " + std::to_string(plots) + ",1 title 'Estudo de convergência de malha'",
      "set xlabel 'h médio em X (m)'",
      "set xrange [0:" + exact(hmax * 1.05) + "]",
      "set grid",
      "set key outside below",
      "set samples 200",
  };
  int k = 0;
  for (std::size_t q = 0; q < kSummaryQuantities.size(); ++q) {
    if (!kSummaryQuantities[q].plotted || q >= g.results.size()) continue;
    ++k;
    const Extrapolation& x = g.results[q];
    // gnuplot takes values near the ends of the double range for undefined
    // points and would draw nothing at all: such a panel is left empty.
    bool drawable = true;
    for (const auto& f : g.grids) drawable = drawable && plottable(f.values[q]);
    if (!drawable) {
      s.push_back("set title " + gp_quoted(latin1_to_utf8(g.grids.front().labels[q]) +
                                           " (valores fora da faixa do gráfico)"));
      s.push_back("plot [] [0:1] NaN notitle");
      continue;
    }
    const std::string d = "$malhas" + std::to_string(k);
    s.push_back(d + " << EOD");
    for (const auto& f : g.grids) s.push_back(exact(f.h) + " " + exact(f.values[q]));
    s.push_back("EOD");
    std::string title = latin1_to_utf8(g.grids.front().labels[q]);
    std::string plot = "plot " + d + " using 1:2 with linespoints pt 7 title 'malhas'";
    const double phi1 = g.grids.front().values[q];
    if (plottable(x.phi_ext) && plottable(x.gci * std::fabs(phi1)) &&
        plottable(phi1 - x.phi_ext)) {
      const std::string e = "$extrapolado" + std::to_string(k);
      s.push_back(e + " << EOD");
      s.push_back("0 " + exact(x.phi_ext) + " 0");
      s.push_back(exact(g.grids.front().h) + " " + exact(phi1) + " " +
                  exact(x.gci * std::fabs(phi1)));
      s.push_back("EOD");
      char lab[160];
      std::snprintf(lab, sizeof lab, "extrapolado = %.6f, GCI = %.2g %%", x.phi_ext,
                    100.0 * x.gci);
      plot += ", " + e + " every ::0::0 using 1:2 with points pt 6 ps 2 title " + gp_quoted(lab);
      plot += ", " + e + " every ::1::1 using 1:2:3 with yerrorbars pt 7 title " +
              gp_quoted("incerteza na malha 1 (GCI)");
      if (available(x.p) && x.kind == Convergence::Monotonic) {
        // The three-grid model through the fine value: phi_ext + (phi1 - phi_ext)(h / h1)^p.
        plot += ", " + exact(x.phi_ext) + " + (" + exact(phi1 - x.phi_ext) + ")*(x/" +
                exact(g.grids.front().h) + ")**" + exact(x.p) + " with lines dt 2 title " +
                gp_quoted("ajuste das três malhas mais finas, p = " + cell(x.p, "%.3f", 0));
      }
    } else {
      title += std::string(" (sem extrapolação: ") + kind_text(x.kind) + ")";
    }
    s.push_back("set title " + gp_quoted(title));
    s.push_back(plot);
  }
  s.push_back("unset multiplot");
  return s;
}

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> r;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    r.push_back(text.substr(pos, end - pos));
    pos = end + 1;
  }
  return r;
}

}  // namespace

std::vector<std::string> study_file_names(bool csv_file) {
  std::vector<std::string> names = {kReportFile, kPlotScript, kPlotImage};
  if (csv_file) names.push_back(kCsvFile);
  return names;
}

void write_report_file(const std::vector<std::string>& lines) { write_text_file(kReportFile, lines); }

void check_report_files(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    std::string why;
    if (!replaceable(name, &why))
      throw RunError("Erro: o arquivo \"" + name + "\" " + why +
                     "; ele é regravado ao final: remova-o. Nenhum arquivo foi alterado.");
    std::error_code ec;
    if (fs::exists(fs::symlink_status(name, ec)) && !is_writable(name, &why))
      throw RunError("Erro: o arquivo \"" + name + "\" não pode ser gravado (" + why +
                     "). Nenhum arquivo foi alterado.");
    // A stale temporary (a killed study's) is replaced; anything else there
    // is refused, as the outputs themselves are.
    const std::string tmp = name + ".tmp";
    if (!replaceable(tmp, &why))
      throw RunError("Erro: \"" + tmp + "\", o nome temporário de \"" + name + "\", " + why +
                     ": remova-o. Nenhum arquivo foi alterado.");
  }
  if (std::string why; !folder_takes_new_files(".", &why))
    throw RunError("Erro: a pasta atual não permite criar os arquivos do estudo (" + why +
                   "). Nenhum arquivo foi alterado.");
}

bool write_study_files(const GridStudy& g, const std::vector<std::string>& preamble,
                       bool csv_file, const std::vector<std::string>& postscript,
                       volatile std::sig_atomic_t* stop) {
  std::vector<std::string> report = preamble;
  for (auto& l : report_lines(g)) report.push_back(std::move(l));
  report.insert(report.end(), postscript.begin(), postscript.end());
  std::vector<TextFileLines> files = {
      {kReportFile, report}, {kPlotScript, plot_script(g)}};
  if (csv_file) files.push_back({kCsvFile, split_lines(csv_text(g, "\n"))});
  write_text_files(files);

  const int st = run_quietly("gnuplot", {kPlotScript}, "");
  if (st != 0 && stop != nullptr && *stop) return false;  // the caller says so
  if (st != 0) {
    std::fprintf(stderr,
                 st == 127 ? "Aviso: gnuplot não encontrado; %s não foi desenhado (rode "
                             "\"gnuplot %s\" depois).\n"
                           : "Aviso: o gnuplot falhou; %s não foi desenhado (rode \"gnuplot "
                             "%s\" para ver o erro).\n",
                 kPlotImage, kPlotScript);
    return false;
  }
  return true;
}

}  // namespace tx

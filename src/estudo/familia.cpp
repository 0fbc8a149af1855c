// tubrix-estudo --familia: the table of variants, their folders, the grids
// of all of them run together and the family's report.
#include "estudo/familia.hpp"
#include "estudo/estudo.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <memory>

#include "arquivos/arquivo_texto.hpp"
#include "arquivos/layout.hpp"
#include "arquivos/leitura.hpp"
#include "arquivos/listread.hpp"
#include "base/erro.hpp"
#include "base/texto.hpp"
#include "caso/dados.hpp"
#include "caso/itens.hpp"
#include "caso/resumo.hpp"
#include "estudo/cauchy.hpp"
#include "estudo/executor.hpp"
#include "extrapolacao/relatorio.hpp"
#include "estudo/verificacao.hpp"
#include "parede/parede.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace fs = std::filesystem;

namespace {

// Items a variant may not change, and why: the study sets them for every
// grid, or they change no result (output switches, texts).
struct Refused {
  const char* name;
  const char* why;
};
constexpr Refused kRefusedItems[] = {
    {"caso", "o nome de cada variante é o do caso seguido do nome da variante"},
    {"nx", "as malhas são as do estudo (--malhas ou --niveis)"},
    {"ny", "as malhas são as do estudo (--malhas ou --niveis)"},
    {"ci", "o estudo começa e continua cada malha por conta própria"},
    {"itmax", "o estudo dá a cada malha o itmax do arquivo escalado com a malha"},
    {"w_cam", "é uma opção de saída, que não muda o resultado"},
    {"w_r", "é uma opção de saída, que o estudo ajusta à janela de cada malha"},
    {"w_g", "é uma opção de saída, que não muda o resultado"},
    {"sem_a", "o estudo não abre arquivos"},
    {"sem_g", "o estudo não abre gráficos"},
    {"hard", "é um texto, que não muda o resultado"},
    {"titulo", "é um texto, que não muda o resultado"},
    {"parede", "a parede da variante é a do caso, com os parâmetros da tabela"},
};

[[noreturn]] void bad_table(const std::string& file, int line, const std::string& column,
                            const std::string& what) {
  std::string m = "Erro no arquivo \"" + file + "\", linha " + std::to_string(line);
  if (!column.empty()) m += ", coluna " + in_quotes(column);
  throw RunError(m + ": " + what + ".");
}

std::string column_list() {
  std::string l;
  for (const CaseItem& it : kCaseItems) {
    bool refused = false;
    for (const Refused& r : kRefusedItems) refused = refused || it.name == std::string(r.name);
    if (!refused) l += std::string(l.empty() ? "" : ", ") + it.name;
  }
  l += std::string(", ") + kSchemeItem.name + " ('padrao' ou 'ordem2')";
  l += "; da parede 'conica': ";
  for (std::size_t k = 0; k < kConicalParams.size(); ++k)
    l += std::string(k == 0 ? "" : ", ") + kConicalParams[k].name;
  l += "; da parede 'sino': ";
  for (std::size_t k = 0; k < kBellParams.size(); ++k)
    l += std::string(k == 0 ? "" : ", ") + kBellParams[k].name;
  return l;
}

// The case item a column names (0 for a wall parameter); throws for any
// other column.
int column_item(const std::string& file, const std::string& col) {
  for (const Refused& r : kRefusedItems)
    if (col == r.name) bad_table(file, 1, col, std::string("não pode variar numa família: ") + r.why);
  for (const CaseItem& it : kCaseItems)
    if (col == it.name) return it.number;
  if (col == kSchemeItem.name) return kSchemeItem.number;
  if (conical_param_index(col) >= 0 || bell_param_index(col) >= 0) return 0;
  bad_table(file, 1, col,
            "coluna desconhecida (as colunas são o nome da variante e depois itens do caso ou "
            "parâmetros da parede, com maiúsculas e minúsculas como no arquivo de dados; itens: " +
                column_list() + ")");
}

// A variant's name becomes a folder and a suffix of the case name.
std::string name_problem(const std::string& n) {
  if (n.empty()) return "nome da variante em branco";
  if (n == "." || n == "..") return "o nome " + in_quotes(n) + " não é um nome de pasta";
  for (char ch : n)
    if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
          ch == '.' || ch == '-' || ch == '_'))  // ASCII whatever the locale
      return "o nome " + in_quotes(n) +
             " tem caracteres que não servem a uma pasta (use letras sem acento, algarismos, "
             "'.', '-' e '_')";
  if (n.front() == '-' || n.front() == '.')
    return "o nome " + in_quotes(n) + " não pode começar com '-' nem com '.'";
  return {};
}

// The scheme column holds a name, not a number: written in the table as
// the data file writes item 30, or without the apostrophes.
bool is_scheme_column(const std::string& col) { return col == kSchemeItem.name; }

std::string lower(std::string s) {
  for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  return s;
}

std::vector<std::string> split_fields(const std::string& line, char sep) {
  std::vector<std::string> out;
  std::size_t pos = 0;
  while (true) {
    const std::size_t end = line.find(sep, pos);
    std::string f = trimmed(line.substr(pos, end == std::string::npos ? end : end - pos));
    if (f.size() >= 2 && f.front() == '"' && f.back() == '"') f = trimmed(f.substr(1, f.size() - 2));
    out.push_back(f);
    if (end == std::string::npos) break;
    pos = end + 1;
  }
  return out;
}

// Works in another folder for a while: back to the first one on leaving.
class InFolder {
 public:
  explicit InFolder(const fs::path& dir) {
    std::error_code ec;
    back_ = fs::current_path(ec);
    if (!ec) fs::current_path(dir, ec);
    if (ec)
      throw RunError("Erro: não foi possível entrar na pasta \"" + dir.string() + "\" (" +
                     error_reason(ec.value()) + ").");
  }
  ~InFolder() {
    std::error_code ec;
    fs::current_path(back_, ec);
  }
  InFolder(const InFolder&) = delete;
  InFolder& operator=(const InFolder&) = delete;

 private:
  fs::path back_;
};

// A temporary folder removed with everything in it on leaving.
class TempFolder {
 public:
  TempFolder() {
    std::error_code ec;
    const fs::path base = fs::temp_directory_path(ec);
    for (int k = 0; k < 1000 && path_.empty() && !base.empty(); ++k) {
      const fs::path p = base / ("tubrix-familia-" + std::to_string(std::rand()) + "-" +
                                 std::to_string(k));
      if (fs::create_directory(p, ec) && !ec) path_ = p;
    }
    if (path_.empty())
      throw RunError("Erro: não foi possível criar uma pasta temporária para conferir as "
                     "variantes (" + base.string() + ").");
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The base case as the study reads it, with its wall.
struct BaseCase {
  std::string data_file;
  CaseData c;  // real volume counts
  Wall wall;
  std::vector<std::string> wall_lines;  // the wall file as it is (UTF-8)
};

// The variant's scheme (item 30): the table's, else the base case's.
Scheme variant_scheme(const BaseCase& b, const FamilyTable& t, const FamilyVariant& v) {
  for (std::size_t k = 0; k < t.columns.size(); ++k)
    if (is_scheme_column(t.columns[k])) return static_cast<Scheme>(static_cast<int>(v.value[k]));
  return b.c.esquema;
}

// The values of the variant's 28 items as its data file holds them, and its
// wall parameters (true when the table changes any).
bool variant_values(const BaseCase& b, const FamilyTable& t, const FamilyVariant& v,
                    std::vector<std::string>& values, std::vector<double>& p) {
  values = case_item_values(b.c);
  values[0] = trimmed(b.c.caso) + "_" + v.name;
  p = wall_param_values(b.wall);
  bool wall_changed = false;
  for (std::size_t k = 0; k < t.columns.size(); ++k) {
    const std::string& col = t.columns[k];
    const int w = form_param_index(b.wall.form, col);
    bool item = false;
    for (const CaseItem& it : kCaseItems)
      if (col == it.name) {
        item = true;
        values[static_cast<std::size_t>(it.number - 1)] =
            it.kind == ItemKind::Integer ? std::to_string(static_cast<int>(v.value[k]))
                                         : real_text(v.value[k]);
      }
    if (!item && w >= 0) {
      p[static_cast<std::size_t>(w)] = v.value[k];
      wall_changed = true;
    }
  }
  return wall_changed;
}

// The files of one variant's folder, UTF-8 lines.
std::vector<TextFileLines> variant_files(const BaseCase& b, const FamilyTable& t,
                                         const FamilyVariant& v) {
  std::vector<std::string> values;
  std::vector<double> p;
  const bool wall_changed = variant_values(b, t, v, values, p);
  std::vector<std::string> data;
  for (const CaseItem& it : kCaseItems)
    data.push_back(latin1_to_utf8(case_data_line(it, values[static_cast<std::size_t>(it.number - 1)])));
  const Scheme e = variant_scheme(b, t, v);
  const bool scheme = e != Scheme::kPadrao;
  if (!b.c.parede.empty() || scheme)
    data.push_back(latin1_to_utf8(
        case_data_line(kWallItem, b.c.parede.empty() ? kBuiltinWall : b.c.parede)));
  if (scheme) data.push_back(latin1_to_utf8(case_data_line(kSchemeItem, scheme_name(e))));
  std::vector<TextFileLines> files = {{kSwitchFile, {"1"}},
                                      {kSelectionFile, {apostrophed(b.data_file)}},
                                      {b.data_file, data}};
  if (b.c.parede.empty()) return files;
  std::vector<std::string> wall = b.wall_lines;
  if (wall_changed) {
    const std::span<const WallParam> params = form_params(b.wall.form);
    wall = {form_heading(b.wall.form) + " (variante " + v.name + ")"};
    for (std::size_t k = 0; k < params.size(); ++k) {
      std::string l = real_text(p[k]);
      l += std::string(l.size() < 15 ? 15 - l.size() : 0, ' ');
      wall.push_back(l + params[k].name + ": " + params[k].meaning + " (" + params[k].unit + ")");
    }
  }
  files.push_back({b.c.parede, wall});
  return files;
}

// The column of a row that a reader's message names, or "".
std::string column_in(const std::string& message, const FamilyTable& t,
                      const std::string& wall_file) {
  for (const std::string& c : t.columns)
    if (message.find("(" + c + ")") != std::string::npos ||
        message.find("parâmetro " + c) != std::string::npos)
      return c;
  // A wall that cannot be built may blame a parameter the table leaves alone.
  std::string wall;
  if (!wall_file.empty() && message.find(in_quotes(wall_file)) != std::string::npos)
    for (const std::string& c : t.columns)
      if (conical_param_index(c) >= 0 || bell_param_index(c) >= 0)
        wall += (wall.empty() ? "" : ", ") + c;
  return wall;
}

// The variant read and checked as its study would, in a temporary folder:
// its grids (names and data), and in `jobs` the runs at once that fit.
std::vector<Grid> check_variant(const BaseCase& b, const FamilyTable& t, const FamilyVariant& v,
                                const StudyOptions& opt, int& jobs) {
  const TempFolder tmp;
  std::vector<Grid> grids;
  try {
    {
      const InFolder in(tmp.path());
      write_text_files(variant_files(b, t, v));
      StudyOptions o = opt;
      grids = plan_study_grids(read_study_case(), o);
      jobs = o.jobs;
    }
  } catch (const RunError& e) {
    std::string m = e.what();
    if (m.rfind("Erro ", 0) == 0) m = m.substr(5);
    while (!m.empty() && m.back() == '.') m.pop_back();
    bad_table(t.file, v.line, column_in(m, t, b.c.parede),
              "a variante " + in_quotes(v.name) + " seria recusada (" + m + ")");
  }
  return grids;
}

// A variant's folder is absent, or this family's: the same case name in the
// same data file, and the same data in the items that decide the solution
// (its grids' results are kept, never its inputs rewritten under them).
void check_variant_folder(const BaseCase& b, const FamilyTable& t, const FamilyVariant& v) {
  const std::string& table = t.file;
  std::error_code ec;
  const fs::path dir = v.name;
  if (!fs::exists(fs::symlink_status(dir, ec))) return;
  const fs::path data = dir / b.data_file;
  bool ours = fs::is_directory(fs::symlink_status(dir, ec)) && fs::is_regular_file(data, ec);
  if (ours) {
    try {
      ListReader r(data.string());
      ours = trimmed(r.read_name(1, "caso")) == trimmed(b.c.caso) + "_" + v.name;
    } catch (const RunError&) {
      ours = false;
    }
  }
  if (!ours)
    throw RunError("Erro: \"" + v.name + "\" já existe nesta pasta e não é a pasta da variante " +
                   v.name + " da tabela \"" + table + "\" (falta \"" + data.string() +
                   "\" com o caso " + trimmed(b.c.caso) + "_" + v.name +
                   "); apague-a ou renomeie-a, ou mude o nome da variante.");
  std::vector<std::string> values;
  std::vector<double> p;
  variant_values(b, t, v, values, p);
  const auto refuse = [&](const std::string& what, const std::string& now, const std::string& had) {
    throw RunError("Erro no arquivo \"" + data.string() + "\", " + what + ": a tabela \"" + table +
                   "\" daria " + now + ", a variante já tem " + had +
                   " (resultados de outros dados); apague a pasta \"" + v.name +
                   "\" para refazer a variante, ou mude o nome dela.");
  };
  ListReader r(data.string());
  for (const CaseItem& item : kCaseItems) {
    const std::string found = trimmed(r.read_char(item.number, item.name));
    const std::string& want = values[static_cast<std::size_t>(item.number - 1)];
    if (item.decides_solution && found != trimmed(want))
      refuse("item " + std::to_string(item.number) + " (" + item.name + ")", want, found);
  }
  // The scheme, item 30 after item 29 (the wall is compared below).
  std::string wall_item, scheme;
  if (!r.read_optional_name(wall_item) || !r.read_optional_name(scheme)) scheme = kSchemeNames[0];
  scheme = trimmed(scheme);
  const std::string want_scheme = scheme_name(variant_scheme(b, t, v));
  if (scheme != want_scheme)
    refuse("item 30 (esquema)", "'" + want_scheme + "'", "'" + scheme + "'");
  if (b.c.parede.empty()) return;
  const std::vector<TextFileLines> files = variant_files(b, t, v);
  const fs::path wall = dir / b.c.parede;
  std::vector<std::string> had;
  try {
    had = wall_file_lines(wall.string());
  } catch (const RunError&) {
    had.clear();
  }
  for (std::string& l : had) l = latin1_to_utf8(to_latin1(l));
  if (had != files.back().second)
    throw RunError("Erro no arquivo \"" + wall.string() + "\": a parede da variante não é a que a "
                   "tabela \"" + table + "\" daria (resultados de outra parede); apague a pasta \"" +
                   v.name + "\" para refazer a variante, ou mude o nome dela.");
}



// CdKL of a grid's listing, NaN when there is none.
double listing_cdkl(const std::string& path) {
  std::FILE* f = open_regular_file(path);
  if (f == nullptr) return kNotAvailable;
  std::string all;
  char buf[1 << 14];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) all.append(buf, n);
  std::fclose(f);
  const std::size_t at = all.find("= CdKL:");
  if (at == std::string::npos) return kNotAvailable;
  std::size_t start = all.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  char* end = nullptr;
  const std::string num = all.substr(start, at - start);
  const double v = std::strtod(num.c_str(), &end);
  return end == num.c_str() ? kNotAvailable : v;
}

// What the family reports of one variant.
struct VariantResult {
  bool extrapolated = false;
  std::string why;
  GridStudy study;
  std::vector<double> it_error;  // largest estimate over the grids used, per quantity
  double cdkl = kNotAvailable;
};

// `grids`: the variant's grids as its report found them (none when its
// study stopped before).
VariantResult variant_result(const std::vector<Grid>& grids, const StudyReport& h,
                             const std::string& dir) {
  VariantResult r;
  r.extrapolated = h.extrapolated;
  r.why = h.why;
  r.study = h.study;
  r.it_error.assign(kQuantities, kNotAvailable);
  for (const Grid& g : grids) {  // fine to coarse: the first listing is the finest's
    if (std::isnan(r.cdkl))
      r.cdkl = listing_cdkl((fs::path(dir) / g.name / (g.caso + ".txt")).string());
    const std::string summary = (fs::path(g.name) / (g.caso + kSummarySuffix)).string();
    if (std::find(h.used.begin(), h.used.end(), summary) == h.used.end()) continue;
    const auto hist = read_itn((fs::path(dir) / g.name / (g.caso + ".itn")).string());
    if (hist.empty()) continue;
    const auto e = quantity_errors(hist, g.window);
    for (std::size_t q = 0; q < e.size() && q < r.it_error.size(); ++q)
      if (!std::isnan(e[q].value) && (std::isnan(r.it_error[q]) || e[q].value > r.it_error[q]))
        r.it_error[q] = e[q].value;
  }
  if (!r.extrapolated && r.why.empty()) r.why = "o estudo não extrapolou";
  if (!r.extrapolated) {
    std::string s;
    for (const Grid& g : grids)
      if (g.outcome.state != GridState::Converged && g.outcome.state != GridState::CauchyConverged)
        s += (s.empty() ? "" : ", ") + g.name + " " + state_text(g.outcome.state);
    if (!s.empty()) r.why += " (" + s + ")";
  }
  return r;
}

std::string num(double v, const char* fmt) {
  if (std::isnan(v)) return "-";
  char buf[48];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// CSV cells: empty for a missing value, exact otherwise.
std::string cell(double v) { return std::isnan(v) ? std::string() : real_text(v); }

// The varied column drawn along x: the only one when it is a number, else
// the row number.
bool single_column(const FamilyTable& t) {
  return t.columns.size() == 1 && !is_scheme_column(t.columns.front());
}

std::vector<std::string> family_plot(const FamilyTable& t, const std::vector<VariantResult>& res) {
  const std::string xlabel = single_column(t) ? t.columns.front() : "variante";
  // Along the varied column in its order (the CdKL line must not zigzag).
  std::vector<std::size_t> order(res.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  if (single_column(t))
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
      return t.rows[a].value.front() < t.rows[b].value.front();
    });
  std::vector<std::string> s = {
      "# Família de tubeiras: valores extrapolados (barras: GCI) e CdKL da malha mais fina",
      "set encoding iso_8859_1",
      "set terminal pngcairo noenhanced size 900,1100",
      "set output '" + std::string(kFamilyImage) + "'",
      "set multiplot layout 3,1 title 'Família de tubeiras'",
      "set xlabel '" + gnuplot_quoted(xlabel) + "'",
      "set grid",
      "set key outside below",
      "set offsets graph 0.05, graph 0.05, graph 0.05, graph 0.05",
  };
  int panel = 0;
  for (std::size_t q = 0; q < kSummaryQuantities.size(); ++q) {
    if (!kSummaryQuantities[q].plotted) continue;
    ++panel;
    const std::string d = "$familia" + std::to_string(panel);
    s.push_back(d + " << EOD");
    bool any = false;
    for (const std::size_t k : order) {
      const double x = single_column(t) ? t.rows[k].value.front() : static_cast<double>(k + 1);
      const auto& r = res[k];
      double phi = kNotAvailable, err = kNotAvailable;
      if (r.extrapolated && q < r.study.results.size()) {
        phi = r.study.results[q].phi_ext;
        err = r.study.results[q].gci * std::fabs(r.study.grids.front().values[q]);
      }
      const bool ok = std::fabs(phi) <= 1e300;
      any = any || ok;
      s.push_back(exact(x) + " " + (ok ? exact(phi) : "NaN") + " " +
                  (std::fabs(err) <= 1e300 ? exact(err) : "0") + " " +
                  (std::fabs(r.cdkl) <= 1e300 ? exact(r.cdkl) : "NaN") + " " + t.rows[k].name);
    }
    s.push_back("EOD");
    s.push_back("set title '" + gnuplot_quoted(kSummaryQuantities[q].label) + "'");
    // Several columns vary: the variants by number, their names on the axis.
    std::string plot = "plot " + d + " using 1:2:3" + (single_column(t) ? "" : ":xtic(5)") +
                       " with yerrorbars pt 7 title 'extrapolado (GCI)'";
    if (q == 0) plot += ", " + d + " using 1:4 with linespoints dt 2 title 'CdKL'";
    s.push_back(any ? plot : "plot [] [0:1] NaN notitle");
  }
  s.push_back("unset multiplot");
  return s;
}

void write_family_files(const FamilyTable& t, const std::vector<VariantResult>& res,
                        const std::vector<std::string>& head, volatile std::sig_atomic_t* stop) {
  // CSV: the row, then per quantity value, GCI, order and iteration error.
  std::string h = "variante";
  for (const auto& c : t.columns) h += "," + c;
  for (std::size_t q = 1; q <= kSummaryQuantities.size(); ++q) {
    const std::string n = std::to_string(q);
    h += ",extrapolado_" + n + ",GCI_" + n + ",p_" + n + ",erro_iteracao_" + n;
  }
  h += ",CdKL,situacao";
  std::vector<std::string> csv = {h};
  std::vector<std::string> txt = head;
  txt.push_back("");
  txt.push_back("Grandezas: n = 1 a 13 do resumo de cada malha (coeficiente de descarga = 1, "
                "coeficientes de empuxo = 7 e 8); extrapolado, GCI da malha fina, ordem "
                "observada p e o maior erro de iteração das malhas usadas.");
  for (std::size_t q = 0; q < kSummaryQuantities.size(); ++q)
    txt.push_back("  " + std::to_string(q + 1) + ": " + kSummaryQuantities[q].label);
  for (std::size_t k = 0; k < res.size(); ++k) {
    const FamilyVariant& v = t.rows[k];
    const VariantResult& r = res[k];
    std::string row = v.name;
    std::string vary;
    for (std::size_t c = 0; c < t.columns.size(); ++c) {
      row += ',';
      row += is_scheme_column(t.columns[c]) ? v.text[c] : real_text(v.value[c]);
      vary += (c == 0 ? "" : ", ") + t.columns[c] + " = " + v.text[c];
    }
    txt.push_back("");
    txt.push_back("Variante " + v.name + " (" + vary + "), pasta " + v.name + "/:");
    for (std::size_t q = 0; q < kSummaryQuantities.size(); ++q) {
      const Extrapolation* x =
          r.extrapolated && q < r.study.results.size() ? &r.study.results[q] : nullptr;
      const double ext = x ? x->phi_ext : kNotAvailable, gci = x ? x->gci : kNotAvailable,
                   p = x ? x->p : kNotAvailable;
      for (double c : {ext, gci, p, r.it_error[q]}) {  // piece by piece: g++ 12 warns falsely
        row += ',';
        row += cell(c);
      }
      if (r.extrapolated) {
        char buf[200];
        std::snprintf(buf, sizeof buf, "  %2zu  extrapolado %-16s GCI %-10s p %-7s erro de iteração %s",
                      q + 1, num(ext, "%.9g").c_str(), num(gci, "%.2E").c_str(),
                      num(p, "%.3f").c_str(), num(r.it_error[q], "%.2E").c_str());
        txt.push_back(buf);
      }
    }
    if (!r.extrapolated) txt.push_back("  sem extrapolação: " + r.why + ".");
    // The plotted quantities the study could not extrapolate, and why.
    std::string missing;
    for (std::size_t q = 0; r.extrapolated && q < r.study.results.size(); ++q) {
      if (!kSummaryQuantities[q].plotted || std::fabs(r.study.results[q].phi_ext) <= 1e300)
        continue;
      missing += missing.empty() ? "; sem extrapolação: " : ", ";
      missing += kSummaryQuantities[q].label;
      missing += " (";
      missing += kind_text(r.study.results[q].kind);
      missing += ')';
    }
    if (!missing.empty()) txt.push_back("  " + missing.substr(2) + ".");
    txt.push_back("  CdKL (malha mais fina): " + num(r.cdkl, "%.9g"));
    std::string why = r.extrapolated ? std::string("extrapolado") + missing : r.why;
    std::string quoted = "\"";
    for (char ch : why) quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
    row += "," + cell(r.cdkl) + "," + quoted + "\"";
    csv.push_back(row);
  }
  for (const auto& l : txt) std::printf("%s\n", l.c_str());
  std::fflush(stdout);
  write_text_files({{kFamilyReport, txt}, {kFamilyCsv, csv}, {kFamilyScript, family_plot(t, res)}});
  const int st = run_quietly("gnuplot", {kFamilyScript}, "");
  if (st != 0 && !(stop != nullptr && *stop))
    std::fprintf(stderr, "Aviso: %s; %s não foi desenhado (rode \"gnuplot %s\").\n",
                 st == 127 ? "gnuplot não encontrado" : "o gnuplot falhou", kFamilyImage,
                 kFamilyScript);
}

}  // namespace

FamilyTable read_family_table(const std::string& path) {
  FamilyTable t;
  t.file = path;
  std::string all = read_input_text(path, "a tabela da família");
  if (all.rfind("\xEF\xBB\xBF", 0) == 0) all.erase(0, 3);
  // UTF-8 or Latin-1, line by line (a byte that is no UTF-8 is Latin-1).
  std::vector<std::pair<int, std::string>> lines;
  std::size_t pos = 0;
  int number = 0;
  while (pos < all.size()) {
    std::size_t end = all.find('\n', pos);
    if (end == std::string::npos) end = all.size();
    std::string l = all.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!l.empty() && l.back() == '\r') l.pop_back();
    l = latin1_to_utf8(to_latin1(l));
    if (!trimmed(l).empty()) lines.push_back({number, l});
  }
  if (lines.empty()) bad_table(path, 1, "", "tabela vazia (esperado um cabeçalho e uma linha por variante)");
  const char sep = lines.front().second.find(';') != std::string::npos ? ';' : ',';
  const std::vector<std::string> head = split_fields(lines.front().second, sep);
  const int head_line = lines.front().first;
  if (head.size() < 2)
    bad_table(path, head_line, "",
              "o cabeçalho precisa do nome da variante e de pelo menos uma coluna a variar");
  std::vector<int> item;
  for (std::size_t k = 1; k < head.size(); ++k) {
    for (std::size_t j = 1; j < k; ++j)
      if (head[j] == head[k]) bad_table(path, head_line, head[k], "coluna repetida");
    item.push_back(column_item(path, head[k]));
    t.columns.push_back(head[k]);
  }
  if (lines.size() < 2) bad_table(path, head_line, "", "tabela sem variantes (só o cabeçalho)");
  for (std::size_t r = 1; r < lines.size(); ++r) {
    const int ln = lines[r].first;
    std::vector<std::string> fields = split_fields(lines[r].second, sep);
    if (fields.size() != head.size())
      bad_table(path, ln, "",
                std::to_string(fields.size()) + " campos, mas o cabeçalho tem " +
                    std::to_string(head.size()));
    FamilyVariant v;
    v.name = fields[0];
    v.line = ln;
    if (const std::string p = name_problem(v.name); !p.empty()) bad_table(path, ln, head[0], p);
    for (const auto& o : t.rows)
      if (lower(o.name) == lower(v.name))
        bad_table(path, ln, head[0],
                  "a variante " + in_quotes(v.name) + " repete o nome da linha " +
                      std::to_string(o.line));
    for (std::size_t k = 1; k < fields.size(); ++k) {
      if (is_scheme_column(head[k])) {
        std::string s = fields[k];
        if (s.size() >= 2 && s.front() == '\'' && s.back() == '\'')
          s = trimmed(s.substr(1, s.size() - 2));
        int e = -1;
        for (std::size_t j = 0; j < std::size(kSchemeNames); ++j)
          if (s == kSchemeNames[j]) e = static_cast<int>(j);
        if (e < 0)
          bad_table(path, ln, head[k],
                    "esperado 'padrao' ou 'ordem2', encontrado " + in_quotes(fields[k]));
        v.text.push_back(s);
        v.value.push_back(e);
        continue;
      }
      std::string s = fields[k];
      if (sep == ';') std::replace(s.begin(), s.end(), ',', '.');  // a decimal comma
      double x = 0;
      const auto res = std::from_chars(s.data(), s.data() + s.size(), x);
      const bool integer = item[k - 1] > 0 && case_item(item[k - 1]).kind == ItemKind::Integer;
      if (s.empty() || res.ec != std::errc() || res.ptr != s.data() + s.size() || !std::isfinite(x))
        bad_table(path, ln, head[k], "esperado um número, encontrado " + in_quotes(fields[k]));
      if (integer && !(x == std::floor(x) && std::fabs(x) < 1e9))
        bad_table(path, ln, head[k], "esperado um inteiro, encontrado " + in_quotes(fields[k]));
      v.text.push_back(fields[k]);
      v.value.push_back(x);
    }
    t.rows.push_back(std::move(v));
  }
  return t;
}

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The family's command line: its table, and the study's options that every
// variant's study takes.
struct FamilyOptions {
  std::string table;
  StudyOptions study;
};

// "--familia TABELA" (the last one given), and the study's options in the
// other arguments. Throws RunError naming the argument.
FamilyOptions parse_family_options(const std::vector<std::string>& args) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < args.size(); ++i)
    if (args[i] == "--familia") at = i;
  if (at + 1 >= args.size()) bad_argument("--familia", "falta o valor");
  FamilyOptions o;
  o.table = args[at + 1];
  std::vector<std::string> study = args;
  study.erase(study.begin() + static_cast<std::ptrdiff_t>(at),
              study.begin() + static_cast<std::ptrdiff_t>(at + 2));
  bool help = false;  // never set: with --help the study shows its usage instead
  o.study = parse_study_options(study, help);
  return o;
}

// The base case and its wall, as the study reads them; its grids checked
// with the options as the study checks them, so that their messages are the
// study's own, not a variant's.
BaseCase read_base_case(const StudyOptions& opt) {
  const StudyCase s = read_study_case();
  StudyOptions o = opt;
  plan_study_grids(s, o);
  BaseCase b;
  b.data_file = s.data_file;
  b.c = s.c;
  b.wall = s.wall;
  if (!b.c.parede.empty()) {
    b.wall_lines = wall_file_lines(b.c.parede);
    for (std::string& l : b.wall_lines) l = latin1_to_utf8(to_latin1(l));
  }
  return b;
}

// The table against the base folder: no variant's folder takes the name of
// one of its files, and a wall parameter varies only a wall of its form.
void check_table_on_base(const BaseCase& b, const FamilyTable& t) {
  const std::string& table_path = t.file;
  const std::string reserved[] = {kFamilyReport, kFamilyCsv, kFamilyScript, kFamilyImage,
                                  kStudyLockFile, kSwitchFile, kSelectionFile, b.data_file,
                                  b.c.parede, file_path(table_path).filename().string()};
  for (const FamilyVariant& v : t.rows)
    for (const std::string& r : reserved)
      if (lower(v.name) == lower(r))
        bad_table(table_path, v.line, "",
                  "o nome " + in_quotes(v.name) + " é o de um arquivo desta pasta");
  for (const std::string& c : t.columns) {
    const bool item = is_scheme_column(c) ||
                      std::any_of(kCaseItems.begin(), kCaseItems.end(),
                                  [&](const CaseItem& it) { return c == it.name; });
    if (item) continue;
    if (b.c.parede.empty())
      bad_table(table_path, 1, c,
                "o caso \"" + b.data_file + "\" não tem arquivo da parede (item 29): a parede "
                "embutida não tem parâmetros");
    if (form_params(b.wall.form).empty())
      bad_table(table_path, 1, c,
                "a parede \"" + b.c.parede + "\" é dada por pontos ('pontos'): seus parâmetros "
                "não podem variar; só uma parede 'conica' ou 'sino' pode");
    if (form_param_index(b.wall.form, c) < 0)
      bad_table(table_path, 1, c,
                "a parede \"" + b.c.parede + "\" é " + form_name(b.wall.form) +
                    ", que não tem esse parâmetro");
  }
}

// Every variant checked as its study would before any folder is made, the
// grids of all of them as run together, the variants' folders and the
// family's report files. Returns the runs at once that fit: -j as the first
// variant's study lowers it, lowered again for the grids of all variants.
int check_variants(const BaseCase& b, const FamilyTable& t, const StudyOptions& opt) {
  std::vector<GridSize> all_sizes;
  int first_jobs = 0;  // at least 1 once a variant is checked
  for (const FamilyVariant& v : t.rows) {
    int jobs = 0;
    for (const Grid& g : check_variant(b, t, v, opt, jobs)) all_sizes.push_back(g.size);
    if (first_jobs == 0) first_jobs = jobs;
  }
  const int jobs = check_grid_sizes(all_sizes, "--familia", first_jobs);
  for (const FamilyVariant& v : t.rows) check_variant_folder(b, t, v);
  check_report_files({kFamilyReport, kFamilyCsv, kFamilyScript, kFamilyImage});
  return jobs;
}

// Each variant's folder: a case folder of its own.
void make_variant_folders(const BaseCase& b, const FamilyTable& t) {
  for (const FamilyVariant& v : t.rows) {
    std::error_code ec;
    fs::create_directories(v.name, ec);
    if (ec)
      throw RunError("Erro: não foi possível criar a pasta \"" + v.name + "\" (" +
                     error_reason(ec.value()) + ").");
    std::vector<TextFileLines> files = variant_files(b, t, v);
    for (auto& f : files) f.first = (fs::path(v.name) / f.first).string();
    write_text_files(files);
    copy_plot_templates(v.name);
  }
}

// The grids of the variant whose folder is current, planned and prepared
// by the study's own steps, as far as its study goes before it runs them.
std::vector<Grid> prepare_variant(StudyOptions opt) {
  const StudyLock lock;
  const StudyCase base = read_study_case();
  std::vector<Grid> grids = plan_study_grids(base, opt);
  check_study_folders(grids);
  check_study_runs(grids, opt);
  prepare_study_grids(grids);
  return grids;
}

// The grids of every variant, named from the family's folder ("rc1.0/40x20").
std::vector<Grid> prepare_variants(const FamilyTable& t, const StudyOptions& opt) {
  std::vector<Grid> grids;
  for (const FamilyVariant& v : t.rows) {
    std::vector<Grid> own;
    try {
      const InFolder in(v.name);
      own = prepare_variant(opt);
    } catch (const RunError& e) {
      throw RunError("Variante " + v.name + " (pasta \"" + v.name + "\"): " + e.what(), e.status());
    }
    for (Grid& g : own) {
      g.name = v.name + "/" + g.name;  // run from the family's folder
      grids.push_back(std::move(g));
    }
  }
  return grids;
}

// The grids of all the variants run together: here, up to `jobs` at once,
// or every grid of every variant a Slurm job, all submitted at once.
SlurmEnd run_variant_grids(const FamilyTable& t, std::vector<Grid>& grids,
                           const StudyOptions& opt, int jobs, volatile std::sig_atomic_t* stop) {
  // No study in a variant's folder while its grids run (the runs hold the
  // locks too); each variant's own study takes its lock again for its report.
  std::vector<std::unique_ptr<StudyLock>> held;
  for (const FamilyVariant& v : t.rows) {
    const InFolder in(v.name);
    held.push_back(std::make_unique<StudyLock>());
  }
  const std::string tubrix = tubrix_program();
  if (opt.slurm) return run_grids_slurm(grids, tubrix, opt.sbatch, stop);
  // Once for the whole family: set per variant, the first share would turn
  // the grant off for the others (TUBRIX_THREADS already set).
  share_threads(jobs);
  return run_grids(grids, tubrix, jobs, stop) ? SlurmEnd::Interrupted : SlurmEnd::Done;
}

// --sem-esperar left jobs with Slurm: the family's report says which.
int report_submitted(const BaseCase& b, const std::vector<Grid>& grids) {
  const std::vector<std::string> pre = submitted_lines(
      "Família de tubeiras do caso \"" + latin1_to_utf8(trimmed(b.c.caso)) +
          "\": jobs do Slurm submetidos",
      grids);
  for (const auto& l : pre) std::printf("%s\n", l.c_str());
  std::fflush(stdout);
  write_text_file(kFamilyReport, pre);
  return 0;
}

// The report of the variant whose folder is current, by its study's own
// steps: its grids ran under the family, so it runs none and took no time.
// `grids`: its grids once planned, for the family's report.
void report_variant(StudyOptions opt, volatile std::sig_atomic_t* stop, std::vector<Grid>& grids,
                    StudyReport& report) {
  const StudyLock lock;
  const StudyCase base = read_study_case();
  std::vector<Grid> planned = plan_study_grids(base, opt);
  check_study_folders(planned);
  for (Grid& g : planned) g.run = false;
  grids = planned;
  check_study_runs(planned, opt);
  // Its exit status is not the family's, which looks at `report`.
  if (*stop)
    study_interrupted();
  else
    report_study(base, planned, opt, 0.0, stop, report);
}

// Each variant's own report in its folder, as an ordinary study writes it;
// false when Ctrl-C stopped them.
bool report_variants(const FamilyTable& t, const StudyOptions& opt,
                     volatile std::sig_atomic_t* stop, std::vector<VariantResult>& res) {
  for (const FamilyVariant& v : t.rows) {
    std::vector<Grid> grids;
    StudyReport h;
    std::printf("\n[familia] variante %s:\n", v.name.c_str());
    std::fflush(stdout);
    try {
      const InFolder in(v.name);
      report_variant(opt, stop, grids, h);
    } catch (const RunError& e) {
      std::fprintf(stderr, "%s\n", e.what());
      h.extrapolated = false;
      h.why = e.what();
    }
    if (*stop) {
      std::fprintf(stderr, "Família interrompida antes do seu relatório; rode o mesmo comando "
                           "de novo nesta pasta para escrevê-lo.\n");
      return false;
    }
    res.push_back(variant_result(grids, h, v.name));
  }
  return true;
}

// The family's report, headed by its wall time; exit status 0 when at least
// one variant was extrapolated.
int report_family(const BaseCase& b, const FamilyTable& t, const std::vector<Grid>& grids,
                  const StudyOptions& opt, int jobs, double wall,
                  const std::vector<VariantResult>& res, volatile std::sig_atomic_t* stop) {
  std::string caso = latin1_to_utf8(trimmed(b.c.caso));
  std::vector<std::string> head = {"Família de tubeiras do caso \"" + caso + "\" (" +
                                   latin1_to_utf8(b.data_file) + "), tabela \"" + t.file +
                                   "\": " + std::to_string(t.rows.size()) + " variantes."};
  double sum = 0;
  for (const Grid& g : grids) sum += g.outcome.seconds;
  char buf[200];
  const std::string how = opt.slurm
                              ? std::string("com jobs do Slurm")
                              : "com até " + std::to_string(jobs) + " execuções simultâneas";
  std::snprintf(buf, sizeof buf,
                "Tempo desta execução da família: %.1f s %s; soma dos tempos das malhas "
                "(retomadas incluídas): %.1f s.",
                wall, how.c_str(), sum);
  head.push_back(buf);
  std::printf("\n");
  write_family_files(t, res, head, stop);
  const bool any = std::any_of(res.begin(), res.end(),
                               [](const VariantResult& r) { return r.extrapolated; });
  return any ? 0 : kExitTooFewGrids;
}

}  // namespace

// The course of a family, step by step: its checks before any folder is
// made, the variants' folders, their grids run together, then each
// variant's report and the family's.
int family_main(const std::vector<std::string>& args) {
  const FamilyOptions opt = parse_family_options(args);
  const StudyLock lock;
  const BaseCase b = read_base_case(opt.study);
  const FamilyTable t = read_family_table(opt.table);
  check_table_on_base(b, t);
  const int jobs = check_variants(b, t, opt.study);
  absolute_template_folder();
  make_variant_folders(b, t);
  std::vector<Grid> grids = prepare_variants(t, opt.study);

  volatile std::sig_atomic_t* stop = catch_stop_signals(true);
  ignore_broken_pipe();
  const auto t0 = std::chrono::steady_clock::now();
  const SlurmEnd end = run_variant_grids(t, grids, opt.study, jobs, stop);
  const double wall = seconds_since(t0);
  if (end == SlurmEnd::Waiting) return report_submitted(b, grids);
  if (end == SlurmEnd::Interrupted) {
    std::fprintf(stderr, "Família interrompida; rode o mesmo comando de novo nesta pasta para "
                         "continuar as malhas não terminadas.\n");
    return kExitInterrupted;
  }
  std::vector<VariantResult> res;
  if (!report_variants(t, opt.study, stop, res)) return kExitInterrupted;
  return report_family(b, t, grids, opt.study, jobs, wall, res, stop);
}

}  // namespace tx

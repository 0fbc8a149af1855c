// The grids of a study: folders, input files and status files.
#include "estudo/malhas.hpp"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "arquivos/layout.hpp"
#include "arquivos/listread.hpp"
#include "base/erro.hpp"
#include "base/texto.hpp"
#include "caso/dados.hpp"
#include "estudo/extrapolacao.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace fs = std::filesystem;

const char* state_text(GridState s) {
  switch (s) {
    case GridState::Pending: return "pendente";
    case GridState::Converged: return "convergiu";
    case GridState::NotConverged: return "não convergiu";
    case GridState::Diverged: return "divergiu";
    case GridState::Interrupted: return "interrompida";
    case GridState::Failed: return "erro";
  }
  return "";
}

// Appended piece by piece (g++ 12 warns falsely on "literal" + std::string).
std::string in_quotes(const std::string& text) {
  std::string r(1, '"');
  r += text;
  r += '"';
  return r;
}

std::string grid_name(GridSize g) { return std::to_string(g.nx) + "x" + std::to_string(g.ny); }

[[noreturn]] void bad_argument(const std::string& arg, const std::string& what) {
  throw RunError("Erro no argumento " + arg + ": " + what + ".");
}

int parse_int(const std::string& arg, const std::string& text, int min) {
  int v = 0;
  const auto r = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || r.ec != std::errc() || r.ptr != text.data() + text.size() || v < min)
    bad_argument(arg, "esperado um inteiro maior ou igual a " + std::to_string(min) +
                          ", encontrado \"" + text + "\"");
  return v;
}

namespace {

// Shortest text that the case data reader reads back as the same double.
std::string real_text(double v) {
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string apostrophed(const std::string& value) {
  std::string r = "'";
  for (char ch : value) r += ch == '\'' ? std::string("''") : std::string(1, ch);
  return r + "'";
}

// The value of each item as the reader returns it (unquoted).
struct Item {
  const char* name;
  std::string value;
  const char* description;
};

std::vector<Item> case_items(const CaseData& c) {
  auto i = [](int v) { return std::to_string(v); };
  std::vector<Item> it = {
      {"caso", trimmed(c.caso), "caso: nome do experimento numérico"},
      {"coord", i(c.coord), "coord: 0 = plano; 1 = axissimétrico"},
      {"nx", i(c.nx), "nx: número de volumes reais na direção x (par)"},
      {"ny", i(c.ny), "ny: número de volumes reais na direção y"},
      {"po", real_text(c.po), "po: pressão de estagnação (Pa)"},
      {"T0", real_text(c.T0), "T0: temperatura de estagnação (K)"},
      {"gama", real_text(c.gama), "gama: razão entre os calores específicos"},
      {"Rg", real_text(c.Rg), "Rg: constante do gás (J/kg.K)"},
      {"dt1", real_text(c.dt1), "dt1: incremento de tempo até It1 (s)"},
      {"dt2", real_text(c.dt2), "dt2: incremento de tempo a partir de It2 (s)"},
      {"It1", i(c.It1), "It1: iteração até a qual dt = dt1"},
      {"It2", i(c.It2), "It2: iteração a partir da qual dt = dt2"},
      {"tole", real_text(c.tole), "tole: tolerância sobre as iterações externas"},
      {"itmax", i(c.itmax), "itmax: número máximo de iterações externas"},
      {"imax", i(c.imax), "imax: iterações do ciclo da massa"},
      {"tolu", real_text(c.tolu), "tolu: tolerância do MSI para u, v, T"},
      {"tolp", real_text(c.tolp), "tolp: tolerância do MSI para p'"},
      {"nitm_u", i(c.nitm_u), "nitm_u: iterações internas do MSI para u, v, T"},
      {"nitm_p", i(c.nitm_p), "nitm_p: iterações internas do MSI para p'"},
      {"beta", real_text(c.beta), "beta: 0 = UDS; 1 = CDS"},
      {"ci", i(c.ci), "ci: 1 = solução analítica Q1D; 2 = reinício"},
      {"w_cam", i(c.w_cam), "w_cam: 1 = escreve campos na listagem"},
      {"w_r", i(c.w_r), "w_r: freqüência de escrita dos resíduos"},
      {"w_g", i(c.w_g), "w_g: freqüência de escrita nos gráficos"},
      {"sem_a", i(c.sem_a), "sem_a: 1 = não abre arquivos; 0 = abre"},
      {"sem_g", i(c.sem_g), "sem_g: 1 = não abre gráficos; 0 = abre"},
      {"hard", without_trailing_blanks(c.hard), "hard: hardware"},
      {"titulo", without_trailing_blanks(c.titulo), "titulo: título do caso"},
  };
  return it;
}

// Items that decide the solution of a grid; the others (tolerance, limits,
// output switches, texts) may change between studies of the same folder.
bool decides_solution(int item) { return item <= 12 || (item >= 15 && item <= 20); }

// The three input files of a grid's folder; `c` holds the ci and itmax of
// the run about to start (a continued grid has ci = 2 and the iterations left).
void write_case_files(const Grid& g, const CaseData& c) {
  const fs::path dir = g.name;
  const auto write = [&](const std::string& file, const std::vector<std::string>& lines) {
    TextFile f;
    f.open((dir / file).string());
    for (const auto& l : lines) f.write("(A)", {l});
    f.close();
  };
  write(kSwitchFile, {"1"});
  write(kSelectionFile, {apostrophed(g.data_file)});
  write(g.data_file, case_data_lines(c));
}

// Key = value lines of a grid's status file.
std::string status_path(const Grid& g) {
  return (fs::path(g.name) / file_path(g.caso + kStatusSuffix)).string();
}

// The folder of a grid either does not exist or holds this grid of this
// case with the same data; anything else is the user's and is left alone.
void check_grid_folder(const Grid& g) {
  std::error_code ec;
  const fs::path dir = g.name;
  if (!fs::exists(dir, ec)) return;
  const std::string data = (dir / g.data_file).string();
  if (!fs::is_directory(dir, ec) || !fs::is_regular_file(data, ec))
    throw RunError("Erro: \"" + g.name + "\" já existe nesta pasta e não é a pasta da malha " +
                   g.name + " deste estudo (falta \"" + data +
                   "\"); apague-a ou renomeie-a, ou rode o estudo em outra pasta.");
  ListReader r(data);
  const std::vector<Item> want = case_items(g.c);
  for (int k = 1; k <= 28; ++k) {
    const std::string found = without_trailing_blanks(r.read_char(k, want[k - 1].name));
    const std::string& expected = want[k - 1].value;
    if (decides_solution(k) && trimmed(found) != trimmed(expected))
      throw RunError("Erro no arquivo \"" + data + "\", item " + std::to_string(k) + " (" +
                     want[k - 1].name + "): o estudo usaria " + expected + ", a malha já tem " +
                     found + " (resultados de outros dados); apague a pasta \"" + g.name +
                     "\" para refazer esta malha.");
  }
}

void copy_templates(const Grid& g) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(".", ec)) {
    const std::string n = e.path().filename().string();
    if (n.rfind("Tubrix_5p5_", 0) != 0 || e.path().extension() != ".gnu") continue;
    if (!e.is_regular_file(ec)) continue;
    const fs::path to = fs::path(g.name) / n;
    if (!fs::exists(to, ec)) fs::copy_file(e.path(), to, ec);
  }
}

}  // namespace

void write_status(const Grid& g) {
  const Outcome& o = g.outcome;
  char ratio[32] = "";
  if (!std::isnan(o.ratio)) std::snprintf(ratio, sizeof ratio, "%.6E", o.ratio);
  char secs[32];
  std::snprintf(secs, sizeof secs, "%.3f", o.seconds);
  // Appended piece by piece (g++ 12 warns falsely on "literal" + std::string).
  const auto line = [](const char* key, const std::string& value) {
    std::string l = key;
    l += " = ";
    l += value;
    return l;
  };
  write_text_file(status_path(g), {line("situação", state_text(o.state)),
                                   line("saída", std::to_string(o.exit_status)),
                                   line("iterações", std::to_string(o.iterations)),
                                   line("L1(R)n / L1(R)1", ratio), line("tempo (s)", secs),
                                   line("mensagem", o.message)});
}

// Reads a status file; false when there is none.
bool read_status(const Grid& g, Outcome& o) {
  std::error_code ec;
  if (!fs::is_regular_file(file_path(status_path(g)), ec)) return false;
  std::FILE* f = open_file(status_path(g), "rb");
  if (f == nullptr) return false;
  std::string all;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) all.append(buf, n);
  std::fclose(f);
  o = Outcome();
  o.state = GridState::Failed;
  std::size_t pos = 0;
  while (pos < all.size()) {
    std::size_t end = all.find('\n', pos);
    if (end == std::string::npos) end = all.size();
    std::string line = all.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t eq = line.find(" = ");
    if (eq == std::string::npos) continue;
    const std::string key = latin1_to_utf8(line.substr(0, eq));
    const std::string val = latin1_to_utf8(line.substr(eq + 3));
    if (key == "situação") {
      for (GridState s : {GridState::Converged, GridState::NotConverged, GridState::Diverged,
                          GridState::Interrupted, GridState::Failed})
        if (val == state_text(s)) o.state = s;
    } else if (key == "saída") {
      o.exit_status = std::atoi(val.c_str());
    } else if (key == "iterações") {
      o.iterations = std::atoi(val.c_str());
    } else if (key == "L1(R)n / L1(R)1") {
      o.ratio = val.empty() ? kNotAvailable : std::strtod(val.c_str(), nullptr);
    } else if (key == "tempo (s)") {
      o.seconds = std::strtod(val.c_str(), nullptr);
    } else if (key == "mensagem") {
      o.message = val;
    }
  }
  return true;
}

// What to do with a grid whose folder may hold earlier runs.
void plan_grid(Grid& g) {
  check_grid_folder(g);
  Outcome o;
  std::error_code ec;
  const bool has_restart = fs::is_regular_file(fs::path(g.name) / file_path(g.caso + ".bin"), ec);
  if (!read_status(g, o)) {
    g.run = true;
    return;
  }
  g.outcome = o;
  const bool stopped_short = o.iterations < g.c.itmax;
  switch (o.state) {
    case GridState::Converged:
    case GridState::NotConverged:
      // Judged again against the tolerance of today's data file; a grid
      // short of it goes on if the iteration limit has been raised since.
      g.outcome.state = o.ratio <= g.c.tole ? GridState::Converged : GridState::NotConverged;
      if (g.outcome.state == GridState::NotConverged && stopped_short && has_restart) {
        g.run = true;
        g.continue_from = o.iterations;
      }
      break;
    case GridState::Interrupted:
      g.run = true;
      if (has_restart && o.iterations > 0) {
        if (stopped_short) {
          g.continue_from = o.iterations;
        } else {
          g.run = false;
          g.outcome.state = o.ratio <= g.c.tole ? GridState::Converged : GridState::NotConverged;
        }
      }
      break;
    case GridState::Diverged:
      break;  // a second run would diverge the same way
    case GridState::Failed:
    case GridState::Pending:
      g.run = true;
      break;
  }
  if (g.run && g.continue_from == 0) g.outcome.seconds = 0;
}

void prepare_grid(const Grid& g) {
  std::error_code ec;
  fs::create_directories(g.name, ec);
  if (ec)
    throw RunError("Erro: não foi possível criar a pasta \"" + g.name + "\" (" + ec.message() +
                   ").");
  CaseData c = g.c;
  if (g.continue_from > 0) {
    c.ci = 2;
    c.itmax = g.c.itmax - g.continue_from;  // further iterations after the stored ones
  }
  write_case_files(g, c);
  copy_templates(g);
}

std::vector<GridSize> parse_grid_list(const std::string& text) {
  std::vector<GridSize> out;
  std::size_t pos = 0;
  while (pos <= text.size()) {
    std::size_t end = text.find(',', pos);
    if (end == std::string::npos) end = text.size();
    const std::string t = text.substr(pos, end - pos);
    const std::size_t x = t.find_first_of("xX");
    GridSize g;
    auto num = [](const std::string& s, int& v) {
      const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
      return !s.empty() && r.ec == std::errc() && r.ptr == s.data() + s.size() && v > 0;
    };
    if (x == std::string::npos || !num(t.substr(0, x), g.nx) || !num(t.substr(x + 1), g.ny))
      bad_argument("--malhas", in_quotes(t) + " não é uma malha NXxNY (volumes reais), como 40x20");
    if (g.nx % 2 != 0)
      bad_argument("--malhas", in_quotes(t) + ": o número de volumes em x deve ser par");
    for (const auto& o : out)
      if (o.nx == g.nx)
        bad_argument("--malhas", in_quotes(grid_name(o)) + " e " + in_quotes(t) +
                                     " têm o mesmo nx e portanto o mesmo h");
    out.push_back(g);
    pos = end + 1;
  }
  return out;
}

CaseData grid_case_data(const CaseData& base, GridSize g, bool fixed_dt, double& scale) {
  CaseData c = base;
  c.caso = padded(trimmed(base.caso) + "_" + grid_name(g));
  c.nx = g.nx;
  c.ny = g.ny;
  c.nxy = g.nx * g.ny;
  c.ci = 1;
  c.sem_a = 1;  // no editor and no plot window in a study
  c.sem_g = 1;
  scale = 1.0;
  if (!fixed_dt) {
    scale = std::min(static_cast<double>(base.nx) / g.nx, static_cast<double>(base.ny) / g.ny);
    c.dt1 = base.dt1 * scale;
    c.dt2 = base.dt2 * scale;
    auto iters = [&](int n) {
      const double v = std::round(n / scale);
      return v >= INT_MAX / 2 ? INT_MAX / 2 : static_cast<int>(v);
    };
    c.It1 = iters(base.It1);
    c.It2 = iters(base.It2);
    c.itmax = iters(base.itmax);
  }
  return c;
}

std::vector<std::string> case_data_lines(const CaseData& c) {
  std::vector<std::string> lines;
  const std::vector<Item> items = case_items(c);
  for (std::size_t k = 0; k < items.size(); ++k) {
    // The character items (caso, hard, titulo) go in apostrophes.
    const bool text = k == 0 || k >= 26;
    std::string l = text ? apostrophed(items[k].value) : items[k].value;
    l += std::string(l.size() < 15 ? 15 - l.size() : 0, ' ');
    lines.push_back(l + " " + to_latin1(items[k].description));
  }
  return lines;
}

}  // namespace tx

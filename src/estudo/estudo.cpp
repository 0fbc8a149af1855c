// Grid-convergence study runner.
#include "estudo/estudo.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include "caso/dados.hpp"
#include "base/erro.hpp"
#include "estudo/extrapolacao.hpp"
#include "arquivos/layout.hpp"
#include "arquivos/listread.hpp"
#include "plataforma/plataforma.hpp"
#include "base/texto.hpp"

namespace tx {

namespace fs = std::filesystem;

namespace {

constexpr int kExitTooFewGrids = 3;
constexpr const char* kStatusSuffix = ".estudo";

// What happened to a grid, as its status file records it.
enum class GridState { Pending, Converged, NotConverged, Diverged, Interrupted, Failed };

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

struct Outcome {
  GridState state = GridState::Pending;
  int exit_status = -1;
  int iterations = 0;
  double ratio = kNotAvailable;
  double seconds = 0;   // wall time of all the runs of the grid
  std::string message;  // last line the run wrote on standard error (UTF-8)
};

struct Grid {
  GridSize size;
  std::string name;       // "40x20": the subfolder and the case-name suffix
  std::string caso;       // base case name + "_" + name
  std::string data_file;  // caso + ".dat"
  CaseData c;             // fresh-start data (real volume counts)
  double scale = 1;
  Outcome outcome;
  bool run = false;       // to be run by this study
  int continue_from = 0;  // stored iteration of the restart file, 0: fresh start
  bool ran_now = false;
};

// "text" in double quotes, appended piece by piece (g++ 12 warns falsely on
// "literal" + std::string).
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
  return (fs::path(g.name) / (g.caso + kStatusSuffix)).string();
}

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
  if (!fs::is_regular_file(status_path(g), ec)) return false;
  std::FILE* f = std::fopen(status_path(g).c_str(), "rb");
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

// What to do with a grid whose folder may hold earlier runs.
void plan_grid(Grid& g) {
  check_grid_folder(g);
  Outcome o;
  std::error_code ec;
  const bool has_restart = fs::is_regular_file(fs::path(g.name) / (g.caso + ".bin"), ec);
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

// --- running -------------------------------------------------------------

volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_stop(int) { g_stop = 1; }

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

struct Running {
  Grid* grid = nullptr;
  ChildProcess child;
  std::string out_buf, err_buf;
  std::string closing;   // the closing line "Fim: ..."
  std::string last_err;  // last line on standard error
  int last_reported = 0;  // iteration of the last report line
  std::chrono::steady_clock::time_point start;
};

void emit(std::FILE* to, const Grid& g, const std::string& line) {
  std::fprintf(to, "[%s] %s\n", g.name.c_str(), line.c_str());
  std::fflush(to);
}

// Passes complete lines of one pipe on, prefixed with the grid.
void take_lines(Running& r, std::string& buf, bool is_err, bool at_end) {
  std::size_t pos;
  while ((pos = buf.find('\n')) != std::string::npos || (at_end && !buf.empty())) {
    std::string line = pos == std::string::npos ? buf : buf.substr(0, pos);
    buf.erase(0, pos == std::string::npos ? buf.size() : pos + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (is_err) {
      if (!line.empty()) r.last_err = line;
    } else if (line.rfind("Fim: ", 0) == 0) {
      r.closing = line;
    } else if (line.rfind("Iteração ", 0) == 0) {
      r.last_reported = std::atoi(line.c_str() + std::strlen("Iteração "));
    }
    emit(is_err ? stderr : stdout, *r.grid, line);
  }
}

// Convergence of a finished run from its closing line against tole.
void judge(Running& r, int status, double secs) {
  Grid& g = *r.grid;
  Outcome& o = g.outcome;
  o.exit_status = status;
  o.seconds += secs;
  o.message = r.last_err;
  int it = 0;
  double ratio = kNotAvailable;
  const std::size_t at = r.closing.find("L1(R)n / L1(R)1 =");
  if (std::sscanf(r.closing.c_str(), "Fim: %d", &it) == 1 && at != std::string::npos) {
    char* end = nullptr;
    const char* p = r.closing.c_str() + at + 17;
    const double v = std::strtod(p, &end);
    if (end != p) ratio = v;
  }
  if (status == 0 || status == kExitInterrupted) {
    o.iterations = it;
    o.ratio = ratio;
  } else {
    o.iterations = r.last_reported;  // where a diverged run stopped
    o.ratio = kNotAvailable;
  }
  if (status == 0 && !std::isnan(ratio))
    o.state = ratio <= g.c.tole ? GridState::Converged : GridState::NotConverged;
  else if (status == kExitInterrupted)
    o.state = GridState::Interrupted;
  else if (status == kExitDiverged)
    o.state = GridState::Diverged;
  else
    o.state = GridState::Failed;
  if (o.state == GridState::Failed && o.message.empty())
    o.message = status == 127 ? "o programa tubrix não pôde ser executado"
                              : "saída " + std::to_string(status) + " sem a linha final";
}

void progress(const std::vector<Grid>& grids, std::size_t running, std::size_t queued,
              std::chrono::steady_clock::time_point t0) {
  std::size_t done = 0, total = 0;
  for (const auto& g : grids)
    if (g.run) {
      ++total;
      if (g.ran_now) ++done;
    }
  std::printf("[estudo] %zu de %zu malhas terminadas, %zu em execução, %zu na fila; %.1f s\n",
              done, total, running, queued, seconds_since(t0));
  std::fflush(stdout);
}

// Runs the grids marked to run, up to `jobs` at a time, the costliest first.
// Returns true when interrupted.
bool run_grids(std::vector<Grid>& grids, const std::string& tubrix, int jobs) {
  std::vector<Grid*> queue;
  for (auto& g : grids)
    if (g.run) queue.push_back(&g);
  // Longest first keeps the other processes busy while the finest grid runs.
  std::stable_sort(queue.begin(), queue.end(), [](const Grid* a, const Grid* b) {
    return static_cast<double>(a->size.nx) * a->size.ny / a->scale >
           static_cast<double>(b->size.nx) * b->size.ny / b->scale;
  });
  std::reverse(queue.begin(), queue.end());  // popped from the back

  const auto t0 = std::chrono::steady_clock::now();
  std::vector<Running> running;
  bool forwarded = false;
  while (!queue.empty() || !running.empty()) {
    while (!g_stop && static_cast<int>(running.size()) < jobs && !queue.empty()) {
      Running r;
      r.grid = queue.back();
      queue.pop_back();
      r.start = std::chrono::steady_clock::now();
      r.child = start_process(tubrix, {}, r.grid->name);
      emit(stdout, *r.grid,
           r.grid->continue_from > 0
               ? "continua da iteração " + std::to_string(r.grid->continue_from)
               : std::string("início"));
      running.push_back(std::move(r));
      progress(grids, running.size(), queue.size(), t0);
    }
    if (g_stop && !queue.empty()) queue.clear();
    if (running.empty()) break;
    if (g_stop && !forwarded) {
      // Each run stops after its current iteration and writes its restart file.
      for (auto& r : running) signal_process(r.child.pid, SIGINT);
      forwarded = true;
    }

    std::vector<pollfd> fds;
    std::vector<std::pair<std::size_t, bool>> owner;
    for (std::size_t k = 0; k < running.size(); ++k) {
      if (running[k].child.out >= 0) {
        fds.push_back({running[k].child.out, POLLIN, 0});
        owner.push_back({k, false});
      }
      if (running[k].child.err >= 0) {
        fds.push_back({running[k].child.err, POLLIN, 0});
        owner.push_back({k, true});
      }
    }
    if (::poll(fds.data(), fds.size(), 200) < 0 && errno != EINTR)
      throw RunError(std::string("Erro: falha ao acompanhar as execuções (") +
                     std::strerror(errno) + ").");
    for (std::size_t f = 0; f < fds.size(); ++f) {
      if (fds[f].revents == 0) continue;
      Running& r = running[owner[f].first];
      const bool is_err = owner[f].second;
      char buf[8192];
      const ssize_t n = ::read(fds[f].fd, buf, sizeof buf);
      std::string& b = is_err ? r.err_buf : r.out_buf;
      if (n > 0) {
        b.append(buf, static_cast<std::size_t>(n));
        take_lines(r, b, is_err, false);
      } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
        take_lines(r, b, is_err, true);
        ::close(fds[f].fd);
        (is_err ? r.child.err : r.child.out) = -1;
      }
    }
    for (std::size_t k = 0; k < running.size();) {
      Running& r = running[k];
      if (r.child.out >= 0 || r.child.err >= 0) {
        ++k;
        continue;
      }
      const int status = wait_process(r.child.pid);
      judge(r, status, seconds_since(r.start));
      r.grid->ran_now = true;
      write_status(*r.grid);
      emit(stdout, *r.grid, std::string("terminou: ") + state_text(r.grid->outcome.state));
      running.erase(running.begin() + static_cast<std::ptrdiff_t>(k));
      progress(grids, running.size(), queue.size(), t0);
    }
  }
  return g_stop != 0;
}

// --- report --------------------------------------------------------------

std::vector<std::string> grid_table(const std::vector<Grid>& grids, bool fixed_dt) {
  std::vector<std::string> out;
  out.push_back(fixed_dt ? "Passo de tempo: o do arquivo de dados em todas as malhas (--dt-fixo)."
                         : "Passo de tempo: dt1 e dt2 escalados com o espaçamento da malha; It1, "
                           "It2 e itmax pelo inverso.");
  out.push_back("");
  out.push_back("     malha      dt1 (s)      dt2 (s)     It1     It2     itmax  iterações  "
                "L1(R)n / L1(R)1  situação          tempo (s)");
  for (const auto& g : grids) {
    const Outcome& o = g.outcome;
    char buf[256];
    char ratio[32] = "              -";
    if (!std::isnan(o.ratio)) std::snprintf(ratio, sizeof ratio, "%15.6E", o.ratio);
    std::snprintf(buf, sizeof buf, "%10s  %11.4E  %11.4E  %6d  %6d  %8d  %9d  %s  ",
                  g.name.c_str(), g.c.dt1, g.c.dt2, g.c.It1, g.c.It2, g.c.itmax, o.iterations,
                  ratio);
    std::string l = buf;
    std::string st = state_text(o.state);
    std::size_t w = 0;
    for (char ch : st) w += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    l += st + std::string(w < 14 ? 14 - w : 0, ' ');
    std::snprintf(buf, sizeof buf, "%13.2f", o.seconds);
    out.push_back(l + buf);
  }
  return out;
}

struct Options {
  std::vector<GridSize> grids;
  int levels = 3;
  int jobs = 0;
  bool fixed_dt = false;
  bool include_unconverged = false;
  double order = 2.0;
};

constexpr const char* kUsage =
    "Uso: tubrix-estudo [--malhas 20x10,40x20,80x40 | --niveis N] [-j J] [--dt-fixo]\n"
    "                   [--incluir-nao-convergidas] [--ordem P]\n"
    "  Roda o caso da pasta atual em cada malha (NX x NY volumes reais), cada uma na\n"
    "  subpasta NXxNY com o caso NOME_NXxNY, e extrapola os resultados (estudo.txt,\n"
    "  estudo.csv, estudo.gnu, estudo.png). --niveis N (padrão 3): a malha do arquivo\n"
    "  de dados dobrada N - 1 vezes. -j J: execuções simultâneas (padrão: núcleos).\n"
    "  --dt-fixo: mantém dt1, dt2, It1, It2 e itmax do arquivo em todas as malhas.\n"
    "  Rodado de novo na mesma pasta, continua as malhas não terminadas.\n";

Options parse_options(int argc, char** argv, bool& help) {
  Options o;
  bool have_grids = false, have_levels = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&](const std::string& opt) -> std::string {
      if (i + 1 >= argc) bad_argument(opt, "falta o valor");
      return argv[++i];
    };
    if (a == "--help" || a == "-h") {
      help = true;
    } else if (a == "--malhas") {
      o.grids = parse_grid_list(value(a));
      have_grids = true;
    } else if (a == "--niveis") {
      o.levels = parse_int(a, value(a), 2);
      if (o.levels > 12) bad_argument(a, "no máximo 12 níveis");
      have_levels = true;
    } else if (a == "-j" || a.rfind("-j", 0) == 0) {
      o.jobs = parse_int("-j", a == "-j" ? value(a) : a.substr(2), 1);
    } else if (a == "--dt-fixo") {
      o.fixed_dt = true;
    } else if (a == "--incluir-nao-convergidas") {
      o.include_unconverged = true;
    } else if (a == "--ordem") {
      const std::string v = value(a);
      char* end = nullptr;
      o.order = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(o.order > 0.0) || !std::isfinite(o.order))
        bad_argument(a, "esperado um número real positivo, encontrado \"" + v + "\"");
    } else {
      throw RunError("Erro: argumento desconhecido " + in_quotes(a) +
                     "; tubrix-estudo --help mostra os argumentos.");
    }
  }
  if (have_grids && have_levels) bad_argument("--niveis", "use --malhas ou --niveis, não ambos");
  if (o.jobs == 0) o.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return o;
}

// Plot templates named by a relative TUBRIX_TEMPLATES must still be found
// from the grid subfolders.
void absolute_template_folder() {
  const char* env = std::getenv("TUBRIX_TEMPLATES");
  if (env == nullptr || *env == '\0' || fs::path(env).is_absolute()) return;
  std::error_code ec;
  const fs::path abs = fs::absolute(env, ec);
  if (!ec) ::setenv("TUBRIX_TEMPLATES", abs.string().c_str(), 1);
}

// Runs side by side share the cores: each run gets its share of threads
// (cores / J, at least one) unless TUBRIX_THREADS already says how many, so
// J runs never spin more threads than there are cores.
void share_threads(int jobs) {
  const char* env = std::getenv("TUBRIX_THREADS");
  if (env != nullptr && *env != '\0') return;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  ::setenv("TUBRIX_THREADS", std::to_string(std::max(1, cores / std::max(1, jobs))).c_str(), 1);
}

int run_study(int argc, char** argv) {
  bool help = false;
  const Options opt = parse_options(argc, argv, help);
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }

  // The base case, read and checked as a run would; no editor is opened.
  State s;
  s.os.run_command = [](std::string_view) { return 0; };
  read_case_data(s);
  const std::string data_file = s.c.data_file;
  CaseData base = s.c;
  base.nx -= 2;
  base.ny -= 2;
  base.nxy = base.nx * base.ny;

  std::vector<GridSize> sizes = opt.grids;
  if (sizes.empty()) {
    for (int k = 0; k < opt.levels; ++k) {
      const long long f = 1LL << k;
      if (base.nx * f > INT_MAX / 4 || base.ny * f > INT_MAX / 4)
        bad_argument("--niveis", "a malha mais fina ficaria grande demais");
      sizes.push_back({static_cast<int>(base.nx * f), static_cast<int>(base.ny * f)});
    }
  }
  if (sizes.size() < 2) bad_argument("--malhas", "são necessárias pelo menos duas malhas");

  std::vector<Grid> grids;
  const std::string caso = trimmed(base.caso);
  for (const GridSize& z : sizes) {
    Grid g;
    g.size = z;
    g.name = grid_name(z);
    g.caso = caso + "_" + g.name;
    if (g.caso.size() > kCharLen)
      throw RunError("Erro no arquivo \"" + data_file + "\", item 1 (caso): \"" + g.caso +
                     "\" passaria de " + std::to_string(kCharLen) +
                     " caracteres; use um nome mais curto.");
    g.data_file = g.caso + ".dat";
    g.c = grid_case_data(base, z, opt.fixed_dt, g.scale);
    grids.push_back(std::move(g));
  }
  // Fine to coarse, as the report lists them.
  std::sort(grids.begin(), grids.end(),
            [](const Grid& a, const Grid& b) { return a.size.nx > b.size.nx; });
  for (auto& g : grids) plan_grid(g);

  const std::string tubrix = executable_folder() + "/tubrix";
  bool any_run = false;
  for (const auto& g : grids) any_run = any_run || g.run;
  if (any_run && ::access(tubrix.c_str(), X_OK) != 0)
    throw RunError("Erro: o programa \"" + tubrix +
                   "\" não foi encontrado; tubrix-estudo usa o tubrix instalado na mesma pasta.");

  for (const auto& g : grids)
    if (g.run) prepare_grid(g);
  absolute_template_folder();

  g_stop = 0;
  struct sigaction sa {};
  sa.sa_handler = on_stop;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no restart: poll returns on a signal
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  std::signal(SIGPIPE, SIG_IGN);  // a closed console must not end the study

  const auto t0 = std::chrono::steady_clock::now();
  share_threads(opt.jobs);
  const bool interrupted = run_grids(grids, tubrix, opt.jobs);
  const double wall = seconds_since(t0);

  if (interrupted) {
    std::fprintf(stderr, "Estudo interrompido; rode tubrix-estudo de novo nesta pasta para "
                         "continuar as malhas não terminadas.\n");
    return kExitInterrupted;
  }

  double sum = 0;
  for (const auto& g : grids) sum += g.outcome.seconds;
  std::vector<std::string> pre;
  pre.push_back("Estudo de convergência de malha do caso \"" + latin1_to_utf8(caso) + "\" (" +
                latin1_to_utf8(data_file) + ")");
  for (auto& l : grid_table(grids, opt.fixed_dt)) pre.push_back(std::move(l));
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "Tempo desta execução do estudo: %.1f s com até %d execuções simultâneas; "
                "soma dos tempos das malhas (retomadas incluídas): %.1f s.",
                wall, opt.jobs, sum);
  pre.push_back("");
  pre.push_back(buf);

  std::vector<std::string> files;
  for (auto it = grids.rbegin(); it != grids.rend(); ++it) {
    const Grid& g = *it;
    const bool usable = g.outcome.state == GridState::Converged ||
                        (g.outcome.state == GridState::NotConverged && opt.include_unconverged);
    if (usable) {
      files.push_back((fs::path(g.name) / (g.caso + ".Extrapolix_3p0")).string());
    } else if (g.outcome.state == GridState::NotConverged) {
      pre.push_back("Malha " + g.name + " fora da extrapolação: parou em itmax acima de tole "
                    "(erro de iteração); --incluir-nao-convergidas a inclui.");
    } else {
      std::string why = g.outcome.message;
      while (!why.empty() && why.back() == '.') why.pop_back();
      pre.push_back("Malha " + g.name + " fora da extrapolação: " + state_text(g.outcome.state) +
                    (why.empty() ? "" : " (" + why + ")") + ".");
    }
  }
  pre.push_back("");

  if (files.size() < 2) {
    pre.push_back("Menos de duas malhas utilizáveis: nada a extrapolar.");
    for (const auto& l : pre) std::printf("%s\n", l.c_str());
    std::fflush(stdout);
    write_report_file(pre);
    return kExitTooFewGrids;
  }
  const GridStudy study = extrapolate_files(files, opt.order);
  for (const auto& l : pre) std::printf("%s\n", l.c_str());
  for (const auto& l : report_lines(study)) std::printf("%s\n", l.c_str());
  std::fflush(stdout);
  write_study_files(study, pre, true);
  return 0;
}

}  // namespace

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

int estudo_main(int argc, char** argv) {
  try {
    return run_study(argc, argv);
  } catch (const RunError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return e.status();
  }
}

}  // namespace tx

// The grids of a study: folders, input files and status files.
#include "estudo/malhas.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "arquivos/arquivo_texto.hpp"
#include "arquivos/gravacao.hpp"
#include "arquivos/layout.hpp"
#include "arquivos/leitura.hpp"
#include "arquivos/listread.hpp"
#include "arquivos/registro.hpp"
#include "base/erro.hpp"
#include "base/texto.hpp"
#include "caso/dados.hpp"
#include "caso/itens.hpp"
#include "extrapolacao/extrapolacao.hpp"
#include "parede/parede.hpp"
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
    case GridState::CauchyConverged: return "convergiu (Cauchy)";
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

// The three input files of a grid's folder, written as a set (each whole or
// none); `c` holds the ci and itmax of the run about to start (a continued
// grid has ci = 2 and the iterations left).
void write_case_files(const Grid& g, const CaseData& c) {
  const fs::path dir = g.name;
  std::vector<std::string> data;
  for (const auto& l : case_data_lines(c)) data.push_back(latin1_to_utf8(l));
  write_text_files({{(dir / kSwitchFile).string(), {"1"}},
                    {(dir / kSelectionFile).string(), {latin1_to_utf8(apostrophed(g.data_file))}},
                    {(dir / g.data_file).string(), data}});
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
  const std::vector<std::string> want = case_item_values(g.c);
  for (const CaseItem& item : kCaseItems) {
    const std::string found = without_trailing_blanks(r.read_char(item.number, item.name));
    const std::string& expected = want[static_cast<std::size_t>(item.number - 1)];
    if (item.decides_solution && trimmed(found) != trimmed(expected))
      throw RunError("Erro no arquivo \"" + data + "\", item " + std::to_string(item.number) +
                     " (" + item.name + "): o estudo usaria " + expected + ", a malha já tem " +
                     found + " (resultados de outros dados); apague a pasta \"" + g.name +
                     "\" para refazer esta malha.");
  }
  // The wall decides the solution too: the same file name, and the same wall in it.
  std::string found;
  if (!r.read_optional_name(found) || trimmed(found) == kBuiltinWall) found.clear();
  found = trimmed(found);
  if (found != g.c.parede)
    throw RunError("Erro no arquivo \"" + data + "\", item 29 (parede): o estudo usaria " +
                   (g.c.parede.empty() ? std::string("a parede embutida") : in_quotes(g.c.parede)) +
                   ", a malha já tem " +
                   (found.empty() ? std::string("a parede embutida") : in_quotes(found)) +
                   " (resultados de outros dados); apague a pasta \"" + g.name +
                   "\" para refazer esta malha.");
  // So does the scheme (item 30, only after item 29).
  std::string scheme;
  if (!r.read_optional_name(scheme)) scheme = kSchemeNames[0];
  scheme = trimmed(scheme);
  if (scheme != scheme_name(g.c.esquema))
    throw RunError("Erro no arquivo \"" + data + "\", item 30 (esquema): o estudo usaria '" +
                   scheme_name(g.c.esquema) + "', a malha já tem '" + scheme +
                   "' (resultados de outros dados); apague a pasta \"" + g.name +
                   "\" para refazer esta malha.");
  if (g.c.parede.empty()) return;
  const std::string copy = (dir / g.c.parede).string();
  bool same = false;
  try {
    same = same_wall(read_wall_file(copy), read_wall_file(g.c.parede));
  } catch (const RunError&) {
    same = false;  // a copy that no longer reads is not this study's wall
  }
  if (!same)
    throw RunError("Erro no arquivo \"" + copy + "\": a parede da malha não é a de \"" +
                   g.c.parede + "\" (resultados de outra parede); apague a pasta \"" + g.name +
                   "\" para refazer esta malha.");
}

// The case's wall file, copied into the grid's folder (all or none).
void copy_wall_file(const Grid& g) {
  if (g.c.parede.empty()) return;
  std::vector<std::string> lines = wall_file_lines(g.c.parede);
  for (std::string& l : lines) l = latin1_to_utf8(to_latin1(l));  // either encoding, written as Latin-1
  write_text_file((fs::path(g.name) / g.c.parede).string(), lines);
}

// Copies a file whole or not at all (an interrupted copy leaves no part).
void copy_whole(const fs::path& from, const fs::path& to) {
  std::FILE* in = open_regular_file(from.string());
  if (in == nullptr) return;
  ReplacingFile out(to.string());
  char buf[8192];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, in)) > 0;) out.write(buf, n);
  std::fclose(in);
  out.commit();
}


// A folder the study made and never started a run in: no status file, and
// nothing in it but the input files the study writes, the wall file among
// them (or their temporary names). Made again, whatever its files hold.
bool never_started(const Grid& g) {
  std::error_code ec;
  if (!fs::is_directory(fs::symlink_status(g.name, ec)) ||
      fs::exists(status_path(g), ec))
    return false;
  for (const auto& e : fs::directory_iterator(g.name, ec)) {
    std::string n = e.path().filename().string();
    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0) n.resize(n.size() - 4);
    const bool input = n == kSwitchFile || n == kSelectionFile || n == g.data_file ||
                       (!g.c.parede.empty() && n == g.c.parede) ||
                       (n.rfind("Tubrix_5p5_", 0) == 0 && fs::path(n).extension() == ".gnu");
    if (!input) return false;
  }
  return !ec;
}

// A grid that would go on from its restart file, gone since: it is run
// again from the start, and the console says why.
void restart_lost(const Grid& g, int stored) {
  std::printf("[%s] o arquivo de reinício \"%s\" não existe mais: a malha, parada na iteração "
              "%d, recomeça do início (itmax = %d).\n",
              g.name.c_str(), (fs::path(g.name) / (g.caso + ".bin")).string().c_str(), stored,
              g.c.itmax);
  std::fflush(stdout);
}

// The factor of the halving series (kFirstDtFactor down to kLastDtFactor)
// that gives the steps of the grid's data file, or 0: none does (not the
// study's own choice) or the file does not read.
double chosen_dt_factor(const Grid& g) {
  const std::string data = (fs::path(g.name) / g.data_file).string();
  std::string dt1, dt2;
  try {
    ListReader r(data);
    for (const CaseItem& item : kCaseItems) {
      const std::string v = trimmed(r.read_char(item.number, item.name));
      if (item.name == std::string("dt1")) dt1 = v;
      if (item.name == std::string("dt2")) dt2 = v;
      if (!dt1.empty() && !dt2.empty()) break;
    }
  } catch (const RunError&) {
    return 0;
  }
  for (double f = kFirstDtFactor; f >= kLastDtFactor; f /= 2) {
    Grid t = g;
    set_dt_factor(t, f);
    const std::vector<std::string> want = case_item_values(t.c);
    if (trimmed(want[8]) == dt1 && trimmed(want[9]) == dt2) return f;
  }
  return 0;
}

// The iteration stored in the grid's restart file, 0 when there is none or
// it does not read as one (the run itself checks the rest of it).
int stored_iteration(const Grid& g) {
  const std::string bin = (fs::path(g.name) / file_path(g.caso + ".bin")).string();
  std::error_code ec;
  if (!fs::is_regular_file(bin, ec)) return 0;
  unsigned char head[4] = {0, 0, 0, 0};
  try {
    if (scan_record_file(bin, head, sizeof head) < sizeof head) return 0;
  } catch (const RunError&) {
    return 0;
  }
  std::uint32_t u = 0;
  for (int k = 0; k < 4; ++k) u |= std::uint32_t{head[k]} << (8 * k);
  const auto it = static_cast<std::int32_t>(u);
  return it > 0 ? it : 0;
}

// A grid whose runs left no status file that reads (cut, overwritten,
// removed): judged from what the study wrote. Its data file's step, when
// one the study chooses, is kept (the factor of the series; a grid halved
// after a divergence stays halved); the folder is then checked as any
// other, and the grid continues from its restart file, or is made again
// from the start when there is none to continue (or its iteration is not
// short of itmax). Its earlier divergences and time are not known.
void recover_grid(Grid& g) {
  g.outcome = Outcome();
  const double f = g.choose_dt ? chosen_dt_factor(g) : 0;
  if (g.choose_dt) set_dt_factor(g, f > 0 ? f : kFirstDtFactor);
  check_grid_folder(g);
  g.run = true;
  const int stored = stored_iteration(g);
  const bool resume = stored > 0 && stored < g.c.itmax;
  if (resume) {
    // Recorded as a run stopped at its restart file, until it runs.
    g.continue_from = stored;
    g.outcome.state = GridState::Interrupted;
    g.outcome.iterations = stored;
  }
  std::string step;
  if (f > 0) {
    char buf[160];
    std::snprintf(buf, sizeof buf, ", com o passo que o estudo escolheu (dt2 = %.4E s, %g x o "
                  "escalado)", g.c.dt2, f);
    step = buf;
  }
  std::error_code ec;
  std::printf("[%s] o arquivo de situação \"%s\" %s: %s%s.\n", g.name.c_str(),
              status_path(g).c_str(),
              fs::exists(status_path(g), ec) ? "não pôde ser lido" : "não existe",
              resume ? ("a malha continua do arquivo de reinício, iteração " +
                        std::to_string(stored)).c_str()
                     : "a malha é refeita do início",
              step.c_str());
  std::fflush(stdout);
}

}  // namespace

void copy_plot_templates(const std::string& folder) {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(".", ec)) {
    const std::string n = e.path().filename().string();
    if (n.rfind("Tubrix_5p5_", 0) != 0 || e.path().extension() != ".gnu") continue;
    if (!e.is_regular_file(ec)) continue;
    const fs::path to = fs::path(folder) / n;
    if (!fs::exists(to, ec)) copy_whole(e.path(), to);
  }
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
  std::vector<std::string> lines = {line("situação", state_text(o.state)),
                                    line("saída", std::to_string(o.exit_status)),
                                    line("iterações", std::to_string(o.iterations)),
                                    line("L1(R)n / L1(R)1", ratio), line("tempo (s)", secs),
                                    line("mensagem", o.message), line("job", o.job)};
  if (g.choose_dt) {
    lines.push_back(line("fator de dt", real_text(o.dt_factor)));
    std::string d;
    for (const auto& [f, it] : o.divergences) {
      if (!d.empty()) d += ' ';
      d += real_text(f);
      d += ':';
      d += std::to_string(it);
    }
    lines.push_back(line("divergiu com", d));
  }
  if (o.state == GridState::CauchyConverged) {
    // What a later study compares its own rule and tole with, read back
    // exactly.
    lines.push_back(line("Cauchy EPS", real_text(o.cauchy_eps)));
    lines.push_back(line("Cauchy janela", std::to_string(o.cauchy_window)));
    lines.push_back(line("tole", real_text(o.cauchy_tole)));
  }
  write_text_file(status_path(g), lines);
}

// Reads a status file; false when there is none.
bool read_status(const Grid& g, Outcome& o) {
  if (!input_file_present(status_path(g))) return false;
  // A few short lines.
  const std::string all =
      read_input_text(status_path(g), "o arquivo de situação da malha", kSmallTextLimit);
  o = Outcome();
  o.state = GridState::Failed;
  // What write_status always writes, each value as it writes it; a file
  // without all of it, or cut (no line end at its end), cannot be read.
  bool whole = !all.empty() && all.back() == '\n', known_state = false;
  int keys = 0;
  const auto integer = [](const std::string& v) {
    char* end = nullptr;
    std::strtol(v.c_str(), &end, 10);
    return !v.empty() && *end == '\0';
  };
  const auto real = [](const std::string& v) {
    char* end = nullptr;
    std::strtod(v.c_str(), &end);
    return !v.empty() && *end == '\0';
  };
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
      for (GridState s : {GridState::Pending, GridState::Converged, GridState::NotConverged,
                          GridState::Diverged, GridState::Interrupted, GridState::Failed,
                          GridState::CauchyConverged})
        if (val == state_text(s)) {
          o.state = s;
          known_state = true;
        }
    } else if (key == "saída") {
      o.exit_status = std::atoi(val.c_str());
      keys |= integer(val) << 0;
    } else if (key == "iterações") {
      o.iterations = std::atoi(val.c_str());
      keys |= integer(val) << 1;
    } else if (key == "L1(R)n / L1(R)1") {
      o.ratio = val.empty() ? kNotAvailable : std::strtod(val.c_str(), nullptr);
      keys |= (val.empty() || real(val)) << 2;
    } else if (key == "tempo (s)") {
      o.seconds = std::strtod(val.c_str(), nullptr);
      keys |= real(val) << 3;
    } else if (key == "mensagem") {
      o.message = val;
      keys |= 1 << 4;
    } else if (key == "job") {
      o.job = val;
      keys |= 1 << 5;
    } else if (key == "Cauchy EPS") {
      o.cauchy_eps = std::strtod(val.c_str(), nullptr);
      keys |= real(val) << 6;
    } else if (key == "Cauchy janela") {
      o.cauchy_window = std::atoi(val.c_str());
      keys |= integer(val) << 7;
    } else if (key == "tole") {
      o.cauchy_tole = std::strtod(val.c_str(), nullptr);
      keys |= real(val) << 8;
    } else if (key == "fator de dt") {
      const double f = std::strtod(val.c_str(), nullptr);
      if (f >= kLastDtFactor && f <= kFirstDtFactor) o.dt_factor = f;
    } else if (key == "divergiu com") {
      const char* p = val.c_str();
      for (char* end = nullptr;; p = end) {
        const double f = std::strtod(p, &end);
        if (end == p || *end != ':') break;
        p = end + 1;
        const long it = std::strtol(p, &end, 10);
        if (end == p) break;
        o.divergences.emplace_back(f, static_cast<int>(it));
      }
    }
  }
  const int need = o.state == GridState::CauchyConverged ? 0x1FF : 0x3F;
  o.unreadable = !whole || !known_state || (keys & need) != need;
  return true;
}

// What to do with a grid whose folder may hold earlier runs.
void plan_grid(Grid& g) {
  Outcome o;
  const bool has_status = read_status(g, o) && !o.unreadable;
  // The step a grid was run with stays its step; a new grid starts the search.
  if (g.choose_dt) set_dt_factor(g, has_status ? o.dt_factor : kFirstDtFactor);
  // A folder whose preparation never reached a run holds no results to keep.
  const bool fresh = has_status ? o.state == GridState::Pending && o.job.empty()
                                : never_started(g);
  // Runs without a status file to say how they went: judged from the files
  // the study wrote.
  if (!fresh && !has_status) {
    recover_grid(g);
    return;
  }
  if (!fresh) check_grid_folder(g);
  std::error_code ec;
  const bool has_restart = fs::is_regular_file(fs::path(g.name) / file_path(g.caso + ".bin"), ec);
  if (!has_status) {
    g.run = true;
    return;
  }
  g.outcome = o;
  if (!o.job.empty()) {
    // A batch job submitted and not judged yet: followed, never submitted again.
    g.run = true;
    g.continue_from = o.iterations;
    return;
  }
  const bool stopped_short = o.iterations < g.c.itmax;
  switch (o.state) {
    case GridState::Converged:
    case GridState::NotConverged:
      // Judged again against the tolerance of today's data file; a grid
      // short of it goes on if the iteration limit has been raised since.
      g.outcome.state = o.ratio <= g.c.tole ? GridState::Converged : GridState::NotConverged;
      if (g.outcome.state == GridState::NotConverged && stopped_short) {
        g.run = true;
        if (has_restart)
          g.continue_from = o.iterations;
        else
          restart_lost(g, o.iterations);
      }
      break;
    case GridState::Interrupted:
      g.run = true;
      if (!has_restart && o.iterations > 0) restart_lost(g, o.iterations);
      if (has_restart && o.iterations > 0) {
        if (stopped_short) {
          g.continue_from = o.iterations;
        } else {
          g.run = false;
          g.outcome.state = o.ratio <= g.c.tole ? GridState::Converged : GridState::NotConverged;
        }
      }
      break;
    case GridState::CauchyConverged:
      // Finished for a rule as loose as today's; a stricter one (smaller
      // EPS, a longer window, no Cauchy rule, a smaller tole) goes on.
      if (o.ratio <= g.c.tole) {
        g.outcome.state = GridState::Converged;
      } else if (!(g.cauchy_eps > 0 && g.cauchy_eps >= o.cauchy_eps &&
                   g.window <= o.cauchy_window && g.c.tole >= o.cauchy_tole)) {
        g.run = stopped_short;
        g.continue_from = has_restart ? o.iterations : 0;
        if (!stopped_short) g.outcome.state = GridState::NotConverged;
      }
      break;
    case GridState::Diverged:
      // A second run would diverge the same way, unless the study may still
      // halve the step it chose.
      if (g.choose_dt) {
        g.continue_from = 0;
        halve_step(g);
      }
      break;
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
    throw RunError("Erro: não foi possível criar a pasta \"" + g.name + "\" (" +
                   error_reason(ec.value()) + ").");
  CaseData c = g.c;
  if (g.continue_from > 0) {
    c.ci = 2;
    c.itmax = g.c.itmax - g.continue_from;  // further iterations after the stored ones
  }
  copy_wall_file(g);
  write_case_files(g, c);
  copy_plot_templates(g.name);
  if (g.continue_from > 0) keep_history(g, false);
  write_status(g);
}

// dt2 by the factor; dt1, the start-up step, never above the scaled one (a
// doubled dt1 diverges at 320x160 during the ramp, where a doubled dt2 alone
// does not).
void set_dt_factor(Grid& g, double factor) {
  g.outcome.dt_factor = factor;
  g.c.dt1 = g.scaled_dt1 * std::min(factor, 1.0);
  g.c.dt2 = g.scaled_dt2 * factor;
}

bool halve_step(Grid& g) {
  Outcome& o = g.outcome;
  if (!g.choose_dt || o.state != GridState::Diverged || o.dt_factor / 2 < kLastDtFactor)
    return false;
  o.divergences.emplace_back(o.dt_factor, o.iterations);
  set_dt_factor(g, o.dt_factor / 2);
  std::error_code ec;
  if (g.continue_from > 0 &&
      !fs::is_regular_file(fs::path(g.name) / file_path(g.caso + ".bin"), ec))
    g.continue_from = 0;
  // Recorded as a run stopped at its restart file (or not begun), so that a
  // study stopped now goes on from there with the new step.
  o.state = g.continue_from > 0 ? GridState::Interrupted : GridState::Pending;
  o.iterations = g.continue_from;
  o.ratio = kNotAvailable;
  o.exit_status = -1;
  o.message.clear();
  g.run = true;
  return true;
}

std::string halving_note(const Grid& g) {
  const auto& [f, it] = g.outcome.divergences.back();
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "divergiu na iteração %d com dt2 = %.4E s; refeita com dt2 = %.4E s, %s", it,
                g.scaled_dt2 * f, g.c.dt2,
                g.continue_from > 0 ? "do arquivo de reinício" : "do início");
  return buf;
}

std::string history_path(const Grid& g) {
  const fs::path own = fs::path(g.name) / file_path(g.caso + kHistorySuffix);
  std::error_code ec;
  if (fs::is_regular_file(own, ec)) return own.string();
  return (fs::path(g.name) / file_path(g.caso + ".itn")).string();
}

void keep_history(const Grid& g, bool after_run) {
  const fs::path dir = g.name;
  const std::string own = (dir / file_path(g.caso + kHistorySuffix)).string();
  std::vector<std::string> lines = {
      "Histórico de " + latin1_to_utf8(g.caso) + ".itn em todas as execuções da malha"};
  const auto take = [&lines](const std::string& file, long long after, long long upto) {
    std::FILE* f = open_regular_file(file);
    if (f == nullptr) return;
    std::string all, l;
    char buf[8192];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) all.append(buf, n);
    std::fclose(f);
    for (std::size_t pos = 0, end; pos < all.size(); pos = end + 1) {
      end = all.find('\n', pos);
      if (end == std::string::npos) break;  // a line being written
      l = all.substr(pos, end - pos);
      if (!l.empty() && l.back() == '\r') l.pop_back();
      char* stop = nullptr;
      const long long it = std::strtoll(l.c_str(), &stop, 10);
      if (stop != l.c_str() && it > after && it <= upto) lines.push_back(l);
    }
  };
  const std::string itn = (dir / file_path(g.caso + ".itn")).string();
  std::error_code ec;
  if (g.continue_from > 0) take(fs::is_regular_file(own, ec) ? own : itn, 0, g.continue_from);
  if (after_run) take(itn, g.continue_from, LLONG_MAX);
  write_text_file(own, lines);
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

}  // namespace tx

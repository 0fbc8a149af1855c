// Run driver: the outer iteration, one whole run, the command line.
#include "execucao/main.hpp"

#include <chrono>
#include <cstdarg>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "execucao/ajuda.hpp"
#include "resultados/campo_vtk.hpp"
#include "escoamento/iteracao.hpp"
#include "caso/dados.hpp"
#include "base/console.hpp"
#include "base/erro.hpp"
#include "graficos/graficos.hpp"
#include "graficos/modelos.hpp"
#include "malha/malha.hpp"
#include "plataforma/plataforma.hpp"
#include "base/paralelo.hpp"
#include "base/regra_cauchy.hpp"
#include "resultados/resultados.hpp"
#include "execucao/saidas.hpp"
#include "base/texto.hpp"
#include "escoamento/usuario.hpp"


namespace tx {

namespace {

// One line on the console. The console is a convenience: when it fails (a
// closed pipe, a full disk) it is dropped and the run goes on.
void say(State& s, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void say(State& s, const char* fmt, ...) {
  if (s.console_lost) return;
  va_list ap;
  va_start(ap, fmt);
  const int n = std::vprintf(fmt, ap);
  va_end(ap);
  if (n < 0 || std::fflush(stdout) != 0) s.console_lost = true;
}

}  // namespace

// The real services of this system for a run.
Platform system_platform() {
  Platform p;
  p.run_command = [](std::string_view line) { return tx::run_command(line); };
  auto start = std::make_shared<std::optional<std::chrono::steady_clock::time_point>>();
  p.read_stopwatch = [start] {
    const auto now = std::chrono::steady_clock::now();
    if (!*start) {
      *start = now;
      return 0.0;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now - **start);
    return static_cast<double>(ms.count()) / 1000.0;
  };
  p.read_calendar = local_calendar;
  p.has_display = has_display;
  return p;
}

bool is_report_iteration(const State& s, int it, double ratio) {
  return it == 1 || it == s.c.itmax || ratio <= s.c.tole || it % s.c.w_r == 0;
}

namespace {

// Everything a user can get wrong is checked before any output exists:
// the case data (sizes and memory included), the outputs, the restart
// file, the templates, the grid (finite areas, volumes and metrics); the
// fields are allocated and the grid built before the first output is
// opened, and missing templates copied only then.
void prepare_run(State& s) {
  CaseData& c = s.c;
  read_case_data(s);
  check_outputs(s);
  if (s.par.team == nullptr) {
    const int threads = threads_from_environment();
    if (threads > 1 && c.nxy >= s.par.min_volumes) s.par.team = std::make_shared<Team>(threads);
  }
  if (c.ci == 2) check_restart_file(s);
  const std::string templates = template_folder();
  const std::vector<std::string> to_copy = check_templates(templates);
  try {
    allocate_fields(s);
  } catch (const std::bad_alloc&) {
    throw RunError("Erro no arquivo \"" + c.data_file + "\", itens 3 e 4 (nx, ny): memória "
                   "insuficiente para os campos da malha de " + std::to_string(c.nx - 2) +
                   " x " + std::to_string(c.ny - 2) + " volumes reais.");
  }
  generate_boundary_nodes(s);
  generate_interior_nodes(s);
  compute_centres(s);
  compute_metrics(s);
  compute_radii(s);
  check_grid(s);
  copy_templates(templates, to_copy);
}

// Opens the three text units and writes what comes before the first
// iteration: the listing's head and data, the grid files (of the grid
// prepare_run built), the initial conditions and the heads of the
// iteration tables.
void start_outputs(State& s) {
  const std::string caso = trimmed(s.c.caso);
  s.io.itn.open(caso + ".itn");
  s.io.listagem.open(caso + ".txt");
  s.io.listagem.write("(/,'Listagem gerada pelo programa Tubrix 5.5.08, de 29 Jan 2009')");
  s.io.residuo.open(caso + ".residuo.dat");

  write_date_time(s);
  write_data_listing(s);
  write_grid_outputs(s);
  set_initial_conditions(s);

  s.io.itn.write("(T1,'Iteração',T14,'fmi / fme',T38,'fme / fm1D',T62,'Fd / Fd1D')");
  s.io.listagem.write("(/,/,T3,'Iteração',T14,'L1(R)n / L1(R)1',T38,'dt (s)',/)");
  s.io.residuo.write("('# Iteração',T14,'L1(R)n / L1(R)1')");
}

// How the outer iterations ended.
struct LoopEnd {
  double ratio = 0.0;
  bool interrupted = false;
  bool iterated = false;
  bool settled = false;  // stopped by the Cauchy rule
};

// The outer iterations up to itmax, tole, a stop request or, when a study
// asks (rule.eps > 0), the Cauchy rule, each reported one written to the
// listing, the residual file, the .itn file and the console; leaves the last
// iteration in s.k.it. A diverged run ends here.
LoopEnd iterate(State& s, const CauchyRule& rule) {
  const CaseData& c = s.c;
  Counters& k = s.k;
  const std::string caso = trimmed(c.caso);
  LoopEnd e;
  // A study grants a run the cores its other runs have left through a file
  // (threads_file_from_environment), read before the first iteration and
  // then once a second: the team grows (or shrinks) between iterations.
  const std::string grant = threads_file_from_environment();
  double next_grant_check = 0.0;
  // The Cauchy rule judges the history at the caso.itn lines: the study's
  // history of the grid before this run's first iteration (a run continued
  // from its restart file), then this run's lines as written.
  std::vector<ItnSample> history;
  if (rule.eps > 0 && !rule.history.empty()) history = history_before(rule.history, k.it_ini);
  int it = k.it_ini;
  for (; it <= c.itmax; ++it) {
    if (!grant.empty() && s.os.read_stopwatch() >= next_grant_check) {
      const int threads = threads_from_file(grant);
      if (threads > 0) resize_team(s.par, threads, c.nxy);
      next_grant_check = s.os.read_stopwatch() + 1.0;
    }
    advance_iteration(s, it);
    e.iterated = true;
    const double ratio = k.norm / k.norm1;
    e.ratio = ratio;
    e.interrupted = s.stop_request != nullptr && *s.stop_request != 0;
    const bool diverged = !std::isfinite(ratio);
    if (is_report_iteration(s, it, ratio) || e.interrupted || diverged) {
      s.io.listagem.write("(2X,I8,1P,E15.6,9X,1P,E15.6)", {it, ratio, k.dt});
      s.io.residuo.write("(2X,I8,1P,E15.6,9X,1P,E15.6)", {it, ratio});
      const std::string line = write_iteration_globals(s);
      s.io.itn.flush();  // a study reads the run's answer in this file
      say(s, "%s%8d   %s %13.6E   dt = %13.6E s   tempo = %.3f s\n", kReportLineStart, it,
          kRatioTag, ratio, k.dt, s.os.read_stopwatch() - k.tcpu1);
      // tole reached, Ctrl-C or a divergence end the run by their own rule.
      if (ItnSample x; rule.eps > 0 && parse_itn_line(line, x)) {
        add_itn_sample(history, x);
        drop_before_window(history, rule.window);
        e.settled = !e.interrupted && !diverged && !(ratio <= c.tole) &&
                    settled(history, rule.window, rule.eps);
      }
    }
    if (diverged) {
      // The broken state is not stored: the previous restart file stays.
      const std::string msg =
          "Erro: a solução divergiu na iteração " + std::to_string(it) +
          " (L1(R)n / L1(R)1 não é um número finito); o arquivo de reinício \"" + caso +
          ".bin\" não foi regravado e os resultados não foram escritos.";
      s.io.listagem.write("(/,A)", {to_latin1(msg)});
      s.io.itn.close();
      s.io.listagem.close();
      s.io.residuo.close();
      throw RunError(msg, kExitDiverged);
    }
    if (ratio <= c.tole || e.interrupted || e.settled) break;
  }
  if (it > c.itmax) it = c.itmax;
  k.it = it;
  return e;
}

// The restart file, the results, the closing line and its warnings. A run
// the Cauchy rule stopped ends as on Ctrl-C, but finished (status 0), with a
// line that says so.
int finish_run(State& s, const LoopEnd& e, const CauchyRule& rule) {
  const CaseData& c = s.c;
  Counters& k = s.k;
  const std::string caso = trimmed(c.caso);
  const double ratio = e.ratio;
  k.tcpu2 = s.os.read_stopwatch();
  k.tcpu = k.tcpu2 + k.tcpuo - k.tcpu1;

  write_restart_file(s);
  s.io.itn.close();
  s.io.residuo.close();

  write_results(s);
  write_field_file(s);

  // Ended by itmax with the ratio still above tole: a finished run (status
  // 0, restart chains rely on it), but one that says so.
  const bool short_of_tole = e.iterated && !e.interrupted && !e.settled && !(ratio <= c.tole);
  say(s, "%s%d iterações   %s %13.6E   tempo = %.3f s   listagem: %s.txt%s\n",
      kClosingLineStart, k.it, kRatioTag, ratio, k.tcpu2 - k.tcpu1, caso.c_str(),
      short_of_tole ? "   (tolerância não atingida)" : "");
  if (e.settled)
    say(s, "%s%d; fme/fm1D e Fd/Fd1D variaram no máximo %g (relativo) nas últimas %d iterações "
           "(%s); reinício e resultados gravados.\n",
        kCauchyLineStart, k.it, rule.eps, rule.window, kCauchyVariable);
  if (short_of_tole)
    std::fprintf(stderr,
                 "Aviso: a tolerância tole = %.6E não foi atingida em itmax = %d iterações; "
                 "L1(R)n / L1(R)1 final = %.6E. Os resultados e o reinício foram gravados.\n",
                 c.tole, k.it, ratio);
  report_pictures(s);
  if (e.interrupted) {
    std::fprintf(stderr, "Execução interrompida na iteração %d; reinício e resultados gravados.\n",
                 k.it);
    return kExitInterrupted;
  }
  return 0;
}

}  // namespace

int run_case(State& s) {
  // A study's Cauchy rule; a bad value stops the run before it writes anything.
  const CauchyRule rule = cauchy_rule_from_environment();
  prepare_run(s);
  start_outputs(s);
  s.k.tcpu1 = s.os.read_stopwatch();
  return finish_run(s, iterate(s, rule), rule);
}

int tubrix_main(int argc, char** argv) {
  if (argc > 1) {
    const std::string a = argv[1];
    if (a == "--version" && argc == 2) {
      std::printf("Tubrix 5.5.08\n");
      return 0;
    }
    if ((a == "--help" || a == "-h") && argc == 2) {
      print_help(stdout);
      return 0;
    }
    if (a == "--exemplo" && argc == 3) {
      try {
        install_example(argv[2]);
      } catch (const RunError& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return e.status();
      }
      return 0;
    }
    std::fprintf(stderr, "Uso: tubrix | tubrix --help | tubrix --exemplo PASTA | tubrix --version "
                         "(sem argumentos, o caso é lido de %s e %s na pasta atual)\n",
                 kSwitchFile, kSelectionFile);
    return kExitInput;
  }
  volatile std::sig_atomic_t* stop = catch_stop_signals(false);
  // A console that goes away (the reader of a pipe ended, e.g. by the same
  // Ctrl-C) must not end the run: failed console writes are ignored.
  ignore_broken_pipe();
  State s;
  s.os = system_platform();
  s.stop_request = stop;
  try {
    return run_case(s);
  } catch (const RunError& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return e.status();
  } catch (const std::bad_alloc&) {
    std::fprintf(stderr, "Erro: memória insuficiente.\n");
    return kExitInput;
  }
}

}  // namespace tx

// Run driver: the outer iteration, one whole run, the command line.
#include "execucao/main.hpp"

#include <chrono>
#include <cerrno>
#include <cstdarg>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "execucao/ajuda.hpp"
#include "resultados/campo_vtk.hpp"
#include "escoamento/coeficientes.hpp"
#include "caso/dados.hpp"
#include "base/erro.hpp"
#include "graficos/graficos.hpp"
#include "malha/malha.hpp"
#include "plataforma/plataforma.hpp"
#include "base/paralelo.hpp"
#include "resultados/resultados.hpp"
#include "execucao/saidas.hpp"
#include "lineares/solvers.hpp"
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

void copy_old_levels(Fields& f) {
  f.u_old = f.u;
  f.v_old = f.v;
  f.ue_old = f.ue;
  f.ve_old = f.ve;
  f.un_old = f.un;
  f.vn_old = f.vn;
  f.p_old = f.p;
  f.T_old = f.T;
  f.ro_old = f.ro;
  f.pin_old = f.pin;
}

// Steps 4 to 10 of an outer iteration; norm holds the four norms after it.
// On a team the u and v systems are assembled and solved at the same time,
// each on one member with its own coefficients, source and factors (neither
// reads the other's solution), and their norms are added in the order u, v.
void solve_iteration(State& s) {
  CaseData& c = s.c;
  Fields& f = s.f;
  Parallel& par = s.par;
  const int nx = c.nx, ny = c.ny, nxy = c.nxy;
  const TeamMode mode = next_team_mode(par);
  Team* team = par.team != nullptr && par.team->size() > 1 && nxy >= par.min_volumes &&
                       mode != TeamMode::kOff
                   ? par.team.get()
                   : nullptr;
  par.loops = team;
  Team* msi_team = mode == TeamMode::kPipelined ? team : nullptr;
  auto solve = [&](Vec& phi, double tol, int nitm) {
    msi_factorize(f.a, f.msi_l, f.msi_u, nxy, nx, ny, msi_team);
    msi_solve(f.a, f.msi_l, f.msi_u, ny, nx, nxy, phi, tol, nitm, f.b, msi_team);
  };

  update_inlet_state(s);
  set_inlet_pressure(s);
  set_specific_heat(s);

  build_momentum_coefficients(s);
  if (team == nullptr) {
    build_u_source(s);
    apply_u_boundary_conditions(s);
    solve(f.u, c.tolu, c.nitm_u);
    residual_l1_norm(nx, ny, nxy, f.a, f.b, f.u, s.k.norm);

    build_v_source(s);
    apply_v_boundary_conditions(s);
    solve(f.v, c.tolu, c.nitm_u);
    residual_l1_norm(nx, ny, nxy, f.a, f.b, f.v, s.k.norm);
  } else {
    // The v system starts from the same rows as the u system: the momentum
    // coefficients and what the other rows hold (the corners).
    if (par.a_v.rows() != nxy) {
      par.a_v.assign(nxy, 5);
      par.msi_l_v.assign(nxy, 4);
      par.msi_u_v.assign(nxy, 3);
      par.b_v.assign(nxy);
    }
    par.a_v = f.a;
    par.b_v = f.b;
    double norm_u = 0.0, norm_v = 0.0;
    par.loops = nullptr;
    team->run([&](int k) {
      if (k == 0) {
        build_u_source(s);
        apply_u_boundary_conditions(s);
        msi_factorize(f.a, f.msi_l, f.msi_u, nxy, nx, ny);
        msi_solve(f.a, f.msi_l, f.msi_u, ny, nx, nxy, f.u, c.tolu, c.nitm_u, f.b);
        residual_l1_norm(nx, ny, nxy, f.a, f.b, f.u, norm_u);
      } else if (k == 1) {
        build_v_source(s, par.b_v);
        apply_v_boundary_conditions(s, par.a_v, par.b_v);
        msi_factorize(par.a_v, par.msi_l_v, par.msi_u_v, nxy, nx, ny);
        msi_solve(par.a_v, par.msi_l_v, par.msi_u_v, ny, nx, nxy, f.v, c.tolu, c.nitm_u,
                  par.b_v);
        residual_l1_norm(nx, ny, nxy, par.a_v, par.b_v, f.v, norm_v);
      }
    });
    par.loops = team;
    s.k.norm = s.k.norm + norm_u;
    s.k.norm = s.k.norm + norm_v;
  }

  build_energy_source(s);
  apply_T_boundary_conditions(s);
  solve(f.T, c.tolu, c.nitm_u);
  residual_l1_norm(nx, ny, nxy, f.a, f.b, f.T, s.k.norm);

  update_density(s);
  face_densities(s);
  simplec_d_coefficients(s);
  face_velocities(s);
  set_boundary_face_velocities(s);

  for (int pass = 1; pass <= c.imax; ++pass) {
    build_pressure_correction_system(s);
    apply_pl_boundary_conditions(s);
    solve(f.pl, c.tolp, c.nitm_p);
    correct_pressure_density(s);
    face_densities(s);
    correct_node_velocities(s);
    set_fictitious_velocities(s);
    correct_face_velocities(s);
    correct_boundary_face_velocities(s);
  }
  residual_l1_norm(nx, ny, nxy, f.a, f.b, f.pl, s.k.norm);
  par.loops = nullptr;
}

}  // namespace

void advance_iteration(State& s, int it) {
  Counters& k = s.k;
  k.it = it;
  k.dt = time_step(s.c, it);
  k.norm = 0.0;
  copy_old_levels(s.f);
  if (s.par.team != nullptr) {
    const auto t0 = std::chrono::steady_clock::now();
    solve_iteration(s);
    const auto t1 = std::chrono::steady_clock::now();
    record_iteration_time(s.par, std::chrono::duration<double>(t1 - t0).count());
  } else {
    solve_iteration(s);
  }
  if (it == 1) k.norm1 = k.norm;
}

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

double time_step(const CaseData& c, int it) {
  double dt = 0.0;
  if (it <= c.It1) dt = c.dt1;
  if (c.It1 < it && it < c.It2)
    dt = c.dt1 + (c.dt2 - c.dt1) * static_cast<double>(it - c.It1) /
                     static_cast<double>(c.It2 - c.It1);
  if (it >= c.It2) dt = c.dt2;
  return dt;
}

bool is_report_iteration(const State& s, int it, double ratio) {
  return it == 1 || it == s.c.itmax || ratio <= s.c.tole || it % s.c.w_r == 0;
}

int run_case(State& s) {
  CaseData& c = s.c;
  Counters& k = s.k;

  // Everything a user can get wrong is checked before any output exists:
  // the case data (sizes and memory included), the outputs, the restart
  // file, the templates; the fields are allocated before the first output
  // is opened, and missing templates copied only then.
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
  copy_templates(templates, to_copy);

  const std::string caso = trimmed(c.caso);
  s.io.u8.open(caso + ".itn");
  s.io.u10.open(caso + ".txt");
  s.io.u10.write("(/,'Listagem gerada pelo programa Tubrix 5.5.08, de 29 Jan 2009')");
  s.io.u11.open(caso + ".residuo.dat");

  write_date_time(s);
  write_data_listing(s);
  generate_boundary_nodes(s);
  generate_interior_nodes(s);
  write_grid_outputs(s);
  compute_centres(s);
  compute_metrics(s);
  compute_radii(s);
  set_initial_conditions(s);

  s.io.u8.write("(T1,'Iteração',T14,'fmi / fme',T38,'fme / fm1D',T62,'Fd / Fd1D')");
  s.io.u10.write("(/,/,T3,'Iteração',T14,'L1(R)n / L1(R)1',T38,'dt (s)',/)");
  s.io.u11.write("('# Iteração',T14,'L1(R)n / L1(R)1')");

  k.tcpu1 = s.os.read_stopwatch();

  bool interrupted = false;
  bool iterated = false;
  double ratio = 0.0;
  int it = k.it_ini;
  for (; it <= c.itmax; ++it) {
    advance_iteration(s, it);
    iterated = true;
    ratio = k.norm / k.norm1;
    interrupted = s.stop_request != nullptr && *s.stop_request != 0;
    const bool diverged = !std::isfinite(ratio);
    if (is_report_iteration(s, it, ratio) || interrupted || diverged) {
      s.io.u10.write("(2X,I8,1P,E15.6,9X,1P,E15.6)", {it, ratio, k.dt});
      s.io.u11.write("(2X,I8,1P,E15.6,9X,1P,E15.6)", {it, ratio});
      write_iteration_globals(s);
      s.io.u8.flush();  // a study follows the run's answer in this file
      say(s, "Iteração %8d   L1(R)n / L1(R)1 = %13.6E   dt = %13.6E s   tempo = %.3f s\n", it,
          ratio, k.dt, s.os.read_stopwatch() - k.tcpu1);
    }
    if (diverged) {
      // The broken state is not stored: the previous restart file stays.
      const std::string msg =
          "Erro: a solução divergiu na iteração " + std::to_string(it) +
          " (L1(R)n / L1(R)1 não é um número finito); o arquivo de reinício \"" + caso +
          ".bin\" não foi regravado e os resultados não foram escritos.";
      s.io.u10.write("(/,A)", {to_latin1(msg)});
      s.io.u8.close();
      s.io.u10.close();
      s.io.u11.close();
      throw RunError(msg, kExitDiverged);
    }
    if (ratio <= c.tole || interrupted) break;
  }
  if (it > c.itmax) it = c.itmax;
  k.it = it;

  k.tcpu2 = s.os.read_stopwatch();
  k.tcpu = k.tcpu2 + k.tcpuo - k.tcpu1;

  write_restart_file(s);
  s.io.u8.close();
  s.io.u11.close();

  write_results(s);
  write_field_file(s);

  // Ended by itmax with the ratio still above tole: a finished run (status
  // 0, restart chains rely on it), but one that says so.
  const bool short_of_tole = iterated && !interrupted && !(ratio <= c.tole);
  say(s, "Fim: %d iterações   L1(R)n / L1(R)1 = %13.6E   tempo = %.3f s   listagem: %s.txt%s\n",
      k.it, ratio, k.tcpu2 - k.tcpu1, caso.c_str(),
      short_of_tole ? "   (tolerância não atingida)" : "");
  if (short_of_tole)
    std::fprintf(stderr,
                 "Aviso: a tolerância tole = %.6E não foi atingida em itmax = %d iterações; "
                 "L1(R)n / L1(R)1 final = %.6E. Os resultados e o reinício foram gravados.\n",
                 c.tole, k.it, ratio);
  report_pictures(s);
  if (interrupted) {
    std::fprintf(stderr, "Execução interrompida na iteração %d; reinício e resultados gravados.\n",
                 k.it);
    return kExitInterrupted;
  }
  return 0;
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

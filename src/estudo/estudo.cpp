// tubrix-estudo: the command line, the study's course as a list of steps, and
// its report.
#include "estudo/estudo.hpp"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "arquivos/layout.hpp"
#include "base/erro.hpp"
#include "caso/resumo.hpp"
#include "base/texto.hpp"
#include "caso/dados.hpp"
#include "estudo/cauchy.hpp"
#include "estudo/executor.hpp"
#include "extrapolacao/extrapolacao.hpp"
#include "extrapolacao/relatorio.hpp"
#include "estudo/malhas.hpp"
#include "estudo/verificacao.hpp"
#include "estudo/slurm.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace fs = std::filesystem;

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::vector<std::string> grid_table(const std::vector<Grid>& grids, bool fixed_dt,
                                    bool choose_dt) {
  std::vector<std::string> out;
  char buf[512];
  std::snprintf(buf, sizeof buf,
                "Passo de tempo: escolhido pelo estudo; dt1 e dt2 escalados com o espaçamento "
                "da malha (It1, It2 e itmax pelo inverso), e cada malha começa com dt2 vezes %g "
                "e a cada divergência é refeita com a metade, até %g vez o escalado (dt1 também "
                "abaixo do escalado; --dt-escalado: só o escalado).",
                kFirstDtFactor, kLastDtFactor);
  out.push_back(choose_dt  ? std::string(buf)
                : fixed_dt ? "Passo de tempo: o do arquivo de dados em todas as malhas (--dt-fixo)."
                           : "Passo de tempo: dt1 e dt2 escalados com o espaçamento da malha; It1, "
                             "It2 e itmax pelo inverso.");
  out.push_back("");
  out.push_back("     malha      dt1 (s)      dt2 (s)     It1     It2     itmax  iterações  "
                "L1(R)n / L1(R)1  situação              tempo (s)");
  for (const auto& g : grids) {
    const Outcome& o = g.outcome;
    char ratio[32] = "              -";
    if (!std::isnan(o.ratio)) std::snprintf(ratio, sizeof ratio, "%15.6E", o.ratio);
    std::snprintf(buf, sizeof buf, "%10s  %11.4E  %11.4E  %6d  %6d  %8d  %9d  %s  ",
                  g.name.c_str(), g.c.dt1, g.c.dt2, g.c.It1, g.c.It2, g.c.itmax, o.iterations,
                  ratio);
    std::string l = buf;
    std::string st = state_text(o.state);
    std::size_t w = 0;
    for (char ch : st) w += (static_cast<unsigned char>(ch) & 0xC0) != 0x80;
    l += st + std::string(w < 18 ? 18 - w : 0, ' ');
    std::snprintf(buf, sizeof buf, "%13.2f", o.seconds);
    out.push_back(l + buf);
  }
  return out;
}

}  // namespace

constexpr const char* kUsage =
    "Uso: tubrix-estudo [--malhas 20x10,40x20,80x40 | --niveis N] [-j J]\n"
    "                   [--dt-escalado | --dt-fixo]\n"
    "                   [--incluir-nao-convergidas] [--ordem P] [--cauchy EPS [--janela N]]\n"
    "                   [--slurm [--sbatch \"OPÇÕES\"] [--sem-esperar]]\n"
    "  Roda o caso da pasta atual em cada malha (NX x NY volumes reais), cada uma na\n"
    "  subpasta NXxNY com o caso NOME_NXxNY, e extrapola os resultados (estudo.txt,\n"
    "  estudo.csv, estudo.gnu, estudo.png). --niveis N (padrão 3): a malha do arquivo\n"
    "  de dados dobrada N - 1 vezes. -j J: execuções simultâneas (padrão: núcleos).\n"
    "  Passo de tempo: dt1 e dt2 escalados com o espaçamento da malha, It1, It2 e\n"
    "  itmax pelo inverso; o estudo tenta dt2 vezes 2 e refaz com a metade a malha\n"
    "  que diverge, até 0.5 vez o escalado (dt1 também, abaixo do escalado).\n"
    "  --dt-escalado: só o passo escalado, sem tentar outro.\n"
    "  --dt-fixo: mantém dt1, dt2, It1, It2 e itmax do arquivo em todas as malhas.\n"
    "  --cauchy EPS: para cada malha quando fme/fm1D e Fd/Fd1D variaram no máximo EPS\n"
    "  (relativo) nas últimas N iterações; --janela N (padrão: itmax da malha / 20).\n"
    "  A própria execução aplica a regra (TUBRIX_CAUCHY), também com --slurm.\n"
    "  Rodado de novo na mesma pasta, continua as malhas não terminadas.\n"
    "  --slurm: cada malha é um job do Slurm (sbatch) na sua pasta, com TUBRIX_THREADS\n"
    "  (padrão 1) CPUs; --sbatch passa OPÇÕES ao sbatch (partição, conta, tempo).\n"
    "  --sem-esperar: submete (ou recolhe os jobs já terminados) e volta; rode o mesmo\n"
    "  comando depois para recolher os jobs e extrapolar.\n"
    "  --familia TABELA: roda o estudo em cada variante (linha) da tabela CSV, cada uma\n"
    "  na sua subpasta; relatório da família em familia.txt, familia.csv, familia.png.\n";

StudyOptions parse_study_options(const std::vector<std::string>& args, bool& help) {
  StudyOptions o;
  // --help anywhere shows the usage, whatever else is given (--familia too).
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") {
      help = true;
      return o;
    }
  bool have_grids = false, have_levels = false, have_sbatch = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string a = args[i];
    auto value = [&](const std::string& opt) -> std::string {
      if (i + 1 >= args.size()) bad_argument(opt, "falta o valor");
      return args[++i];
    };
    if (a == "--malhas") {
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
    } else if (a == "--dt-escalado") {
      o.scaled_dt = true;
    } else if (a == "--incluir-nao-convergidas") {
      o.include_unconverged = true;
    } else if (a == "--slurm") {
      o.slurm = true;
    } else if (a == "--sbatch") {
      o.sbatch.sbatch = split_sbatch_options(value(a));
      have_sbatch = true;
    } else if (a == "--sem-esperar") {
      o.sbatch.no_wait = true;
    } else if (a == "--ordem") {
      const std::string v = value(a);
      char* end = nullptr;
      o.order = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(o.order >= kMinOrder && o.order <= kMaxOrder))
        bad_argument(a, order_expected() + ", encontrado \"" + v + "\"");
    } else if (a == "--cauchy") {
      const std::string v = value(a);
      char* end = nullptr;
      o.cauchy = std::strtod(v.c_str(), &end);
      if (v.empty() || *end != '\0' || !(o.cauchy > 0.0 && o.cauchy < 1.0))
        bad_argument(a, "esperado um número real maior que 0 e menor que 1, encontrado \"" + v +
                            "\"");
    } else if (a == "--janela") {
      o.window = parse_int(a, value(a), 1);
    } else {
      throw RunError("Erro: argumento desconhecido " + in_quotes(a) +
                     "; tubrix-estudo --help mostra os argumentos.");
    }
  }
  if (have_grids && have_levels) bad_argument("--niveis", "use --malhas ou --niveis, não ambos");
  if (o.fixed_dt && o.scaled_dt) bad_argument("--dt-escalado", "use --dt-escalado ou --dt-fixo, não ambos");
  if (!o.slurm && (have_sbatch || o.sbatch.no_wait))
    bad_argument(have_sbatch ? "--sbatch" : "--sem-esperar", "só vale com --slurm");
  if (o.jobs == 0) o.jobs = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  return o;
}


// Runs side by side share the cores: each run gets its share of threads
// (cores / J, at least one) unless TUBRIX_THREADS already says how many, so
// J runs never spin more threads than there are cores. When the study sets
// the share, it may also grant a run the cores that runs ended have left
// (run_grids, through the file TUBRIX_THREADS_FILE names).
void share_threads(int jobs) {
  const char* env = std::getenv("TUBRIX_THREADS");
  const bool own = env == nullptr || *env == '\0';
  set_environment(kThreadsFileVariable, own ? kThreadsGrantFile : "");
  if (!own) return;
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  set_environment("TUBRIX_THREADS", std::to_string(std::max(1, cores / std::max(1, jobs))));
}

namespace {

// The rule that stopped the grids, under the grid table.
std::vector<std::string> stop_rule_lines(const std::vector<Grid>& grids, const StudyOptions& opt,
                                         int w_r) {
  std::vector<std::string> out;
  char buf[512];
  if (opt.cauchy > 0) {
    std::snprintf(buf, sizeof buf,
                  "Regra de Cauchy (--cauchy %g): uma malha para quando fme/fm1D e Fd/Fd1D "
                  "variaram no máximo %g (relativo) nas últimas N iterações; tole vale também.",
                  opt.cauchy, opt.cauchy);
    out.push_back(buf);
  }
  std::string per = "Janela N (iterações) e w_r por malha (";
  per += opt.window > 0 ? std::string("--janela")
                        : "N = itmax / " + std::to_string(kWindowShare);
  std::snprintf(buf, sizeof buf, "; w_r: o do arquivo, %d, ou N / %d se menor, para %d linhas "
                "de caso.itn por janela):", w_r, kSamplesPerWindow, kSamplesPerWindow);
  per += buf;
  out.push_back(per);
  std::string l = " ";
  for (const auto& g : grids) {
    std::snprintf(buf, sizeof buf, " %s N = %d, w_r = %d;", g.name.c_str(), g.window, g.c.w_r);
    l += buf;
  }
  l.pop_back();
  out.push_back(l + ".");
  for (const auto& g : grids)
    if (g.outcome.state == GridState::CauchyConverged) {
      std::snprintf(buf, sizeof buf,
                    "Malha %s: convergiu pela regra de Cauchy na iteração %d (EPS = %g, N = %d), "
                    "com L1(R)n / L1(R)1 = %.3E acima de tole.",
                    g.name.c_str(), g.outcome.iterations, g.outcome.cauchy_eps,
                    g.outcome.cauchy_window, g.outcome.ratio);
      out.push_back(buf);
    }
  return out;
}

// Each divergence the study recovered from by halving the step.
std::vector<std::string> step_lines(const std::vector<Grid>& grids) {
  std::vector<std::string> out;
  for (const auto& g : grids)
    for (const auto& [f, it] : g.outcome.divergences) {
      char buf[256];
      std::snprintf(buf, sizeof buf,
                    "Malha %s: divergiu na iteração %d com dt2 = %.4E s (%g x o escalado); "
                    "refeita com a metade.",
                    g.name.c_str(), it, g.scaled_dt2 * f, f);
      out.push_back(buf);
    }
  return out;
}

// The iteration error of every grid from its caso.itn beside the GCI; the
// warnings also go to standard error.
std::vector<std::string> iteration_error_section(const std::vector<Grid>& grids,
                                                 const std::vector<std::string>& used,
                                                 const GridStudy& study) {
  std::vector<GridErrors> ge;
  for (const auto& g : grids) {
    GridErrors e;
    e.name = g.name;
    const std::string summary = (fs::path(g.name) / (g.caso + ".Extrapolix_3p0")).string();
    e.used = std::find(used.begin(), used.end(), summary) != used.end();
    const std::vector<ItnSample> h = read_itn(history_path(g));
    if (!h.empty()) e.errors = quantity_errors(h, g.window);
    ge.push_back(std::move(e));
  }
  std::vector<std::string> labels;
  for (const auto& l : study.grids.front().labels) labels.push_back(latin1_to_utf8(l));
  std::vector<double> gci;
  for (const auto& x : study.results) gci.push_back(x.gci);
  std::vector<std::string> warnings;
  std::vector<std::string> out = {""};
  for (auto& l : iteration_error_lines(ge, labels, gci, warnings)) out.push_back(std::move(l));
  if (!warnings.empty()) out.push_back("");
  for (const auto& w : warnings) {
    out.push_back(w);
    std::fprintf(stderr, "%s\n", w.c_str());
  }
  return out;
}

// The grid sizes of --malhas, or the base grid doubled --niveis - 1 times.
std::vector<GridSize> grid_sizes(const CaseData& base, const StudyOptions& opt) {
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
  return sizes;
}

// One grid of the study: its name, case, data and stop rule.
Grid study_grid(const StudyCase& base, GridSize z, const StudyOptions& opt) {
  Grid g;
  g.size = z;
  g.name = grid_name(z);
  g.caso = base.caso + "_" + g.name;
  if (g.caso.size() > kCharLen)
    throw RunError("Erro no arquivo \"" + base.data_file + "\", item 1 (caso): \"" + g.caso +
                   "\" passaria de " + std::to_string(kCharLen) +
                   " caracteres; use um nome mais curto.");
  g.data_file = g.caso + ".dat";
  g.c = grid_case_data(base.c, z, opt.fixed_dt, g.scale);
  g.scaled_dt1 = g.c.dt1;
  g.scaled_dt2 = g.c.dt2;
  g.choose_dt = !opt.fixed_dt && !opt.scaled_dt;  // the study searches the step unless told
  g.window = opt.window > 0 ? opt.window : default_window(g.c.itmax);
  g.cauchy_eps = opt.cauchy;
  g.c.w_r = report_interval(g.c.w_r, g.window);  // caso.itn often enough for the window
  return g;
}

// Runs the grids marked to run: here, side by side, or as Slurm jobs.
SlurmEnd run_study_grids(std::vector<Grid>& grids, const StudyOptions& opt,
                         volatile std::sig_atomic_t* stop) {
  const std::string tubrix = tubrix_program();
  if (opt.slurm) return run_grids_slurm(grids, tubrix, opt.sbatch, stop);
  share_threads(opt.jobs);
  return run_grids(grids, tubrix, opt.jobs, stop) ? SlurmEnd::Interrupted : SlurmEnd::Done;
}

void print_lines(const std::vector<std::string>& lines) {
  for (const auto& l : lines) std::printf("%s\n", l.c_str());
}

// --sem-esperar left jobs with Slurm: the report says which.
int report_submitted(const StudyCase& base, const std::vector<Grid>& grids) {
  const std::vector<std::string> pre = submitted_lines(
      "Estudo de convergência de malha do caso \"" + latin1_to_utf8(base.caso) +
          "\": jobs do Slurm submetidos",
      grids);
  print_lines(pre);
  std::fflush(stdout);
  write_report_file(pre);
  return 0;
}

// The report's head: the case, the grid table, the time, the rules that
// stopped the grids and the divergences recovered from.
std::vector<std::string> report_head(const StudyCase& base, const std::vector<Grid>& grids,
                                     const StudyOptions& opt, double wall) {
  double sum = 0;
  for (const auto& g : grids) sum += g.outcome.seconds;
  std::vector<std::string> pre;
  pre.push_back("Estudo de convergência de malha do caso \"" + latin1_to_utf8(base.caso) + "\" (" +
                latin1_to_utf8(base.data_file) + ")");
  for (auto& l : grid_table(grids, opt.fixed_dt, !opt.fixed_dt && !opt.scaled_dt))
    pre.push_back(std::move(l));
  char buf[256];
  if (opt.slurm)
    std::snprintf(buf, sizeof buf,
                  "Tempo desta execução do estudo: %.1f s com jobs do Slurm; soma dos tempos das "
                  "malhas (retomadas incluídas): %.1f s.",
                  wall, sum);
  else
    std::snprintf(buf, sizeof buf,
                  "Tempo desta execução do estudo: %.1f s com até %d execuções simultâneas; "
                  "soma dos tempos das malhas (retomadas incluídas): %.1f s.",
                  wall, opt.jobs, sum);
  pre.push_back("");
  pre.push_back(buf);
  for (auto& l : stop_rule_lines(grids, opt, base.c.w_r)) pre.push_back(std::move(l));
  for (auto& l : step_lines(grids)) pre.push_back(std::move(l));
  return pre;
}

// The summary files of the usable grids, coarse to fine; why each other
// grid is left out goes to the report.
std::vector<std::string> usable_summaries(const std::vector<Grid>& grids, const StudyOptions& opt,
                                          std::vector<std::string>& pre) {
  std::vector<std::string> files;
  for (auto it = grids.rbegin(); it != grids.rend(); ++it) {
    const Grid& g = *it;
    const bool usable = g.outcome.state == GridState::Converged ||
                        g.outcome.state == GridState::CauchyConverged ||
                        (g.outcome.state == GridState::NotConverged && opt.include_unconverged);
    if (usable) {
      files.push_back((fs::path(g.name) / file_path(g.caso + kSummarySuffix)).string());
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
  return files;
}

// The course of a study, step by step, with the options of its command line.
int run_study(StudyOptions opt) {
  const StudyLock lock;  // everything below is checked and done by this study alone
  const StudyCase base = read_study_case();
  std::vector<Grid> grids = plan_study_grids(base, opt);
  check_study_folders(grids);
  check_study_runs(grids, opt);
  prepare_study_grids(grids);

  // A signal ends the wait for the runs' output at once.
  volatile std::sig_atomic_t* stop = catch_stop_signals(true);
  ignore_broken_pipe();  // a closed console must not end the study
  const auto t0 = std::chrono::steady_clock::now();
  const SlurmEnd end = run_study_grids(grids, opt, stop);
  if (end == SlurmEnd::Waiting) return report_submitted(base, grids);
  if (end == SlurmEnd::Interrupted) return study_interrupted();
  StudyReport report;
  return report_study(base, grids, opt, seconds_since(t0), stop, report);
}

}  // namespace

int study_main(const std::vector<std::string>& args) {
  bool help = false;
  const StudyOptions opt = parse_study_options(args, help);
  if (help) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  return run_study(opt);
}

StudyCase read_study_case() {
  State s;
  s.os.run_command = [](std::string_view) { return 0; };
  read_case_data(s);
  StudyCase base;
  base.data_file = s.c.data_file;
  base.c = s.c;
  base.c.nx -= 2;
  base.c.ny -= 2;
  base.c.nxy = base.c.nx * base.c.ny;
  base.caso = trimmed(base.c.caso);
  base.wall = s.wall;
  return base;
}

std::vector<Grid> plan_study_grids(const StudyCase& base, StudyOptions& opt) {
  const std::vector<GridSize> sizes = grid_sizes(base.c, opt);
  opt.jobs = check_grid_sizes(sizes, opt.grids.empty() ? "--niveis" : "--malhas", opt.jobs);
  std::vector<Grid> grids;
  for (const GridSize& z : sizes) grids.push_back(study_grid(base, z, opt));
  // Fine to coarse, as the report lists them.
  std::sort(grids.begin(), grids.end(),
            [](const Grid& a, const Grid& b) { return a.size.nx > b.size.nx; });
  return grids;
}

void check_study_folders(std::vector<Grid>& grids) {
  check_grid_folders(grids);
  check_report_files(study_file_names(true));
  for (auto& g : grids) plan_grid(g);
}

void check_study_runs(const std::vector<Grid>& grids, const StudyOptions& opt) {
  for (const auto& g : grids)
    if (!opt.slurm && !g.outcome.job.empty())
      throw RunError("Erro: a malha " + g.name + " tem o job " + g.outcome.job +
                     " do Slurm submetido e ainda não recolhido (\"" + g.name + "/" + g.caso +
                     kStatusSuffix + "\"); rode tubrix-estudo --slurm para acompanhá-lo.");
  if (opt.slurm) check_slurm(opt.sbatch, grids);

  const std::string tubrix = tubrix_program();
  bool any_run = false;
  for (const auto& g : grids) any_run = any_run || g.run;
  if (any_run && !is_executable(tubrix))
    throw RunError("Erro: o programa \"" + tubrix +
                   "\" não foi encontrado; tubrix-estudo usa o tubrix instalado na mesma pasta.");
}

void prepare_study_grids(const std::vector<Grid>& grids) {
  for (const auto& g : grids)
    if (g.run && g.outcome.job.empty()) prepare_grid(g);  // a queued job reads its files later
  absolute_template_folder();
}

std::string tubrix_program() { return executable_folder() + "/tubrix"; }

std::vector<std::string> submitted_lines(const std::string& head, const std::vector<Grid>& grids) {
  std::vector<std::string> pre = {head, ""};
  for (const auto& g : grids)
    if (!g.outcome.job.empty()) pre.push_back("Malha " + g.name + ": job " + g.outcome.job + ".");
  pre.push_back("");
  pre.push_back("Rode o mesmo comando depois para recolher os jobs e extrapolar.");
  return pre;
}

int report_study(const StudyCase& base, const std::vector<Grid>& grids, const StudyOptions& opt,
                 double wall, volatile std::sig_atomic_t* stop, StudyReport& out) {
  std::vector<std::string> pre = report_head(base, grids, opt, wall);
  const std::vector<std::string> files = usable_summaries(grids, opt, pre);
  pre.push_back("");
  if (files.size() < 2) {
    pre.push_back("Menos de duas malhas utilizáveis: nada a extrapolar.");
    out.why = "menos de duas malhas utilizáveis";
    print_lines(pre);
    std::fflush(stdout);
    write_report_file(pre);
    return kExitTooFewGrids;
  }
  const GridStudy study = extrapolate_files(files, opt.order);
  const std::vector<std::string> post = iteration_error_section(grids, files, study);
  out.extrapolated = true;
  out.study = study;
  out.used = files;
  print_lines(pre);
  print_lines(report_lines(study));
  print_lines(post);
  std::fflush(stdout);
  write_study_files(study, pre, true, post, stop);
  if (*stop) {
    std::fprintf(stderr, "Estudo interrompido ao desenhar estudo.png; os relatórios foram "
                         "gravados (rode \"gnuplot estudo.gnu\" para a figura).\n");
    return kExitInterrupted;
  }
  return 0;
}

int study_interrupted() {
  std::fprintf(stderr, "Estudo interrompido; rode tubrix-estudo de novo nesta pasta para "
                       "continuar as malhas não terminadas.\n");
  return kExitInterrupted;
}

void absolute_template_folder() {
  const char* env = std::getenv("TUBRIX_TEMPLATES");
  if (env == nullptr || *env == '\0' || file_path(env).is_absolute()) return;
  std::error_code ec;
  const fs::path abs = fs::absolute(file_path(env), ec);
  if (!ec) set_environment("TUBRIX_TEMPLATES", abs.string());
}

}  // namespace tx

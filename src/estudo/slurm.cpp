// The study's grids as Slurm batch jobs: submission, following, judging and
// stopping, through the Slurm commands (sbatch, scontrol, sacct, scancel).
#include "estudo/slurm.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "base/erro.hpp"
#include "base/regra_cauchy.hpp"
#include "estudo/executor.hpp"
#include "plataforma/plataforma.hpp"

namespace tx {

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t0) {
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// About a second, less when a stop signal comes.
void pause_a_moment() {
  std::vector<ChildProcess*> none;
  read_children(none, 1000);
}

struct Captured {
  int status = -1;
  std::string out, err;
};

// Runs one Slurm command to its end. It gets a session of its own, so a
// Ctrl-C on the terminal reaches the study alone: an sbatch cut short could
// leave a job the study never heard of.
Captured slurm_command(const std::string& program, const std::vector<std::string>& args) {
  std::vector<std::string> a = args;
  std::string run = program;
  if (on_path("setsid")) {
    a.insert(a.begin(), program);
    run = "setsid";
  }
  ChildProcess child = start_process(run, a, "");
  Captured c;
  std::vector<ChildProcess*> children = {&child};
  while (child.out >= 0 || child.err >= 0)
    for (ChildOutput& o : read_children(children, 1000)) (o.is_err ? c.err : c.out) += o.data;
  c.status = wait_process(child);
  return c;
}

// Slurm's words on standard error, one line, without the program prefixes.
std::string slurm_said(const Captured& c) {
  std::string said;
  std::size_t pos = 0;
  while (pos < c.err.size()) {
    std::size_t end = c.err.find('\n', pos);
    if (end == std::string::npos) end = c.err.size();
    std::string l = c.err.substr(pos, end - pos);
    pos = end + 1;
    for (const char* p : {"sbatch: error: ", "scancel: error: ", "error: ", "sbatch: "})
      if (l.rfind(p, 0) == 0) l.erase(0, std::string(p).size());
    if (l.empty() || said.find(l) != std::string::npos) continue;
    said += (said.empty() ? "" : "; ") + l;
  }
  if (said.empty()) said = "saída " + std::to_string(c.status);
  return said;
}

// "Key=value" of `scontrol show job -o` (values hold no blanks).
std::string field(const std::string& text, const std::string& key) {
  for (std::size_t p = text.find(key + "="); p != std::string::npos;
       p = text.find(key + "=", p + 1)) {
    if (p != 0 && text[p - 1] != ' ') continue;
    const std::size_t from = p + key.size() + 1;
    return text.substr(from, text.find_first_of(" \n", from) - from);
  }
  return {};
}

// "[D-]HH:MM:SS" or "MM:SS" in seconds.
double slurm_seconds(const std::string& t) {
  double days = 0, s = 0;
  std::string rest = t;
  if (const std::size_t d = rest.find('-'); d != std::string::npos) {
    days = std::atof(rest.substr(0, d).c_str());
    rest.erase(0, d + 1);
  }
  std::size_t pos = 0;
  while (pos <= rest.size()) {
    std::size_t end = rest.find(':', pos);
    if (end == std::string::npos) end = rest.size();
    s = s * 60 + std::atof(rest.substr(pos, end - pos).c_str());
    pos = end + 1;
  }
  return days * 86400 + s;
}

// What Slurm says of a job.
struct JobInfo {
  bool answered = true; // false: Slurm could not be asked this time
  bool known = false;   // slurmctld (or the accounting) still knows the job
  std::string state;    // PENDING, RUNNING, COMPLETED, TIMEOUT, ...
  std::string reason;   // why a pending job waits
  int exit_status = -1; // of the batch script; 128 + signal when one ended it
  double seconds = 0;   // time the job ran
};

bool ended(const std::string& state) {
  for (const char* s : {"COMPLETED", "FAILED", "CANCELLED", "TIMEOUT", "NODE_FAIL", "PREEMPTED",
                        "OUT_OF_MEMORY", "BOOT_FAIL", "DEADLINE", "SPECIAL_EXIT"})
    if (state.rfind(s, 0) == 0) return true;
  return false;
}

// Ended by the scheduler itself rather than by the run.
bool ended_by_scheduler(const std::string& state) {
  for (const char* s : {"CANCELLED", "TIMEOUT", "NODE_FAIL", "PREEMPTED", "BOOT_FAIL", "DEADLINE"})
    if (state.rfind(s, 0) == 0) return true;
  return false;
}

// Reasons of a pending job that no waiting will lift.
bool never_starts(const std::string& reason) {
  for (const char* r : {"BadConstraints", "DependencyNeverSatisfied", "PartitionConfig",
                        "PartitionNodeLimit", "PartitionTimeLimit", "InvalidAccount", "InvalidQOS",
                        "AssocMaxWallDurationPerJobLimit", "QOSMaxWallDurationPerJobLimit"})
    if (reason == r) return true;
  return false;
}

int exit_code_status(const std::string& code) {  // "a:b", b the signal
  const std::size_t colon = code.find(':');
  if (code.empty() || colon == std::string::npos) return -1;
  const int sig = std::atoi(code.c_str() + colon + 1);
  return sig != 0 ? 128 + sig : std::atoi(code.c_str());
}

JobInfo job_info(const std::string& id) {
  JobInfo j;
  const Captured c = slurm_command("scontrol", {"show", "job", "-o", id});
  if (c.status == 0 && !field(c.out, "JobState").empty()) {
    j.known = true;
    j.state = field(c.out, "JobState");
    j.reason = field(c.out, "Reason");
    j.exit_status = exit_code_status(field(c.out, "ExitCode"));
    j.seconds = slurm_seconds(field(c.out, "RunTime"));
    return j;
  }
  // A controller out of reach is asked again later: a job is taken for
  // gone only when Slurm says it does not know it.
  if (c.err.find("Invalid job id") == std::string::npos) {
    j.answered = false;
    return j;
  }
  // Gone from slurmctld's memory: the accounting, where there is one.
  if (!on_path("sacct")) return j;
  const Captured a =
      slurm_command("sacct", {"-n", "-P", "-X", "-j", id, "-o", "State,ExitCode,ElapsedRaw"});
  const std::string line = a.out.substr(0, a.out.find('\n'));
  const std::size_t b1 = line.find('|'), b2 = line.find('|', b1 + 1);
  if (a.status != 0 || b1 == std::string::npos || b2 == std::string::npos) return j;
  j.known = true;
  j.state = line.substr(0, line.find(' '));
  if (j.state.size() > b1) j.state.resize(b1);
  j.exit_status = exit_code_status(line.substr(b1 + 1, b2 - b1 - 1));
  j.seconds = std::atof(line.c_str() + b2 + 1);
  return j;
}

std::string quoted_for_shell(const std::string& s) {
  std::string r = "'";
  for (char ch : s) r += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return r + "'";
}

constexpr const char* kJobScript = "tubrix.sbatch";

std::string grid_folder(const Grid& g) { return fs::absolute(g.name).lexically_normal().string(); }
std::string job_file(const Grid& g, const std::string& id, const char* ext) {
  return grid_folder(g) + "/tubrix-" + id + ext;
}

// The batch script of a grid. Its shell ignores Ctrl-C and SIGTERM so that
// it outlives the run and records the run's exit status beside the output
// (finished jobs are soon forgotten where there is no accounting); the run
// itself catches them: a time limit, a cancellation or the study's
// `scancel --full --signal` reaches it, and it writes its restart file.
// The run applies the study's Cauchy rule itself (TUBRIX_CAUCHY, unset
// without it: sbatch passes the study's own environment on).
// A shell script, so LF line ends.
void write_job_script(const Grid& g, const std::string& tubrix, int threads) {
  const std::string path = grid_folder(g) + "/" + kJobScript;
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f << "#!/bin/sh\n"
    << "# Run of grid " << g.name << " of a tubrix-estudo study (written by tubrix-estudo).\n"
    << "trap '' INT TERM\n"
    << "export TUBRIX_THREADS=\"${SLURM_CPUS_PER_TASK:-" << threads << "}\"\n";
  if (const char* t = std::getenv("TUBRIX_TEMPLATES"); t != nullptr && *t != '\0')
    f << "export TUBRIX_TEMPLATES=" << quoted_for_shell(t) << "\n";
  if (const std::string rule = cauchy_variable_for(g); !rule.empty())
    f << "export " << kCauchyVariable << "=" << quoted_for_shell(rule) << "\n";
  else
    f << "unset " << kCauchyVariable << "\n";
  f << "cd " << quoted_for_shell(grid_folder(g)) << " || exit 1\n"
    << quoted_for_shell(tubrix) << "\n"
    << "rc=$?\n"
    << "echo \"$rc\" > \"tubrix-$SLURM_JOB_ID.saida\"\n"
    << "exit \"$rc\"\n";
  f.close();
  if (!f) throw RunError("Erro: não foi possível gravar \"" + path + "\".");
  fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::others_read);
}

int threads_per_job() {
  const char* env = std::getenv("TUBRIX_THREADS");
  const int n = env != nullptr ? std::atoi(env) : 0;
  return n >= 1 ? n : 1;
}

// New bytes of a file another machine is writing.
struct Tail {
  std::string path;
  long long offset = 0;
  std::string buf;
  std::string take() {
    std::string got;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return got;
    if (std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0) {
      char b[8192];
      for (std::size_t n; (n = std::fread(b, 1, sizeof b, f)) > 0;) got.append(b, n);
    }
    std::fclose(f);
    offset += static_cast<long long>(got.size());
    return got;
  }
};

struct Job {
  Grid* grid = nullptr;
  std::string id;
  std::string shown;  // queue state last printed
  Tail out, err;
  RunLog log;
  bool signalled = false;
  Clock::time_point signalled_at;
};

void emit(const Grid& g, const std::string& line) {
  std::printf("[%s] %s\n", g.name.c_str(), line.c_str());
  std::fflush(stdout);
}

void take_lines(Job& j, bool is_err, bool at_end) {
  Tail& t = is_err ? j.err : j.out;
  t.buf += t.take();
  std::size_t pos;
  while ((pos = t.buf.find('\n')) != std::string::npos || (at_end && !t.buf.empty())) {
    std::string line = pos == std::string::npos ? t.buf : t.buf.substr(0, pos);
    t.buf.erase(0, pos == std::string::npos ? t.buf.size() : pos + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    note_run_line(*j.grid, j.log, line, is_err);
  }
}

Job follow(Grid& g, const std::string& id) {
  Job j;
  j.grid = &g;
  j.id = id;
  j.out.path = job_file(g, id, ".out");
  j.err.path = job_file(g, id, ".err");
  return j;
}

// The sbatch options of a grid's job; the user's come last and win.
std::vector<std::string> job_options(const Grid& g, const SlurmOptions& opt) {
  std::vector<std::string> args = {"--job-name=" + g.caso, "--ntasks=1",
                                   "--cpus-per-task=" + std::to_string(threads_per_job())};
  args.insert(args.end(), opt.sbatch.begin(), opt.sbatch.end());
  return args;
}

// Submits one grid; returns the job id, or throws with what Slurm said.
std::string submit(Grid& g, const std::string& tubrix, const SlurmOptions& opt) {
  write_job_script(g, tubrix, threads_per_job());
  const std::string dir = grid_folder(g);
  std::vector<std::string> args = {"--parsable", "--chdir=" + dir,
                                   "--output=" + dir + "/tubrix-%j.out",
                                   "--error=" + dir + "/tubrix-%j.err"};
  for (auto& a : job_options(g, opt)) args.push_back(std::move(a));
  args.push_back(dir + "/" + kJobScript);
  const Captured c = slurm_command("sbatch", args);
  std::string id = c.out.substr(0, c.out.find_first_of(";\n"));
  if (c.status != 0 || id.empty() || id.find_first_not_of("0123456789_") != std::string::npos)
    throw RunError("Erro: o Slurm recusou o job da malha " + g.name + " (" + slurm_said(c) + ").");
  return id;
}

void progress(const std::vector<Grid>& grids, const std::vector<Job>& jobs, Clock::time_point t0) {
  std::size_t done = 0, total = 0, running = 0;
  for (const auto& g : grids)
    if (g.run) {
      ++total;
      if (g.ran_now) ++done;
    }
  for (const auto& j : jobs) running += j.shown == "rodando";
  std::printf("[estudo] %zu de %zu malhas terminadas, %zu em execução, %zu na fila do Slurm; "
              "%.1f s\n",
              done, total, running, jobs.size() - running, seconds_since(t0));
  std::fflush(stdout);
}

// The outcome of an ended job. The status the job script recorded comes
// first; without it (the job killed outright, or never started) Slurm's
// word decides, and a grid the scheduler ended keeps its last restart file.
void judge_job(Job& j, const JobInfo& info) {
  Grid& g = *j.grid;
  take_lines(j, false, true);
  take_lines(j, true, true);
  int status = -1;
  if (std::FILE* f = std::fopen(job_file(g, j.id, ".saida").c_str(), "rb")) {
    if (std::fscanf(f, "%d", &status) != 1) status = -1;
    std::fclose(f);
  }
  const bool no_status = status < 0;
  const bool by_scheduler = info.known ? ended_by_scheduler(info.state) : no_status;
  if (no_status) status = by_scheduler ? kExitInterrupted : info.exit_status;
  judge_run(g, j.log, status, info.seconds);
  if (status == 0 || status == kExitInterrupted || status == kExitDiverged)
    keep_history(g, true);
  if (by_scheduler && g.outcome.state == GridState::Interrupted) {
    if (j.log.closing.empty()) g.outcome.iterations = g.continue_from;
    g.outcome.message = info.known ? "o Slurm encerrou o job " + j.id + " (" + info.state + ")"
                                   : "o Slurm não tem mais notícia do job " + j.id;
  } else if (g.outcome.state == GridState::Failed && info.known &&
             info.state.rfind("COMPLETED", 0) != 0) {
    g.outcome.message += (g.outcome.message.empty() ? "" : "; ") + std::string("job ") + j.id +
                         " " + info.state;
  }
  g.outcome.job.clear();
  g.ran_now = true;
  write_status(g);
}

}  // namespace

std::vector<std::string> split_sbatch_options(const std::string& text) {
  std::vector<std::string> words;
  std::string w;
  bool in_word = false;
  char quote = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    if (quote != 0) {
      if (ch == quote) quote = 0;
      else if (ch == '\\' && quote == '"' && i + 1 < text.size()) w += text[++i];
      else w += ch;
    } else if (ch == '\'' || ch == '"') {
      quote = ch;
      in_word = true;
    } else if (ch == '\\' && i + 1 < text.size()) {
      w += text[++i];
      in_word = true;
    } else if (ch == ' ' || ch == '\t' || ch == '\n') {
      if (in_word) words.push_back(w);
      w.clear();
      in_word = false;
    } else {
      w += ch;
      in_word = true;
    }
  }
  if (quote != 0) bad_argument("--sbatch", std::string("aspas ") + quote + " sem fechar");
  if (in_word) words.push_back(w);
  return words;
}

void check_slurm(const SlurmOptions& opt, const std::vector<Grid>& grids) {
#ifdef _WIN32
  // Slurm clusters run Linux: the jobs' scripts are POSIX shell scripts.
  (void)opt;
  (void)grids;
  throw RunError("Erro: --slurm não está disponível no Windows.");
#else
  for (const char* p : {"sbatch", "scontrol", "scancel"})
    if (!on_path(p))
      throw RunError(std::string("Erro no argumento --slurm: o comando ") + p +
                     " do Slurm não está no PATH; rode o estudo num nó de login do cluster "
                     "(onde sbatch, scontrol e scancel existem) ou sem --slurm.");
  // Slurm says whether it would take the first job before any folder is
  // made: a bad partition or impossible resources leave nothing behind.
  for (const Grid& g : grids) {
    if (!g.run || !g.outcome.job.empty()) continue;
    std::vector<std::string> args = {"--test-only", "--wrap=true"};
    for (auto& a : job_options(g, opt)) args.push_back(std::move(a));
    const Captured c = slurm_command("sbatch", args);
    if (c.status != 0)
      throw RunError("Erro: o Slurm recusaria o job da malha " + g.name + " (" + slurm_said(c) +
                     "); nenhum job foi submetido.");
    return;
  }
#endif
}

namespace {

// Jobs of earlier calls: followed, never submitted again.
std::vector<Job> follow_submitted(std::vector<Grid>& grids) {
  std::vector<Job> jobs;
  for (auto& g : grids)
    if (g.run && !g.outcome.job.empty()) {
      jobs.push_back(follow(g, g.outcome.job));
      emit(g, "job " + g.outcome.job + " já submetido: acompanhado");
    }
  return jobs;
}

// Submits the grids to run that have no job yet, until a stop signal comes.
// A job Slurm refuses ends the call, naming the jobs already out.
void submit_grids(std::vector<Grid>& grids, const std::string& tubrix, const SlurmOptions& opt,
                  volatile std::sig_atomic_t* stop, std::vector<Job>& jobs) {
  std::vector<Grid*> queue;
  for (auto& g : grids)
    if (g.run && g.outcome.job.empty()) queue.push_back(&g);
  // The costliest first, as the scheduler starts them in submission order.
  std::stable_sort(queue.begin(), queue.end(), [](const Grid* a, const Grid* b) {
    return static_cast<double>(a->size.nx) * a->size.ny / a->scale >
           static_cast<double>(b->size.nx) * b->size.ny / b->scale;
  });
  for (Grid* g : queue) {
    if (*stop) break;
    std::string id;
    try {
      id = submit(*g, tubrix, opt);
    } catch (const RunError& e) {
      std::string msg = e.what();
      if (!jobs.empty()) {
        msg += " Seguem no Slurm os jobs já submetidos:";
        for (const Job& j : jobs) msg += " " + j.id + " (malha " + j.grid->name + ")";
        msg += "; rode o mesmo comando, com as opções de --sbatch corrigidas, para acompanhá-los "
               "e submeter as demais malhas.";
      }
      throw RunError(msg);
    }
    g->outcome.state = GridState::Pending;
    g->outcome.job = id;
    g->outcome.iterations = g->continue_from;
    write_status(*g);
    emit(*g, "job " + id + " submetido (" +
                 (g->continue_from > 0
                      ? "continua da iteração " + std::to_string(g->continue_from)
                      : std::string("início")) +
                 ")");
    jobs.push_back(follow(*g, id));
  }
}

// Passes a stop signal on to every job.
void stop_jobs(std::vector<Job>& jobs) {
  for (Job& j : jobs) {
    if (j.signalled) {
      // A run that has not ended well after the signal: Slurm ends it.
      if (seconds_since(j.signalled_at) > 120) {
        slurm_command("scancel", {j.id});
        j.signalled_at = Clock::now();
      }
      continue;
    }
    // A running job's run stops as on Ctrl-C and writes its restart
    // file; a queued job just leaves the queue.
    if (j.shown == "rodando")
      slurm_command("scancel", {"--full", "--signal=TERM", j.id});
    else
      slurm_command("scancel", {j.id});
    j.signalled = true;
    j.signalled_at = Clock::now();
  }
}

// What one look at a job found: nothing new for the progress line, a
// change, or the job is no longer followed.
enum class Look { Same, Changed, Gone };

// A job that ended, judged. A grid that diverged at a step the study chose
// is submitted again at once with half the step, and its new job followed.
Look end_job(Job& j, const JobInfo& info, const std::string& tubrix, const SlurmOptions& opt,
             volatile std::sig_atomic_t* stop) {
  judge_job(j, info);
  Grid& g = *j.grid;
  if (!*stop && halve_step(g)) {
    prepare_grid(g);
    const std::string id = submit(g, tubrix, opt);
    g.outcome.state = GridState::Pending;
    g.outcome.job = id;
    g.ran_now = false;
    write_status(g);
    emit(g, halving_note(g) + "; job " + id + " submetido");
    j = follow(g, id);
    return Look::Changed;
  }
  std::string end = std::string("terminou: ") + state_text(g.outcome.state);
  if (g.outcome.state == GridState::Interrupted && !*stop)
    end += " (" + g.outcome.message +
           "); rode o mesmo comando para continuá-la do arquivo de reinício";
  emit(g, end);
  return Look::Gone;
}

// A pending job that will never start, cancelled. Recorded as stopped: the
// next call submits it again, from its restart file when it has one.
void cancel_job(Job& j, const JobInfo& info, std::vector<std::string>& faults) {
  slurm_command("scancel", {j.id});
  faults.push_back("Erro: o job " + j.id + " da malha " + j.grid->name +
                   " nunca vai começar (Slurm: Reason=" + info.reason + "); foi cancelado.");
  Grid& g = *j.grid;
  g.outcome.state = GridState::Interrupted;
  g.outcome.iterations = g.continue_from;
  g.outcome.message = "o job " + j.id + " nunca começaria (" + info.reason + ")";
  g.outcome.job.clear();
  write_status(g);
  emit(g, "job " + j.id + " cancelado: " + info.reason);
}

// A job's state in the queue, said when it changes.
Look show_state(Job& j, const JobInfo& info) {
  const std::string shown = info.state == "PENDING" ? "pendente" : "rodando";
  if (shown == j.shown) return Look::Same;
  j.shown = shown;
  emit(*j.grid, "job " + j.id + " " + shown +
                    (shown == "pendente" && info.reason != "None" && !info.reason.empty()
                         ? " (" + info.reason + ")"
                         : ""));
  return Look::Changed;
}

// One look at a job: its new console lines, then what Slurm says of it.
// `unanswered`: Slurm was out of reach at the last look (said once until it
// answers again).
Look look_at(Job& j, const std::string& tubrix, const SlurmOptions& opt,
             volatile std::sig_atomic_t* stop, bool& unanswered,
             std::vector<std::string>& faults) {
  const JobInfo info = job_info(j.id);
  take_lines(j, false, false);
  take_lines(j, true, false);
  if (!info.answered) {
    if (!unanswered)
      std::fprintf(stderr, "[estudo] o Slurm não respondeu sobre o job %s; tentando de novo\n",
                   j.id.c_str());
    unanswered = true;
    return Look::Same;
  }
  unanswered = false;
  if (!info.known || ended(info.state)) return end_job(j, info, tubrix, opt, stop);
  if (info.state == "PENDING" && never_starts(info.reason) && !*stop) {
    cancel_job(j, info, faults);
    return Look::Gone;
  }
  return show_state(j, info);
}

// How the call ends. A grid the scheduler stopped (time limit,
// cancellation, node failure) leaves the study unfinished as Ctrl-C does:
// the next call continues it.
SlurmEnd slurm_end(const std::vector<Grid>& grids, const std::vector<Job>& jobs,
                   volatile std::sig_atomic_t* stop) {
  bool stopped = *stop != 0;
  for (const auto& g : grids)
    stopped = stopped || (g.ran_now && g.outcome.state == GridState::Interrupted);
  if (stopped) return SlurmEnd::Interrupted;
  return jobs.empty() ? SlurmEnd::Done : SlurmEnd::Waiting;
}

}  // namespace

SlurmEnd run_grids_slurm(std::vector<Grid>& grids, const std::string& tubrix,
                         const SlurmOptions& opt, volatile std::sig_atomic_t* stop) {
  const auto t0 = Clock::now();
  std::vector<Job> jobs = follow_submitted(grids);
  submit_grids(grids, tubrix, opt, stop, jobs);
  std::vector<std::string> faults;
  bool first = true;
  bool unanswered = false;
  while (!jobs.empty()) {
    if (!first) pause_a_moment();
    first = false;
    if (*stop) stop_jobs(jobs);
    bool changed = false;
    for (std::size_t k = 0; k < jobs.size();) {
      const Look look = look_at(jobs[k], tubrix, opt, stop, unanswered, faults);
      changed = changed || look != Look::Same;
      if (look == Look::Gone)
        jobs.erase(jobs.begin() + static_cast<std::ptrdiff_t>(k));
      else
        ++k;
    }
    if (changed) progress(grids, jobs, t0);
    if (opt.no_wait && !*stop) break;
  }
  if (!faults.empty()) {
    std::string msg;
    for (const auto& f : faults) msg += (msg.empty() ? "" : "\n") + f;
    throw RunError(msg);
  }
  return slurm_end(grids, jobs, stop);
}

}  // namespace tx

#include "base/paralelo.hpp"

#include <cerrno>
#include <cstdlib>
#include <sstream>

#include "arquivos/leitura.hpp"
#include "base/erro.hpp"


namespace tx {

namespace {
// Spins before a waiting member gives up its core: long enough to cover the
// gaps between the jobs of one outer iteration, short enough not to burn a
// core while the program writes its results. The loops only load: on the
// virtual machines measured, a pause instruction in them made the hypervisor
// take the core away, and a handover cost tens of microseconds.
constexpr int kSpinsBeforeSleep = 1 << 14;
constexpr int kSpinsBeforeYield = 1 << 10;
}  // namespace

Team::Team(int threads) : n_(threads < 1 ? 1 : threads) {
  threads_.reserve(static_cast<std::size_t>(n_ - 1));
  for (int k = 1; k < n_; ++k) threads_.emplace_back([this, k] { worker(k); });
}

Team::~Team() {
  stop_.store(true, std::memory_order_relaxed);
  start_generation();
  for (auto& t : threads_) t.join();
}

void Team::run_raw(RawFn fn, void* ctx) {
  if (n_ == 1) {
    fn(ctx, 0);
    return;
  }
  fn_ = fn;
  ctx_ = ctx;
  finished_.store(0, std::memory_order_relaxed);
  start_generation();
  fn(ctx, 0);
  wait_at_least(finished_, n_ - 1);
}

// The new generation and the sleepers count are both sequentially consistent,
// as in sleep_while: either the sleeper sees the new generation, or this sees
// the sleeper and takes the mutex, which the sleeper holds until it waits.
void Team::start_generation() {
  generation_.fetch_add(1, std::memory_order_seq_cst);
  if (sleepers_.load(std::memory_order_seq_cst) == 0) return;
  { std::lock_guard<std::mutex> lock(sleep_mutex_); }
  wake_.notify_all();
}

void Team::sleep_while(std::uint64_t seen) {
  std::unique_lock<std::mutex> lock(sleep_mutex_);
  sleepers_.fetch_add(1, std::memory_order_seq_cst);
  while (generation_.load(std::memory_order_seq_cst) == seen) wake_.wait(lock);
  sleepers_.fetch_sub(1, std::memory_order_relaxed);
}

void Team::worker(int k) {
  std::uint64_t seen = 0;
  for (;;) {
    std::uint64_t g = generation_.load(std::memory_order_acquire);
    for (int spin = 0; g == seen; ++spin) {
      if (spin >= kSpinsBeforeSleep) sleep_while(seen);
      g = generation_.load(std::memory_order_acquire);
    }
    seen = g;
    if (stop_.load(std::memory_order_relaxed)) return;
    fn_(ctx_, k);
    finished_.fetch_add(1, std::memory_order_release);
  }
}

int wait_at_least(const std::atomic<int>& counter, int target) {
  int v = counter.load(std::memory_order_acquire);
  for (int spin = 0; v < target; ++spin) {
    // The other member may have lost its core on a busy machine.
    if (spin >= kSpinsBeforeYield) std::this_thread::yield();
    v = counter.load(std::memory_order_acquire);
  }
  return v;
}

void RowProgress::reset(int rows) {
  if (rows > size_) {
    c_ = std::make_unique<Slot[]>(static_cast<std::size_t>(rows));
    size_ = rows;
  }
  for (int r = 0; r < rows; ++r) c_[static_cast<std::size_t>(r)].v.store(0, std::memory_order_relaxed);
}

namespace {
constexpr int kModes = 3;
constexpr int kSamples = 2;      // timed iterations per mode and round, interleaved
constexpr int kHold = 300;       // iterations between rounds
}  // namespace

TeamMode next_team_mode(const Parallel& par) {
  if (par.fixed) return par.mode;
  const ModeTuner& t = par.tuner;
  if (t.held > 0 || t.probe >= kModes * kSamples) return t.current;
  return static_cast<TeamMode>(kModes - 1 - t.probe % kModes);
}

void record_iteration_time(Parallel& par, double seconds) {
  if (par.fixed) return;
  ModeTuner& t = par.tuner;
  if (t.held > 0) {
    if (--t.held == 0) t.probe = 0;
    return;
  }
  if (t.probe < kModes * kSamples) {
    const int m = kModes - 1 - t.probe % kModes;
    if (t.probe < kModes || seconds < t.best[m]) t.best[m] = seconds;
    if (++t.probe == kModes * kSamples) {
      int pick = kModes - 1;
      for (int m2 = kModes - 2; m2 >= 0; --m2)
        if (t.best[m2] < t.best[pick]) pick = m2;
      t.current = static_cast<TeamMode>(pick);
      t.held = kHold;
    }
  }
}

namespace {
int core_count() {
  const int cores = static_cast<int>(std::thread::hardware_concurrency());
  return cores < 1 ? 1 : cores;
}
}  // namespace

void resize_team(Parallel& par, int threads, int volumes) {
  const int want = threads > 1 && volumes >= par.min_volumes ? threads : 1;
  const int have = par.team != nullptr ? par.team->size() : 1;
  if (want == have) return;
  par.team = want > 1 ? std::make_shared<Team>(want) : nullptr;
  par.tuner = ModeTuner{};
  par.tuner.held = 0;  // past the first iterations already: measure at once
}

std::string threads_file_from_environment() {
  const char* env = std::getenv("TUBRIX_THREADS_FILE");
  return env != nullptr ? std::string(env) : std::string();
}

int threads_from_file(const std::string& path) {
  std::istringstream in;
  try {
    in.str(read_input_text(path, "o arquivo", kSmallTextLimit));
  } catch (const RunError&) {
    return 0;  // no grant: the run goes on with the threads it has
  }
  long v = 0;
  std::string rest;
  if (!(in >> v) || (in >> rest) || v < 1) return 0;
  return v > core_count() ? core_count() : static_cast<int>(v);
}

int threads_from_environment() {
  const int max_threads = core_count();
  const char* env = std::getenv("TUBRIX_THREADS");
  if (env == nullptr || *env == '\0') return max_threads;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(env, &end, 10);
  while (end != nullptr && (*end == ' ' || *end == '\t')) ++end;
  if (errno != 0 || end == env || *end != '\0' || v < 1)
    throw RunError(std::string("Erro na variável de ambiente TUBRIX_THREADS = \"") + env +
                       "\": o número de threads deve ser um inteiro maior ou igual a 1.",
                   kExitInput);
  return v > max_threads ? max_threads : static_cast<int>(v);
}

}  // namespace tx
